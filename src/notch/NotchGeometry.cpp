#include "notch/NotchGeometry.h"

#include "base/Logging.h"
#include "platform/Screens.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double substituteNotchWidth = 120;
// A top panel lower than this (or none at all) still leaves the pill room for its icon and ring.
constexpr double minimumNotchHeight = 24;
} // namespace

double NotchGeometry::cardWidth() const {
    return std::max(notchWidth + 64 + 40, 390.0);
}

NotchGeometry NotchGeometry::current(const Screens& screens) {
    const std::vector<ScreenInfo> list = screens.screens();
    auto chosen =
        std::find_if(list.begin(), list.end(), [](const ScreenInfo& s) { return s.safeAreaTopInset > 0; });
    std::optional<ScreenInfo> screen;
    if (chosen != list.end())
        screen = *chosen;
    else if (auto main = screens.mainScreen())
        screen = main;
    else if (!list.empty())
        screen = list.front();
    if (!screen) {
        qCWarning(lcNotch) << "no screen to place the panel on";
        return NotchGeometry();
    }

    const QRectF frame = screen->frame;
    const double inset = screen->safeAreaTopInset;
    if (inset > 0 && screen->auxiliaryTopLeftArea && screen->auxiliaryTopRightArea) {
        const double width =
            frame.width() - screen->auxiliaryTopLeftArea->width() - screen->auxiliaryTopRightArea->width();
        return NotchGeometry(frame, width, inset, true);
    }
    const double topPanel = yup::maxY(frame) - yup::maxY(screen->visibleFrame);
    // std::max would keep a NaN difference; the comparison below turns it into the minimum.
    const double height = topPanel > minimumNotchHeight ? topPanel : minimumNotchHeight;
    return NotchGeometry(frame, substituteNotchWidth, height, false);
}
