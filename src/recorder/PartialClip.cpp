#include "recorder/PartialClip.h"

#include "base/Logging.h"
#include "recorder/ShownPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString prefix = QStringLiteral(".replay-");
const QString suffix = QStringLiteral(".mp4.part");

QString reason(int code) {
    return QString::fromLocal8Bit(strerror(code));
}

// Renames without ever replacing: renameat2 where the file system knows it, else link and unlink, which
// refuse an existing name just the same.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (link(from.constData(), to.constData()) != 0) return errno;
    unlink(from.constData());
    return 0;
}

} // namespace

Result<std::unique_ptr<PartialClip>> PartialClip::create(const QString& folder, const QString& stamp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path =
            QDir(folder).filePath(prefix + stamp + QLatin1Char('-') +
                                  QString::number(QRandomGenerator::global()->generate(), 16) + suffix);
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            const int code = errno;
            return platformError(
                QStringLiteral("could not create a file in %1 (%2)").arg(shownPath(folder), reason(code)),
                code);
        }
        flock(fd, LOCK_EX); // a fresh file: nobody else can hold it yet
        return std::unique_ptr<PartialClip>(new PartialClip(folder, stamp, path, fd));
    }
    return platformError(QStringLiteral("could not find a free file name in %1").arg(shownPath(folder)));
}

PartialClip::~PartialClip() {
    if (!m_published) unlink(QFile::encodeName(m_path).constData());
    if (m_fd >= 0) ::close(m_fd);
}

void PartialClip::truncate() {
    if (ftruncate(m_fd, 0) != 0) qCDebug(lcExport) << "cannot empty" << m_path << reason(errno);
}

Result<QString> PartialClip::publish() {
    // The data must be on disk before the name says the clip is complete.
    if (fsync(m_fd) != 0) {
        const int code = errno;
        return platformError(QStringLiteral("could not write the clip (%1)").arg(reason(code)), code);
    }
    const QByteArray from = QFile::encodeName(m_path);
    const QString base = QDir(m_folder).filePath(QStringLiteral("replay-") + m_stamp);
    for (int n = 1; n <= 1000; ++n) {
        const QString target =
            n == 1 ? base + QStringLiteral(".mp4") : base + QStringLiteral("-%1.mp4").arg(n);
        const int code = renameNoReplace(from, QFile::encodeName(target));
        if (code == EEXIST) continue;
        if (code != 0)
            return platformError(QStringLiteral("could not name the clip (%1)").arg(reason(code)), code);
        m_published = true;
        // And the new name before anyone is told of it.
        if (const int dir =
                ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            dir >= 0) {
            fsync(dir);
            ::close(dir);
        }
        return target;
    }
    return platformError(QStringLiteral("could not find a free clip name in %1").arg(shownPath(m_folder)));
}

void PartialClip::removeLeftovers(const QString& folder) {
    const QStringList names = QDir(folder).entryList({prefix + QLatin1Char('*') + suffix},
                                                     QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            qCDebug(lcExport) << "removing the unfinished clip" << name;
            unlink(path.constData());
        }
        ::close(fd);
    }
}
