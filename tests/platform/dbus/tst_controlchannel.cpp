#include "DBusTestBus.h"
#include "platform/linux/dbus/DBusControlChannel.h"
#include "support/TestEnvironment.h"

namespace {

const QString notRunning = QStringLiteral("Ferrovane is not running.\n");
const QString nowhere = QStringLiteral("unix:path=/nonexistent/bus");

// Another launch of the application (ControlPeer.cpp) on these buses.
std::unique_ptr<Child> launch(const QStringList& arguments, const QString& session,
                              const QString& system = nowhere) {
    auto process = std::make_unique<Child>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session);
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system);
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(CONTROL_PEER), arguments);
    return process;
}

// Waits with this thread's event loop running, so the instance claimed here answers meanwhile.
QString nextLine(QProcess& process) {
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

bool finishes(QProcess& process) {
    QDeadlineTimer deadline(10000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
}

} // namespace

class ControlChannelTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void launches_data();
    void launches();
    void racingLaunches();
    void busLost();

private:
    Child m_daemon;
    QString m_bus;
};

void ControlChannelTest::initTestCase() {
    m_bus = startBus(m_daemon);
    QVERIFY2(!m_bus.isEmpty(), "dbus-daemon did not start (scripts/install-deps)");
}

void ControlChannelTest::launches_data() {
    QTest::addColumn<QString>("option"); // none: a plain launch
    QTest::addColumn<bool>("running");   // an instance runs in this process
    QTest::addColumn<bool>("bus");
    QTest::addColumn<QStringList>("handled");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString none;
    QTest::newRow("save") << QStringLiteral("--save") << true << true << QStringList{"save"} << 0 << none
                          << none;
    QTest::newRow("toggle pause") << QStringLiteral("--toggle-pause") << true << true
                                  << QStringList{"togglePause"} << 0 << none << none;
    QTest::newRow("status") << QStringLiteral("--status") << true << true << QStringList{"status"} << 0
                            << QStringLiteral("state: paused\nbuffered: 0.0\n") << none;
    QTest::newRow("quit") << QStringLiteral("--quit") << true << true << QStringList{"quit"} << 0 << none
                          << none;
    QTest::newRow("nothing running") << QStringLiteral("--status") << false << true << QStringList{} << 1
                                     << none << notRunning;
    QTest::newRow("no bus") << QStringLiteral("--save") << false << false << QStringList{} << 1 << none
                            << notRunning;
    QTest::newRow("first launch") << none << false << true << QStringList{} << 0
                                  << QStringLiteral("Claimed\n") << none;
    QTest::newRow("second launch peeks")
        << none << true << true << QStringList{"peek"} << 0 << QStringLiteral("AlreadyRunning\n") << none;
    QTest::newRow("launch without bus")
        << none << false << false << QStringList{} << 0 << QStringLiteral("NoBus\n") << none;
}

void ControlChannelTest::launches() {
    QFETCH(QString, option);
    QFETCH(bool, running);
    QFETCH(bool, bus);
    QFETCH(QStringList, handled);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QStringList handledHere;
    const auto note = [&](const char* name) { return [&, name] { handledHere << QLatin1String(name); }; };
    DBusControlChannel instance(QDBusConnection::connectToBus(m_bus, QStringLiteral("instance")));
    if (running) {
        const ClaimOutcome claimed = instance.claim({
            .save = note("save"),
            .togglePause = note("togglePause"),
            .quit = note("quit"),
            .peek = note("peek"),
            .status =
                [&] {
                    handledHere << QStringLiteral("status");
                    return QStringLiteral("state: paused\nbuffered: 0.0");
                },
        });
        QCOMPARE(claimed, ClaimOutcome::Claimed);
    }
    // With stdin closed a plain launch that claims ends at once.
    std::unique_ptr<Child> peer =
        launch(option.isEmpty() ? QStringList() : QStringList{option}, bus ? m_bus : nowhere);
    peer->closeWriteChannel();
    QVERIFY(finishes(*peer));
    QCOMPARE(peer->exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(peer->readAllStandardOutput()), out);
    QCOMPARE(QString::fromLocal8Bit(peer->readAllStandardError()), err);
    // The caller is answered first; the command runs on this thread's next turn.
    QTRY_COMPARE(handledHere, handled);
}

void ControlChannelTest::racingLaunches() {
    std::vector<std::unique_ptr<Child>> peers;
    for (int i = 0; i < 3; ++i)
        peers.push_back(launch({}, m_bus));
    QStringList outcomes;
    QProcess* winner = nullptr;
    for (const auto& peer : peers)
        if ((outcomes << nextLine(*peer)).last() == QLatin1String("Claimed")) winner = peer.get();
    outcomes.sort();
    QCOMPARE(outcomes, (QStringList{"AlreadyRunning", "AlreadyRunning", "Claimed"}));
    QCOMPARE(nextLine(*winner) + nextLine(*winner), QStringLiteral("peekpeek"));

    // The winner quits right after answering; the answer must arrive all the same.
    DBusControlChannel client(QDBusConnection::connectToBus(m_bus, QStringLiteral("client")));
    const Result<QString> quit = client.send(ControlCommand::Quit);
    QVERIFY2(quit, qPrintable(quit ? QString() : quit.error().description));
    for (const auto& peer : peers) {
        QVERIFY(finishes(*peer));
        QCOMPARE(peer->exitCode(), 0);
    }
    QCOMPARE(client.send(ControlCommand::Save).error().description + QLatin1Char('\n'), notRunning);
}

// Both buses vanish under a running instance (a crashed daemon, a logout): it must go on running.
void ControlChannelTest::busLost() {
    Child sessionDaemon, systemDaemon;
    std::unique_ptr<Child> peer = launch({}, startBus(sessionDaemon), startBus(systemDaemon));
    QCOMPARE(nextLine(*peer), QStringLiteral("Claimed"));
    sessionDaemon.kill();
    systemDaemon.kill();
    QTest::qWait(300);
    QCOMPARE(peer->state(), QProcess::Running);
    // Its event loop still turns: closing stdin ends it cleanly.
    peer->closeWriteChannel();
    QVERIFY(finishes(*peer));
    QCOMPARE(peer->exitCode(), 0);
}

FERROVANE_TEST_MAIN(ControlChannelTest)
#include "tst_controlchannel.moc"
