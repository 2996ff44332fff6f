#pragma once

#include <QPainterPath>
#include <QRectF>

// The outline the notch views are drawn and clipped in: flush with the top edge of the screen, its two
// lower corners rounded, so the panel reads as a downward extension of the notch.
struct NotchShape {
    double radius = 0;

    QPainterPath path(const QRectF& rect) const;

    // The value animations interpolate.
    double animatableData() const { return radius; }
    void setAnimatableData(double value) { radius = value; }
};
