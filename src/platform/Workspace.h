#pragma once

#include <QString>

// The user's desktop: default applications and the file manager. Main thread only.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the file with the user's default application for its type.
    virtual void openFile(const QString& path) = 0;
    // Shows the file selected in the file manager; a missing file, or no file manager that answers,
    // opens its folder instead.
    virtual void reveal(const QString& path) = 0;
    // Creates the folder if it can (a failure is ignored) and opens it in the file manager.
    virtual void openFolder(const QString& path) = 0;
};
