#pragma once

#include "base/Error.h"

#include <QString>

#include <functional>

// What another launch can ask of the running instance.
// Locked and Unlocked come from screen lockers that tell nobody else (swayidle, hypridle).
enum class ControlCommand { Save, TogglePause, Status, Quit, Peek, Locked, Unlocked };

// What the running instance does when asked, on the main thread. The caller is answered before any of
// these runs, except status, whose text is the answer (one "key: value" per line), and save, whose caller
// waits for the clip's path or for why there is none.
struct ControlHandlers {
    using SaveReply = std::function<void(const Result<QString>&)>;
    std::function<void(SaveReply)> save;
    std::function<void()> togglePause;
    std::function<void()> quit;
    std::function<void()> peek;
    std::function<QString()> status;
    std::function<void()> locked;
    std::function<void()> unlocked;
};

enum class ClaimOutcome {
    Claimed,
    AlreadyRunning,
    // No way to reach other launches: run alone, unreachable.
    NoBus,
    // Another instance runs but cannot be reached (its session bus went away and came back): start none.
    Unreachable,
};

// One running instance per user session, and the way later launches reach it.
class ControlChannel {
public:
    virtual ~ControlChannel() = default;

    // Becomes the running instance unless one already is; of launches racing each other exactly one
    // wins. The claim lasts as long as the channel. Main thread only.
    virtual ClaimOutcome claim(ControlHandlers handlers) = 0;
    // After Unreachable: the running instance's process id, 0 when unknown.
    virtual qint64 runningProcess() const = 0;

    // Asks the running instance and waits for its answer (the status text, the saved clip's path; empty
    // for the other commands). Fails with "Ferrovane is not running." when there is none to ask, and with
    // the instance's reason when it could not do it.
    virtual Result<QString> send(ControlCommand command) = 0;
};
