#include "notch/IconButton.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"
#include "notch/Symbols.h"

#include <QEnterEvent>
#include <QPainter>

namespace {
constexpr double symbolSize = 11;
}

IconButton::IconButton(const QString& symbol, const QString& help, std::function<void()> action,
                       QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_action(std::move(action)) {
    setToolTip(help);
    setAccessibleName(help);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(width, height);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action) m_action();
    });
}

bool IconButton::hitButton(const QPoint& pos) const {
    return ContinuousCorners::capsule(QRectF(rect())).contains(QPointF(pos));
}

void IconButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    m_hovering = true;
    update();
}

void IconButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    m_hovering = false;
    update();
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());
    painter.fillPath(ContinuousCorners::capsule(frame), NotchStyle::white(backgroundOpacity()));
    Symbols::draw(painter, frame, m_symbol, symbolSize, Qt::white);
}
