#pragma once

#include <QPointF>
#include <QRectF>

class Screens;

// Rectangles in y-up global coordinates: QRectF's "top" and "bottom" read upside down there, so the notch
// code speaks of minimum and maximum y through these instead.
namespace yup {
inline double minX(const QRectF& r) {
    return r.x();
}
inline double maxX(const QRectF& r) {
    return r.x() + r.width();
}
inline double midX(const QRectF& r) {
    return r.x() + r.width() / 2;
}
inline double minY(const QRectF& r) {
    return r.y();
}
inline double maxY(const QRectF& r) {
    return r.y() + r.height();
}
// Points on the minimum edges are inside, points on the maximum edges are not.
inline bool contains(const QRectF& r, const QPointF& p) {
    return p.x() >= minX(r) && p.x() < maxX(r) && p.y() >= minY(r) && p.y() < maxY(r);
}
} // namespace yup

// The notch (or its substitute) of the screen the panel lives on, and every size derived from it.
// Lengths in screen points.
struct NotchGeometry {
    QRectF screenFrame; // y-up global coordinates
    double notchWidth = 180;
    double notchHeight = 32;
    bool hasNotch = false;

    NotchGeometry() = default;
    NotchGeometry(const QRectF& screenFrame, double notchWidth, double notchHeight, bool hasNotch)
        : screenFrame(screenFrame)
        , notchWidth(notchWidth)
        , notchHeight(notchHeight)
        , hasNotch(hasNotch) {}

    // The collapsed panel: the notch plus 32 points on each side for the status icon and the ring.
    double pillWidth() const { return notchWidth + 64; }
    double cardWidth() const;
    double cardHeight() const { return 124; }
    // Room around the card for its shadow.
    double panelWidth() const { return cardWidth() + 20; }
    double panelHeight() const { return notchHeight + cardHeight() + 20; }

    // Measures the screens now: the first screen with a camera housing, else the main screen, else the
    // first one; without a housing the notch is a 120-point substitute as tall as the top panel.
    static NotchGeometry current(const Screens& screens);

    friend bool operator==(const NotchGeometry& a, const NotchGeometry& b) {
        return a.screenFrame.x() == b.screenFrame.x() && a.screenFrame.y() == b.screenFrame.y() &&
               a.screenFrame.width() == b.screenFrame.width() &&
               a.screenFrame.height() == b.screenFrame.height() && a.notchWidth == b.notchWidth &&
               a.notchHeight == b.notchHeight && a.hasNotch == b.hasNotch;
    }
};
