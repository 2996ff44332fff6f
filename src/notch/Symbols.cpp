#include "notch/Symbols.h"

#include "base/Logging.h"
#include "notch/NotchStyle.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>

namespace Symbols {

namespace {

const char* const fontPath =
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";
// Material glyphs fill about 20 of their 24-unit em; text capitals about 0.7 of theirs.
constexpr double scaleToText = 1.3;

QString family() {
    static const QString name = [] {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(fontPath));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty()) {
            qCWarning(lcNotch) << "cannot load the symbol font" << fontPath << "- buttons show no icons";
            return QString();
        }
        return families.front();
    }();
    return name;
}

} // namespace

QString ligature(const QString& symbol) {
    static const QHash<QString, QString> table = {
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("replay")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("pause.fill"), QStringLiteral("pause")},
        {QStringLiteral("play.fill"), QStringLiteral("play_arrow")},
        {QStringLiteral("info"), QStringLiteral("info")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("warning")},
        {QStringLiteral("record.circle"), QStringLiteral("radio_button_checked")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("content_copy")},
        {QStringLiteral("sparkles"), QStringLiteral("auto_awesome")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("gearshape"), QStringLiteral("settings")},
        {QStringLiteral("lock.shield"), QStringLiteral("security")},
    };
    return table.value(symbol, symbol);
}

bool available() {
    return !family().isEmpty();
}

QFont font(double sizePoints) {
    QFont f(family());
    NotchStyle::setSize(f, sizePoints * scaleToText);
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

double width(const QString& symbol, double sizePoints) {
    if (!available()) return 0;
    return QFontMetricsF(font(sizePoints)).horizontalAdvance(ligature(symbol));
}

void draw(QPainter& painter, const QRectF& rect, const QString& symbol, double sizePoints,
          const QColor& color) {
    if (!available()) return;
    painter.save();
    painter.setFont(font(sizePoints));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, ligature(symbol));
    painter.restore();
}

} // namespace Symbols
