#include "platform/linux/dbus/DBusScreenLockMonitor.h"

#include "platform/linux/dbus/DBusLogging.h"
#include "platform/linux/dbus/LogindSession.h"

namespace {

const QString logind = QStringLiteral("org.freedesktop.login1");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString lockedHint = QStringLiteral("LockedHint");

} // namespace

DBusScreenLockMonitor::DBusScreenLockMonitor(const QDBusConnection& sessionBus,
                                             const QDBusConnection& systemBus, const QString& sessionId,
                                             QObject* parent)
    : ScreenLockMonitor(parent)
    , m_systemBus(systemBus) {
    if (sessionBus.isConnected()) {
        QDBusConnection bus = sessionBus;
        for (const QString& service :
             {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver")}) {
            // Any path: KDE announces on /ScreenSaver as well as on /org/freedesktop/ScreenSaver. The
            // service need not exist yet; the subscription follows whoever takes the name later.
            bus.connect(service, QString(), service, QStringLiteral("ActiveChanged"), this,
                        SLOT(screenSaverActiveChanged(bool)));
        }
    }
    if (!m_systemBus.isConnected()) return;
    LogindSession::find(m_systemBus, sessionId, this, [this](Result<QString> path) {
        if (path)
            watchSession(path.value());
        else
            qCInfo(lcDbus) << "no logind session to follow:" << path.error().message;
    });
}

void DBusScreenLockMonitor::watchSession(const QString& path) {
    m_sessionPath = path;
    m_systemBus.connect(logind, path, sessionInterface, QStringLiteral("Lock"), this, SLOT(sessionLocked()));
    m_systemBus.connect(logind, path, sessionInterface, QStringLiteral("Unlock"), this,
                        SLOT(sessionUnlocked()));
    m_systemBus.connect(logind, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), {sessionInterface}, QString(), this,
                        SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    qCDebug(lcDbus) << "following the lock of logind session" << path;
}

void DBusScreenLockMonitor::screenSaverActiveChanged(bool active) {
    setLocked(active);
}

void DBusScreenLockMonitor::sessionLocked() {
    setLocked(true);
}

void DBusScreenLockMonitor::sessionUnlocked() {
    setLocked(false);
}

void DBusScreenLockMonitor::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                     const QStringList&) {
    const auto hint = changed.constFind(lockedHint);
    if (interface == sessionInterface && hint != changed.cend()) setLocked(hint->toBool());
}

void DBusScreenLockMonitor::setLocked(bool nowLocked) {
    // A desktop announces one lock through several of these sources, so only changes are reported.
    if (nowLocked == m_locked) return;
    m_locked = nowLocked;
    if (nowLocked)
        emit locked();
    else
        emit unlocked();
}
