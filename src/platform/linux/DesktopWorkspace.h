#pragma once

#include "platform/Workspace.h"

// QDesktopServices for opening; the file manager's org.freedesktop.FileManager1 interface on the session
// bus for showing a file selected.
class DesktopWorkspace final : public Workspace {
public:
    void openFile(const QString& path) override;
    void reveal(const QString& path) override;
    void openFolder(const QString& path) override;
};
