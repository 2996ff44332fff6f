#pragma once

#include "platform/FileOpener.h"

#include <QDBusConnection>

// The desktop's OpenURI portal where there is one (it asks the desktop, sandbox or not), then the file
// manager's org.freedesktop.FileManager1 for showing a file selected, then xdg-open, whose own chatter goes
// to the debug log. A failure carries the last of them's reason.
class DesktopFileOpener final : public FileOpener {
public:
    explicit DesktopFileOpener(QDBusConnection bus);

    void openFile(const QString& path, Done done) override;
    void reveal(const QString& path, Done done) override;
    void openFolder(const QString& path, Done done) override;

private:
    enum class Target { File, Folder };
    void throughPortal(const QString& path, Target target, Done done);
    void throughXdgOpen(const QString& path, Done done);

    QDBusConnection m_bus;
};
