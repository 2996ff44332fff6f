#pragma once

#include "platform/ControlChannel.h"

#include <QStringList>

#include <optional>

// The command-line options that act on the running instance instead of starting one: --save,
// --toggle-pause, --status, --quit, --locked and --unlocked. The first of them among the arguments counts;
// none when the arguments hold none.
std::optional<ControlCommand> controlCommandIn(const QStringList& arguments);

// Sends the command and reports like a command-line tool: 0 once the instance has done it (--status prints
// the instance's text on stdout, --save the clip's path), 1 with the reason on stderr when it could not be
// delivered or done.
int runControlCommand(ControlCommand command, ControlChannel& channel);
