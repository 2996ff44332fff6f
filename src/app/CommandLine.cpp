#include "app/CommandLine.h"

namespace CommandLine {

namespace {

struct Action {
    const char* name;
    Mode mode;
    std::optional<ControlCommand> command;
};

const Action actions[] = {
    {"--save", Mode::Control, ControlCommand::Save},
    {"--toggle-pause", Mode::Control, ControlCommand::TogglePause},
    {"--status", Mode::Control, ControlCommand::Status},
    {"--quit", Mode::Control, ControlCommand::Quit},
    {"--locked", Mode::Control, ControlCommand::Locked},
    {"--unlocked", Mode::Control, ControlCommand::Unlocked},
    {"--headless", Mode::Headless, std::nullopt},
};

Parsed refused(QString error) {
    return Parsed{Mode::Refused, std::nullopt, false, std::move(error)};
}

} // namespace

Parsed parse(const QStringList& arguments) {
    Parsed parsed;
    QString chosen; // the action option given, for the message when a second one follows
    bool stats = false;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            return Parsed{Mode::Help, std::nullopt, false, {}};
        if (argument == QLatin1String("--version")) return Parsed{Mode::Version, std::nullopt, false, {}};
        if (argument == QLatin1String("--stats")) {
            stats = true;
            continue;
        }
        const Action* action = nullptr;
        for (const Action& candidate : actions)
            if (argument == QLatin1String(candidate.name)) action = &candidate;
        if (!action) {
            if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
                return refused(QStringLiteral("unexpected argument '%1'").arg(argument));
            return refused(QStringLiteral("unknown option '%1'").arg(argument));
        }
        if (!chosen.isEmpty())
            return refused(QStringLiteral("%1 and %2 cannot be used together").arg(chosen, argument));
        chosen = argument;
        parsed.mode = action->mode;
        parsed.command = action->command;
    }
    if (stats && parsed.mode != Mode::Headless)
        return refused(QStringLiteral("--stats goes with --headless"));
    parsed.stats = stats;
    return parsed;
}

const std::vector<Option>& options() {
    static const std::vector<Option> list{
        {QStringLiteral("--save"), QStringLiteral("save the last seconds and print the clip's path")},
        {QStringLiteral("--toggle-pause"),
         QStringLiteral("pause recording (deletes the buffer), or resume it")},
        {QStringLiteral("--status"), QStringLiteral("print what the running instance is doing")},
        {QStringLiteral("--quit"), QStringLiteral("quit the running instance; the buffer is deleted")},
        {QStringLiteral("--locked"),
         QStringLiteral("tell it the screen locked (for lockers that tell nobody)")},
        {QStringLiteral("--unlocked"), QStringLiteral("tell it the screen unlocked again")},
        {QStringLiteral("--headless"), QStringLiteral("record without panel, hot key or control options")},
        {QStringLiteral("--stats"), QStringLiteral("with --headless: print frame counters when it stops")},
        {QStringLiteral("-h, --help"), QStringLiteral("print this help and exit")},
        {QStringLiteral("--version"), QStringLiteral("print the version and exit")},
    };
    return list;
}

QString usage() {
    QString text = QStringLiteral(
        "Usage: ferrovane [OPTION]\n"
        "Keeps a rolling recording of the screen; Ctrl+Alt+R saves the last seconds as an MP4 in the\n"
        "videos folder (Ferrovane). Without options, starts it: a panel at the top of the screen and a\n"
        "tray icon. The first six options act on the running instance.\n"
        "With --headless, SIGUSR1 saves and prints the clip's path; SIGINT and SIGTERM stop it.\n\n");
    for (const Option& option : options()) {
        const QString names = option.names.startsWith(QLatin1String("--"))
                                  ? QStringLiteral("    ") + option.names
                                  : option.names;
        text += QStringLiteral("  %1  %2\n").arg(names, -18).arg(option.summary);
    }
    return text;
}

QString version() {
    return QStringLiteral("ferrovane " FERROVANE_VERSION);
}

} // namespace CommandLine
