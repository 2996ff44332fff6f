#pragma once

#include "platform/ControlChannel.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The command line, taken as Linux tools take theirs: at most one action, unknown options and stray
// arguments refused, --help and --version answered without a display.
namespace CommandLine {

enum class Mode { Desktop, Headless, Control, Help, Version, Refused };

struct Parsed {
    Mode mode = Mode::Desktop;
    std::optional<ControlCommand> command; // Control only
    bool stats = false;                    // Headless only
    QString error;                         // Refused only: what was wrong, for stderr
};

// One option as --help lists it.
struct Option {
    QString names; // "-h, --help"
    QString summary;
};

// The arguments after the program's name.
Parsed parse(const QStringList& arguments);

// Every option, in the order --help lists them.
const std::vector<Option>& options();
QString usage();
QString version();

} // namespace CommandLine
