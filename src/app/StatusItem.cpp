#include "app/StatusItem.h"

#include "notch/Symbols.h"

#include <QCursor>
#include <QPainter>
#include <QPixmap>

StatusItem::StatusItem(Build build, Choose choose, QObject* parent)
    : QObject(parent)
    , m_build(std::move(build))
    , m_choose(std::move(choose)) {
    m_menu.setAccessibleName(QStringLiteral("Ferrovane"));
    connect(&m_menu, &QMenu::aboutToShow, this, &StatusItem::rebuild);
    m_tray.setIcon(icon());
    m_tray.setToolTip(QStringLiteral("Ferrovane"));
    m_tray.setContextMenu(&m_menu);
    // A click opens the menu too, not only the context click: the icon has nothing else to do.
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !m_menu.isVisible()) m_menu.popup(QCursor::pos());
    });
    m_tray.show();
}

void StatusItem::rebuild() {
    m_menu.clear();
    for (const StatusMenu::Entry& entry : m_build()) {
        switch (entry.kind) {
        case StatusMenu::Entry::Kind::Separator:
            m_menu.addSeparator();
            break;
        case StatusMenu::Entry::Kind::Label:
            m_menu.addAction(entry.title)->setEnabled(false);
            break;
        case StatusMenu::Entry::Kind::Item: {
            // A clip named with "&" must not turn into a mnemonic.
            QAction* action = m_menu.addAction(QString(entry.title).replace(u'&', QStringLiteral("&&")));
            action->setShortcut(entry.shortcut);
            connect(action, &QAction::triggered, this, [this, entry] { m_choose(entry); });
            break;
        }
        }
    }
}

QIcon StatusItem::icon() {
    QIcon result;
    for (const int side : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const double ring = std::max(1.0, side / 16.0);
        const QRectF circle = QRectF(0, 0, side, side).adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2);
        painter.setPen(QPen(QColor(245, 245, 247), ring));
        painter.setBrush(QColor(28, 28, 30));
        painter.drawEllipse(circle);
        // Material glyphs fill 20 of their 24-unit em and the symbol font is drawn 1.3× its size:
        // this makes the arrow about 70 % of the badge.
        Symbols::draw(painter, QRectF(0, 0, side, side), QStringLiteral("arrow.counterclockwise"),
                      side * 0.646, QColor(245, 245, 247));
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}
