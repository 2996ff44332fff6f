#include "platform/Screens.h"
#include "platform/linux/QtScreens.h"

#if FERROVANE_WITH_X11
#include "platform/linux/x11/X11DesktopProbe.h"

#include <QGuiApplication>
#endif

std::unique_ptr<Screens> createScreens() {
    // Without a way to ask (Wayland, offscreen) the panel assumes no compositing manager and shapes itself.
    QtScreens::Probes probes;
#if FERROVANE_WITH_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (std::shared_ptr<X11DesktopProbe> probe = X11DesktopProbe::open()) {
            probes.compositing = [probe] { return probe->compositingManagerRunning(); };
            probes.pointer = [probe] { return probe->pointer(); };
        }
    }
#endif
    return std::make_unique<QtScreens>(std::move(probes));
}
