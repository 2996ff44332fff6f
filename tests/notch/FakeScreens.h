#pragma once

#include "platform/Screens.h"

// Screens the test describes by hand. The window system's y-down coordinates are the y-up ones flipped
// at `baseline` (the primary screen's height).
class FakeScreens final : public Screens {
    Q_OBJECT
public:
    std::vector<ScreenInfo> list;
    std::optional<int> mainIndex;
    QPointF pointer;
    double baseline = 0;

    std::vector<ScreenInfo> screens() const override { return list; }
    std::optional<ScreenInfo> mainScreen() const override {
        if (!mainIndex || *mainIndex >= int(list.size())) return std::nullopt;
        return list[*mainIndex];
    }
    QPointF pointerLocation() const override { return pointer; }
    QRect toWindowSystem(const QRectF& r) const override {
        return QRectF(r.x(), baseline - r.y() - r.height(), r.width(), r.height()).toRect();
    }
    bool compositing() const override { return false; }

    // A screen without a camera housing whose top panel is `topPanel` points high.
    static ScreenInfo plain(const QRectF& frame, double topPanel) {
        ScreenInfo info;
        info.frame = frame;
        info.visibleFrame = QRectF(frame.x(), frame.y(), frame.width(), frame.height() - topPanel);
        return info;
    }
    static ScreenInfo notched(const QRectF& frame, double inset, double leftWidth, double rightWidth) {
        ScreenInfo info = plain(frame, inset);
        info.safeAreaTopInset = inset;
        const double top = frame.y() + frame.height() - inset;
        info.auxiliaryTopLeftArea = QRectF(frame.x(), top, leftWidth, inset);
        info.auxiliaryTopRightArea = QRectF(frame.x() + frame.width() - rightWidth, top, rightWidth, inset);
        return info;
    }
};
