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
    // first change after launch counts too; a paused controller gets a fresh recorder and stays paused.
    void settingsChanges_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("buffer") << Settings::Keys::buffer << QVariant(60) << false << true;
        QTest::newRow("fps") << Settings::Keys::fps << QVariant(24) << false << true;
        QTest::newRow("width") << Settings::Keys::maxWidth << QVariant(1280) << false << true;
        QTest::newRow("sound") << Settings::Keys::sound << QVariant(false) << false << false;
        QTest::newRow("buffer while paused") << Settings::Keys::buffer << QVariant(60) << true << true;
    }
    void settingsChanges() {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, paused);
        QFETCH(bool, rebuilt);
        QObject::connect(Settings::store(), &PreferencesStore::changed, rig->delegate.get(),
                         &AppDelegate::settingsChanged);
        rig->live();
        if (paused) rig->delegate->togglePause();
        const size_t made = rig->made.size();
        Settings::setValue(key, value);
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
        if (before == "user paused") rig->delegate->togglePause();
        if (before == "restart due") rig->stopStream();
        const size_t made = rig->made.size();
        rig->delegate->screenLocked();
        QCOMPARE(rig->delegate->lockPaused(), lockPauses);
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

    // A copy replaces the pending return: live 8 s after the copy. A stop before then keeps the result.
    void copyAfterSave() {
        rig->live();
        rig->delegate->saveReplay();
        rig->current().pendingSave(clip);
        rig->scheduler.advance(10);
        rig->delegate->copyClip();
        QCOMPARE(rig->shell.copied, clip);
        QCOMPARE(rig->model.phase(), Phase::copied(clipUrl));
        rig->scheduler.advance(7.9);
        QCOMPARE(rig->model.phase(), Phase::copied(clipUrl));
        rig->scheduler.advance(0.1);
        QCOMPARE(rig->model.phase(), Phase::live());
        rig->delegate->copyClip();
        rig->scheduler.advance(7);
        rig->stopStream();
        rig->scheduler.advance(1.5); // the return is due, the restart not yet
        QCOMPARE(rig->model.phase(), Phase::copied(clipUrl));
    }

    // Frames of the last clip, if any, for the agent: shown and peeked like a save.
    void handoff() {
        rig->live();
        rig->delegate->sendToClaude(); // no clip yet: nothing
        QCOMPARE(rig->shell.handoffFrames, 0);
        rig->model.setLastClip(clipUrl);
        rig->delegate->sendToClaude();
        QCOMPARE(rig->shell.handoffFrames, 6);
        QCOMPARE(rig->model.phase(), Phase::handedOff(clipUrl));
        QCOMPARE(rig->shell.peeks, std::vector<double>{6});
        rig->scheduler.advance(12);
        QCOMPARE(rig->model.phase(), Phase::live());
    }

    // A clip deleted behind the application's back is neither copied nor opened; a clip or folder nothing
    // could open (no handler, no file manager) is said to be so, as are frames that could not be pulled.
    // Either way the panel says it for 5 s, peeking unless for frames, and --status keeps the reason.
    void actionsThatFail_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("clipGone");
        QTest::addColumn<QString>("notice");
        QTest::newRow("copy, clip gone") << "copy" << true << "Replay was moved or deleted";
        QTest::newRow("play, clip gone") << "play" << true << "Replay was moved or deleted";
        QTest::newRow("play, nothing opens it") << "play" << false << "Couldn't open the replay";
        QTest::newRow("show in folder") << "reveal" << false << "Couldn't open the folder";
        QTest::newRow("open folder") << "folder" << false << "Couldn't open the folder";
        QTest::newRow("recent clip") << "recent" << false << "Couldn't open the replay";
        QTest::newRow("frames for Claude") << "handoff" << false << "Couldn't extract frames";
    }
    void actionsThatFail() {
        QFETCH(QString, action);
        QFETCH(bool, clipGone);
        QFETCH(QString, notice);
        rig->live();
        const QString target = clipGone ? clipsFolder.filePath("replay-deleted.mp4") : clip;
        rig->model.setLastClip(QUrl::fromLocalFile(target));
        rig->shell.failure = platformError("no application could open it");
        if (action == "copy")
            rig->delegate->copyClip();
        else if (action == "play")
            rig->delegate->openClip();
        else if (action == "reveal")
            rig->delegate->revealClip();
        else if (action == "folder")
            rig->delegate->openFolder();
        else if (action == "handoff")
            rig->delegate->sendToClaude();
        else
            rig->delegate->menuChose(Entry::item({}, StatusMenu::Command::OpenRecent, clip));
        if (clipGone) QVERIFY(rig->shell.copied.isEmpty() && rig->shell.opened.isEmpty());
        QCOMPARE(rig->model.phase(), Phase::notice(notice));
        QCOMPARE(rig->shell.peeks, action == "handoff" ? std::vector<double>{} : std::vector<double>{4});
        const QString cause = clipGone ? target : QStringLiteral("no application could open it");
        QVERIFY2(rig->status().contains("\nlast error: " + notice + ": " + cause + "\n"),
                 qPrintable(rig->status()));
        rig->scheduler.advance(5);
        QCOMPARE(rig->model.phase(), Phase::live());
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

    void menuItemsReachTheController_data() {
        QTest::addColumn<StatusMenu::Command>("command");
        QTest::newRow("save") << StatusMenu::Command::Save;
        QTest::newRow("pause") << StatusMenu::Command::TogglePause;
        QTest::newRow("recent clip") << StatusMenu::Command::OpenRecent;
        QTest::newRow("folder") << StatusMenu::Command::OpenFolder;
        QTest::newRow("settings") << StatusMenu::Command::Settings;
    }
    void menuItemsReachTheController() {
        QFETCH(StatusMenu::Command, command);
        using StatusMenu::Command;
        rig->live();
        rig->delegate->menuChose(Entry::item(QString(), command, clip));
        QCOMPARE(rig->current().saves.size(), size_t(command == Command::Save));
        QCOMPARE(rig->delegate->userPaused(), command == Command::TogglePause);
        QCOMPARE(rig->shell.opened, command == Command::OpenRecent ? clip : QString());
        if (command == Command::Settings) {
            QVERIFY(rig->shell.openedFolder.isEmpty());
            // The settings window's folder button reaches the controller too.
            QVERIFY(rig->settingsWindow.window()->isVisible());
            rig->settingsWindow.window()->findChild<QPushButton*>()->click();
        }
        QCOMPARE(rig->shell.openedFolder.isEmpty(),
                 command != Command::OpenFolder && command != Command::Settings);
        // The menu reads the pause from the controller.
        QCOMPARE(rig->delegate->menuEntries()[1].title,
                 command == Command::TogglePause ? "Resume Replay" : "Pause and Clear Buffer");
    }

    // The save lengths offered follow the buffer; the chosen one stays while offered, otherwise 30 s, or
    // else the largest.
    void saveOptionsFollowTheBuffer_data() {
        QTest::addColumn<double>("buffer");
        QTest::addColumn<std::vector<double>>("options");
        QTest::addColumn<double>("result"); // with 60 s chosen under a 120 s buffer
        QTest::newRow("5") << 5.0 << std::vector<double>{5} << 5.0;
        QTest::newRow("45") << 45.0 << std::vector<double>{10, 30, 45} << 30.0;
        QTest::newRow("90") << 90.0 << std::vector<double>{30, 60, 90} << 60.0;
        QTest::newRow("300") << 300.0 << std::vector<double>{60, 120, 300} << 60.0;
    }
    void saveOptionsFollowTheBuffer() {
        QFETCH(double, buffer);
        QFETCH(std::vector<double>, options);
        QFETCH(double, result);
        Settings::setValue(Settings::Keys::buffer, 120);
        rig->delegate->refreshSaveOptions();
        rig->model.setSaveLength(60);
        Settings::setValue(Settings::Keys::buffer, buffer);
        rig->delegate->refreshSaveOptions();
        QCOMPARE(rig->model.saveOptions(), options);
        QCOMPARE(rig->model.saveLength(), result);
        QCOMPARE(rig->model.bufferLimit(), buffer);
    }
};

FERROVANE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
