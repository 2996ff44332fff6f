#include "platform/linux/desktop/DesktopFileOpener.h"

#include "base/Logging.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <unistd.h>

namespace {

const QString openUri = QStringLiteral("org.freedesktop.portal.OpenURI");
// The portal may let the user pick an application first; nothing waits for that.
constexpr int portalTimeoutMs = 10 * 60 * 1000;
constexpr int fileManagerTimeoutMs = 3000;

// What xdg-open's exit status means (xdg-utils' documented codes), when it says nothing better.
QString xdgOpenFailure(int code) {
    switch (code) {
    case 2:
        return QStringLiteral("the file does not exist");
    case 3:
        return QStringLiteral("a tool xdg-open needs is missing");
    case 4:
        return QStringLiteral("no application could open it");
    default:
        return QStringLiteral("xdg-open failed with status %1").arg(code);
    }
}

} // namespace

DesktopFileOpener::DesktopFileOpener(QDBusConnection bus)
    : m_bus(std::move(bus)) {}

void DesktopFileOpener::openFile(const QString& path, Done done) {
    throughPortal(path, Target::File, std::move(done));
}

void DesktopFileOpener::openFolder(const QString& path, Done done) {
    if (!QDir().mkpath(path)) qCDebug(lcApp) << "could not create" << path;
    throughPortal(path, Target::Folder, std::move(done));
}

void DesktopFileOpener::reveal(const QString& path, Done done) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(path) || !m_bus.isConnected()) return openFolder(folder, std::move(done));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Without a file manager on the bus the call fails at once (or times out): the folder opens instead.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, fileManagerTimeoutMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, watcher, folder, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         if (!watcher->isError()) return done(Ok{});
                         qCDebug(lcApp) << "no file manager answered:" << watcher->error().message();
                         openFolder(folder, std::move(done));
                     });
}

void DesktopFileOpener::throughPortal(const QString& path, Target target, Done done) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC);
    if (!m_bus.isConnected() || fd < 0) {
        if (fd >= 0) ::close(fd);
        return throughXdgOpen(path, std::move(done));
    }
    const QDBusUnixFileDescriptor handle(fd); // holds a duplicate
    ::close(fd);
    auto pending = std::make_shared<std::unique_ptr<PortalRequest::Pending>>();
    *pending = PortalRequest::call(
        m_bus, openUri, target == Target::File ? QStringLiteral("OpenFile") : QStringLiteral("OpenDirectory"),
        {QString(), QVariant::fromValue(handle)}, {}, portalTimeoutMs,
        [this, pending, path, done = std::move(done)](const Result<QVariantMap>& answer) mutable {
            pending->reset();
            // The user closing the portal's application chooser is an answer too.
            if (answer || answer.error().category == PortalRequest::cancelledCategory) return done(Ok{});
            qCDebug(lcApp) << "the desktop's portal did not open" << path << ":" << answer.error().message;
            throughXdgOpen(path, std::move(done));
        });
}

void DesktopFileOpener::throughXdgOpen(const QString& path, Done done) {
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::MergedChannels);
    // The application blocks the signals it reads from a signalfd in every thread. The mask passes through
    // exec, and xdg-open and the viewer it starts must still end on Ctrl+C or a log-out.
    process->setChildProcessModifier([] {
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
    });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         process->deleteLater();
                         done(platformError(QStringLiteral("xdg-open is not installed"), ENOENT));
                     });
    QObject::connect(
        process, &QProcess::finished, process, [process, done](int code, QProcess::ExitStatus status) {
            process->deleteLater();
            // Its own chatter (a dozen lines when no application fits) is for the debug log only.
            for (const QByteArray& line : process->readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    qCDebug(lcApp).noquote() << "xdg-open:" << QString::fromLocal8Bit(line);
            if (status == QProcess::NormalExit && code == 0) return done(Ok{});
            done(platformError(status == QProcess::NormalExit ? xdgOpenFailure(code)
                                                              : QStringLiteral("xdg-open crashed")));
        });
    process->start(QStringLiteral("xdg-open"), {path});
}
