#pragma once

#include "app/Recording.h"
#include "app/Scheduler.h"
#include "app/StatusMenu.h"
#include "notch/NotchActions.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class CapturePermission;
class ClipTools;
class Clipboard;
class FileOpener;
class Panel;
class ReplayModel;
class SettingsWindow;
class SoundPlayer;
struct StatusFacts;

// The application controller: owns the recording lifecycle (start, restarts after the stream stops by
// itself, rebuilds on settings changes, pauses by the user and on screen lock, the buffer's deletion at
// quit) and the save flow and clip actions. Single-threaded by construction: everything it calls answers
// on the main thread, and so does everything it is called from.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    using RecorderFactory =
        std::function<std::unique_ptr<Recording>(double bufferSeconds, int fps, double maxWidth)>;
    // Told once how a save request ended: the clip's path, or why there is none.
    using SaveReply = std::function<void(const Result<QString>&)>;

    // The desktop around the controller, one role each; all outlive it. Without a desktop (headless) they
    // are stand-ins that do nothing or say why they cannot.
    struct Desktop {
        Panel& panel;
        CapturePermission& capture;
        Clipboard& clipboard;
        FileOpener& files;
        SoundPlayer& sound;
        ClipTools& clipTools;
        SettingsWindow* settings = nullptr; // none without a desktop
    };

    struct Config {
        double buffer = 0;
        int fps = 0;
        double width = 0;
        friend bool operator==(const Config&, const Config&) = default;
    };

    // Every delay of the lifecycle and the save flow, in seconds: how long the panel peeks after an event,
    // and when a result gives way to what recording is doing.
    struct Timings {
        static constexpr double restart = 2.0;        // after the stream stopped by itself
        static constexpr double peekWelcome = 7;      // the very first start
        static constexpr double peekFailedStart = 8;  // a start that failed
        static constexpr double peekSaving = 3;       // a save begins
        static constexpr double peekSaved = 6;        // a save or a handoff succeeded
        static constexpr double backFromSaved = 12;   //   and the result gives way
        static constexpr double peekNotice = 4;       // a failed action, a copy
        static constexpr double backFromNotice = 5;   //   a failed action gives way
        static constexpr double backFromCopied = 8;   //   a copy gives way
        static constexpr double peekRefused = 5;      // a save that cannot start
        static constexpr double peekSecondLaunch = 4; // another launch found this one
    };
    static constexpr int maxRestarts = 3;
    static constexpr int fillIntervalMs = 500;

    AppDelegate(ReplayModel& model, RecorderFactory makeRecorder, Desktop desktop, Scheduler& scheduler,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    // The panel's nine callbacks, each reaching the controller through `controller`, and doing nothing
    // while it is empty: the panel is made before the controller, which needs it.
    static NotchActions actions(const QPointer<AppDelegate>& controller);
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
    // On Linux nothing grants screen capture: the earlier answer is forgotten and the desktop asked again.
    void openScreenRecordingSettings();
    void sendToClaude();
    void openSettings();

    // The tray menu, built from the state of this moment, and what its items do.
    std::vector<StatusMenu::Entry> menuEntries() const;
    void menuChose(const StatusMenu::Entry& entry);

    void repositionNotch();
    // A plain second launch shows this one's panel for a few seconds.
    void peekForSecondLaunch();

    // What `ferrovane --status` reports.
    StatusFacts status() const;

    bool userPaused() const { return m_userPaused; }
    bool lockPaused() const { return m_lockPaused; }
    // By the user or by the screen lock: either way nothing records.
    bool paused() const { return m_userPaused || m_lockPaused; }
    int restartAttempts() const { return m_restartAttempts; }
    Recording& recorder();

private:
    Config currentConfig() const;
    QString failureText(const Error& error) const;
    enum class Peek { No, Yes };
    // A notice the panel shows while recording goes on; stderr gets it too, with its cause.
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
    // True while the last clip's file is there; otherwise the panel says it is gone.
    bool confirmLastClip();

    ReplayModel& m_model;
    RecorderFactory m_makeRecorder;
    const Desktop m_desktop;
    Scheduler& m_scheduler;
    std::shared_ptr<Recording> m_recorder; // made on first use
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
