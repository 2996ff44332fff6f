#include "app/AppDelegate.h"
#include "app/ColorScheme.h"
#include "app/CommandLine.h"
#include "app/ControlCommand.h"
#include "app/HeadlessDesktop.h"
#include "app/HotKey.h"
#include "app/QtScheduler.h"
#include "app/RecorderRecording.h"
#include "app/SignalWatcher.h"
#include "app/StatusItem.h"
#include "base/Logging.h"
#include "clips/ClipTools.h"
#include "notch/NotchController.h"
#include "notch/ReplayModel.h"
#include "platform/Appearance.h"
#include "platform/Clipboard.h"
#include "platform/ControlChannel.h"
#include "platform/FileOpener.h"
#include "platform/GlobalShortcut.h"
#include "platform/LoginItem.h"
#include "platform/PlatformFactory.h"
#include "platform/ScreenLockMonitor.h"
#include "platform/SoundPlayer.h"
#include "recorder/PartialClip.h"
#include "recorder/ReplayRecorder.h"
#include "settings/Settings.h"
#include "settings/SettingsWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QScreen>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <malloc.h>

namespace {

void printLine(FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

AppDelegate::RecorderFactory recorders(const MediaPlatform& platform) {
    return [platform](double buffer, int fps, double width) {
        return std::make_unique<RecorderRecording>(buffer, fps, width, platform);
    };
}

// SIGUSR1 saves, and `reply` hears how; SIGINT and SIGTERM quit, which deletes the buffer.
const QList<int> watchedSignals{SIGINT, SIGTERM, SIGUSR1};

// A save that arrived with a quit goes first, so the quit waits for it whichever order the kernel handed
// them over in.
std::unique_ptr<SignalWatcher> watchSignals(AppDelegate& controller, AppDelegate::SaveReply reply) {
    auto watcher = std::make_unique<SignalWatcher>(watchedSignals);
    QObject::connect(watcher.get(), &SignalWatcher::received, &controller,
                     [&controller, reply](const QList<int>& batch) {
                         for (int number : batch)
                             if (number == SIGUSR1) controller.saveReplay(reply);
                         if (batch.contains(SIGINT) || batch.contains(SIGTERM)) QCoreApplication::quit();
                     });
    return watcher;
}

// A signalled save's clip goes to stdout; why there is none, the controller says on stderr.
AppDelegate::SaveReply printSaveOutcome() {
    return [](const Result<QString>& result) {
        if (result) printLine(stdout, result.value());
    };
}

// A save or a hand-off frees megabytes of short-lived buffers (decoded pictures, packets, export buffers)
// that malloc keeps for reuse, a little more after each of the first few saves. Handed back once the work is
// done, the resident size stays where the first save left it.
void returnFreedMemory(ReplayModel& model) {
    auto working = std::make_shared<bool>(false);
    QObject::connect(&model, &ReplayModel::phaseChanged, &model, [working](const Phase& phase) {
        const bool now = phase.kind() == Phase::Kind::Working;
        if (*working && !now) malloc_trim(0); // under a millisecond
        *working = now;
    });
}

// Settings changed from outside (the settings window, a text editor) reach the controller on the next turn.
void followSettings(PreferencesStore& store, AppDelegate& controller) {
    QObject::connect(&store, &PreferencesStore::changed, &controller, &AppDelegate::settingsChanged,
                     Qt::QueuedConnection);
}

// One line of counters on stderr, for benchmarks. Stops the recorder so that the segment it closes
// counts too.
void printStatistics(ReplayRecorder& recorder) {
    recorder.stop();
    ReplayRecorder::Snapshot state = recorder.snapshot();
    for (int i = 0; i < 500 && state.inFlight > 0; ++i) {
        QThread::msleep(10);
        state = recorder.snapshot();
    }
    qint64 bytes = 0;
    double seconds = 0;
    for (const Segment& segment : state.segments) {
        bytes += QFileInfo(segment.url).size();
        seconds += (segment.end - segment.start).seconds();
    }
    printLine(stderr,
              QStringLiteral("statistics: accepted=%1 written=%2 dropped=%3 segments=%4 bytes=%5 seconds=%6")
                  .arg(state.framesAccepted)
                  .arg(state.framesWritten)
                  .arg(state.framesDropped)
                  .arg(state.segments.size())
                  .arg(bytes)
                  .arg(seconds, 0, 'f', 3));
}

// The application without panel, hot key or control channel: signals drive it, each saved clip's path
// goes to stdout, each failure's text to stderr. Recording that cannot go on (after the usual restarts)
// ends the process with status 1.
int runHeadless(int argc, char** argv, bool stats) {
    SignalWatcher::blockInEveryThread(watchedSignals);
    QCoreApplication app(argc, argv);
    std::unique_ptr<PreferencesStore> store = createPreferencesStore();
    Settings::useStore(store.get());
    Settings::registerDefaults();
    ReplayRecorder::removeStaleBuffers();
    PartialClip::removeLeftovers(Settings::folder());

    const MediaPlatform platform = createMediaPlatform();
    ReplayModel model;
    QtScheduler scheduler;
    HeadlessDesktop desktop;
    AppDelegate controller(model, recorders(platform), desktop.roles(*platform.capture), scheduler);
    bool recordingFailed = false;
    bool quitting = false;
    QObject::connect(&model, &ReplayModel::phaseChanged, &app, [&](const Phase& phase) {
        // Once quitting, a start cut short by the quit is no failure.
        if (quitting || phase.kind() != Phase::Kind::Failed) return;
        recordingFailed = true; // the controller said why on stderr
        QCoreApplication::quit();
    });
    followSettings(*store, controller);
    returnFreedMemory(model);
    // A script that saves and then stops the recorder reads the save's fate in the exit status: the last
    // save asked for, if it failed, fails the run.
    bool lastSaveFailed = false;
    const std::unique_ptr<SignalWatcher> watcher = watchSignals(
        controller, [print = printSaveOutcome(), &lastSaveFailed](const Result<QString>& result) {
            lastSaveFailed = !result;
            print(result);
        });

    controller.launch();
    app.exec();
    quitting = true;
    if (stats) printStatistics(static_cast<RecorderRecording&>(controller.recorder()).replayRecorder());
    controller.terminate();
    return recordingFailed || lastSaveFailed ? 1 : 0;
}

// Follows every screen's geometry as well as screens coming and going.
void watchScreens(QGuiApplication& app, AppDelegate& delegate) {
    auto reposition = [&delegate] {
        QMetaObject::invokeMethod(
            &delegate, [&delegate] { delegate.repositionNotch(); }, Qt::QueuedConnection);
    };
    auto watch = [&app, reposition](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, &app, reposition);
        QObject::connect(screen, &QScreen::availableGeometryChanged, &app, reposition);
    };
    for (QScreen* screen : app.screens())
        watch(screen);
    QObject::connect(&app, &QGuiApplication::screenAdded, &app, [watch, reposition](QScreen* screen) {
        watch(screen);
        reposition();
    });
    QObject::connect(&app, &QGuiApplication::screenRemoved, &app, reposition);
    QObject::connect(&app, &QGuiApplication::primaryScreenChanged, &app, reposition);
}

int runDesktop(int argc, char** argv) {
    SignalWatcher::blockInEveryThread(watchedSignals);
    prepareWindowSystem();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrovane"));
    // A panel and a tray icon only: closing a window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::unique_ptr<Appearance> appearance = createAppearance();
    followAppearance(*appearance);
    std::unique_ptr<PreferencesStore> store = createPreferencesStore();
    Settings::useStore(store.get());
    Settings::registerDefaults();

    // One instance per user: a second launch shows the running one's panel and leaves.
    std::unique_ptr<ControlChannel> control = createControlChannel();
    QPointer<AppDelegate> delegate; // commands may arrive before it exists; they are dropped then
    auto onDelegate = [&delegate](void (AppDelegate::*method)()) {
        return [&delegate, method] {
            if (delegate) (delegate->*method)();
        };
    };
    const ClaimOutcome claim = control->claim(ControlHandlers{
        .save =
            [&delegate](ControlHandlers::SaveReply reply) {
                if (delegate)
                    delegate->saveReplay(std::move(reply));
                else
                    reply(platformError(QStringLiteral("Recording has not started yet.")));
            },
        .togglePause = onDelegate(&AppDelegate::togglePause),
        .quit = [] { QCoreApplication::quit(); },
        .peek = onDelegate(&AppDelegate::peekForSecondLaunch),
        .status =
            [&] { return delegate ? statusText(delegate->status()) : QStringLiteral("phase: starting\n"); },
        .locked = onDelegate(&AppDelegate::screenLocked),
        .unlocked = onDelegate(&AppDelegate::screenUnlocked),
    });
    if (claim == ClaimOutcome::AlreadyRunning) return control->send(ControlCommand::Peek) ? 0 : 1;
    if (claim == ClaimOutcome::Unreachable) {
        printLine(stderr,
                  QStringLiteral("Ferrovane is already running (process %1) but cannot be reached on the "
                                 "session bus.")
                      .arg(control->runningProcess()));
        return 1;
    }

    ReplayRecorder::removeStaleBuffers();
    PartialClip::removeLeftovers(Settings::folder());

    const MediaPlatform platform = createMediaPlatform();
    ReplayModel model;
    QtScheduler scheduler;
    // The panel's buttons reach the controller through `delegate`, filled below: the controller needs the
    // panel, so the panel comes first.
    std::unique_ptr<Screens> screens = createScreens();
    NotchController notch(model, AppDelegate::actions(delegate), *screens, *platform.clock);
    const std::unique_ptr<Clipboard> clipboard = createClipboard();
    const std::unique_ptr<FileOpener> files = createFileOpener();
    const std::unique_ptr<SoundPlayer> sound = createSoundPlayer();
    PooledClipTools clipTools(platform.assets, *clipboard);
    SettingsWindow settingsWindow(createLoginItem());
    AppDelegate controller(model, recorders(platform),
                           AppDelegate::Desktop{notch, *platform.capture, *clipboard, *files, *sound,
                                                clipTools, &settingsWindow},
                           scheduler);
    delegate = &controller;
    StatusItem statusItem([&controller] { return controller.menuEntries(); },
                          [&controller](const StatusMenu::Entry& entry) { controller.menuChose(entry); });
    // Ctrl+Alt+R; the press is handled on the next turn of the loop, like any other save request.
    HotKey hotKey(
        Qt::Key_R, Qt::ControlModifier | Qt::AltModifier,
        [&controller] {
            QMetaObject::invokeMethod(
                &controller, [&controller] { controller.saveReplay(); }, Qt::QueuedConnection);
        },
        createGlobalShortcut(),
        [&model, &settingsWindow] {
            model.setHotKeyBound(false);
            settingsWindow.setShortcutBound(false);
        });

    watchScreens(app, controller);
    followSettings(*store, controller);
    returnFreedMemory(model);
    std::unique_ptr<ScreenLockMonitor> lock = createScreenLockMonitor();
    QObject::connect(lock.get(), &ScreenLockMonitor::locked, &controller, &AppDelegate::screenLocked);
    QObject::connect(lock.get(), &ScreenLockMonitor::unlocked, &controller, &AppDelegate::screenUnlocked);
    const std::unique_ptr<SignalWatcher> watcher = watchSignals(controller, printSaveOutcome());
    // The session ending (log out, shut down) quits like anything else, so the buffer goes with it.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [] { QCoreApplication::quit(); });

    controller.launch();
    app.exec();
    controller.terminate();
    return 0;
}

// The panel needs a window system; Qt would abort with a core dump without one.
bool graphicalSession() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
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
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    switch (parsed.mode) {
    case CommandLine::Mode::Refused:
        printLine(
            stderr,
            QStringLiteral("ferrovane: %1\nTry 'ferrovane --help' for more information.").arg(parsed.error));
        return 2;
    case CommandLine::Mode::Help:
        std::fputs(CommandLine::usage().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Mode::Version:
        printLine(stdout, CommandLine::version());
        return 0;
    case CommandLine::Mode::Control: {
        QCoreApplication app(argc, argv); // no display needed to talk to the running instance
        return runControlCommand(*parsed.command, *createControlChannel());
    }
    case CommandLine::Mode::Headless:
        return runHeadless(argc, argv, parsed.stats);
    case CommandLine::Mode::Desktop:
        break;
    }
    if (!graphicalSession()) {
        printLine(stderr, QStringLiteral(
                              "Ferrovane needs a graphical session: no X11 or Wayland display was found."));
        return 1;
    }
    return runDesktop(argc, argv);
}
