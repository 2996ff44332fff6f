#include "notch/NotchShape.h"

#include "notch/ContinuousCorners.h"

QPainterPath NotchShape::path(const QRectF& rect) const {
    return ContinuousCorners::roundedRect(rect, ContinuousCorners::Radii{0, 0, radius, radius});
}
