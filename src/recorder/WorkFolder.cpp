#include "recorder/WorkFolder.h"

#include "base/Logging.h"
#include "recorder/BufferRoot.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The folders this process holds. A library that ends the process with exit() (Qt's X11 plugin does when
// the display goes away) skips every shutdown path; the buffer must not outlive it on disk.
// Once the process is ending no folder is made or made again: the encoder may still be closing a
// segment on another thread, and a folder it recreated after the removal would be left behind.
std::mutex heldMutex;
std::vector<QString> held; // guarded by heldMutex
bool ending = false;       // guarded by heldMutex
// Saves in progress, and how long the last of them may take from now; guarded by heldMutex.
int exitHolds = 0;
std::chrono::steady_clock::time_point holdsDeadline;
std::condition_variable holdsReleased;

void removeHeldAtExit() {
    std::unique_lock lock(heldMutex);
    holdsReleased.wait_until(lock, holdsDeadline, [] { return exitHolds == 0; });
    ending = true;
    for (const QString& path : held) {
        BufferRoot::removeFolder(path);
        BufferRoot::removeIfEmpty(QFileInfo(path).absolutePath());
    }
    held.clear();
}

void removeHeldAtExitLater() {
    static std::once_flag installed;
    std::call_once(installed, [] { std::atexit(&removeHeldAtExit); });
}

Error endingError() {
    return platformError(QStringLiteral("Ferrovane is quitting."));
}

void letGo(const QString& path) {
    std::lock_guard lock(heldMutex);
    held.erase(std::remove(held.begin(), held.end(), path), held.end());
}

} // namespace

std::shared_ptr<void> WorkFolder::holdExit(std::chrono::seconds patience) {
    removeHeldAtExitLater();
    {
        std::lock_guard lock(heldMutex);
        ++exitHolds;
        holdsDeadline = std::max(holdsDeadline, std::chrono::steady_clock::now() + patience);
    }
    return std::shared_ptr<void>(nullptr, [](void*) {
        std::lock_guard lock(heldMutex);
        if (--exitHolds == 0) holdsReleased.notify_all();
    });
}

Result<std::unique_ptr<WorkFolder>> WorkFolder::create(const QString& path) {
    removeHeldAtExitLater();
    std::unique_ptr<WorkFolder> folder(new WorkFolder(path));
    std::lock_guard guard(heldMutex);
    if (ending) return endingError();
    if (Status locked = folder->lock(); !locked) return locked.error();
    held.push_back(path);
    return folder;
}

WorkFolder::~WorkFolder() {
    letGo(m_path);
    release();
}

void WorkFolder::release() {
    if (m_fd >= 0) ::close(m_fd); // drops the lock
    m_fd = -1;
}

bool WorkFolder::stillHeld() const {
    struct stat held {};
    struct stat named {};
    if (m_fd < 0 || fstat(m_fd, &held) != 0 || held.st_nlink == 0) return false;
    return lstat(QFile::encodeName(m_path).constData(), &named) == 0 && named.st_ino == held.st_ino &&
           named.st_dev == held.st_dev;
}

Status WorkFolder::lock() {
    // A sweep can delete a folder between its creation and its lock; then it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        release();
        if (Status made = BufferRoot::createPrivateFolder(m_path); !made) return made;
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_fd < 0) continue;
        if (flock(m_fd, LOCK_EX | LOCK_NB) == 0 && stillHeld()) return Ok{};
    }
    const int code = errno;
    release();
    qCDebug(lcRecorder) << "cannot lock" << m_path << ":" << strerror(code);
    return platformError(
        QStringLiteral("Could not lock the buffer folder: %1").arg(QString::fromLocal8Bit(strerror(code))),
        code);
}

Status WorkFolder::ensure() {
    if (stillHeld()) return Ok{};
    std::lock_guard guard(heldMutex);
    if (ending) return endingError();
    qCInfo(lcRecorder) << "buffer folder" << m_path << "vanished; recreating it";
    // A link put in its place is never written through: a fresh private folder replaces it.
    BufferRoot::removeImpostor(m_path);
    return lock();
}

void WorkFolder::remove() {
    BufferRoot::removeFolder(m_path);
    release();
    BufferRoot::removeIfEmpty(QFileInfo(m_path).absolutePath());
}
