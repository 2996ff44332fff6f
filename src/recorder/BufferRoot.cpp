#include "recorder/BufferRoot.h"

#include "base/Logging.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BufferRoot {

namespace {

enum class State { Missing, Safe, Unsafe };

State inspect(const QString& path) {
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? State::Missing : State::Unsafe;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return State::Unsafe;
    return State::Safe;
}

QString standInPrefix() {
    return temporaryDirectory() + QLatin1Char('/') + name + QStringLiteral("-%1-").arg(geteuid());
}

// ENOENT when the folder (or its parent) went between making and checking it.
Status makeFolder(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    if (mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
        const int code = errno;
        qCDebug(lcRecorder) << "cannot make" << path << ":" << strerror(code);
        return platformError(QStringLiteral("Could not create the buffer folder: %1")
                                 .arg(QString::fromLocal8Bit(strerror(code))),
                             code);
    }
    switch (inspect(path)) {
    case State::Safe:
        chmod(encoded.constData(), 0700);
        return Ok{};
    case State::Missing:
        return platformError(QStringLiteral("The buffer folder vanished as it was made."), ENOENT);
    case State::Unsafe:
        break;
    }
    return platformError(QStringLiteral("The folder %1 is not a private folder of this user.").arg(path));
}

} // namespace

QString temporaryDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return QDir::cleanPath(runtime);
    return QDir::cleanPath(QDir::tempPath());
}

QString location() {
    const QString root = temporaryDirectory() + QLatin1Char('/') + name;
    if (inspect(root) != State::Unsafe) return root;
    // Someone else's or a link: pick a name nobody can have prepared.
    return standInPrefix() + QString::number(QRandomGenerator::system()->generate64(), 16);
}

bool isPrivateFolder(const QString& path) {
    return inspect(path) == State::Safe;
}

Status createPrivateFolder(const QString& path) {
    const QString parent = QFileInfo(path).absolutePath();
    // Another recorder of this process removes the root when its own folder was the last one in it; a root
    // that goes between the two steps is made again.
    Status made = Ok{};
    for (int attempt = 0; attempt < 3; ++attempt) {
        made = makeFolder(parent);
        if (made) made = makeFolder(path);
        if (made || made.error().code != ENOENT) break;
    }
    return made;
}

void removeFolder(const QString& path) {
    if (inspect(path) == State::Safe)
        QDir(path).removeRecursively(); // removes links as entries, never follows them
}

void removeImpostor(const QString& path) {
    struct stat st {};
    const QByteArray encoded = QFile::encodeName(path);
    if (inspect(QFileInfo(path).absolutePath()) == State::Safe && lstat(encoded.constData(), &st) == 0 &&
        !S_ISDIR(st.st_mode))
        unlink(encoded.constData());
}

void removeIfEmpty(const QString& path) {
    if (inspect(path) == State::Safe) rmdir(QFile::encodeName(path).constData());
}

namespace {

// A recorder holds its folder locked while it lives; one that can be locked here was left behind.
void removeUnheld(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        removeFolder(path);
    else
        qCDebug(lcRecorder) << "leaving" << path << "to the recorder that holds it";
    ::close(fd);
}

void sweepRoot(const QString& root) {
    if (inspect(root) != State::Safe) return;
    const QFileInfoList entries =
        QDir(root).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            removeUnheld(entry.absoluteFilePath());
        else
            QFile::remove(entry.absoluteFilePath());
    }
    removeIfEmpty(root);
}

} // namespace

void removeAll() {
    sweepRoot(temporaryDirectory() + QLatin1Char('/') + name);
    const QFileInfo prefix(standInPrefix());
    const QStringList standIns =
        QDir(prefix.absolutePath())
            .entryList({prefix.fileName() + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden);
    for (const QString& entry : standIns)
        sweepRoot(prefix.absolutePath() + QLatin1Char('/') + entry);
}

} // namespace BufferRoot
