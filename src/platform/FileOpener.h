#pragma once

#include "base/Error.h"

#include <QString>

#include <functional>

// Opening files and folders with the user's applications, and showing a file in the file manager. Main
// thread only; each answer arrives there, once: Ok when something took the file, else why nothing could.
class FileOpener {
public:
    using Done = std::function<void(const Status&)>;

    virtual ~FileOpener() = default;

    // Opens the file with the user's default application for its type.
    virtual void openFile(const QString& path, Done done) = 0;
    // Shows the file selected in the file manager, or its folder where nothing can select it.
    virtual void reveal(const QString& path, Done done) = 0;
    // Creates the folder if it can and opens it in the file manager.
    virtual void openFolder(const QString& path, Done done) = 0;
};
