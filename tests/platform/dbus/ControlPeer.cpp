// Another launch of the application for the control channel tests, wired the way main() wires it.
//   ferrovane_controlpeer --save | --toggle-pause | --status | --quit   acts on the running instance.
//   ferrovane_controlpeer   a plain launch: prints the claim's outcome; asks a running instance to peek;
//       once claimed, prints each command it handles and runs until Quit or the end of stdin. It follows
//       the screen lock too, so losing the buses touches both services.
#include "app/ControlCommand.h"
#include "platform/Logging.h"
#include "platform/PlatformFactory.h"
#include "platform/ScreenLockMonitor.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

static void say(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    // As in main(): among what it silences is Qt 6.4's QtDBus complaining about its own metatypes when a
    // call that failed is still being reported as the process exits.
    Logging::quietByDefault();
    QCoreApplication app(argc, argv);
    if (const std::optional<ControlCommand> command = controlCommandIn(app.arguments()))
        return runControlCommand(*command, *createControlChannel());

    std::unique_ptr<ControlChannel> channel = createControlChannel();
    std::unique_ptr<ScreenLockMonitor> lock = createScreenLockMonitor();
    const ClaimOutcome outcome = channel->claim({
        .save = [] { say("save"); },
        .togglePause = [] { say("togglePause"); },
        .quit = [] { say("quit"), QCoreApplication::quit(); },
        .peek = [] { say("peek"); },
        .status = [] { return QStringLiteral("state: live"); },
    });
    if (outcome != ClaimOutcome::Claimed) {
        say(outcome == ClaimOutcome::NoBus ? "NoBus" : "AlreadyRunning");
        return outcome == ClaimOutcome::NoBus || channel->send(ControlCommand::Peek) ? 0 : 1;
    }
    say("Claimed");
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (read(STDIN_FILENO, &byte, 1) <= 0) app.quit();
    });
    return app.exec();
}
