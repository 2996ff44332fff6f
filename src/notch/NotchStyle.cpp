#include "notch/NotchStyle.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace NotchStyle {

void setSize(QFont& font, double sizePoints) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    font.setPointSizeF(sizePoints * 72.0 / dpi);
}

QFont font(double sizePoints, QFont::Weight weight, Design) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    setSize(f, sizePoints);
    f.setWeight(weight);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QColor yellow() {
    return QColor(255, 214, 10);
}
QColor green() {
    return QColor(48, 209, 88);
}
QColor orange() {
    return QColor(255, 159, 10);
}
QColor gray() {
    return QColor(142, 142, 147);
}
QColor white(double opacity) {
    return withOpacity(Qt::white, opacity);
}
QColor black(double opacity) {
    return withOpacity(Qt::black, opacity);
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

} // namespace NotchStyle
