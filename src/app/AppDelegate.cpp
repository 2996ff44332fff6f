#include "app/AppDelegate.h"

#include "base/Logging.h"
#include "notch/ReplayModel.h"
#include "platform/ScreenCapture.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// Runs `action` on the controller if it still exists; for callbacks handed to the panel, the recorder
// and the scheduler.
template <typename F> auto weakly(AppDelegate* self, F action) {
    return [self = QPointer<AppDelegate>(self), action](auto&&... args) {
        if (self) action(*self, std::forward<decltype(args)>(args)...);
    };
}

QString formatSeconds(double seconds) {
    return QString::number(seconds, 'f', seconds == std::floor(seconds) ? 0 : 1);
}

QString phaseName(const Phase& phase) {
    switch (phase.kind()) {
    case Phase::Kind::Working:
        return QStringLiteral("working");
    case Phase::Kind::Saved:
        return QStringLiteral("saved");
    case Phase::Kind::Copied:
        return QStringLiteral("copied");
    case Phase::Kind::HandedOff:
        return QStringLiteral("handed off");
    case Phase::Kind::Notice:
        return QStringLiteral("notice");
    case Phase::Kind::Failed:
        return QStringLiteral("failed");
    case Phase::Kind::Starting:
        return QStringLiteral("starting");
    case Phase::Kind::Live:
        return QStringLiteral("live");
    case Phase::Kind::Paused:
        return QStringLiteral("paused");
    }
    return {};
}

} // namespace

AppDelegate::AppDelegate(ReplayModel& model, RecorderFactory makeRecorder, DesktopShell& shell,
                         Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_makeRecorder(std::move(makeRecorder))
    , m_shell(shell)
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

NotchActions AppDelegate::actions() {
    NotchActions a;
    a.save = weakly(this, [](AppDelegate& d) { d.saveReplay(); });
    a.copy = weakly(this, [](AppDelegate& d) { d.copyClip(); });
    a.handoff = weakly(this, [](AppDelegate& d) { d.sendToClaude(); });
    a.openClip = weakly(this, [](AppDelegate& d) { d.openClip(); });
    a.reveal = weakly(this, [](AppDelegate& d) { d.revealClip(); });
    a.togglePause = weakly(this, [](AppDelegate& d) { d.togglePause(); });
    a.openSettings = weakly(this, [](AppDelegate& d) { d.openSettings(); });
    a.openPrivacySettings = weakly(this, [](AppDelegate& d) { d.openScreenRecordingSettings(); });
    a.retry = weakly(this, [](AppDelegate& d) { d.retry(); });
    return a;
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
    if (!m_shell.captureAllowed())
        return QStringLiteral("Allow Ferrovane to record the screen, then try again.");
    return error.message;
}

void AppDelegate::startRecording(bool showWelcome) {
    m_model.setPhase(Phase::starting());
    m_starting = true;
    m_model.setBufferLimit(recorder().bufferSeconds());
    recorder().setOnStop([self = QPointer<AppDelegate>(this)](const Error& error) {
        QMetaObject::invokeMethod(
            qApp,
            [self, error] {
                if (self) self->recordingStopped(error);
            },
            Qt::QueuedConnection);
    });
    std::shared_ptr<Recording> started = m_recorder;
    started->start(weakly(this, [started, showWelcome](AppDelegate& d, const Status& status) {
        if (d.m_recorder != started) return; // replaced while starting
        d.m_starting = false;
        if (!status) {
            d.m_model.setRecording(false);
            d.showFailure(status.error());
            d.m_shell.peek(8);
            return;
        }
        d.m_model.setRecording(true);
        d.m_model.setPhase(Phase::live());
        d.m_restartAttempts = 0;
        if (showWelcome && !Settings::hasLaunchedBefore()) {
            Settings::setValue(Settings::Keys::hasLaunched, true);
            d.m_shell.peek(7);
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
                               << restartDelay << "s";
    m_restart = m_scheduler.after(restartDelay, weakly(this, [](AppDelegate& d) {
                                      if (d.paused()) return;
                                      d.replaceRecorder();
                                      d.startRecording(false);
                                  }));
}

void AppDelegate::replaceRecorder() {
    recorder();
    std::shared_ptr<Recording> old = m_recorder;
    old->setOnStop(nullptr);
    const Config config = currentConfig();
    m_recorder = m_makeRecorder(config.buffer, config.fps, config.width);
    m_starting = false;
    m_model.setRecording(false);
    m_model.setBuffered(0);
    m_model.setWriteError(QString());
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
        if (m_model.phase().kind() != Phase::Kind::Working) m_shell.peek(5);
        if (reply) reply(platformError(refusal));
        return;
    }
    cancelBackToLive();
    const double seconds = std::min(recorder().bufferSeconds(), m_model.saveLength());
    m_model.setPhase(Phase::working(QStringLiteral("Saving replay…")));
    m_saveReplies.push_back(std::move(reply));
    m_shell.flash();
    m_shell.peek(3);
    recorder().saveLast(seconds, Settings::folder(),
                        [self = QPointer<AppDelegate>(this)](const Result<QString>& result) {
                            QMetaObject::invokeMethod(
                                qApp,
                                [self, result] {
                                    if (self) self->saveFinished(result);
                                },
                                Qt::QueuedConnection);
                        });
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
    m_shell.makeThumbnail(clip, weakly(this, [clip](AppDelegate& d, const QImage& image, double duration) {
                              d.m_model.setLastClip(QUrl::fromLocalFile(clip));
                              d.m_model.setLastThumbnail(image);
                              d.m_model.setLastDuration(duration);
                              d.m_model.setPhase(Phase::saved(QUrl::fromLocalFile(clip)));
                              if (Settings::playSound()) d.m_shell.playSaveSound();
                              d.m_shell.peek(6);
                              d.returnToLive(12);
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
    if (peek == Peek::Yes) m_shell.peek(4);
    returnToLive(5);
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

bool AppDelegate::lastClipIsThere() {
    if (QFileInfo::exists(m_model.lastClip().toLocalFile())) return true;
    // Moved or deleted since the save: say so rather than hand out a reference to nothing.
    showNotice(QStringLiteral("Replay was moved or deleted"), m_model.lastClip().toLocalFile(), Peek::Yes);
    return false;
}

void AppDelegate::copyClip() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty() || !lastClipIsThere()) return;
    cancelBackToLive();
    m_shell.copyFile(clip.toLocalFile());
    m_model.setPhase(Phase::copied(clip));
    m_shell.peek(4);
    returnToLive(8);
}

void AppDelegate::openClip() {
    const QUrl clip = m_model.lastClip();
    if (!clip.isEmpty() && lastClipIsThere())
        m_shell.openFile(clip.toLocalFile(), noticeUnless(QStringLiteral("Couldn't open the replay")));
}

void AppDelegate::revealClip() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty())
        openFolder();
    else
        m_shell.reveal(clip.toLocalFile(), noticeUnless(QStringLiteral("Couldn't open the folder")));
}

void AppDelegate::openFolder() {
    m_shell.openFolder(Settings::folder(), noticeUnless(QStringLiteral("Couldn't open the folder")));
}

void AppDelegate::openScreenRecordingSettings() {
    if (!m_shell.openPrivacySettings()) retry();
}

void AppDelegate::sendToClaude() {
    const QUrl clip = m_model.lastClip();
    if (clip.isEmpty()) return;
    cancelBackToLive();
    m_model.setPhase(Phase::working(QStringLiteral("Pulling frames for Claude…")));
    m_shell.handOff(clip.toLocalFile(), Settings::handoffFrames,
                    weakly(this, [clip](AppDelegate& d, const Status& status) {
                        if (status) {
                            d.m_model.setPhase(Phase::handedOff(clip));
                            d.m_shell.peek(6);
                            d.returnToLive(12);
                        } else {
                            d.showNotice(QStringLiteral("Couldn't extract frames"), status.error().message,
                                         Peek::No);
                        }
                    }));
}

void AppDelegate::openSettings() {
    m_shell.showSettings(weakly(this, [](AppDelegate& d) { d.openFolder(); }));
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
        m_shell.openFile(entry.clip, noticeUnless(QStringLiteral("Couldn't open the replay")));
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

QString AppDelegate::statusText() const {
    const QUrl clip = m_model.lastClip();
    QString recording = m_model.recording() ? QStringLiteral("yes") : QStringLiteral("no");
    if (m_model.recording() && !m_model.writeError().isEmpty())
        recording = QStringLiteral("no (%1)").arg(m_model.writeError());
    return QStringLiteral(
               "phase: %1\nrecording: %2\nbuffered seconds: %3\nbuffer limit: %4\nsave length: %5\n"
               "last clip: %6\nlast error: %7\n")
        .arg(phaseName(m_model.phase()), recording, formatSeconds(m_model.buffered()),
             formatSeconds(m_model.bufferLimit()), formatSeconds(m_model.saveLength()),
             clip.isEmpty() ? QStringLiteral("none") : clip.toLocalFile(),
             m_lastError.isEmpty() ? QStringLiteral("none") : m_lastError);
}
