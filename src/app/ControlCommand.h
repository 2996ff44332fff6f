#pragma once

#include "notch/Phase.h"
#include "platform/ControlChannel.h"

#include <QString>

// What `ferrovane --status` reports of the running instance.
struct StatusFacts {
    Phase phase;
    bool recording = false;
    QString writeError; // why the newest seconds cannot be written; empty while they can
    double bufferedSeconds = 0;
    double bufferLimit = 0;
    double saveLength = 0;
    QString lastClip;  // empty while none was saved
    QString lastError; // empty while nothing failed
};

// One `key: value` per line, in a fixed order, for scripts as well as people.
QString statusText(const StatusFacts& facts);

// Sends the command and reports like a command-line tool: 0 once the instance has done it (--status prints
// the instance's text on stdout, --save the clip's path), 1 with the reason on stderr when it could not be
// delivered or done.
int runControlCommand(ControlCommand command, ControlChannel& channel);
