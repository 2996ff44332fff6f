#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QDir>

#include <csignal>

namespace {

// The application headless, under tests/e2e/small-disk.sh when given a size: a small file system on one
// folder that the test fills and empties at will.
struct Headless {
    Child run;
    qint64 pid = 0;

    explicit Headless(const QString& size = {}, const QString& folder = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_LOGGING_RULES", "ferrovane.export.debug=true");
        run.setProcessEnvironment(env);
        if (size.isEmpty()) {
            run.start(ferrovaneBinary(), {"--headless"});
            pid = run.waitForStarted() ? run.processId() : 0;
            return;
        }
        run.start(QStringLiteral(FERROVANE_SMALL_DISK), {size, folder, ferrovaneBinary(), "--headless"});
        const QString first = line();
        if (first.startsWith("pid ")) pid = first.mid(4).toLongLong();
    }
    void signal(int number) { ::kill(pid_t(pid), number); }
    // "fill" or "free", once done.
    bool tell(const QString& command) {
        run.write(command.toLatin1() + '\n');
        return line(10000) == (command == "fill" ? "filled" : "freed");
    }
    // The next line on standard output (a clip's path, an answer), or empty after `ms`.
    QString line(int ms = 10000) {
        if (!QTest::qWaitFor([this] { return run.canReadLine(); }, ms)) return {};
        return QString::fromLocal8Bit(run.readLine()).trimmed();
    }
    // Everything on standard error since the last call.
    QString errors() { return QString::fromLocal8Bit(run.readAllStandardError()); }
};

} // namespace

// The headless application's saves: on a screen that changes size (Xvnc, whose mode xrandr changes), and
// on a user's bad day: a quit right behind them, a full buffer disk, a full clips disk.
class HeadlessTest : public QObject {
    Q_OBJECT
    Xvfb m_x;

private slots:
    void initTestCase() {
        QVERIFY2(m_x.startResizable(QSize(1280, 800)), "Xvnc did not start");
        QVERIFY2(m_x.startClock(), "xterm did not start");
    }

    // Clips come at the screen's new size, neither scaled up from a smaller screen nor squeezed from a
    // larger one.
    void clipsFollowTheScreen() {
        Headless app;
        for (const QSize size : {QSize(1280, 800), QSize(1920, 1080), QSize(1280, 800)}) {
            const QString mode = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            QCOMPARE(QProcess::execute("xrandr", {"--output", "VNC-0", "--mode", mode}), 0);
            QTest::qWait(2500); // a moment of recording at this size
            app.signal(SIGUSR1);
            const QString clip = app.line(15000);
            QCOMPARE(Probe::videoSize(clip), size);
            QCOMPARE(Probe::decodeErrors(clip), QString());
        }
        app.signal(SIGTERM);
        QVERIFY(app.run.waitForFinished(10000));
        QCOMPARE(app.run.exitCode(), 0);
    }

    // While the newest seconds cannot be written, a save fails with the reason rather than pass older
    // seconds off as the last ones; once there is room again, saves work by themselves.
    void fullBufferDisk() {
        Headless app("48m", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        QVERIFY2(app.pid > 0, qPrintable(app.errors()));
        QTest::qWait(2500);
        app.signal(SIGUSR1);
        QVERIFY2(QFileInfo(app.line()).size() > 0, qPrintable(app.errors()));

        QVERIFY(app.tell("fill"));
        for (const int wait : {1000, 6000}) {
            QTest::qWait(wait);
            app.errors();
            app.signal(SIGUSR1);
            QString reason;
            QTRY_VERIFY_WITH_TIMEOUT(!(reason += app.errors()).isEmpty(), 10000);
            QVERIFY2(reason.contains("ferrovane: Could not save the replay: No space left on device\n"),
                     qPrintable(reason));
            QCOMPARE(app.line(500), QString()); // no clip of older seconds
        }

        QVERIFY(app.tell("free"));
        QTest::qWait(6000);
        app.signal(SIGUSR1);
        const QString clip = app.line();
        QVERIFY2(QFileInfo(clip).size() > 0, qPrintable(clip + app.errors()));
        app.signal(SIGINT);
        QVERIFY(app.run.waitForFinished(10000));
        QCOMPARE(app.run.exitCode(), 0);
    }

    // A save with a quit right behind it, as signals (which the kernel may hand over in either order): the
    // quit waits for the save. Its clip is printed; on a full clips disk it says why, at once (encoding the
    // clip again would only fail the same way), and the exit status says it failed.
    void saveThenQuit_data() {
        QTest::addColumn<bool>("full");
        QTest::newRow("room") << false;
        QTest::newRow("full clips disk") << true;
    }
    void saveThenQuit() {
        QFETCH(bool, full);
        const QString clips = QDir::home().filePath("Videos/Ferrovane");
        QVERIFY(QDir().mkpath(clips));
        for (int round = 0; round < 20; ++round) {
            Headless app(full ? "1m" : "", clips);
            if (full) QVERIFY(app.tell("fill"));
            QVERIFY(QTest::qWaitFor([] { return recordingStarted(); }, 10000));
            QTest::qWait(300);
            app.signal(SIGUSR1);
            app.signal(round % 2 ? SIGINT : SIGTERM);
            QVERIFY(app.run.waitForFinished(20000));
            const QString printed = app.line(1000), said = app.errors();
            const int exitCode = app.run.exitCode();
            QVERIFY2(full ? exitCode == 1 && said.contains("Could not save the replay: ") &&
                                said.contains("No space left on device") && !said.contains("encoding again")
                          : exitCode == 0 && QFileInfo(printed).size() > 0,
                     qPrintable(QStringLiteral("round %1: exit %2, printed '%3': %4")
                                    .arg(round)
                                    .arg(exitCode)
                                    .arg(printed, said)));
        }
    }
};

FERROVANE_TEST_MAIN(HeadlessTest)
#include "tst_fulldisk.moc"
