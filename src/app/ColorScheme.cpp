#include "app/ColorScheme.h"

#include "platform/Appearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Fusion's roles in the greys of a dark desktop theme, with the same blue for selections.
QPalette darkPalette() {
    const QColor window(0x24, 0x24, 0x24), base(0x1e, 0x1e, 0x1e), text(0xee, 0xee, 0xec);
    const QColor dimmed(0x8a, 0x8a, 0x88), highlight(0x35, 0x84, 0xe4);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4a));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x3a, 0x3a));
    p.setColor(QPalette::Mid, QColor(0x1a, 0x1a, 0x1a));
    p.setColor(QPalette::Dark, QColor(0x14, 0x14, 0x14));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
    p.setColor(QPalette::LinkVisited, QColor(0xc0, 0x61, 0xcb));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4a, 0x4a, 0x4a));
    return p;
}

} // namespace

void applyColorScheme(bool dark) {
    // Fusion draws everything from the palette; other styles keep light pieces of their own.
    if (QApplication::style()->name() != QLatin1String("fusion"))
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // An empty palette gives back what the platform theme and style offer: Fusion's light one on X11.
    QApplication::setPalette(dark ? darkPalette() : QPalette());
}

void followAppearance(Appearance& appearance) {
    QObject::connect(&appearance, &Appearance::changed, &appearance,
                     [&appearance] { applyColorScheme(appearance.prefersDark()); });
    if (appearance.prefersDark()) applyColorScheme(true);
}
