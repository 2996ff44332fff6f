#include "app/AppDelegate.h"
#include "app/ControlCommand.h"
#include "clips/ClipTools.h"
#include "notch/Panel.h"
#include "notch/ReplayModel.h"
#include "platform/CapturePermission.h"
#include "platform/Clipboard.h"
#include "platform/FileOpener.h"
#include "platform/LoginItem.h"
#include "platform/ScreenCapture.h"
#include "platform/SoundPlayer.h"
#include "settings/Settings.h"
#include "settings/SettingsWindow.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using StatusMenu::Entry;
using Options = std::vector<double>;

namespace {

// What one recorder the controller made went through; outlives the recorder.
struct RecorderLog {
    AppDelegate::Config config;
    std::function<void(const Status&)> pendingStart;
    std::function<void(const Error&)> onStop;
    std::function<void(const Result<QString>&)> pendingSave;
    std::vector<double> saves;
    std::optional<Error> writeError;
    bool discarded = false;
};

struct FakeRecording final : Recording {
    explicit FakeRecording(std::shared_ptr<RecorderLog> log)
        : log(std::move(log)) {}
    double bufferSeconds() const override { return log->config.buffer; }
    int fps() const override { return log->config.fps; }
    double maxWidth() const override { return log->config.width; }
    void start(std::function<void(const Status&)> done) override { log->pendingStart = std::move(done); }
    void stop(Done done) override { done(); }
    void discard() override { log->discarded = true; }
    void discardAndWait() override { discard(); }
    Fill fill() override { return Fill{12, log->writeError}; }
    void setOnStop(std::function<void(const Error&)> callback) override { log->onStop = std::move(callback); }
    void saveLast(double seconds, const QString&, std::function<void(const Result<QString>&)> done) override {
        log->saves.push_back(seconds);
        log->pendingSave = std::move(done);
    }
    std::shared_ptr<RecorderLog> log;
};

// Time moved by hand; blocks run in the order they fall due, unless their handle is gone.
struct FakeScheduler final : Scheduler {
    struct Handle final : Pending {
        std::shared_ptr<std::function<void()>> block;
    };
    std::unique_ptr<Pending> after(double seconds, std::function<void()> block) override {
        auto handle = std::make_unique<Handle>();
        handle->block = std::make_shared<std::function<void()>>(std::move(block));
        m_blocks.emplace(m_now + seconds, handle->block);
        return handle;
    }
    void advance(double seconds) {
        const double until = m_now + seconds;
        while (!m_blocks.empty() && m_blocks.begin()->first <= until + 1e-9) {
            m_now = m_blocks.begin()->first;
            const auto block = m_blocks.begin()->second.lock();
            m_blocks.erase(m_blocks.begin());
            if (block) (*block)();
        }
        m_now = until;
    }
    double m_now = 0;
    std::multimap<double, std::weak_ptr<std::function<void()>>> m_blocks;
};

// The desktop's roles, recording what the controller asked of them.
struct FakeDesktop final : Panel, CapturePermission, Clipboard, FileOpener, SoundPlayer, ClipTools {
    void peek(double seconds) override { peeks.push_back(seconds); }
    void flash() override { ++flashes; }
    void reposition() override {}
    void forgetChoice() override { ++choicesForgotten; }
    void setText(const QString&) override {}
    void setFile(const QString& path) override { copied = path; }
    QString text() const override { return {}; }
    void openFile(const QString& path, Done done) override {
        opened = path;
        done(failure);
    }
    void reveal(const QString&, Done done) override { done(failure); }
    void openFolder(const QString& path, Done done) override {
        openedFolder = path;
        done(failure);
    }
    void playSaveSound() override { ++sounds; }
    void makeThumbnail(const QString&, std::function<void(const QImage&, double)> done) override {
        done(QImage(8, 5, QImage::Format_RGB32), 10);
    }
    void handOff(const QString&, int frames, std::function<void(const Status&)> done) override {
        handoffFrames = frames;
        done(failure);
    }

    std::vector<double> peeks;
    int flashes = 0, sounds = 0, choicesForgotten = 0, handoffFrames = 0;
    Status failure = Ok{}; // what opening and handing off answer
    QString copied, opened, openedFolder;
};

struct NoLoginItem final : LoginItem {
    bool enabled() const override { return false; }
    Status registerItem() override { return Ok{}; }
    Status unregisterItem() override { return Ok{}; }
};

// A clip file that exists; the test case creates it.
QTemporaryDir clipsFolder;
const QString clip = clipsFolder.filePath(QStringLiteral("replay-2026-12-06_10-00-00.mp4"));
const QUrl clipUrl = QUrl::fromLocalFile(clip);

struct Rig {
    Rig() {
        delegate = std::make_unique<AppDelegate>(
            model,
            [this](double buffer, int fps, double width) {
                made.push_back(std::make_shared<RecorderLog>());
                made.back()->config = {buffer, fps, width};
                return std::make_unique<FakeRecording>(made.back());
            },
            AppDelegate::Desktop{shell, shell, shell, shell, shell, shell, &settingsWindow}, scheduler);
    }
    RecorderLog& current() { return *made.back(); }
    // Launches and completes the first start: only the very first launch peeks, to welcome.
    void live() {
        const bool first = !Settings::hasLaunchedBefore();
        delegate->launch();
        current().pendingStart(Ok{});
        QCOMPARE(model.phase(), Phase::live());
        QCOMPARE(shell.peeks, first ? std::vector<double>{7} : std::vector<double>{});
        QVERIFY(Settings::hasLaunchedBefore());
        shell.peeks.clear();
    }
    void stopStream() { current().onStop(platformError("The X server went away.")); }
    void choose(StatusMenu::Command command) { delegate->menuChose(Entry::item({}, command, clip)); }
    QString status() const { return statusText(delegate->status()); }

    FakeSettings settings;
    ReplayModel model;
    FakeDesktop shell;
    SettingsWindow settingsWindow{std::make_unique<NoLoginItem>()};
    FakeScheduler scheduler;
    std::vector<std::shared_ptr<RecorderLog>> made;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT
    std::optional<Rig> rig;

private slots:
    void initTestCase() { writeFile(clip, "x"); }
    void init() { rig.emplace(); }
    void cleanup() { rig.reset(); }

    // Each stop restarts after 2 s with a fresh recorder; the fourth in a row without a start in between
    // shows the failure, and a start that succeeds resets the count.
    void restarts_data() {
        QTest::addColumn<bool>("successInBetween");
        QTest::newRow("four stops in a row") << false;
        QTest::newRow("a start succeeds after the second") << true;
    }
    void restarts() {
        QFETCH(bool, successInBetween);
        rig->live();
        for (int stop = 1; stop <= 4; ++stop) {
            const size_t before = rig->made.size();
            rig->stopStream();
            QVERIFY(!rig->model.recording());
            if (stop == 4) break;
            rig->scheduler.advance(1.9);
            QCOMPARE(rig->made.size(), before);
            rig->scheduler.advance(0.1);
            QCOMPARE(rig->made.size(), before + 1);
            QVERIFY(rig->made[before - 1]->discarded);
            if (successInBetween && stop == 2) rig->current().pendingStart(Ok{});
        }
        QCOMPARE(rig->model.phase() == Phase::failed("The X server went away."), !successInBetween);
        QCOMPARE(rig->delegate->restartAttempts(), successInBetween ? 2 : 3);
    }

    // A stop that is no failure: the display changed size (a fresh recorder at once, at its new size, and
    // nothing counted), or recording was paused anyway (nothing happens).
    void stopsThatAreNoFailure_data() {
        QTest::addColumn<bool>("paused");
        QTest::newRow("display resized") << false;
        QTest::newRow("while paused") << true;
    }
    void stopsThatAreNoFailure() {
        QFETCH(bool, paused);
        rig->live();
        if (paused) rig->delegate->togglePause();
        const size_t made = rig->made.size();
        rig->delegate->recordingStopped(paused ? platformError("gone")
                                               : displayResized("The display \"VNC-0\" changed size."));
        rig->scheduler.advance(5);
        QCOMPARE(rig->made.size(), made + (paused ? 0 : 1));
        QCOMPARE(rig->model.phase(), paused ? Phase::paused() : Phase::starting());
        QCOMPARE(rig->delegate->restartAttempts(), 0);
        if (!paused) QVERIFY(rig->made[made - 1]->discarded && rig->current().pendingStart);
    }

    // While the newest seconds cannot be written, nothing claims recording: the fill reads what a save could
    // have, the model carries the reason for the panel, and --status says so; it clears once writing works.
    void writeErrorShows() {
        rig->live();
        const QString error = "Could not write the movie file: No space left on device";
        rig->current().writeError = platformError(error);
        rig->delegate->updateBufferFill();
        QCOMPARE(rig->model.writeError(), error);
        QVERIFY2(rig->status().contains("\nrecording: no (" + error + ")\n"), qPrintable(rig->status()));
        rig->current().writeError.reset();
        rig->delegate->updateBufferFill();
        QCOMPARE(rig->model.writeError(), QString());
        QVERIFY2(rig->status().contains("\nrecording: yes\n"), qPrintable(rig->status()));
    }

    // Only buffer length, frame rate and width rebuild the recorder, compared with the one running, so the
    // first change after launch counts too; a paused controller gets a fresh recorder and stays paused. The
    // save lengths offered follow the buffer: the chosen one (10 s) stays while offered, else 30 s, else the
    // largest.
    void settingsChanges_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("rebuilt");
        QTest::addColumn<Options>("options");
        QTest::addColumn<double>("length");
        const QString buffer = Settings::Keys::buffer;
        QTest::newRow("buffer") << buffer << QVariant(60) << false << true << Options{10, 30, 60} << 10.0;
        QTest::newRow("fps") << Settings::Keys::fps << QVariant(24) << false << true << Options{10, 30}
                             << 10.0;
        QTest::newRow("width") << Settings::Keys::maxWidth << QVariant(1280) << false << true
                               << Options{10, 30} << 10.0;
        QTest::newRow("sound") << Settings::Keys::sound << QVariant(false) << false << false
                               << Options{10, 30} << 10.0;
        QTest::newRow("buffer while paused")
            << buffer << QVariant(60) << true << true << Options{10, 30, 60} << 10.0;
        QTest::newRow("5 s buffer") << buffer << QVariant(5) << false << true << Options{5} << 5.0;
        QTest::newRow("90 s buffer") << buffer << QVariant(90) << false << true << Options{30, 60, 90}
                                     << 30.0;
        QTest::newRow("300 s buffer")
            << buffer << QVariant(300) << false << true << Options{60, 120, 300} << 300.0;
    }
    void settingsChanges() {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, paused);
        QFETCH(bool, rebuilt);
        QFETCH(Options, options);
        QFETCH(double, length);
        QObject::connect(Settings::store(), &PreferencesStore::changed, rig->delegate.get(),
                         &AppDelegate::settingsChanged);
        rig->live();
        rig->model.setSaveLength(10);
        if (paused) rig->delegate->togglePause();
        const size_t made = rig->made.size();
        Settings::setValue(key, value);
        QCOMPARE(rig->model.saveOptions(), options);
        QCOMPARE(rig->model.saveLength(), length);
        QCOMPARE(rig->model.bufferLimit(), Settings::bufferSeconds());
        QCOMPARE(rig->made.size(), made + (rebuilt ? 1 : 0));
        if (!rebuilt) return;
        QCOMPARE(rig->current().config,
                 (AppDelegate::Config{Settings::bufferSeconds(), Settings::fps(), Settings::maxWidth()}));
        QCOMPARE(bool(rig->current().pendingStart), !paused);
        QCOMPARE(rig->model.phase(), paused ? Phase::paused() : Phase::starting());
    }

    // Lock pauses a live recorder when auto-pause is on, and one that is still starting or due to restart:
    // it would record through the lock all the same. Unlock resumes only what the lock paused.
    void lock_data() {
        QTest::addColumn<bool>("autoPause");
        QTest::addColumn<QString>("before"); // live, user paused, starting, restart due, failed
        QTest::addColumn<bool>("lockPauses");
        QTest::addColumn<Phase>("afterUnlock");
        QTest::newRow("live") << true << "live" << true << Phase::starting();
        QTest::newRow("auto-pause off") << false << "live" << false << Phase::live();
        QTest::newRow("user paused") << true << "user paused" << false << Phase::paused();
        QTest::newRow("still starting") << true << "starting" << true << Phase::starting();
        QTest::newRow("restart due") << true << "restart due" << true << Phase::starting();
        QTest::newRow("start failed") << true << "failed" << false << Phase::failed("no");
        // Resuming by hand while the lock holds clears both pauses: the unlock then finds nothing to do.
        QTest::newRow("resumed by hand while locked") << true << "live, resumed" << true << Phase::starting();
    }
    void lock() {
        QFETCH(bool, autoPause);
        QFETCH(QString, before);
        QFETCH(bool, lockPauses);
        QFETCH(Phase, afterUnlock);
        Settings::setValue(Settings::Keys::autoPause, autoPause);
        rig->delegate->launch();
        if (before == "failed")
            rig->current().pendingStart(platformError("no"));
        else if (before != "starting")
            rig->current().pendingStart(Ok{});
        if (before == "user paused") rig->choose(StatusMenu::Command::TogglePause);
        if (before == "restart due") rig->stopStream();
        const size_t made = rig->made.size();
        rig->delegate->screenLocked();
        QCOMPARE(rig->delegate->lockPaused(), lockPauses);
        // The menu reads either pause from the controller.
        QCOMPARE(rig->delegate->menuEntries()[1].title,
                 lockPauses || before == "user paused" ? "Resume Replay" : "Pause and Clear Buffer");
        QCOMPARE(rig->made.size(), made + (lockPauses ? 1 : 0));
        if (lockPauses) QVERIFY(rig->made[made - 1]->discarded);
        if (before == "live, resumed") {
            rig->delegate->togglePause();
            QVERIFY(!rig->delegate->userPaused() && !rig->delegate->lockPaused());
        }
        rig->delegate->screenUnlocked();
        QCOMPARE(rig->model.phase(), afterUnlock);
        QCOMPARE(rig->delegate->userPaused(), before == "user paused");
    }

    // A save asks for min(buffer, chosen length); the result shows, sounds when asked to, and gives way 12 s
    // later to what recording does by then; a failure says why and gives way after 5 s.
    void save_data() {
        QTest::addColumn<double>("saveLength");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("pause"); // while the save runs
        QTest::addColumn<double>("asked");
        QTest::newRow("chosen length, paused meanwhile") << 10.0 << true << false << true << 10.0;
        QTest::newRow("buffer is shorter, sound off") << 60.0 << false << false << false << 30.0;
        QTest::newRow("failure") << 10.0 << true << true << false << 10.0;
    }
    void save() {
        QFETCH(double, saveLength);
        QFETCH(bool, sound);
        QFETCH(bool, fails);
        QFETCH(bool, pause);
        QFETCH(double, asked);
        Settings::setValue(Settings::Keys::sound, sound);
        Settings::setValue(Settings::Keys::hasLaunched, true); // a later launch: no welcome
        rig->live();
        rig->model.setSaveLength(saveLength);
        std::vector<Result<QString>> replies;
        const auto reply = [&](const Result<QString>& result) { replies.push_back(result); };
        rig->delegate->saveReplay(reply);
        QCOMPARE(rig->model.phase(), Phase::working("Saving replay…"));
        QCOMPARE(rig->shell.flashes, 1);
        rig->delegate->saveReplay(reply); // refused while working
        QCOMPARE(rig->current().saves, std::vector<double>{asked});
        QCOMPARE(replies.size(), size_t(1));
        QCOMPARE(replies[0].error().message, "A save is already in progress.");
        const QString error = "Could not save the replay: No space left on device";
        const auto finish = rig->current().pendingSave;
        if (pause) rig->delegate->togglePause();
        finish(fails ? Result<QString>(platformError(error)) : Result<QString>(clip));
        const Phase result = fails ? Phase::notice(error) : Phase::saved(clipUrl);
        QCOMPARE(rig->model.phase(), result);
        QCOMPARE(replies.size(), size_t(2));
        QCOMPARE(replies[1] ? replies[1].value() : replies[1].error().message, fails ? error : clip);
        QCOMPARE(rig->shell.sounds, sound && !fails ? 1 : 0);
        QCOMPARE(rig->shell.peeks, (std::vector<double>{3, fails ? 4.0 : 6.0}));
        QCOMPARE(rig->model.lastClip().isEmpty(), fails);
        if (!fails) QCOMPARE(rig->model.lastDuration(), 10.0);
        rig->scheduler.advance(fails ? 4.9 : 11.9);
        QCOMPARE(rig->model.phase(), result);
        rig->scheduler.advance(0.1);
        QCOMPARE(rig->model.phase(), pause ? Phase::paused() : Phase::live());
    }

    // A save that cannot start only shows the panel, and whoever asked hears why.
    void saveRefused_data() {
        QTest::addColumn<QString>("reason"); // the row names the state
        QTest::newRow("paused") << "Recording is paused.";
        QTest::newRow("starting") << "Recording has not started yet.";
        QTest::newRow("failed") << "Cannot open the X display \":0\".";
    }
    void saveRefused() {
        QFETCH(QString, reason);
        const QByteArray state = QTest::currentDataTag();
        rig->delegate->launch();
        if (state == "failed") rig->current().pendingStart(platformError(reason));
        if (state == "paused") rig->delegate->togglePause();
        const Phase before = rig->model.phase();
        rig->shell.peeks.clear();
        QString heard;
        rig->delegate->saveReplay([&](const Result<QString>& result) { heard = result.error().message; });
        QCOMPARE(heard, reason);
        QCOMPARE(rig->shell.peeks, std::vector<double>{5});
        QCOMPARE(rig->model.phase(), before);
        QVERIFY(rig->current().saves.empty());
    }

    // Retry and the privacy button give up the failed recorder (it still holds its buffer folder and
    // whatever its start left open) and start a fresh one.
    void retryStartsAFreshRecorder() {
        rig->delegate->launch();
        const Error refused = platformError("Screen sharing was not allowed (Start).");
        rig->current().pendingStart(refused);
        QCOMPARE(rig->model.phase(), Phase::failed(refused.message));
        const QPointer<AppDelegate> controller = rig->delegate.get(); // what the panel's buttons reach
        const NotchActions actions = AppDelegate::actions(controller);
        for (const auto& action : {actions.retry, actions.openPrivacySettings}) {
            const size_t failed = rig->made.size() - 1;
            action();
            QCOMPARE(rig->made.size(), failed + 2);
            QVERIFY(rig->made[failed]->discarded && rig->current().pendingStart);
            QCOMPARE(rig->model.phase(), Phase::starting());
            rig->current().pendingStart(refused);
        }
        QCOMPARE(rig->shell.choicesForgotten, 1); // the privacy button also asks the desktop again
        actions.retry();
        rig->current().pendingStart(Ok{});
        QCOMPARE(rig->model.phase(), Phase::live());
    }

    // A copy or handoff of the last clip shows it; a clip deleted behind the application's back is neither
    // copied nor opened, and a clip, folder or frames nothing could open or pull make a notice whose reason
    // --status keeps. Each replaces the pending return of the save before it and gives way after its own
    // time; a stream that stopped meanwhile leaves the result shown.
    void clipActions_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("clipGone");
        QTest::addColumn<Phase>("shown"); // a notice: the desktop fails whatever it is asked
        QTest::addColumn<double>("peek"); // 0: none
        QTest::addColumn<double>("shownFor");
        QTest::addColumn<bool>("stops"); // just before the return
        const Phase gone = Phase::notice("Replay was moved or deleted");
        const Phase noReplay = Phase::notice("Couldn't open the replay");
        const Phase noFolder = Phase::notice("Couldn't open the folder");
        QTest::newRow("copy") << "copy" << false << Phase::copied(clipUrl) << 4.0 << 8.0 << false;
        QTest::newRow("copy, then a stop") << "copy" << false << Phase::copied(clipUrl) << 4.0 << 8.0 << true;
        QTest::newRow("frames for Claude")
            << "handoff" << false << Phase::handedOff(clipUrl) << 6.0 << 12.0 << false;
        QTest::newRow("copy, clip gone") << "copy" << true << gone << 4.0 << 5.0 << false;
        QTest::newRow("play, clip gone") << "play" << true << gone << 4.0 << 5.0 << false;
        QTest::newRow("play, nothing opens it") << "play" << false << noReplay << 4.0 << 5.0 << false;
        QTest::newRow("show in folder") << "reveal" << false << noFolder << 4.0 << 5.0 << false;
        QTest::newRow("open folder") << "folder" << false << noFolder << 4.0 << 5.0 << false;
        QTest::newRow("recent clip") << "recent" << false << noReplay << 4.0 << 5.0 << false;
        QTest::newRow("no frames for Claude")
            << "handoff" << false << Phase::notice("Couldn't extract frames") << 0.0 << 5.0 << false;
    }
    void clipActions() {
        QFETCH(QString, action);
        QFETCH(bool, clipGone);
        QFETCH(Phase, shown);
        QFETCH(double, peek);
        QFETCH(double, shownFor);
        QFETCH(bool, stops);
        rig->live();
        rig->delegate->sendToClaude(); // no clip yet: nothing
        QCOMPARE(rig->shell.handoffFrames, 0);
        rig->choose(StatusMenu::Command::Save);
        rig->current().pendingSave(clip);
        rig->scheduler.advance(10);
        rig->shell.peeks.clear();
        const QString target = clipGone ? clipsFolder.filePath("replay-deleted.mp4") : clip;
        rig->model.setLastClip(QUrl::fromLocalFile(target));
        const bool fails = shown.kind() == Phase::Kind::Notice;
        if (fails) rig->shell.failure = platformError("no application could open it");
        if (action == "copy")
            rig->delegate->copyClip();
        else if (action == "play")
            rig->delegate->openClip();
        else if (action == "reveal")
            rig->delegate->revealClip();
        else if (action == "folder")
            rig->choose(StatusMenu::Command::OpenFolder);
        else if (action == "handoff")
            rig->delegate->sendToClaude();
        else
            rig->choose(StatusMenu::Command::OpenRecent);
        QCOMPARE(rig->model.phase(), shown);
        QCOMPARE(rig->shell.peeks, peek ? std::vector<double>{peek} : std::vector<double>{});
        QCOMPARE(rig->shell.copied, action == "copy" && !clipGone ? clip : QString());
        QCOMPARE(rig->shell.handoffFrames, action == "handoff" ? 6 : 0);
        QCOMPARE(rig->shell.opened, (action == "play" && !clipGone) || action == "recent" ? clip : QString());
        const QString cause = clipGone ? target : QStringLiteral("no application could open it");
        if (fails)
            QVERIFY2(rig->status().contains("\nlast error: " + shown.text() + ": " + cause + "\n"),
                     qPrintable(rig->status()));
        rig->scheduler.advance(shownFor - 0.1);
        QCOMPARE(rig->model.phase(), shown);
        if (stops) rig->stopStream(); // the return finds nothing recording
        rig->scheduler.advance(0.1);
        QCOMPARE(rig->model.phase(), stops ? shown : Phase::live());
    }

    // The save item offers the shorter of buffer and save length, whole seconds, and names the hot key only
    // where the desktop bound it; recent clips by name, in the order given.
    void menuEntries_data() {
        QTest::addColumn<double>("buffer"); // the save length is 60 s
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("hotKey");
        QTest::addColumn<QStringList>("clips");
        // "-" a separator, "[title]" a label, shortcuts in brackets; the fixed tail follows.
        QTest::addColumn<QString>("expected");
        QTest::newRow("save length below the buffer")
            << 300.0 << false << true << QStringList()
            << "Save Last 60 Seconds   Ctrl+Alt+R|Pause and Clear Buffer|-|[No replays yet]";
        QTest::newRow("buffer below, paused, no hot key, clips")
            << 12.9 << true << false << QStringList{"/c/replay-b.mp4", "/c/replay-a.MP4", "/c/replay.x.mp4"}
            << "Save Last 12 Seconds|Resume Replay|-|[Recent Replays]|replay-b|replay-a|replay.x";
    }
    void menuEntries() {
        QFETCH(double, buffer);
        QFETCH(bool, paused);
        QFETCH(bool, hotKey);
        QFETCH(QStringList, clips);
        QFETCH(QString, expected);
        const std::vector<Entry> menu = StatusMenu::entries({buffer, 60, paused, clips, hotKey});
        QStringList lines;
        for (const Entry& e : menu)
            lines << (e.kind == Entry::Kind::Separator ? "-"
                      : e.kind == Entry::Kind::Label   ? "[" + e.title + "]"
                      : e.shortcut.isEmpty()           ? e.title
                                                       : e.title + " (" + e.shortcut.toString() + ")");
        QCOMPARE(lines.join('|'),
                 expected + "|Open Replays Folder|-|Settings… (Ctrl+,)|Quit Ferrovane (Ctrl+Q)");
        // Each clip item carries its own file.
        for (int i = 0; i < clips.size(); ++i)
            QCOMPARE(menu[4 + i].clip, clips[i]);
    }

    // The settings item shows the window, whose folder button reaches the controller.
    void settingsFromTheMenu() {
        rig->live();
        rig->choose(StatusMenu::Command::Settings);
        QVERIFY(rig->settingsWindow.window()->isVisible());
        QVERIFY(rig->shell.openedFolder.isEmpty());
        rig->settingsWindow.window()->findChild<QPushButton*>()->click();
        QCOMPARE(rig->shell.openedFolder, Settings::folder());
    }
};

FERROVANE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
