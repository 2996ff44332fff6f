#include "platform/PlatformFactory.h"

#include "platform/linux/capture/MonotonicClock.h"
#include "platform/linux/capture/NullScreenCapture.h"
#include "platform/linux/dbus/DBusControlChannel.h"
#include "platform/linux/dbus/DBusScreenLockMonitor.h"
#include "platform/linux/desktop/CanberraSoundPlayer.h"
#include "platform/linux/desktop/DesktopFileOpener.h"
#include "platform/linux/desktop/PointerStrip.h"
#include "platform/linux/desktop/QSettingsStore.h"
#include "platform/linux/desktop/QtClipboard.h"
#include "platform/linux/desktop/QtScreens.h"
#include "platform/linux/desktop/StatvfsDiskSpace.h"
#include "platform/linux/desktop/XdgAutostart.h"
#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "platform/linux/ffmpeg/FfmpegMovieWriter.h"
#include "platform/linux/portal/PortalAppearance.h"
#include "platform/linux/portal/PortalGlobalShortcut.h"
#ifdef FERROVANE_WITH_X11
#include "platform/linux/x11/X11DesktopProbe.h"
#include "platform/linux/x11/XcbGlobalShortcut.h"
#include "platform/linux/x11/XcbScreenCapture.h"
#endif
#ifdef FERROVANE_WITH_PIPEWIRE
#include "platform/linux/portal/PortalScreenCapture.h"
#endif

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>

namespace {

// How this session is recorded and its keyboard watched, decided once.
struct Session {
    enum class Backend { X11, Portal, Null };
    Backend backend = Backend::Null;
    bool wayland = false; // the panel then runs through XWayland
    QString problem;      // why nothing records, for the null backends
};

const Session& session() {
    static const Session decided = [] {
        Session s;
        // XWayland sets DISPLAY too, but shows only its own windows: the session type decides.
        s.wayland =
            qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        const QByteArray forced = qgetenv("FERROVANE_PLATFORM");
        if (forced == "x11") {
            s.backend = Session::Backend::X11;
        } else if (forced == "portal") {
            s.backend = Session::Backend::Portal;
        } else if (forced == "null") {
            s.problem = QStringLiteral("Screen capture is turned off.");
        } else if (!forced.isEmpty()) {
            s.problem = QStringLiteral("FERROVANE_PLATFORM is \"%1\"; it must be x11, portal or null.")
                            .arg(QString::fromLocal8Bit(forced));
        } else if (s.wayland) {
            s.backend = Session::Backend::Portal;
        } else if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            s.backend = Session::Backend::X11;
        } else {
            s.problem = QStringLiteral("No X display to record (DISPLAY is not set).");
        }
#ifndef FERROVANE_WITH_PIPEWIRE
        if (s.backend == Session::Backend::Portal) {
            s.backend = Session::Backend::Null;
            s.problem = QStringLiteral("This build of Ferrovane cannot record a Wayland session (it has no "
                                       "PipeWire support).");
        }
#endif
#ifndef FERROVANE_WITH_X11
        if (s.backend == Session::Backend::X11) {
            s.backend = Session::Backend::Null;
            s.problem = QStringLiteral("This build of Ferrovane cannot record an X11 session.");
        }
#endif
        return s;
    }();
    return decided;
}

std::shared_ptr<ScreenCapture> createScreenCapture() {
    switch (session().backend) {
#ifdef FERROVANE_WITH_PIPEWIRE
    case Session::Backend::Portal:
        return std::make_shared<PortalScreenCapture>(RestoreTokenFile::standard());
#endif
#ifdef FERROVANE_WITH_X11
    case Session::Backend::X11:
        return std::make_shared<XcbScreenCapture>(qEnvironmentVariable("DISPLAY"));
#endif
    default:
        return std::make_shared<NullScreenCapture>(session().problem);
    }
}

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
    if (session().wayland && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
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
    if (QGuiApplication::platformName() == QLatin1String("xcb") && session().wayland) {
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

std::unique_ptr<ScreenLockMonitor> createScreenLockMonitor() {
    return std::make_unique<DBusScreenLockMonitor>(
        QDBusConnection::sessionBus(), QDBusConnection::systemBus(), qEnvironmentVariable("XDG_SESSION_ID"));
}

std::unique_ptr<ControlChannel> createControlChannel() {
    return std::make_unique<DBusControlChannel>(QDBusConnection::sessionBus());
}

std::unique_ptr<FileOpener> createFileOpener() {
    return std::make_unique<DesktopFileOpener>(QDBusConnection::sessionBus());
}

std::unique_ptr<SoundPlayer> createSoundPlayer() {
    return std::make_unique<CanberraSoundPlayer>();
}

std::unique_ptr<Clipboard> createClipboard() {
    return std::make_unique<QtClipboard>();
}

std::unique_ptr<GlobalShortcut> createGlobalShortcut() {
    switch (session().backend) {
    case Session::Backend::Portal:
        // Xwayland hands keys to X clients only while one of its windows has the focus: a grab there would
        // succeed and stay silent nearly always. The desktop's portal binds the shortcut instead.
        return std::make_unique<PortalGlobalShortcut>(QDBusConnection::sessionBus());
#ifdef FERROVANE_WITH_X11
    case Session::Backend::X11:
        return std::make_unique<XcbGlobalShortcut>(qEnvironmentVariable("DISPLAY"));
#endif
    default:
        return std::make_unique<NullGlobalShortcut>(session().problem);
    }
}

std::unique_ptr<LoginItem> createLoginItem() {
    return std::make_unique<XdgAutostart>(QCoreApplication::applicationFilePath());
}

std::unique_ptr<Appearance> createAppearance() {
    return std::make_unique<PortalAppearance>(QDBusConnection::sessionBus());
}
