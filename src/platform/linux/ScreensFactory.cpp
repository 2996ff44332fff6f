#include "platform/Screens.h"
#include "platform/linux/QtScreens.h"

#include <QtGlobal>

#if FERROVANE_WITH_X11
#include "platform/linux/x11/X11DesktopProbe.h"

#include <QGuiApplication>
#endif

void prepareWindowSystem() {
    // The panel's steady updates are a few hundred bytes (the pulsing dot); through shared memory each
    // would also cost a round trip to the server before the next paint. Plain image requests are cheaper
    // for windows this small, and no slower for the open and close animation.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
}

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
