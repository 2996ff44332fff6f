#include "notch/CapsuleButton.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"

#include <QEnterEvent>
#include <QPainter>

CapsuleButton::CapsuleButton(const QString& symbol, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_action(std::move(action)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action) m_action();
    });
}

void CapsuleButton::paintCapsule(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(ContinuousCorners::capsule(QRectF(rect())), NotchStyle::white(backgroundOpacity()));
}

bool CapsuleButton::hitButton(const QPoint& pos) const {
    return ContinuousCorners::capsule(QRectF(rect())).contains(QPointF(pos));
}

void CapsuleButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    m_hovering = true;
    update();
}

void CapsuleButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    m_hovering = false;
    update();
}
