#include "app/HeadlessRecorder.h"
#include "app/SignalWatcher.h"
#include "platform/Logging.h"
#include "platform/PlatformFactory.h"
#include "recorder/PartialClip.h"
#include "recorder/ReplayRecorder.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <malloc.h>

namespace {

int runHeadless(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::unique_ptr<PreferencesStore> store = createPreferencesStore();
    Settings::useStore(store.get());
    Settings::registerDefaults();
    ReplayRecorder::removeStaleBuffers();
    PartialClip::removeLeftovers(Settings::folder());

    HeadlessRecorder recorder(createMediaPlatform());
    recorder.setPrintStatistics(QCoreApplication::arguments().contains(QStringLiteral("--stats")));
    SignalWatcher watcher({SIGINT, SIGTERM, SIGUSR1});
    int exitCode = 0;
    QObject::connect(&watcher, &SignalWatcher::received, &app, [&](int number) {
        if (number == SIGUSR1)
            recorder.save();
        else
            app.quit();
    });
    QObject::connect(&recorder, &HeadlessRecorder::failed, &app, [&](int code) {
        exitCode = code;
        app.quit();
    });
    if (!recorder.start()) return 1;
    app.exec();
    recorder.shutDown();
    return exitCode;
}

void printUsage() {
    std::fputs("Usage: ferrovane --headless\n"
               "  Records the main display into a rolling buffer until SIGINT or SIGTERM.\n"
               "  SIGUSR1 saves the last seconds into ~/Movies/Ferrovane and prints the clip's path.\n"
               "  --stats prints frame and segment counters on stderr when it stops.\n",
               stdout);
}

} // namespace

int main(int argc, char** argv) {
    // Capture, conversion and export buffers of a few MB come and go with each recording and save. With a
    // fixed threshold they are mapped and unmapped instead of lingering in malloc's arenas, which keeps the
    // resident size flat (glibc would otherwise raise the threshold after the first free).
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    Logging::quietByDefault();

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        printUsage();
        return 0;
    }
    if (arguments.contains(QStringLiteral("--headless"))) return runHeadless(argc, argv);
    std::fputs("ferrovane: the desktop interface is not built yet; use --headless.\n", stderr);
    return 2;
}
