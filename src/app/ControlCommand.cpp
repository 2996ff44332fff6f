#include "app/ControlCommand.h"

#include <cmath>
#include <cstdio>

namespace {

QString formatSeconds(double seconds) {
    return QString::number(seconds, 'f', seconds == std::floor(seconds) ? 0 : 1);
}

QString phaseName(const Phase& phase) {
    switch (phase.kind()) {
    case Phase::Kind::Working:
        return QStringLiteral("working");
    case Phase::Kind::Saved:
        return QStringLiteral("saved");
    case Phase::Kind::Copied:
        return QStringLiteral("copied");
    case Phase::Kind::HandedOff:
        return QStringLiteral("handed off");
    case Phase::Kind::Notice:
        return QStringLiteral("notice");
    case Phase::Kind::Failed:
        return QStringLiteral("failed");
    case Phase::Kind::Starting:
        return QStringLiteral("starting");
    case Phase::Kind::Live:
        return QStringLiteral("live");
    case Phase::Kind::Paused:
        return QStringLiteral("paused");
    }
    return {};
}

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

QString statusText(const StatusFacts& facts) {
    QString recording = facts.recording ? QStringLiteral("yes") : QStringLiteral("no");
    if (facts.recording && !facts.writeError.isEmpty())
        recording = QStringLiteral("no (%1)").arg(facts.writeError);
    return QStringLiteral(
               "phase: %1\nrecording: %2\nbuffered seconds: %3\nbuffer limit: %4\nsave length: %5\n"
               "last clip: %6\nlast error: %7\n")
        .arg(phaseName(facts.phase), recording, formatSeconds(facts.bufferedSeconds),
             formatSeconds(facts.bufferLimit), formatSeconds(facts.saveLength),
             facts.lastClip.isEmpty() ? QStringLiteral("none") : facts.lastClip,
             facts.lastError.isEmpty() ? QStringLiteral("none") : facts.lastError);
}
