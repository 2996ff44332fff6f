#pragma once

#include "app/DesktopShell.h"
#include "app/Recording.h"
#include "app/Scheduler.h"
#include "app/StatusMenu.h"
#include "notch/NotchActions.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class ReplayModel;

// The application controller: owns the recording lifecycle (start, restarts after the stream stops by
// itself, rebuilds on settings changes, pauses by the user and on screen lock, the buffer's deletion at
// quit) and the save flow and clip actions. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    using RecorderFactory =
        std::function<std::unique_ptr<Recording>(double bufferSeconds, int fps, double maxWidth)>;
    // Told once how a save request ended: the clip's path, or why there is none.
    using SaveReply = std::function<void(const Result<QString>&)>;

    struct Config {
        double buffer = 0;
        int fps = 0;
        double width = 0;
        friend bool operator==(const Config&, const Config&) = default;
    };

    static constexpr int maxRestarts = 3;
    static constexpr double restartDelay = 2.0;
    static constexpr int fillIntervalMs = 500;

    AppDelegate(ReplayModel& model, RecorderFactory makeRecorder, DesktopShell& shell, Scheduler& scheduler,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // The panel's nine callbacks, each holding the controller weakly.
    NotchActions actions();
    // Everything after the panel exists: save options, fill timer, first start with the welcome peek.
    void launch();
    // The way out: deletes the buffer (saves in progress finish first).
    void terminate();

    void startRecording(bool showWelcome);
    // From a failed start: a fresh recorder, started again.
    void retry();
    void recordingStopped(const Error& error);
    void replaceRecorder();
    void settingsChanged();
    void togglePause();
    void screenLocked();
    void screenUnlocked();
    void updateBufferFill();

    // `reply` hears of the outcome as soon as the clip is written, or at once when no save starts.
    void saveReplay(SaveReply reply = {});
    void refreshSaveOptions();
    void returnToLive(double seconds);
    void copyClip();
    void openClip();
    void revealClip();
    void openFolder();
    void openScreenRecordingSettings();
    void sendToClaude();
    void openSettings();

    // The tray menu, built from the state of this moment, and what its items do.
    std::vector<StatusMenu::Entry> menuEntries() const;
    void menuChose(const StatusMenu::Entry& entry);

    void repositionNotch() { m_shell.reposition(); }
    // A plain second launch shows this one's panel for a few seconds.
    void peekForSecondLaunch() { m_shell.peek(4); }

    // One `key: value` per line, for `ferrovane --status`.
    QString statusText() const;

    bool userPaused() const { return m_userPaused; }
    bool lockPaused() const { return m_lockPaused; }
    bool paused() const { return m_userPaused || m_lockPaused; }
    int restartAttempts() const { return m_restartAttempts; }
    Recording& recorder();

private:
    Config currentConfig() const;
    QString failureText(const Error& error) const;
    enum class Peek { No, Yes };
    // A notice the panel shows for 5 s while recording goes on; stderr gets it too, with its cause.
    void showNotice(const QString& text, const QString& cause, Peek peek);
    // Recording cannot run: the panel says why, and so does stderr.
    void showFailure(const Error& error);
    // For opening files: a notice with `text` when nothing could open it.
    using Opened = std::function<void(const Status&)>;
    Opened noticeUnless(const QString& text);
    void saveFinished(const Result<QString>& result);
    // Why a save cannot start now; empty when it can.
    QString saveRefusal() const;
    void cancelBackToLive();
    // False, with a notice, when the last clip's file is gone.
    bool lastClipIsThere();

    ReplayModel& m_model;
    RecorderFactory m_makeRecorder;
    DesktopShell& m_shell;
    Scheduler& m_scheduler;
    std::shared_ptr<Recording> m_recorder;
    std::optional<Config> m_runningConfig;
    QTimer m_bufferTimer;
    std::unique_ptr<Scheduler::Pending> m_backToLive;
    std::unique_ptr<Scheduler::Pending> m_restart;
    std::vector<SaveReply> m_saveReplies; // of the save in progress
    QString m_lastError;                  // the last failure shown or said, for --status
    bool m_starting = false;              // the current recorder's start has not answered yet
    int m_restartAttempts = 0;
    bool m_userPaused = false;
    bool m_lockPaused = false;
};
