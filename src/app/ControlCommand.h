#pragma once

#include "platform/ControlChannel.h"

// Sends the command and reports like a command-line tool: 0 once the instance has done it (--status prints
// the instance's text on stdout, --save the clip's path), 1 with the reason on stderr when it could not be
// delivered or done.
int runControlCommand(ControlCommand command, ControlChannel& channel);
