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

// Starts the application headless on the portal backend.
void launchHeadless(Child& app);
// True once a buffer holds a segment: the stream's first picture has been written.
bool recordingStarted();
