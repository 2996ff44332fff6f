#pragma once

#include <QObject>
#include <QPointF>
#include <QRect>
#include <QRectF>

#include <optional>
#include <vector>

// One display as the notch geometry sees it. Every rectangle and point of this interface is in global
// coordinates with the origin at the bottom left of the primary screen and y growing upward, so a screen's
// top edge is its maximum y; the backend converts from the window system once.
struct ScreenInfo {
    QRectF frame;
    // The frame less the top panel and docks.
    QRectF visibleFrame;
    // Non-zero only under a camera housing; Linux screens report none.
    double safeAreaTopInset = 0;
    // The strips of the top edge left and right of a camera housing, when the screen reports them.
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;
};

// Screens, the pointer and the window system's abilities the notch panel depends on. Main thread only.
class Screens : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Screens() override = default;

    virtual std::vector<ScreenInfo> screens() const = 0;
    // The screen the user works on; none when there is no screen at all.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
    virtual QPointF pointerLocation() const = 0;
    // A y-up global rectangle in the window system's own coordinates, for placing a window.
    virtual QRect toWindowSystem(const QRectF& rect) const = 0;
    // Whether a compositing manager blends translucent windows; without one a window must be shaped.
    virtual bool compositing() const = 0;

signals:
    // Screens were added, removed, moved or resized, or their work areas changed.
    void changed();
};
