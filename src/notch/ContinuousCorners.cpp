#include "notch/ContinuousCorners.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ContinuousCorners {

namespace {

// How far the easing reaches along each edge beyond the radius; 0.6 matches the look of the platform
// corners these views were designed with.
constexpr double smoothing = 0.6;

// Appends one corner. The corner point is k; e1 points from k back along the edge we arrive on, e2 from k
// along the edge we leave on. The path is at k + radius * (1 + s) * e1 when called.
void addCorner(QPainterPath& path, QPointF k, QPointF e1, QPointF e2, double radius, double s) {
    auto at = [&](double x, double y) { return k + x * e1 + y * e2; };
    const double r = radius;
    const double p = (1 + s) * r;
    const double alpha = s * std::numbers::pi / 4; // the part of the quarter turn each easing curve takes
    const double theta = std::numbers::pi / 2 - 2 * alpha;
    const double tangentLength = r * std::tan(alpha / 2);
    const double c = tangentLength * std::cos(alpha);
    // Arc ends, on the circle of radius r centred at (r, r).
    const QPointF a(r - r * std::sin(alpha), r - r * std::cos(alpha));
    const QPointF b(r - r * std::cos(alpha), r - r * std::sin(alpha));
    const double third = (p - (a.x() + c)) / 3;
    path.cubicTo(at(p - 2 * third, 0), at(p - 3 * third, 0), at(a.x(), a.y()));
    const double k4 = 4.0 / 3.0 * std::tan(theta / 4) * r;
    path.cubicTo(at(a.x() - k4 * std::cos(alpha), a.y() + k4 * std::sin(alpha)),
                 at(b.x() + k4 * std::sin(alpha), b.y() - k4 * std::cos(alpha)), at(b.x(), b.y()));
    path.cubicTo(at(0, p - 3 * third), at(0, p - 2 * third), at(0, p));
}

struct Corner {
    double radius;
    double smoothing;
    double reach() const { return (1 + smoothing) * radius; }
};

// Fits a corner into the length it may use along its edges: first the easing gives way, then the radius.
Corner fit(double radius, double budget) {
    radius = std::max(0.0, radius);
    budget = std::max(0.0, budget);
    if (radius >= budget) return {budget, 0};
    return {radius, std::clamp(budget / radius - 1, 0.0, smoothing)};
}

} // namespace

QPainterPath roundedRect(const QRectF& rect, const Radii& radii) {
    const QRectF r = rect.normalized();
    const double w = r.width();
    const double h = r.height();
    // A corner may take half an edge when the neighbour on that edge is rounded too, else all of it.
    auto budget = [&](double radius, double horizontalNeighbour, double verticalNeighbour) {
        if (radius <= 0) return Corner{0, 0};
        const double horizontal = horizontalNeighbour > 0 ? w / 2 : w;
        const double vertical = verticalNeighbour > 0 ? h / 2 : h;
        return fit(radius, std::min(horizontal, vertical));
    };
    const Corner tl = budget(radii.topLeft, radii.topRight, radii.bottomLeft);
    const Corner tr = budget(radii.topRight, radii.topLeft, radii.bottomRight);
    const Corner br = budget(radii.bottomRight, radii.bottomLeft, radii.topRight);
    const Corner bl = budget(radii.bottomLeft, radii.bottomRight, radii.topLeft);

    const QPointF right(1, 0), left(-1, 0), down(0, 1), up(0, -1);
    QPainterPath path;
    path.moveTo(r.left() + tl.reach(), r.top());
    path.lineTo(r.right() - tr.reach(), r.top());
    if (tr.radius > 0) addCorner(path, r.topRight(), left, down, tr.radius, tr.smoothing);
    path.lineTo(r.right(), r.bottom() - br.reach());
    if (br.radius > 0) addCorner(path, r.bottomRight(), up, left, br.radius, br.smoothing);
    path.lineTo(r.left() + bl.reach(), r.bottom());
    if (bl.radius > 0) addCorner(path, r.bottomLeft(), right, up, bl.radius, bl.smoothing);
    path.lineTo(r.left(), r.top() + tl.reach());
    if (tl.radius > 0) addCorner(path, r.topLeft(), down, right, tl.radius, tl.smoothing);
    path.closeSubpath();
    return path;
}

QPainterPath capsule(const QRectF& rect) {
    const QRectF r = rect.normalized();
    const double radius = std::min(r.width(), r.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

} // namespace ContinuousCorners
