#include "app/ControlCommand.h"

#include <cstdio>

namespace {

struct Option {
    const char* name;
    ControlCommand command;
};

const Option options[] = {
    {"--save", ControlCommand::Save},     {"--toggle-pause", ControlCommand::TogglePause},
    {"--status", ControlCommand::Status}, {"--quit", ControlCommand::Quit},
    {"--locked", ControlCommand::Locked}, {"--unlocked", ControlCommand::Unlocked},
};

void printLine(QString text, FILE* stream) {
    if (text.isEmpty()) return;
    if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

std::optional<ControlCommand> controlCommandIn(const QStringList& arguments) {
    for (const QString& argument : arguments)
        for (const Option& option : options)
            if (argument == QLatin1String(option.name)) return option.command;
    return std::nullopt;
}

int runControlCommand(ControlCommand command, ControlChannel& channel) {
    const Result<QString> answer = channel.send(command);
    if (!answer) {
        printLine(answer.error().localizedDescription(), stderr);
        return 1;
    }
    if (command == ControlCommand::Status || command == ControlCommand::Save)
        printLine(answer.value(), stdout);
    return 0;
}
