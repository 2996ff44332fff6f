#pragma once

#include "base/Error.h"

#include <QString>

#include <chrono>
#include <memory>

// One recorder's private folder of segment files. The folder itself is locked (flock) for as long as this
// object lives, so the stale-buffer sweep of another instance leaves it alone, and a process killed
// outright releases it. A process that ends through exit() while it lives deletes it on the way out. Used
// by one sequence at a time.
class WorkFolder {
public:
    static Result<std::unique_ptr<WorkFolder>> create(const QString& path);
    // Releases the lock; the folder stays for the next sweep unless remove() ran.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }
    // Makes sure the locked folder is still there, recreating it privately when something deleted it.
    Status ensure();
    // Deletes the folder with everything in it, then its root when that is left empty. Best effort.
    void remove();

    // While the returned token lives, a process that ends through exit() waits (at most `patience`)
    // before it deletes the folders it holds: a save reading them is on its way.
    static std::shared_ptr<void> holdExit(std::chrono::seconds patience);

private:
    explicit WorkFolder(QString path)
        : m_path(std::move(path)) {}
    Status lock();
    bool stillHeld() const;
    void release();

    const QString m_path;
    int m_fd = -1;
};
