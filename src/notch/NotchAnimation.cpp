#include "notch/NotchAnimation.h"

#include <QPointF>

#include <cmath>
#include <numbers>

namespace NotchAnimation {

namespace {

constexpr double response = 0.35;
constexpr double dampingFraction = 0.82;

qreal springCurve(qreal progress) {
    if (progress >= 1) return 1; // the remaining 0.1 % would otherwise end as a jump after the last frame
    return springPosition(progress * springDurationMs / 1000.0);
}

QEasingCurve bezier(double x1, double y1, double x2, double y2) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

} // namespace

double springPosition(double seconds) {
    const double omega = 2 * std::numbers::pi / response; // undamped angular frequency
    const double decay = dampingFraction * omega;
    const double omegaDamped = omega * std::sqrt(1 - dampingFraction * dampingFraction);
    return 1 - std::exp(-decay * seconds) *
                   (std::cos(omegaDamped * seconds) + decay / omegaDamped * std::sin(omegaDamped * seconds));
}

QEasingCurve spring() {
    QEasingCurve curve;
    curve.setCustomType(&springCurve);
    return curve;
}

// The standard timing functions' control points.
QEasingCurve easeIn() {
    return bezier(0.42, 0, 1, 1);
}
QEasingCurve easeOut() {
    return bezier(0, 0, 0.58, 1);
}
QEasingCurve easeInOut() {
    return bezier(0.42, 0, 0.58, 1);
}

} // namespace NotchAnimation
