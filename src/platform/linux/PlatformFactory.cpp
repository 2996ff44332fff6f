#include "platform/PlatformFactory.h"

#include "platform/linux/FfmpegMediaAssets.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "platform/linux/MonotonicClock.h"
#include "platform/linux/NullScreenCapture.h"
#include "platform/linux/PointerStrip.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/StatvfsDiskSpace.h"
#ifdef FERROVANE_WITH_X11
#include "platform/linux/x11/X11DesktopProbe.h"
#include "platform/linux/x11/XcbScreenCapture.h"

#include <QGuiApplication>
#endif

#ifdef FERROVANE_WITH_PIPEWIRE
#include "platform/linux/wayland/PortalScreenCapture.h"
#endif

#include <QByteArray>
#include <QString>

namespace {

// XWayland sets DISPLAY too, but shows only its own windows: the session type decides.
bool waylandSession() {
    return qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

std::shared_ptr<ScreenCapture> createScreenCapture() {
    const QByteArray forced = qgetenv("FERROVANE_PLATFORM");
    if (forced == "null")
        return std::make_shared<NullScreenCapture>(QStringLiteral("Screen capture is turned off."));
#ifdef FERROVANE_WITH_PIPEWIRE
    if (forced == "portal" || (forced.isEmpty() && waylandSession()))
        return std::make_shared<PortalScreenCapture>(RestoreTokenFile::standard());
#endif
#ifdef FERROVANE_WITH_X11
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || forced == "x11")
        return std::make_shared<XcbScreenCapture>(qEnvironmentVariable("DISPLAY"));
#endif
    if (waylandSession())
        return std::make_shared<NullScreenCapture>(QStringLiteral(
            "This build of Ferrovane cannot record a Wayland session (it has no PipeWire support)."));
    return std::make_shared<NullScreenCapture>(
        QStringLiteral("No X display to record (DISPLAY is not set)."));
}

} // namespace

MediaPlatform createMediaPlatform() {
    return MediaPlatform{std::make_shared<MonotonicClock>(), createScreenCapture(),
                         std::make_shared<FfmpegMovieWriterFactory>(), std::make_shared<FfmpegMediaAssets>(),
                         std::make_shared<StatvfsDiskSpace>()};
}

std::unique_ptr<PreferencesStore> createPreferencesStore() {
    return std::make_unique<QSettingsStore>();
}

void prepareWindowSystem() {
    // The panel places itself at the top of the screen and stays above everything, which Wayland clients
    // may not do: on a Wayland session it runs through XWayland, unless the user chose otherwise or the
    // session has no XWayland to run on.
    if (waylandSession() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The panel's steady updates are a few hundred bytes (the pulsing dot); through shared memory each
    // would also cost a round trip to the server before the next paint. Plain image requests are cheaper
    // for windows this small, and no slower for the open and close animation.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
}

std::unique_ptr<Screens> createScreens() {
    // Without a way to ask (offscreen) the panel assumes no compositing manager and shapes itself.
    QtScreens::Probes probes;
#ifdef FERROVANE_WITH_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb") && waylandSession()) {
        // XWayland: the Wayland compositor blends every window, and the pointer shows only over ours.
        auto strip = std::make_shared<PointerStrip>();
        probes.compositing = [] { return true; };
        probes.pointerElsewhere = [strip] { return strip->pointerElsewhere(); };
    } else if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (std::shared_ptr<X11DesktopProbe> probe = X11DesktopProbe::open()) {
            probes.compositing = [probe] { return probe->compositingManagerRunning(); };
            probes.pointer = [probe] { return probe->pointer(); };
        }
    }
#endif
    return std::make_unique<QtScreens>(std::move(probes));
}

#include "platform/linux/dbus/DBusControlChannel.h"
#include "platform/linux/dbus/DBusScreenLockMonitor.h"
#include "platform/linux/dbus/PortalGlobalShortcut.h"

std::unique_ptr<ScreenLockMonitor> createScreenLockMonitor() {
    return std::make_unique<DBusScreenLockMonitor>(
        QDBusConnection::sessionBus(), QDBusConnection::systemBus(), qEnvironmentVariable("XDG_SESSION_ID"));
}

std::unique_ptr<ControlChannel> createControlChannel() {
    return std::make_unique<DBusControlChannel>(QDBusConnection::sessionBus());
}

#include "platform/linux/CanberraSoundPlayer.h"
#include "platform/linux/DesktopFileOpener.h"

std::unique_ptr<FileOpener> createFileOpener() {
    return std::make_unique<DesktopFileOpener>(QDBusConnection::sessionBus());
}

std::unique_ptr<SoundPlayer> createSoundPlayer() {
    return std::make_unique<CanberraSoundPlayer>();
}

#include "platform/linux/QtPasteboard.h"

std::unique_ptr<Pasteboard> createPasteboard() {
    return std::make_unique<QtPasteboard>();
}

#ifdef FERROVANE_WITH_X11
#include "platform/linux/x11/XcbGlobalShortcut.h"
#endif

namespace {

// Stands in when the session offers no way to watch the keyboard; the rest of the application runs.
class NullGlobalShortcut final : public GlobalShortcut {
public:
    explicit NullGlobalShortcut(QString message)
        : m_message(std::move(message)) {}

    Status registerShortcut(QKeyCombination, Handler) override { return platformError(m_message); }

private:
    QString m_message;
};

} // namespace

std::unique_ptr<GlobalShortcut> createGlobalShortcut() {
    const QByteArray forced = qgetenv("FERROVANE_PLATFORM");
    if (forced == "null")
        return std::make_unique<NullGlobalShortcut>(QStringLiteral("The global shortcut is turned off."));
    // Xwayland hands keys to X clients only while one of its windows has the focus: a grab there would
    // succeed and stay silent nearly always. The desktop's portal binds the shortcut instead.
    if (forced == "portal" || (forced != "x11" && waylandSession()))
        return std::make_unique<PortalGlobalShortcut>(QDBusConnection::sessionBus());
#ifdef FERROVANE_WITH_X11
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || forced == "x11")
        return std::make_unique<XcbGlobalShortcut>(qEnvironmentVariable("DISPLAY"));
#endif
    return std::make_unique<NullGlobalShortcut>(
        QStringLiteral("No X display to watch the keyboard on (DISPLAY is not set)."));
}

#include "platform/linux/XdgAutostart.h"
#include "platform/linux/dbus/PortalAppearance.h"

#include <QCoreApplication>

std::unique_ptr<LoginItem> createLoginItem() {
    return std::make_unique<XdgAutostart>(QCoreApplication::applicationFilePath());
}

std::unique_ptr<Appearance> createAppearance() {
    return std::make_unique<PortalAppearance>(QDBusConnection::sessionBus());
}
