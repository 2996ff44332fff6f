#include "app/AppDelegate.h"

#include "app/ControlCommand.h"
#include "base/Logging.h"
#include "clips/ClipTools.h"
#include "notch/Panel.h"
#include "notch/ReplayModel.h"
#include "platform/CapturePermission.h"
#include "platform/Clipboard.h"
#include "platform/FileOpener.h"
#include "platform/ScreenCapture.h"
#include "platform/SoundPlayer.h"
#include "settings/Settings.h"
#include "settings/SettingsWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// Runs `action` on the controller if it still exists; for callbacks handed to the recorder, the desktop
// and the scheduler.
template <typename F> auto weakly(AppDelegate* self, F action) {
    return [self = QPointer<AppDelegate>(self), action](auto&&... args) {
        if (self) action(*self, std::forward<decltype(args)>(args)...);
    };
}

// The same through a slot that is filled once the controller exists.
template <typename F> std::function<void()> through(const QPointer<AppDelegate>& controller, F action) {
    return [&controller, action] {
        if (controller) action(*controller);
    };
}

} // namespace

AppDelegate::AppDelegate(ReplayModel& model, RecorderFactory makeRecorder, Desktop desktop,
                         Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_makeRecorder(std::move(makeRecorder))
    , m_desktop(desktop)
    , m_scheduler(scheduler) {
    m_bufferTimer.setInterval(fillIntervalMs);
    connect(&m_bufferTimer, &QTimer::timeout, this, &AppDelegate::updateBufferFill);
}

AppDelegate::~AppDelegate() {
    if (m_recorder) m_recorder->setOnStop(nullptr);
}

Recording& AppDelegate::recorder() {
    if (!m_recorder) {
        const Config config = currentConfig();
        m_recorder = m_makeRecorder(config.buffer, config.fps, config.width);
    }
    return *m_recorder;
}

AppDelegate::Config AppDelegate::currentConfig() const {
    return Config{Settings::bufferSeconds(), Settings::fps(), Settings::maxWidth()};
}

NotchActions AppDelegate::actions(const QPointer<AppDelegate>& controller) {
    NotchActions a;
    a.save = through(controller, [](AppDelegate& d) { d.saveReplay(); });
    a.copy = through(controller, [](AppDelegate& d) { d.copyClip(); });
    a.handoff = through(controller, [](AppDelegate& d) { d.sendToClaude(); });
    a.openClip = through(controller, [](AppDelegate& d) { d.openClip(); });
    a.reveal = through(controller, [](AppDelegate& d) { d.revealClip(); });
    a.togglePause = through(controller, [](AppDelegate& d) { d.togglePause(); });
    a.openSettings = through(controller, [](AppDelegate& d) { d.openSettings(); });
    a.openPrivacySettings = through(controller, [](AppDelegate& d) { d.openScreenRecordingSettings(); });
    a.retry = through(controller, [](AppDelegate& d) { d.retry(); });
    return a;
}

void AppDelegate::repositionNotch() {
    m_desktop.panel.reposition();
}

void AppDelegate::peekForSecondLaunch() {
    m_desktop.panel.peek(Timings::peekSecondLaunch);
}

void AppDelegate::launch() {
    refreshSaveOptions();
    m_bufferTimer.start();
    startRecording(true);
}

void AppDelegate::terminate() {
    m_bufferTimer.stop();
    m_backToLive.reset();
    m_restart.reset();
    recorder().setOnStop(nullptr);
    recorder().discardAndWait();
    // Saves that finished meanwhile have posted their results: whoever asked for them hears now.
    QCoreApplication::sendPostedEvents();
}

void AppDelegate::updateBufferFill() {
    if (!m_model.recording()) return;
    const Recording::Fill fill = recorder().fill();
    const double b = fill.seconds;
    const double shown = m_model.buffered();
    if (std::abs(b - shown) >= 0.5 || ((b == 0) != (shown == 0))) m_model.setBuffered(b);
    const QString writeError = fill.writeError ? fill.writeError->message : QString();
    if (writeError != m_model.writeError()) {
        if (!writeError.isEmpty()) {
            qCWarning(lcApp).noquote() << "Not recording:" << writeError;
            m_lastError = writeError;
        }
        m_model.setWriteError(writeError);
    }
}

QString AppDelegate::failureText(const Error& error) const {
    if (!m_desktop.capture.captureAllowed())
        return QStringLiteral("Allow Ferrovane to record the screen, then try again.");
    return error.message;
}

void AppDelegate::startRecording(bool showWelcome) {
    m_model.setPhase(Phase::starting());
    m_starting = true;
    m_model.setBufferLimit(recorder().bufferSeconds());
    recorder().setOnStop(weakly(this, [](AppDelegate& d, const Error& error) { d.recordingStopped(error); }));
    std::shared_ptr<Recording> started = m_recorder;
    started->start(weakly(this, [started, showWelcome](AppDelegate& d, const Status& status) {
        if (d.m_recorder != started) return; // replaced while starting
        d.m_starting = false;
        if (!status) {
            d.m_model.setRecording(false);
            d.showFailure(status.error());
            d.m_desktop.panel.peek(Timings::peekFailedStart);
            return;
        }
        d.m_model.setRecording(true);
        d.m_model.setPhase(Phase::live());
        d.m_restartAttempts = 0;
        if (showWelcome && !Settings::hasLaunchedBefore()) {
            Settings::setValue(Settings::Keys::hasLaunched, true);
            d.m_desktop.panel.peek(Timings::peekWelcome);
        }
    }));
}

void AppDelegate::retry() {
    // The failed recorder still holds its buffer folder and whatever its start left open: a fresh one.
    m_restart.reset();
    m_restartAttempts = 0;
    replaceRecorder();
    startRecording(false);
}

void AppDelegate::recordingStopped(const Error& error) {
    if (paused()) return;
    if (isDisplayResized(error)) {
        // The display's new size is the new native size: rebuilt at once, as a settings change would.
        qCInfo(lcApp) << error.message << "- recording at the new size";
        m_restart.reset();
        replaceRecorder();
        startRecording(false);
        return;
    }
    m_model.setRecording(false);
    if (m_restartAttempts >= maxRestarts) {
        showFailure(error);
        return;
    }
    ++m_restartAttempts;
    qCWarning(lcApp).noquote() << "Recording stopped:" << error.message << "- starting again in"
                               << Timings::restart << "s";
    m_restart = m_scheduler.after(Timings::restart, weakly(this, [](AppDelegate& d) {
                                      if (d.paused()) return;
                                      d.replaceRecorder();
                                      d.startRecording(false);
                                  }));
}

void AppDelegate::replaceRecorder() {
    const std::shared_ptr<Recording> old = std::exchange(m_recorder, nullptr);
    recorder(); // a fresh one, from the settings of this moment
    m_starting = false;
    m_model.setRecording(false);
    m_model.setBuffered(0);
    m_model.setWriteError(QString());
    if (!old) return;
    old->setOnStop(nullptr);
    // The old recorder lives until its buffer is deleted.
    old->stop([old] { old->discard(); });
}

void AppDelegate::settingsChanged() {
    refreshSaveOptions();
    const Config config = currentConfig();
    // The first comparison is against the recorder actually running, not the settings of this moment.
    if (!m_runningConfig) {
        const Recording& running = recorder();
        m_runningConfig = Config{running.bufferSeconds(), running.fps(), running.maxWidth()};
    }
    if (config == *m_runningConfig) return;
    m_runningConfig = config;
    const bool wasPaused = paused();
    replaceRecorder();
    m_model.setBufferLimit(config.buffer);
    if (!wasPaused) startRecording(false);
}

void AppDelegate::togglePause() {
    if (!paused()) {
        m_userPaused = true;
        cancelBackToLive();
        replaceRecorder();
        m_model.setPhase(Phase::paused());
    } else {
        m_userPaused = false;
        m_lockPaused = false;
        startRecording(false);
    }
}

void AppDelegate::screenLocked() {
    // A start still under way, or a restart due, would record through the lock just the same.
    const bool underWay = m_model.recording() || m_starting || m_restart;
    if (!Settings::autoPauseOnLock() || !underWay || paused()) return;
    m_restart.reset();
    m_lockPaused = true;
    cancelBackToLive();
    replaceRecorder();
    m_model.setPhase(Phase::paused());
}

void AppDelegate::screenUnlocked() {
    if (!m_lockPaused || m_userPaused) return;
    m_lockPaused = false;
    startRecording(false);
}

void AppDelegate::cancelBackToLive() {
    m_backToLive.reset();
}

QString AppDelegate::saveRefusal() const {
    if (m_model.phase().kind() == Phase::Kind::Working)
        return m_saveReplies.empty()
                   ? QStringLiteral("Frames are being pulled for Claude; try again in a moment.")
                   : QStringLiteral("A save is already in progress.");
    if (m_model.recording()) return {};
    if (paused()) return QStringLiteral("Recording is paused.");
    if (m_model.phase().kind() == Phase::Kind::Failed) return m_model.phase().text();
    return QStringLiteral("Recording has not started yet.");
}

void AppDelegate::saveReplay(SaveReply reply) {
    if (const QString refusal = saveRefusal(); !refusal.isEmpty()) {
        qCWarning(lcApp).noquote() << "No save:" << refusal;
        if (m_model.phase().kind() != Phase::Kind::Working) m_desktop.panel.peek(Timings::peekRefused);
        if (reply) reply(platformError(refusal));
        return;
    }
    cancelBackToLive();
    const double seconds = std::min(recorder().bufferSeconds(), m_model.saveLength());
    m_model.setPhase(Phase::working(QStringLiteral("Saving replay…")));
    m_saveReplies.push_back(std::move(reply));
    m_desktop.panel.flash();
    m_desktop.panel.peek(Timings::peekSaving);
    recorder().saveLast(
        seconds, Settings::folder(),
        weakly(this, [](AppDelegate& d, const Result<QString>& result) { d.saveFinished(result); }));
}

void AppDelegate::saveFinished(const Result<QString>& result) {
    // Whoever asked hears at once; the thumbnail comes after.
    for (SaveReply& reply : std::exchange(m_saveReplies, {}))
        if (reply) reply(result);
    if (!result) {
        showNotice(result.error().message, QString(), Peek::Yes);
        return;
    }
    const QString clip = result.value();
    m_desktop.clipTools.makeThumbnail(
        clip, weakly(this, [clip](AppDelegate& d, const QImage& image, double duration) {
            d.m_model.setLastClip(QUrl::fromLocalFile(clip));
            d.m_model.setLastThumbnail(image);
            d.m_model.setLastDuration(duration);
            d.m_model.setPhase(Phase::saved(QUrl::fromLocalFile(clip)));
            if (Settings::playSound()) d.m_desktop.sound.playSaveSound();
            d.m_desktop.panel.peek(Timings::peekSaved);
            d.returnToLive(Timings::backFromSaved);
        }));
}

void AppDelegate::refreshSaveOptions() {
    const double buffer = Settings::bufferSeconds();
    const std::vector<double> options = Settings::saveOptions(buffer);
    if (m_model.saveOptions() != options) m_model.setSaveOptions(options);
    if (m_model.bufferLimit() != buffer) m_model.setBufferLimit(buffer);
    if (std::find(options.begin(), options.end(), m_model.saveLength()) == options.end()) {
        if (std::find(options.begin(), options.end(), 30.0) != options.end())
            m_model.setSaveLength(30);
        else
            m_model.setSaveLength(options.empty() ? buffer : options.back());
    }
}

void AppDelegate::returnToLive(double seconds) {
    cancelBackToLive();
    // Back to what recording is doing by then: a pause that came meanwhile shows as one.
    m_backToLive = m_scheduler.after(seconds, weakly(this, [](AppDelegate& d) {
                                         if (d.m_model.recording())
                                             d.m_model.setPhase(Phase::live());
                                         else if (d.paused())
                                             d.m_model.setPhase(Phase::paused());
                                     }));
}

void AppDelegate::showNotice(const QString& text, const QString& cause, Peek peek) {
    const QString said = cause.isEmpty() ? text : text + QStringLiteral(": ") + cause;
    qCWarning(lcApp).noquote() << said;
    m_lastError = said;
    cancelBackToLive();
    m_model.setPhase(Phase::notice(text));
    if (peek == Peek::Yes) m_desktop.panel.peek(Timings::peekNotice);
    returnToLive(Timings::backFromNotice);
}

void AppDelegate::showFailure(const Error& error) {
    const QString text = failureText(error);
    const QString said = text == error.message ? text : text + QStringLiteral(" (") + error.message + ')';
    qCWarning(lcApp).noquote() << said;
    m_lastError = said;
    m_model.setPhase(Phase::failed(text));
}

AppDelegate::Opened AppDelegate::noticeUnless(const QString& text) {
    return weakly(this, [text](AppDelegate& d, const Status& opened) {
        if (!opened) d.showNotice(text, opened.error().message, Peek::Yes);
    });
}

bool AppDelegate::confirmLastClip() {
    if (QFileInfo::exists(m_model.lastClip().toLocalFile())) return true;
    // Moved or deleted since the save: say so rather than hand out a reference to nothing.
    showNotice(QStringLiteral("Replay was moved or deleted"), m_model.lastClip().toLocalFile(), Peek::Yes);
    return false;
}

void AppDelegate::copyClip() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty() || !confirmLastClip()) return;
    cancelBackToLive();
    m_desktop.clipboard.setFile(clip.toLocalFile());
    m_model.setPhase(Phase::copied(clip));
    m_desktop.panel.peek(Timings::peekNotice);
    returnToLive(Timings::backFromCopied);
}

void AppDelegate::openClip() {
    const QUrl clip = m_model.lastClip();
    if (!clip.isEmpty() && confirmLastClip())
        m_desktop.files.openFile(clip.toLocalFile(),
                                 noticeUnless(QStringLiteral("Couldn't open the replay")));
}

void AppDelegate::revealClip() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty())
        openFolder();
    else
        m_desktop.files.reveal(clip.toLocalFile(), noticeUnless(QStringLiteral("Couldn't open the folder")));
}

void AppDelegate::openFolder() {
    m_desktop.files.openFolder(Settings::folder(), noticeUnless(QStringLiteral("Couldn't open the folder")));
}

void AppDelegate::openScreenRecordingSettings() {
    m_desktop.capture.forgetChoice();
    retry();
}

void AppDelegate::sendToClaude() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty()) return;
    cancelBackToLive();
    m_model.setPhase(Phase::working(QStringLiteral("Pulling frames for Claude…")));
    m_desktop.clipTools.handOff(clip.toLocalFile(), Settings::handoffFrames,
                                weakly(this, [clip](AppDelegate& d, const Status& status) {
                                    if (status) {
                                        d.m_model.setPhase(Phase::handedOff(clip));
                                        d.m_desktop.panel.peek(Timings::peekSaved);
                                        d.returnToLive(Timings::backFromSaved);
                                    } else {
                                        d.showNotice(QStringLiteral("Couldn't extract frames"),
                                                     status.error().message, Peek::No);
                                    }
                                }));
}

void AppDelegate::openSettings() {
    if (m_desktop.settings) m_desktop.settings->show(weakly(this, [](AppDelegate& d) { d.openFolder(); }));
}

std::vector<StatusMenu::Entry> AppDelegate::menuEntries() const {
    return StatusMenu::entries(StatusMenu::State{
        .bufferSeconds = Settings::bufferSeconds(),
        .saveLength = m_model.saveLength(),
        .paused = paused(),
        .recentClips = Settings::recentClips(5),
        .hotKeyBound = m_model.hotKeyBound(),
    });
}

void AppDelegate::menuChose(const StatusMenu::Entry& entry) {
    using StatusMenu::Command;
    switch (entry.command) {
    case Command::Save:
        saveReplay();
        break;
    case Command::TogglePause:
        togglePause();
        break;
    case Command::OpenRecent:
        m_desktop.files.openFile(entry.clip, noticeUnless(QStringLiteral("Couldn't open the replay")));
        break;
    case Command::OpenFolder:
        openFolder();
        break;
    case Command::Settings:
        openSettings();
        break;
    case Command::Quit:
        QCoreApplication::quit();
        break;
    case Command::None:
        break;
    }
}

StatusFacts AppDelegate::status() const {
    return StatusFacts{
        .phase = m_model.phase(),
        .recording = m_model.recording(),
        .writeError = m_model.writeError(),
        .bufferedSeconds = m_model.buffered(),
        .bufferLimit = m_model.bufferLimit(),
        .saveLength = m_model.saveLength(),
        .lastClip = m_model.lastClip().toLocalFile(),
        .lastError = m_lastError,
    };
}
