#include "platform/PlatformFactory.h"

#include "platform/linux/FfmpegMediaAssets.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "platform/linux/MonotonicClock.h"
#include "platform/linux/NullScreenCapture.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/StatvfsDiskSpace.h"
#ifdef FERROVANE_WITH_X11
#include "platform/linux/x11/XcbScreenCapture.h"
#endif

#include <QByteArray>
#include <QString>

namespace {

std::shared_ptr<ScreenCapture> createScreenCapture() {
    const QByteArray forced = qgetenv("FERROVANE_PLATFORM");
    if (forced == "null")
        return std::make_shared<NullScreenCapture>(QStringLiteral("Screen capture is turned off."));
#ifdef FERROVANE_WITH_X11
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || forced == "x11")
        return std::make_shared<XcbScreenCapture>(qEnvironmentVariable("DISPLAY"));
#endif
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::make_shared<NullScreenCapture>(
            QStringLiteral("Screen capture on Wayland is not supported yet. Log in to an X11 session."));
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
