#pragma once

#include "platform/Screens.h"

#include <QPoint>
#include <QTimer>

#include <functional>
#include <optional>

class QScreen;

// Screens from Qt: geometry and available geometry (the work area, without the top panel) of every
// QScreen, the pointer from QCursor, all converted here, once, to y-up global coordinates whose origin is
// the bottom-left corner of the primary screen. Linux screens have no camera housing, so no safe-area
// inset or auxiliary areas are reported. Main thread only.
class QtScreens final : public Screens {
    Q_OBJECT
public:
    // What the window system answers better than Qt. Empty ones fall back: no compositing manager, and
    // the pointer from QCursor.
    struct Probes {
        std::function<bool()> compositing;
        // In device pixels of the window system.
        std::function<std::optional<QPoint>()> pointer;
        // Where the window system shows the pointer only over the application's own windows (XWayland),
        // whether it is elsewhere: its last known position is then stale.
        std::function<bool()> pointerElsewhere;
    };

    explicit QtScreens(Probes probes, QObject* parent = nullptr);

    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
    QPointF pointerLocation() const override;
    QRect toWindowSystem(const QRectF& rect) const override;
    bool compositing() const override;

private:
    void watch(QScreen* screen);
    // The y of the primary screen's bottom edge in Qt's y-down coordinates: y-up 0.
    double baseline() const;
    QRectF toYUp(const QRect& rect) const;
    ScreenInfo describe(const QScreen* screen) const;
    // The window system's pixels are Qt's coordinates only while no screen is scaled.
    bool unscaled() const;

    Probes m_probes;
    // Several screen signals arrive together on a change; one `changed` is emitted for them.
    QTimer m_coalesce;
};
