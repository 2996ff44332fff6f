#include "platform/linux/DesktopWorkspace.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

void DesktopWorkspace::openFile(const QString& path) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        qCWarning(lcApp) << "no application opened" << path;
}

void DesktopWorkspace::reveal(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!QFileInfo::exists(path) || !bus.isConnected()) return openFolder(folder);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Without a file manager on the bus the call fails at once (or times out): show the folder then.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [this, watcher, folder] {
        if (watcher->isError()) {
            qCDebug(lcApp) << "no file manager answered:" << watcher->error().message();
            openFolder(folder);
        }
        watcher->deleteLater();
    });
}

void DesktopWorkspace::openFolder(const QString& path) {
    if (!QDir().mkpath(path)) qCDebug(lcApp) << "could not create" << path;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        qCWarning(lcApp) << "no file manager opened" << path;
}
