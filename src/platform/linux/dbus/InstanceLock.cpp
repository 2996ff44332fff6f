#include "platform/linux/dbus/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

QString InstanceLock::standardPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/io.github.ferrovane.Ferrovane.lock");
    return QDir::tempPath() + QStringLiteral("/io.github.ferrovane.Ferrovane-%1.lock").arg(geteuid());
}

InstanceLock::InstanceLock(QString path)
    : m_path(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd); // drops the lock; the file stays for the next holder
}

bool InstanceLock::acquire() {
    if (m_fd >= 0) return true;
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return true; // no place for a lock: nothing to contend for, run as before
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(getpid())) + '\n';
    if (ftruncate(fd, 0) == 0) [[maybe_unused]]
        ssize_t written = pwrite(fd, pid.constData(), size_t(pid.size()), 0);
    m_fd = fd;
    return true;
}

pid_t InstanceLock::holder() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    return pid_t(file.readLine().trimmed().toLongLong());
}
