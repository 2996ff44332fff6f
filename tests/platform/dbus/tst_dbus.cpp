#include "platform/linux/dbus/DBusControlChannel.h"
#include "platform/linux/dbus/DBusScreenLockMonitor.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>

namespace {

const QString nowhere = QStringLiteral("unix:path=/nonexistent/bus");
const QString mock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString logind = QStringLiteral("org.freedesktop.login1");
const QString sessions = QStringLiteral("/org/freedesktop/login1/session/");
const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
const QString gnome = QStringLiteral("org.gnome.ScreenSaver");

// Where the running instance is, for another launch.
enum Instance { Here, Nowhere, NoBus };

} // namespace

// logind is python3-dbusmock's, with the sessions c1 (ours when XDG_SESSION_ID says so), c2 (someone
// else's) and auto. Other launches are the application itself.
class DBusTest : public QObject {
    Q_OBJECT

    Child m_sessionDaemon, m_systemDaemon, m_logind;
    QString m_sessionBus;
    QDBusConnection m_session{QString()}, m_system{QString()};

    // "gnome true": ActiveChanged from that screen saver ("kde": the freedesktop one on its second path);
    // "c1 Lock": a logind session's signal; "c1 LockedHint true": its property.
    QDBusMessage play(const QString& event) {
        static const QHash<QString, QString> savers{{"freedesktop", "/org/freedesktop/ScreenSaver"},
                                                    {"kde", "/ScreenSaver"},
                                                    {"gnome", "/org/gnome/ScreenSaver"}};
        const QStringList words = event.split(QLatin1Char(' '));
        const bool value = words.last() == QLatin1String("true");
        if (savers.contains(words[0])) {
            const QString service = words[0] == QLatin1String("gnome") ? gnome : freedesktop;
            m_session.send(QDBusMessage::createSignal(savers[words[0]], service, "ActiveChanged") << value);
            return m_session.interface()->call(QStringLiteral("GetId"));
        }
        const bool signal = words.size() == 2;
        QDBusMessage call = QDBusMessage::createMethodCall(logind, sessions + words[0], mock,
                                                           signal ? "EmitSignal" : "UpdateProperties");
        call << "org.freedesktop.login1.Session";
        if (signal)
            call << words[1] << QString() << QVariantList();
        else
            call << QVariantMap{{words[1], value}};
        return m_system.call(call);
    }

private slots:
    void initTestCase() {
        m_sessionBus = startBus(m_sessionDaemon);
        const QString systemBus = startBus(m_systemDaemon);
        QVERIFY2(!m_sessionBus.isEmpty() && !systemBus.isEmpty(), "no dbus-daemon (scripts/install-deps)");
        // For the children too: the mock and the application.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionBus.toUtf8());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus.toUtf8());
        m_session = QDBusConnection::connectToBus(m_sessionBus, QStringLiteral("session"));
        m_system = QDBusConnection::connectToBus(systemBus, QStringLiteral("system"));
        // Debian's interpreter by path: python3-dbusmock is installed for it, and PATH may lead elsewhere.
        m_logind.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--system", "-t", "logind"});
        QTRY_VERIFY2_WITH_TIMEOUT(m_system.interface()->isServiceRegistered(logind),
                                  "no python3-dbusmock (scripts/install-deps)", 15000);
        // The screen savers' names are this test's own; it emits their signals itself.
        QVERIFY(m_session.registerService(freedesktop) && m_session.registerService(gnome));
        for (const QString id : {"c1", "c2", "auto"}) {
            QDBusMessage add =
                QDBusMessage::createMethodCall(logind, "/org/freedesktop/login1", mock, "AddSession");
            add << id << "seat0" << 1000u << "user" << true;
            QCOMPARE(m_system.call(add).errorMessage(), QString());
        }
    }

    void lockReports_data() {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("expected");
        const QStringList both{"locked", "unlocked"};
        QTest::newRow("freedesktop") << "c1" << QStringList{"freedesktop true", "freedesktop false"} << both;
        QTest::newRow("kde's second path") << "c1" << QStringList{"kde true", "kde false"} << both;
        QTest::newRow("gnome") << "c1" << QStringList{"gnome true", "gnome false"} << both;
        QTest::newRow("logind signals") << "c1" << QStringList{"c1 Lock", "c1 Unlock"} << both;
        QTest::newRow("logind hint") << "c1" << QStringList{"c1 LockedHint true", "c1 LockedHint false"}
                                     << both;
        QTest::newRow("another property")
            << "c1" << QStringList{"c1 LockedHint true", "c1 IdleHint false"} << QStringList{"locked"};
        QTest::newRow("another session")
            << "c1" << QStringList{"c2 Lock", "c2 LockedHint true"} << QStringList{};
        QTest::newRow("auto session") << "" << QStringList{"auto Lock"} << QStringList{"locked"};
        QTest::newRow("every source at once")
            << "c1" << QStringList{"freedesktop false", "freedesktop true",    "gnome true",
                                   "c1 Lock",           "c1 LockedHint true",  "c1 Unlock",
                                   "gnome false",       "c1 LockedHint false", "freedesktop false"}
            << both;
    }
    void lockReports() {
        QFETCH(QString, sessionId);
        QFETCH(QStringList, events);
        QFETCH(QStringList, expected);
        DBusScreenLockMonitor monitor(m_session, m_system, sessionId);
        QStringList reports;
        connect(&monitor, &ScreenLockMonitor::locked, this, [&] { reports << QStringLiteral("locked"); });
        connect(&monitor, &ScreenLockMonitor::unlocked, this, [&] { reports << QStringLiteral("unlocked"); });
        QTRY_COMPARE(monitor.logindSession(),
                     sessions + (sessionId.isEmpty() ? QStringLiteral("auto") : sessionId));
        // Each event ends with a round trip on the bus of the connection the monitor uses, so all that it
        // causes is queued on this thread by the time play() returns.
        for (const QString& event : std::as_const(events)) {
            QCOMPARE(play(event).errorMessage(), QString());
            QCoreApplication::processEvents();
        }
        QCOMPARE(reports, expected);
    }

    // A bare bus as on a plain window manager, and no bus at all: no reports, no crash.
    void lockWithoutSources() {
        Child daemon;
        const QDBusConnection bare = QDBusConnection::connectToBus(startBus(daemon), QStringLiteral("bare"));
        const QDBusConnection none = QDBusConnection::connectToBus(nowhere, QStringLiteral("nowhere"));
        DBusScreenLockMonitor withoutSources(bare, bare, QString()), withoutBus(none, none, QString());
        QSignalSpy locked(&withoutSources, &ScreenLockMonitor::locked);
        QSignalSpy unlocked(&withoutSources, &ScreenLockMonitor::unlocked);
        QTest::qWait(100);
        QCOMPARE(locked.count() + unlocked.count(), 0);
    }

    // The bus hands the name to one connection at a time; the claim lasts as long as the channel. The
    // instance lock outlasts a bus: a launch that cannot reach the holder on its bus starts nothing and
    // names the holder, and one with no bus at all runs alone only while nobody holds the lock.
    void claims() {
        std::optional<DBusControlChannel> first(
            QDBusConnection::connectToBus(m_sessionBus, QStringLiteral("first")));
        std::optional<DBusControlChannel> second(
            QDBusConnection::connectToBus(m_sessionBus, QStringLiteral("second")));
        QCOMPARE(first->claim({}), ClaimOutcome::Claimed);
        QCOMPARE(second->claim({}), ClaimOutcome::AlreadyRunning);
        first.reset();
        QCOMPARE(second->claim({}), ClaimOutcome::Claimed);
        DBusControlChannel unreachable(QDBusConnection::connectToBus(nowhere, QStringLiteral("nowhere")));
        QCOMPARE(unreachable.claim({}), ClaimOutcome::Unreachable);
        QCOMPARE(unreachable.runningProcess(), QCoreApplication::applicationPid());
        second.reset();
        QCOMPARE(unreachable.claim({}), ClaimOutcome::NoBus);
    }

    void commands_data() {
        QTest::addColumn<QString>("option"); // empty: a plain launch
        QTest::addColumn<Instance>("instance");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err"); // exit code 1 with it, else 0
        QTest::addColumn<QString>("handled");
        const QString none, notRunning = QStringLiteral("Ferrovane is not running.\n");
        QTest::newRow("save") << "--save" << Here << "/clips/replay.mp4\n" << none << "save";
        QTest::newRow("toggle pause") << "--toggle-pause" << Here << none << none << "togglePause";
        QTest::newRow("status") << "--status" << Here << "state: paused\nbuffered: 0.0\n" << none << "status";
        QTest::newRow("quit") << "--quit" << Here << none << none << "quit";
        QTest::newRow("locked") << "--locked" << Here << none << none << "locked";
        QTest::newRow("unlocked") << "--unlocked" << Here << none << none << "unlocked";
        QTest::newRow("second launch peeks") << none << Here << none << none << "peek";
        QTest::newRow("nothing running") << "--status" << Nowhere << none << notRunning << none;
        QTest::newRow("no bus") << "--save" << NoBus << none << notRunning << none;
    }
    void commands() {
        QFETCH(QString, option);
        QFETCH(Instance, instance);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, handled);
        QStringList handledHere;
        const auto note = [&](const char* name) { return [&, name] { handledHere << QLatin1String(name); }; };
        const ControlHandlers handlers{
            .save =
                [&](ControlHandlers::SaveReply reply) {
                    note("save")();
                    reply(QStringLiteral("/clips/replay.mp4"));
                },
            .togglePause = note("togglePause"),
            .quit = note("quit"),
            .peek = note("peek"),
            .status =
                [&] {
                    note("status")();
                    return QStringLiteral("state: paused\nbuffered: 0.0");
                },
            .locked = note("locked"),
            .unlocked = note("unlocked"),
        };
        DBusControlChannel channel(QDBusConnection::connectToBus(m_sessionBus, QStringLiteral("instance")));
        if (instance == Here) QCOMPARE(channel.claim(handlers), ClaimOutcome::Claimed);
        Child launch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (instance == NoBus) environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), nowhere);
        launch.setProcessEnvironment(environment);
        launch.start(QStringLiteral(FERROVANE), option.isEmpty() ? QStringList() : QStringList{option});
        // Waits with this thread's event loop turning, so the instance claimed here answers meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(launch.state(), QProcess::NotRunning, 10000);
        QCOMPARE(launch.exitCode(), err.isEmpty() ? 0 : 1);
        QCOMPARE(QString::fromLocal8Bit(launch.readAllStandardOutput()), out);
        QCOMPARE(QString::fromLocal8Bit(launch.readAllStandardError()), err);
        // The caller is answered first; the command runs on this thread's next turn.
        QTRY_COMPARE(handledHere.join(QLatin1Char(',')), handled);
    }
};

FERROVANE_TEST_MAIN(DBusTest)
#include "tst_dbus.moc"
