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

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

// What one recorder the controller made went through; outlives the recorder.
struct RecorderLog {
    double buffer = 0;
    int fps = 0;
    double width = 0;
    std::function<void(const Status&)> pendingStart;
    std::function<void(const Error&)> onStop;
    bool discarded = false;
    std::vector<double> saves;
    std::function<void(const Result<QString>&)> pendingSave;
    std::optional<Error> writeError;
};

class FakeRecording final : public Recording {
public:
    explicit FakeRecording(std::shared_ptr<RecorderLog> log)
        : m_log(std::move(log)) {}
    double bufferSeconds() const override { return m_log->buffer; }
    int fps() const override { return m_log->fps; }
    double maxWidth() const override { return m_log->width; }
    void start(std::function<void(const Status&)> done) override { m_log->pendingStart = std::move(done); }
    void stop(Done done) override { done(); }
    void discard() override { m_log->discarded = true; }
    void discardAndWait() override { m_log->discarded = true; }
    Fill fill() override { return Fill{12, m_log->writeError}; }
    void setOnStop(std::function<void(const Error&)> callback) override {
        m_log->onStop = std::move(callback);
    }
    void saveLast(double seconds, const QString&,
                  std::function<void(const Result<QString>&)> completion) override {
        m_log->saves.push_back(seconds);
        m_log->pendingSave = std::move(completion);
    }

private:
    std::shared_ptr<RecorderLog> m_log;
};

// Time moved by hand; blocks run in the order they fall due.
class FakeScheduler final : public Scheduler {
public:
    std::unique_ptr<Pending> after(double seconds, std::function<void()> block) override {
        auto alive = std::make_shared<bool>(true);
        m_blocks.emplace(m_now + seconds, std::pair{alive, std::move(block)});
        struct Handle final : Pending {
            std::shared_ptr<bool> alive;
            ~Handle() override { *alive = false; }
        };
        auto handle = std::make_unique<Handle>();
        handle->alive = alive;
        return handle;
    }
    void advance(double seconds) {
        const double until = m_now + seconds;
        while (!m_blocks.empty() && m_blocks.begin()->first <= until + 1e-9) {
            auto [due, entry] = *m_blocks.begin();
            m_blocks.erase(m_blocks.begin());
            m_now = due;
            if (*entry.first) entry.second();
        }
        m_now = until;
    }

private:
    double m_now = 0;
    std::multimap<double, std::pair<std::shared_ptr<bool>, std::function<void()>>> m_blocks;
};

// The desktop's roles, recording what the controller asked of them.
class FakeDesktop final : public Panel,
                          public CapturePermission,
                          public Clipboard,
                          public FileOpener,
                          public SoundPlayer,
                          public ClipTools {
public:
    void peek(double seconds) override { peeks.push_back(seconds); }
    void flash() override { ++flashes; }
    void reposition() override {}
    void forgetChoice() override { ++choicesForgotten; }
    void setText(const QString&) override {}
    void setFile(const QString& path) override { copied = path; }
    QString text() const override { return {}; }
    void openFile(const QString& path, Done done) override {
        opened = path;
        done(openResult);
    }
    void reveal(const QString&, Done done) override { done(openResult); }
    void openFolder(const QString& path, Done done) override {
        openedFolder = path;
        done(openResult);
    }
    void playSaveSound() override { ++sounds; }
    void makeThumbnail(const QString&, std::function<void(const QImage&, double)> done) override {
        done(QImage(8, 5, QImage::Format_RGB32), 10);
    }
    void handOff(const QString&, int frames, std::function<void(const Status&)> done) override {
        handoffFrames = frames;
        done(handoffResult);
    }

    std::vector<double> peeks;
    int flashes = 0;
    int sounds = 0;
    int choicesForgotten = 0;
    int handoffFrames = 0;
    Status handoffResult = Ok{};
    Status openResult = Ok{};
    QString copied;
    QString opened;
    QString openedFolder;
};

struct NoLoginItem final : LoginItem {
    bool enabled() const override { return false; }
    Status registerItem() override { return Ok{}; }
    Status unregisterItem() override { return Ok{}; }
};

// A clip file that exists; the test case creates it.
QTemporaryDir clipsFolder;
const QString clip = clipsFolder.filePath(QStringLiteral("replay-2026-12-06_10-00-00.mp4"));

struct Rig {
    Rig() {
        delegate = std::make_unique<AppDelegate>(
            model,
            [this](double buffer, int fps, double width) {
                auto log = std::make_shared<RecorderLog>();
                log->buffer = buffer;
                log->fps = fps;
                log->width = width;
                made.push_back(log);
                return std::make_unique<FakeRecording>(log);
            },
            AppDelegate::Desktop{shell, shell, shell, shell, shell, shell, &settingsWindow}, scheduler);
        controller = delegate.get();
    }
    RecorderLog& current() { return *made.back(); }
    // Launches and completes the first start.
    void live() {
        delegate->launch();
        current().pendingStart(Ok{});
        QCOMPARE(model.phase(), Phase::live());
    }
    void stopStream() { current().onStop(platformError("The X server went away.")); }
    void settle() { QCoreApplication::processEvents(); }

    FakeSettings settings;
    ReplayModel model;
    FakeDesktop shell;
    SettingsWindow settingsWindow{std::make_unique<NoLoginItem>()};
    FakeScheduler scheduler;
    std::vector<std::shared_ptr<RecorderLog>> made;
    std::unique_ptr<AppDelegate> delegate;
    QPointer<AppDelegate> controller; // what the panel's buttons reach
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFile file(clip);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void firstLaunchPeeksOnce() {
        for (const bool first : {true, false}) {
            Rig rig;
            if (!first) Settings::setValue(Settings::Keys::hasLaunched, true);
            rig.live();
            QCOMPARE(rig.shell.peeks, first ? std::vector<double>{7} : std::vector<double>{});
            QVERIFY(Settings::hasLaunchedBefore());
        }
    }

    // Each stop restarts after 2 s with a fresh recorder; the fourth in a row without a start in between
    // shows the failure, and a start that succeeds resets the count.
    void restarts_data() {
        QTest::addColumn<bool>("successInBetween");
        QTest::addColumn<bool>("failedAtEnd");
        QTest::newRow("four stops in a row") << false << true;
        QTest::newRow("a start succeeds after the second") << true << false;
    }
    void restarts() {
        QFETCH(bool, successInBetween);
        QFETCH(bool, failedAtEnd);
        Rig rig;
        rig.live();
        for (int stop = 1; stop <= 4; ++stop) {
            const size_t before = rig.made.size();
            rig.stopStream();
            rig.settle();
            QVERIFY(!rig.model.recording());
            if (stop == 4) break;
            rig.scheduler.advance(1.9);
            QCOMPARE(rig.made.size(), before);
            rig.scheduler.advance(0.1);
            QCOMPARE(rig.made.size(), before + 1);
            QVERIFY(rig.made[before - 1]->discarded);
            if (successInBetween && stop == 2) rig.current().pendingStart(Ok{});
        }
        QCOMPARE(rig.model.phase() == Phase::failed("The X server went away."), failedAtEnd);
        QCOMPARE(rig.delegate->restartAttempts(), failedAtEnd ? 3 : 2);
    }

    // While the newest seconds cannot be written, nothing claims recording: the fill reads what a save could
    // have, the model carries the reason for the panel, and --status says so; it clears once writing works.
    void writeErrorShows() {
        Rig rig;
        rig.live();
        rig.current().writeError = platformError("Could not write the movie file: No space left on device");
        rig.delegate->updateBufferFill();
        QCOMPARE(rig.model.writeError(), "Could not write the movie file: No space left on device");
        QVERIFY2(statusText(rig.delegate->status())
                     .contains("\nrecording: no (Could not write the movie file: No space left on device)\n"),
                 qPrintable(statusText(rig.delegate->status())));
        rig.current().writeError.reset();
        rig.delegate->updateBufferFill();
        QCOMPARE(rig.model.writeError(), QString());
        QVERIFY(statusText(rig.delegate->status()).contains("\nrecording: yes\n"));
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
        Rig rig;
        rig.live();
        if (paused) rig.delegate->togglePause();
        const size_t made = rig.made.size();
        if (paused)
            rig.delegate->recordingStopped(platformError("gone"));
        else
            rig.current().onStop(displayResized("The display \"VNC-0\" changed size."));
        rig.scheduler.advance(5);
        QCOMPARE(rig.made.size(), made + (paused ? 0 : 1));
        QCOMPARE(rig.model.phase(), paused ? Phase::paused() : Phase::starting());
        QCOMPARE(rig.delegate->restartAttempts(), 0);
        if (!paused) QVERIFY(rig.made[made - 1]->discarded && rig.current().pendingStart);
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
        QTest::newRow("auto-pause") << Settings::Keys::autoPause << QVariant(false) << false << false;
        QTest::newRow("buffer while paused") << Settings::Keys::buffer << QVariant(60) << true << true;
    }
    void settingsChanges() {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, paused);
        QFETCH(bool, rebuilt);
        Rig rig;
        QObject::connect(Settings::store(), &PreferencesStore::changed, rig.delegate.get(),
                         &AppDelegate::settingsChanged);
        rig.live();
        if (paused) rig.delegate->togglePause();
        const size_t made = rig.made.size();
        Settings::setValue(key, value);
        QCOMPARE(rig.made.size(), made + (rebuilt ? 1 : 0));
        if (!rebuilt) return;
        QCOMPARE(rig.current().fps, Settings::fps());
        QCOMPARE(rig.current().buffer, Settings::bufferSeconds());
        QCOMPARE(bool(rig.current().pendingStart), !paused);
        QCOMPARE(rig.model.phase(), paused ? Phase::paused() : Phase::starting());
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
        Rig rig;
        Settings::setValue(Settings::Keys::autoPause, autoPause);
        rig.delegate->launch();
        if (before == "failed")
            rig.current().pendingStart(platformError("no"));
        else if (before != "starting")
            rig.current().pendingStart(Ok{});
        if (before == "user paused") rig.delegate->togglePause();
        if (before == "restart due") {
            rig.stopStream();
            rig.settle();
        }
        const size_t made = rig.made.size();
        rig.delegate->screenLocked();
        QCOMPARE(rig.delegate->lockPaused(), lockPauses);
        QCOMPARE(rig.made.size(), made + (lockPauses ? 1 : 0));
        if (lockPauses) QVERIFY(rig.made[made - 1]->discarded);
        if (before == "live, resumed") {
            rig.delegate->togglePause();
            QVERIFY(!rig.delegate->userPaused() && !rig.delegate->lockPaused());
        }
        rig.delegate->screenUnlocked();
        QCOMPARE(rig.model.phase(), afterUnlock);
        QCOMPARE(rig.delegate->userPaused(), before == "user paused");
    }

    // A save asks for min(buffer, chosen length); the result shows, sounds when asked to, and the phase
    // returns to live 12 s later; a failure says why and returns after 5 s.
    void save_data() {
        QTest::addColumn<double>("saveLength");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<double>("asked");
        QTest::newRow("chosen length") << 10.0 << true << false << 10.0;
        QTest::newRow("buffer is shorter") << 60.0 << true << false << 30.0;
        QTest::newRow("sound off") << 10.0 << false << false << 10.0;
        QTest::newRow("failure") << 10.0 << true << true << 10.0;
    }
    void save() {
        QFETCH(double, saveLength);
        QFETCH(bool, sound);
        QFETCH(bool, fails);
        QFETCH(double, asked);
        Rig rig;
        Settings::setValue(Settings::Keys::sound, sound);
        Settings::setValue(Settings::Keys::hasLaunched, true);
        rig.live();
        rig.model.setSaveLength(saveLength);
        std::vector<Result<QString>> replies;
        const auto reply = [&](const Result<QString>& result) { replies.push_back(result); };
        rig.delegate->saveReplay(reply);
        QCOMPARE(rig.model.phase(), Phase::working("Saving replay…"));
        QCOMPARE(rig.shell.flashes, 1);
        rig.delegate->saveReplay(reply); // refused while working
        QCOMPARE(rig.current().saves, std::vector<double>{asked});
        QCOMPARE(replies.size(), size_t(1));
        QCOMPARE(replies[0].error().message, "A save is already in progress.");
        if (fails)
            rig.current().pendingSave(platformError("Could not save the replay: No space left on device"));
        else
            rig.current().pendingSave(clip);
        rig.settle();
        const Phase result = fails ? Phase::notice("Could not save the replay: No space left on device")
                                   : Phase::saved(QUrl::fromLocalFile(clip));
        QCOMPARE(rig.model.phase(), result);
        QCOMPARE(replies.size(), size_t(2));
        QCOMPARE(replies[1] ? replies[1].value() : replies[1].error().message,
                 fails ? "Could not save the replay: No space left on device" : clip);
        QCOMPARE(rig.shell.sounds, sound && !fails ? 1 : 0);
        QCOMPARE(rig.shell.peeks, (std::vector<double>{3, fails ? 4.0 : 6.0}));
        QCOMPARE(rig.model.lastClip().isEmpty(), fails);
        if (!fails) QCOMPARE(rig.model.lastDuration(), 10.0);
        rig.scheduler.advance(fails ? 4.9 : 11.9);
        QCOMPARE(rig.model.phase(), result);
        rig.scheduler.advance(0.1);
        QCOMPARE(rig.model.phase(), Phase::live());
    }

    // A save that cannot start only shows the panel, and whoever asked hears why.
    void saveRefused_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("reason");
        QTest::newRow("paused") << "paused"
                                << "Recording is paused.";
        QTest::newRow("starting") << "starting"
                                  << "Recording has not started yet.";
        QTest::newRow("failed") << "failed"
                                << "Cannot open the X display \":0\".";
    }
    void saveRefused() {
        QFETCH(QString, state);
        QFETCH(QString, reason);
        Rig rig;
        rig.delegate->launch();
        if (state == "failed")
            rig.current().pendingStart(platformError(reason));
        else if (state == "paused")
            rig.delegate->togglePause();
        const Phase before = rig.model.phase();
        rig.shell.peeks.clear();
        QString heard;
        rig.delegate->saveReplay([&](const Result<QString>& result) { heard = result.error().message; });
        QCOMPARE(heard, reason);
        QCOMPARE(rig.shell.peeks, std::vector<double>{5});
        QCOMPARE(rig.model.phase(), before);
        QVERIFY(rig.current().saves.empty());
    }

    // When a result phase ends, the panel shows what recording does by then: a pause during the save
    // shows as one.
    void pauseDuringSave() {
        Rig rig;
        rig.live();
        rig.delegate->saveReplay();
        const auto finish = rig.current().pendingSave;
        rig.delegate->togglePause();
        finish(clip);
        rig.settle();
        QCOMPARE(rig.model.phase(), Phase::saved(QUrl::fromLocalFile(clip)));
        rig.scheduler.advance(12);
        QCOMPARE(rig.model.phase(), Phase::paused());
    }

    // Retry and the privacy button give up the failed recorder (it still holds its buffer folder and
    // whatever its start left open) and start a fresh one.
    void retryStartsAFreshRecorder() {
        Rig rig;
        rig.delegate->launch();
        rig.current().pendingStart(platformError("Screen sharing was not allowed (Start)."));
        QCOMPARE(rig.model.phase(), Phase::failed("Screen sharing was not allowed (Start)."));
        for (const auto& action : {AppDelegate::actions(rig.controller).retry,
                                   AppDelegate::actions(rig.controller).openPrivacySettings}) {
            const size_t failed = rig.made.size() - 1;
            action();
            QCOMPARE(rig.made.size(), failed + 2);
            QVERIFY(rig.made[failed]->discarded);
            QVERIFY(rig.current().pendingStart);
            QCOMPARE(rig.model.phase(), Phase::starting());
            rig.current().pendingStart(platformError("Screen sharing was not allowed (Start)."));
        }
        QCOMPARE(rig.shell.choicesForgotten, 1); // the privacy button also asks the desktop again
        AppDelegate::actions(rig.controller).retry();
        rig.current().pendingStart(Ok{});
        QCOMPARE(rig.model.phase(), Phase::live());
    }

    // A copy replaces the pending return: live 8 s after the copy. A stop before then keeps the result.
    void copyAfterSave() {
        Rig rig;
        Settings::setValue(Settings::Keys::hasLaunched, true);
        rig.live();
        rig.delegate->saveReplay();
        rig.current().pendingSave(clip);
        rig.settle();
        rig.scheduler.advance(10);
        rig.delegate->copyClip();
        QCOMPARE(rig.shell.copied, clip);
        QCOMPARE(rig.model.phase(), Phase::copied(QUrl::fromLocalFile(clip)));
        rig.scheduler.advance(7.9);
        QCOMPARE(rig.model.phase(), Phase::copied(QUrl::fromLocalFile(clip)));
        rig.scheduler.advance(0.1);
        QCOMPARE(rig.model.phase(), Phase::live());

        rig.delegate->copyClip();
        rig.scheduler.advance(7);
        rig.stopStream();
        rig.settle();
        rig.scheduler.advance(1.5); // the return is due, the restart not yet
        QCOMPARE(rig.model.phase(), Phase::copied(QUrl::fromLocalFile(clip)));
    }

    // A clip deleted behind the application's back is neither copied nor opened; a clip or folder nothing
    // could open (no handler, no file manager) is said to be so. Either way the panel says it for 5 s and
    // --status keeps the reason.
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
    }
    void actionsThatFail() {
        QFETCH(QString, action);
        QFETCH(bool, clipGone);
        QFETCH(QString, notice);
        Rig rig;
        rig.live();
        const QString target = clipGone ? clipsFolder.filePath("replay-deleted.mp4") : clip;
        rig.model.setLastClip(QUrl::fromLocalFile(target));
        rig.shell.openResult = platformError("no application could open it");
        rig.shell.peeks.clear();
        if (action == "copy")
            rig.delegate->copyClip();
        else if (action == "play")
            rig.delegate->openClip();
        else if (action == "reveal")
            rig.delegate->revealClip();
        else if (action == "folder")
            rig.delegate->openFolder();
        else
            rig.delegate->menuChose(StatusMenu::Entry::item({}, StatusMenu::Command::OpenRecent, clip));
        if (clipGone) QVERIFY(rig.shell.copied.isEmpty() && rig.shell.opened.isEmpty());
        QCOMPARE(rig.model.phase(), Phase::notice(notice));
        QCOMPARE(rig.shell.peeks, std::vector<double>{4});
        const QString cause = clipGone ? target : QStringLiteral("no application could open it");
        QVERIFY2(statusText(rig.delegate->status()).contains("\nlast error: " + notice + ": " + cause + "\n"),
                 qPrintable(statusText(rig.delegate->status())));
        rig.scheduler.advance(5);
        QCOMPARE(rig.model.phase(), Phase::live());
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
        Rig rig;
        rig.live();
        rig.delegate->menuChose(StatusMenu::Entry::item(QString(), command, clip));
        QCOMPARE(rig.current().saves.size(), size_t(command == Command::Save));
        QCOMPARE(rig.delegate->userPaused(), command == Command::TogglePause);
        QCOMPARE(rig.shell.opened, command == Command::OpenRecent ? clip : QString());
        if (command == Command::Settings) {
            QVERIFY(rig.shell.openedFolder.isEmpty());
            // The settings window's folder button reaches the controller too.
            QVERIFY(rig.settingsWindow.window()->isVisible());
            for (QPushButton* button : rig.settingsWindow.window()->findChildren<QPushButton*>())
                if (button->text() == "Open Replays Folder") button->click();
        }
        QCOMPARE(rig.shell.openedFolder.isEmpty(),
                 command != Command::OpenFolder && command != Command::Settings);
        // The menu reads the pause from the controller.
        QCOMPARE(rig.delegate->menuEntries()[1].title,
                 command == Command::TogglePause ? "Resume Replay" : "Pause and Clear Buffer");
    }

    void handoff_data() {
        QTest::addColumn<bool>("fails");
        QTest::newRow("frames written") << false;
        QTest::newRow("frames fail") << true;
    }
    void handoff() {
        QFETCH(bool, fails);
        Rig rig;
        rig.live();
        rig.delegate->sendToClaude(); // no clip yet: nothing
        QCOMPARE(rig.shell.handoffFrames, 0);
        rig.model.setLastClip(QUrl::fromLocalFile(clip));
        if (fails) rig.shell.handoffResult = platformError("No such file or directory");
        rig.shell.peeks.clear();
        rig.delegate->sendToClaude();
        QCOMPARE(rig.shell.handoffFrames, 6);
        QCOMPARE(rig.model.phase(), fails ? Phase::notice("Couldn't extract frames")
                                          : Phase::handedOff(QUrl::fromLocalFile(clip)));
        QCOMPARE(rig.shell.peeks, fails ? std::vector<double>{} : std::vector<double>{6});
        rig.scheduler.advance(fails ? 5 : 12);
        QCOMPARE(rig.model.phase(), Phase::live());
    }

    void saveOptionsFollowTheBuffer_data() {
        QTest::addColumn<double>("buffer");
        QTest::addColumn<double>("chosen");
        QTest::addColumn<double>("result");
        QTest::newRow("120 to 30 with 60 chosen") << 30.0 << 60.0 << 30.0;
        QTest::newRow("to 20: the largest") << 20.0 << 60.0 << 20.0;
        QTest::newRow("a length still offered stays") << 300.0 << 60.0 << 60.0;
    }
    void saveOptionsFollowTheBuffer() {
        QFETCH(double, buffer);
        QFETCH(double, chosen);
        QFETCH(double, result);
        Rig rig;
        Settings::setValue(Settings::Keys::buffer, 120);
        rig.delegate->refreshSaveOptions();
        rig.model.setSaveLength(chosen);
        Settings::setValue(Settings::Keys::buffer, buffer);
        rig.delegate->refreshSaveOptions();
        QCOMPARE(rig.model.saveLength(), result);
        QCOMPARE(rig.model.bufferLimit(), buffer);
    }
};

FERROVANE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
