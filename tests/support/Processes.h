#pragma once

#include <QProcess>
#include <QString>

// A child process that ends with the object: asked to stop, killed when it does not.
struct Child : QProcess {
    ~Child() override;
};

// A dbus-daemon of the test's own in `daemon`, so nothing reaches the user's buses; returns its address,
// empty when none came up.
QString startBus(Child& daemon);

// The built application, and where it keeps its rolling buffers under the test's runtime folder.
QString ferrovaneBinary();
QString bufferRoot();

// Starts the application on the portal backend, headless unless told otherwise.
void launchOnPortal(Child& app, const QStringList& arguments = {"--headless"});
// Asks a headless instance for a clip as SIGUSR1 does; the path it prints, or empty when none came in `ms`.
QString saveNow(Child& app, int ms = 20000);

// What a run of the built application said.
struct Outcome {
    int exitCode = -1; // -1 when it crashed or did not end in time
    QString out;
    QString err;
};
// Runs the application with `arguments` (a control option, say) and waits up to `ms` for it.
Outcome runFerrovane(const QStringList& arguments, int ms = 10000);
// The running instance's --status text; empty when none answers.
QString status();
// Polls --status until a line matches `pattern` (a multi-line regular expression), for up to `ms`.
bool reaches(const QString& pattern, int ms = 20000);
// True once a buffer holds a segment: the stream's first picture has been written.
bool recordingStarted();
