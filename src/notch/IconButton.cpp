#include "notch/IconButton.h"

#include "notch/Symbols.h"

#include <QPainter>

namespace {
constexpr double symbolSize = 11;
}

IconButton::IconButton(const QString& symbol, const QString& help, std::function<void()> action,
                       QWidget* parent)
    : CapsuleButton(symbol, std::move(action), parent) {
    setToolTip(help);
    setAccessibleName(help);
    setFixedSize(width, height);
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCapsule(painter);
    Symbols::draw(painter, QRectF(rect()), symbol(), symbolSize, Qt::white);
}
