#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// A child process that ends with the object.
struct Child : QProcess {
    ~Child() override {
        kill();
        waitForFinished(3000);
    }
};

// Starts a dbus-daemon of the test's own with the session bus's configuration, so no test reaches the
// user's buses; another one stands in for the system bus. Returns its address, empty when it failed.
inline QString startBus(QProcess& daemon) {
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address")});
    QDeadlineTimer deadline(10000);
    while (!daemon.canReadLine() && daemon.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return QString::fromLatin1(daemon.readLine().trimmed());
}

// Starts python3-dbusmock with its `arguments` on the bus at `address` and waits until it owns `name`.
inline bool startMock(QProcess& mock, const QString& address, bool systemBus, const QString& name,
                      const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(systemBus ? QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS")
                                 : QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       address);
    mock.setProcessEnvironment(environment);
    // Debian's interpreter by path: python3-dbusmock is installed for it, and PATH may lead elsewhere.
    mock.start(QStringLiteral("/usr/bin/python3"),
               QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                           systemBus ? QStringLiteral("--system") : QStringLiteral("--session")} +
                   arguments);
    QDBusConnection probe = QDBusConnection::connectToBus(address, address);
    QDeadlineTimer deadline(15000);
    while (!probe.interface()->isServiceRegistered(name)) {
        if (mock.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
        QTest::qWait(20);
    }
    return true;
}
