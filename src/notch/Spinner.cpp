#include "notch/Spinner.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace {
constexpr double cornerRadius = 12;
constexpr int spokes = 12;
// A small control-size spinner is 16 points across and turns once a second.
constexpr double spinnerDiameter = 16;
constexpr int stepMs = 1000 / spokes;
} // namespace

Spinner::Spinner(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("spinner"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(side, side);
    m_step.setInterval(stepMs);
    connect(&m_step, &QTimer::timeout, this, [this] {
        m_leadingSpoke = (m_leadingSpoke + 1) % spokes;
        update();
    });
}

void Spinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_step.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_step.stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square(0, 0, side, side);
    painter.fillPath(ContinuousCorners::roundedRect(square, cornerRadius), NotchStyle::white(0.1));

    const QPointF centre = square.center();
    const double outer = spinnerDiameter / 2;
    const double inner = outer * 0.5;
    QPen pen(Qt::white, 1.6);
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke is brightest; the ones behind it fade.
        const int age = (m_leadingSpoke - i + spokes) % spokes;
        pen.setColor(NotchStyle::white(1.0 - 0.75 * age / (spokes - 1)));
        painter.setPen(pen);
        const double angle = 2 * std::numbers::pi * i / spokes - std::numbers::pi / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(centre + direction * inner, centre + direction * outer);
    }
}
