#pragma once

#include "platform/ScreenLockMonitor.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Listens to every lock source a Linux desktop may offer, each optional: ActiveChanged of the
// org.freedesktop.ScreenSaver and org.gnome.ScreenSaver services on the session bus, and on the system bus
// the Lock and Unlock signals and the LockedHint property of this process's logind session. A bus that is
// not connected contributes nothing. Main thread only.
class DBusScreenLockMonitor final : public ScreenLockMonitor {
    Q_OBJECT
public:
    // `sessionId` is logind's id of the login session (XDG_SESSION_ID), empty when unknown.
    DBusScreenLockMonitor(const QDBusConnection& sessionBus, const QDBusConnection& systemBus,
                          const QString& sessionId, QObject* parent = nullptr);

    // The logind session followed; empty until it is found, and when there is none.
    QString logindSession() const { return m_sessionPath; }

private slots:
    void screenSaverActiveChanged(bool active);
    void sessionLocked();
    void sessionUnlocked();
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);

private:
    void watchSession(const QString& path);
    void setLocked(bool nowLocked);

    QDBusConnection m_systemBus;
    QString m_sessionPath;
    // Unlocked until told otherwise: a launch behind the lock screen is unusual, and its unlock then
    // just goes unreported.
    bool m_locked = false;
};
