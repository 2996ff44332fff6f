#include "app/ControlCommand.h"

#include <cstdio>

namespace {

void printLine(QString text, FILE* stream) {
    if (text.isEmpty()) return;
    if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

int runControlCommand(ControlCommand command, ControlChannel& channel) {
    const Result<QString> answer = channel.send(command);
    if (!answer) {
        printLine(answer.error().message, stderr);
        return 1;
    }
    if (command == ControlCommand::Status || command == ControlCommand::Save)
        printLine(answer.value(), stdout);
    return 0;
}
