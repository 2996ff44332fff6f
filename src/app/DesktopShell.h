#pragma once

#include "base/Error.h"

#include <QImage>
#include <QString>

#include <functional>

// What the application controller asks of the desktop around it: the panel, the clipboard, the file
// manager, sounds and the clip tools. Main thread only; asynchronous results arrive on the main thread.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;

    // The notch panel; no-ops without one (headless).
    virtual void peek(double seconds) = 0;
    virtual void flash() = 0;
    virtual void reposition() = 0;

    // Whether screen capture may run; false sends the user to the permission text instead of the error.
    virtual bool captureAllowed() = 0;

    virtual void copyFile(const QString& path) = 0;
    // Each answers once: Ok when something took the file, else why nothing could.
    using Opened = std::function<void(const Status&)>;
    virtual void openFile(const QString& path, Opened done) = 0;
    virtual void reveal(const QString& path, Opened done) = 0;
    virtual void openFolder(const QString& path, Opened done) = 0;
    // The settings window, created on first use; `openFolder` backs its folder button.
    virtual void showSettings(std::function<void()> openFolder) = 0;
    // False where there is nothing to grant: the controller then tries to record again.
    virtual bool openPrivacySettings() = 0;
    virtual void playSaveSound() = 0;

    // A frame near the clip's end and its length; a null image and 0 when unreadable.
    virtual void makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) = 0;
    // Writes still frames beside the clip and puts the prompt listing them on the clipboard.
    virtual void handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) = 0;
};
