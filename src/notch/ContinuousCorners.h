#pragma once

#include <QPainterPath>
#include <QRectF>

// Rounded rectangles whose corners blend into the edges with continuous curvature (a short easing curve,
// a circular arc, an easing curve) instead of meeting a quarter circle with a kink in curvature.
namespace ContinuousCorners {

struct Radii {
    double topLeft = 0;
    double topRight = 0;
    double bottomRight = 0;
    double bottomLeft = 0;
};

// Traced clockwise on screen from the top-left corner. Radii larger than the rectangle allows shrink
// (and lose their easing first), so any rectangle gives a valid outline.
QPainterPath roundedRect(const QRectF& rect, const Radii& radii);
inline QPainterPath roundedRect(const QRectF& rect, double radius) {
    return roundedRect(rect, Radii{radius, radius, radius, radius});
}

// A capsule: semicircular ends on the shorter side.
QPainterPath capsule(const QRectF& rect);

} // namespace ContinuousCorners
