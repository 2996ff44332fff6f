#include "DBusTestBus.h"
#include "platform/linux/dbus/DBusScreenLockMonitor.h"
#include "support/TestEnvironment.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>

namespace {

const QString logind = QStringLiteral("org.freedesktop.login1");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

QString sessionPath(const QString& id) {
    return QStringLiteral("/org/freedesktop/login1/session/") + id;
}

} // namespace

// The lock sources are python3-dbusmock services on private buses: an org.freedesktop.ScreenSaver,
// gnome-shell's screen saver, and logind with the sessions c1 (ours when XDG_SESSION_ID says so), c2
// (someone else's) and auto.
class ScreenLockMonitorTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void reports_data();
    void reports();
    void withoutSources();

private:
    // "freedesktop true", "kde false", "gnome true": ActiveChanged from that screen saver (KDE's comes
    // from its second path); "c1 Lock": a session's signal; "c1 LockedHint true": a session's property.
    QDBusMessage play(const QString& event);

    Child m_sessionDaemon, m_systemDaemon, m_freedesktop, m_gnome, m_logind;
    QDBusConnection m_session{QString()}, m_system{QString()};
};

void ScreenLockMonitorTest::initTestCase() {
    const QString session = startBus(m_sessionDaemon);
    const QString system = startBus(m_systemDaemon);
    QVERIFY2(!session.isEmpty() && !system.isEmpty(), "dbus-daemon did not start (scripts/install-deps)");
    const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
    QVERIFY2(startMock(m_freedesktop, session, false, freedesktop,
                       {freedesktop, QStringLiteral("/org/freedesktop/ScreenSaver"), freedesktop}) &&
                 startMock(m_gnome, session, false, QStringLiteral("org.gnome.ScreenSaver"),
                           {QStringLiteral("-t"), QStringLiteral("gnome_screensaver")}) &&
                 startMock(m_logind, system, true, logind, {QStringLiteral("-t"), QStringLiteral("logind")}),
             "python3-dbusmock did not start (scripts/install-deps)");
    m_session = QDBusConnection::connectToBus(session, QStringLiteral("session"));
    m_system = QDBusConnection::connectToBus(system, QStringLiteral("system"));
    for (const QString id : {"c1", "c2", "auto"}) {
        QDBusMessage add = QDBusMessage::createMethodCall(logind, QStringLiteral("/org/freedesktop/login1"),
                                                          mockInterface, QStringLiteral("AddSession"));
        add << id << QStringLiteral("seat0") << 1000u << QStringLiteral("user") << true;
        QCOMPARE(m_system.call(add).errorMessage(), QString());
    }
}

QDBusMessage ScreenLockMonitorTest::play(const QString& event) {
    // Screen saver: its service and interface, its object, the path the signal comes from.
    static const QHash<QString, QStringList> savers{
        {"freedesktop",
         {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "/org/freedesktop/ScreenSaver"}},
        {"kde", {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "/ScreenSaver"}},
        {"gnome", {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "/org/gnome/ScreenSaver"}},
    };
    const QStringList words = event.split(QLatin1Char(' '));
    const bool value = words.last() == QLatin1String("true");
    if (const auto saver = savers.constFind(words[0]); saver != savers.cend()) {
        QDBusMessage activeChanged = QDBusMessage::createMethodCall(saver->at(0), saver->at(1), mockInterface,
                                                                    QStringLiteral("EmitSignalDetailed"));
        activeChanged << saver->at(0) << QStringLiteral("ActiveChanged") << QStringLiteral("b")
                      << QVariantList{QVariant::fromValue(QDBusVariant(value))}
                      << QVariantMap{{QStringLiteral("path"), saver->at(2)}};
        return m_session.call(activeChanged);
    }
    const bool signal = words.size() == 2;
    QDBusMessage change = QDBusMessage::createMethodCall(logind, sessionPath(words[0]), mockInterface,
                                                         signal ? QStringLiteral("EmitSignal")
                                                                : QStringLiteral("UpdateProperties"));
    if (signal)
        change << sessionInterface << words[1] << QString() << QVariantList();
    else
        change << sessionInterface << QVariantMap{{words[1], value}};
    return m_system.call(change);
}

void ScreenLockMonitorTest::reports_data() {
    QTest::addColumn<QString>("sessionId");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("expected");

    const QString c1 = QStringLiteral("c1");
    const QStringList both{QStringLiteral("locked"), QStringLiteral("unlocked")};
    QTest::newRow("freedesktop") << c1 << QStringList{"freedesktop true", "freedesktop false"} << both;
    QTest::newRow("kde's second path") << c1 << QStringList{"kde true", "kde false"} << both;
    QTest::newRow("gnome") << c1 << QStringList{"gnome true", "gnome false"} << both;
    QTest::newRow("logind signals") << c1 << QStringList{"c1 Lock", "c1 Unlock"} << both;
    QTest::newRow("logind hint") << c1 << QStringList{"c1 LockedHint true", "c1 LockedHint false"} << both;
    QTest::newRow("another property")
        << c1 << QStringList{"c1 LockedHint true", "c1 IdleHint false"} << QStringList{"locked"};
    QTest::newRow("another session") << c1 << QStringList{"c2 Lock", "c2 LockedHint true"} << QStringList{};
    QTest::newRow("auto session") << QString() << QStringList{"auto Lock"} << QStringList{"locked"};
    QTest::newRow("every source at once")
        << c1 << QStringList{"freedesktop false", "freedesktop true",    "gnome true",
                             "c1 Lock",           "c1 LockedHint true",  "c1 Unlock",
                             "gnome false",       "c1 LockedHint false", "freedesktop false"}
        << both;
}

void ScreenLockMonitorTest::reports() {
    QFETCH(QString, sessionId);
    QFETCH(QStringList, events);
    QFETCH(QStringList, expected);

    DBusScreenLockMonitor monitor(m_session, m_system, sessionId);
    QStringList reports;
    connect(&monitor, &ScreenLockMonitor::locked, this, [&] { reports << QStringLiteral("locked"); });
    connect(&monitor, &ScreenLockMonitor::unlocked, this, [&] { reports << QStringLiteral("unlocked"); });
    QTRY_COMPARE(monitor.logindSession(),
                 sessionPath(sessionId.isEmpty() ? QStringLiteral("auto") : sessionId));
    // Every source emits before it replies, on the connections the monitor uses, so all that an event
    // causes is queued on this thread by the time its call returns.
    for (const QString& event : std::as_const(events)) {
        QCOMPARE(play(event).errorMessage(), QString());
        QCoreApplication::processEvents();
    }
    QCOMPARE(reports, expected);
}

// A session bus without screen savers and no system bus at all, as on a bare window manager.
void ScreenLockMonitorTest::withoutSources() {
    Child daemon;
    const QString session = startBus(daemon);
    DBusScreenLockMonitor monitor(QDBusConnection::connectToBus(session, session),
                                  QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                                QStringLiteral("nowhere")),
                                  QStringLiteral("c1"));
    QSignalSpy locked(&monitor, &ScreenLockMonitor::locked);
    QSignalSpy unlocked(&monitor, &ScreenLockMonitor::unlocked);
    QTest::qWait(100);
    QCOMPARE(locked.count() + unlocked.count(), 0);
}

FERROVANE_TEST_MAIN(ScreenLockMonitorTest)
#include "tst_screenlockmonitor.moc"
