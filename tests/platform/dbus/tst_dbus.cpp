#include "app/SignalWatcher.h"
#include "platform/linux/dbus/DBusControlChannel.h"
#include "platform/linux/dbus/DBusScreenLockMonitor.h"
#include "platform/linux/desktop/DesktopFileOpener.h"
#include "platform/linux/portal/PortalAppearance.h"
#include "platform/linux/portal/PortalGlobalShortcut.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QScopeGuard>

#include <csignal>
#include <pthread.h>

namespace {

const QString nowhere = QStringLiteral("unix:path=/nonexistent/bus");
const QString mock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString logind = QStringLiteral("org.freedesktop.login1");
const QString sessions = QStringLiteral("/org/freedesktop/login1/session/");
const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
const QString gnome = QStringLiteral("org.gnome.ScreenSaver");
const QString desktop = QStringLiteral("/org/freedesktop/portal/desktop");
const QString fileManager = QStringLiteral("org.freedesktop.FileManager1");

// The desktop portal as xdg-desktop-portal answers. Settings: Read gives the value in a variant in a
// variant. GlobalShortcuts: a request handle at once, the Response on it a moment later, Activated on the
// portal object.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection& bus)
        : m_bus(bus) {}
    QStringList calls;
    QString trigger, session;
    uint bindResponse = 0;
    uint scheme = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls << message.member();
        if (message.member() == "Get" || message.member() == "Read") {
            // The interface's version, or the setting read; anything but the colour scheme is unset.
            const bool colorScheme =
                message.arguments() == QVariantList{"org.freedesktop.appearance", "color-scheme"};
            const QVariant value = message.member() == "Get"
                                       ? QVariant(1u)
                                       : QVariant::fromValue(QDBusVariant(colorScheme ? scheme : 0u));
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().last());
        const QString sender = message.service().mid(1).replace('.', '_');
        const QString request = "/org/freedesktop/portal/desktop/request/" + sender + "/" +
                                options.value("handle_token").toString();
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        uint code = 0;
        if (message.member() == "CreateSession") {
            session = "/org/freedesktop/portal/desktop/session/" + sender + "/" +
                      options.value("session_handle_token").toString();
            results.insert("session_handle", session);
        } else {
            const QDBusArgument list = message.arguments().at(1).value<QDBusArgument>();
            list.beginArray();
            QString id;
            QVariantMap properties;
            list.beginStructure();
            list >> id >> properties;
            list.endStructure();
            trigger = id + " " + properties.value("description").toString() + " " +
                      properties.value("preferred_trigger").toString();
            code = bindResponse;
        }
        QDBusMessage response =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        response << code << results;
        m_bus.send(response);
        return true;
    }
    void activate(const QString& id) {
        QDBusMessage signal =
            QDBusMessage::createSignal(desktop, "org.freedesktop.portal.GlobalShortcuts", "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(signal);
    }

private:
    QDBusConnection& m_bus;
};

} // namespace

// The desktop's services on dbus-daemons of the test's own, so nothing reaches the user's buses. logind is
// python3-dbusmock's, with the sessions c1 (ours when XDG_SESSION_ID says so), c2 (someone else's) and auto;
// the screen savers and the portals are played by the test itself, xdg-open by stand-ins on PATH, and
// other launches are the application itself.
class DBusTest : public QObject {
    Q_OBJECT

    Child m_sessionDaemon, m_systemDaemon, m_logind, m_fileManager;
    QString m_sessionBus;
    QDBusConnection m_session{QString()}, m_system{QString()};
    std::optional<FakePortal> m_portal;
    QTemporaryDir m_bin;
    QString m_clip;

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
    void servePortal() {
        QVERIFY(m_session.registerVirtualObject(desktop, &*m_portal));
        QVERIFY(m_session.registerService("org.freedesktop.portal.Desktop"));
    }
    // Runs one of the file opener's operations and returns its answer.
    static Status answer(const std::function<void(FileOpener::Done)>& operation) {
        std::optional<Status> answered;
        operation([&](const Status& status) { answered = status; });
        if (!QTest::qWaitFor([&] { return answered.has_value(); }, 10000)) return platformError("no answer");
        return *answered;
    }
    void installXdgOpen(const QByteArray& script) {
        const QString path = m_bin.filePath("xdg-open");
        QFile::remove(path);
        if (script.isEmpty()) return;
        writeFile(path, script.startsWith("#!") ? script : "#!/bin/sh\n" + script);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
        qputenv("PATH", (m_bin.path() + ":/usr/bin:/bin").toLocal8Bit());
        m_clip = QDir::home().filePath("replay.mp4");
        writeFile(m_clip, "not a movie");
    }
    void init() { m_portal.emplace(m_session); }
    void cleanup() {
        m_session.unregisterService("org.freedesktop.portal.Desktop");
        m_session.unregisterObject(desktop);
        m_portal.reset();
    }

    void lockReports_data() {
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("expected");
        const QStringList both{"locked", "unlocked"};
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

    // No bus at all: nothing to follow, and no crash. (A bare one, as on a plain window manager, is every
    // desktop test's, where a report would pause the recording.)
    void lockWithoutBus() {
        const QDBusConnection none = QDBusConnection::connectToBus(nowhere, QStringLiteral("nowhere"));
        DBusScreenLockMonitor monitor(none, none, QString());
        QTest::qWait(100);
        QCOMPARE(monitor.logindSession(), QString());
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

    // A second launch shows the running instance's panel and leaves, answered before the panel shows;
    // with nobody to ask, a command says so. (Each command's way into the application is tested end to end.)
    void commands_data() {
        QTest::addColumn<QString>("option"); // empty: a plain launch
        QTest::addColumn<QString>("err");    // exit code 1 with it, and no instance; else 0, and one here
        QTest::addColumn<QString>("handled");
        QTest::newRow("second launch peeks") << QString() << QString() << "peek";
        QTest::newRow("nothing running") << "--status" << QString("Ferrovane is not running.\n") << QString();
    }
    void commands() {
        QFETCH(QString, option);
        QFETCH(QString, err);
        QFETCH(QString, handled);
        QString handledHere;
        DBusControlChannel channel(QDBusConnection::connectToBus(m_sessionBus, QStringLiteral("instance")));
        ControlHandlers handlers;
        handlers.peek = [&] { handledHere = "peek"; };
        if (err.isEmpty()) QCOMPARE(channel.claim(handlers), ClaimOutcome::Claimed);
        Child launch;
        launch.start(QStringLiteral(FERROVANE), option.isEmpty() ? QStringList() : QStringList{option});
        // Waits with this thread's event loop turning, so the instance claimed here answers meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(launch.state(), QProcess::NotRunning, 10000);
        QCOMPARE(launch.exitCode(), err.isEmpty() ? 0 : 1);
        QCOMPARE(launch.readAllStandardOutput(), QByteArray());
        QCOMPARE(QString::fromLocal8Bit(launch.readAllStandardError()), err);
        // The caller is answered first; the command runs on this thread's next turn.
        QTRY_COMPARE(handledHere, handled);
    }

    void followsTheColorScheme_data() {
        QTest::addColumn<uint>("atStart");
        QTest::addColumn<QString>("key"); // of a SettingChanged to 1 in org.freedesktop.appearance
        QTest::addColumn<QList<bool>>("seen");
        QTest::newRow("dark") << 1u << QString() << QList<bool>{true};
        QTest::newRow("light, then dark") << 2u << "color-scheme" << QList<bool>{true};
        QTest::newRow("another setting") << 0u << "accent-color" << QList<bool>{};
    }
    void followsTheColorScheme() {
        QFETCH(uint, atStart);
        QFETCH(QString, key);
        QFETCH(QList<bool>, seen);
        m_portal->scheme = atStart;
        servePortal();
        PortalAppearance appearance(m_session); // the bus routes our own signals back to us, as any other's
        QList<bool> changes;
        connect(&appearance, &Appearance::changed, [&] { changes << appearance.prefersDark(); });
        QTest::qWait(200); // the first answer
        if (!key.isEmpty()) {
            auto signal =
                QDBusMessage::createSignal(desktop, "org.freedesktop.portal.Settings", "SettingChanged");
            m_session.send(signal << "org.freedesktop.appearance" << key
                                  << QVariant::fromValue(QDBusVariant(1u)));
            QTest::qWait(200);
        }
        QCOMPARE(changes, seen);
    }

    // Ctrl+Alt+R's notation is checked as it is bound, below.
    void trigger() {
        QCOMPARE(
            PortalGlobalShortcut::trigger(QKeyCombination(Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_F5)),
            "SHIFT+LOGO+F5");
    }

    // Bound in the background; only our own shortcut in our own session saves.
    void bindsAndFires_data() {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<uint>("bindResponse");
        QTest::addColumn<int>("presses");
        QTest::newRow("bound") << true << 0u << 1;
        QTest::newRow("user declined") << true << 1u << 0;
        QTest::newRow("no portal") << false << 0u << 0;
    }
    void bindsAndFires() {
        QFETCH(bool, portal);
        QFETCH(uint, bindResponse);
        QFETCH(int, presses);
        m_portal->bindResponse = bindResponse;
        if (portal) servePortal();
        int pressed = 0;
        {
            PortalGlobalShortcut shortcut(QDBusConnection::connectToBus(m_sessionBus, "app"));
            const Status registered = shortcut.registerShortcut(
                QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_R), [&] { ++pressed; });
            QCOMPARE(bool(registered), portal);
            if (portal) {
                QTRY_COMPARE(m_portal->calls, (QStringList{"Get", "CreateSession", "BindShortcuts"}));
                QCOMPARE(m_portal->trigger, "save-replay Save replay CTRL+ALT+r");
                QTest::qWait(200);
                m_portal->activate("something-else");
                m_portal->activate("save-replay");
                QTest::qWait(200);
            }
            QCOMPARE(pressed, presses);
        }
        QDBusConnection::disconnectFromBus("app");
    }

    // Its own exit status says why; the dozen lines it prints when no application fits never reach the
    // terminal (the test's own output would show them).
    void xdgOpen_data() {
        QTest::addColumn<QByteArray>("script"); // empty: not installed
        QTest::addColumn<QString>("error");     // empty: opened
        // Not with the signals the application blocks for itself: the viewer must still end on Ctrl+C. (Not
        // a shell script: dash clears the mask it was given.)
        QTest::newRow("opened") << QByteArray(
                                       "#!/usr/bin/python3\nimport sys\n"
                                       "blocked = [l for l in open('/proc/self/status') if 'SigBlk' in l]\n"
                                       "sys.exit(int(blocked[0].split()[1], 16) != 0)\n")
                                << QString();
        QTest::newRow("no application")
            << QByteArray("for i in $(seq 16); do echo \"xdg-mime: no method $i\" >&2; done; exit 4\n")
            << "no application could open it";
        QTest::newRow("a tool missing")
            << QByteArray("echo gio: not found >&2; exit 3\n") << "a tool xdg-open needs is missing";
        QTest::newRow("not installed") << QByteArray() << "xdg-open is not installed";
    }
    void xdgOpen() {
        QFETCH(QByteArray, script);
        QFETCH(QString, error);
        installXdgOpen(script);
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        SignalWatcher::blockInEveryThread({SIGINT, SIGTERM, SIGUSR1}); // as the application does
        const auto restore = qScopeGuard([&mask] { pthread_sigmask(SIG_SETMASK, &mask, nullptr); });
        DesktopFileOpener opener(m_session);
        for (const auto& operation : std::vector<std::function<void(FileOpener::Done)>>{
                 [&](FileOpener::Done done) { opener.openFile(m_clip, done); },
                 [&](FileOpener::Done done) { opener.openFolder(QDir::home().filePath("clips"), done); },
                 [&](FileOpener::Done done) { opener.reveal(m_clip, done); }}) {
            const Status opened = answer(operation);
            QCOMPARE(opened ? QString() : opened.error().message, error);
        }
        QVERIFY(QFileInfo(QDir::home().filePath("clips")).isDir());
    }

    // A file manager on the bus shows the file selected, and nothing else is asked.
    void revealThroughTheFileManager() {
        installXdgOpen("exit 4\n");
        m_fileManager.start("/usr/bin/python3", {"-m", "dbusmock", "--session", fileManager,
                                                 "/org/freedesktop/FileManager1", fileManager});
        QTRY_VERIFY_WITH_TIMEOUT(m_session.interface()->isServiceRegistered(fileManager), 15000);
        QDBusMessage add = QDBusMessage::createMethodCall(fileManager, "/org/freedesktop/FileManager1",
                                                          "org.freedesktop.DBus.Mock", "AddMethod");
        add.setArguments({fileManager, "ShowItems", "ass", "", ""});
        QCOMPARE(m_session.call(add).errorMessage(), QString());
        DesktopFileOpener opener(m_session);
        const Status shown = answer([&](FileOpener::Done done) { opener.reveal(m_clip, done); });
        QVERIFY2(shown.ok(), qPrintable(shown.ok() ? QString() : shown.error().message));
    }
};

FERROVANE_TEST_MAIN(DBusTest)
#include "tst_dbus.moc"
