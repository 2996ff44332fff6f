#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QDir>

#include <csignal>

namespace {

// The application headless under tests/e2e/small-disk.sh: a small file system on one folder that the test
// fills and empties at will.
class OnSmallDisk {
public:
    OnSmallDisk(const QString& size, const QString& folder, const QStringList& environment = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& entry : environment)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        m_run.setProcessEnvironment(env);
        m_run.start(QStringLiteral(FERROVANE_SMALL_DISK), {size, folder, ferrovaneBinary(), "--headless"});
        const QString first = line();
        if (first.startsWith("pid ")) m_pid = first.mid(4).toLongLong();
    }
    qint64 pid() const { return m_pid; }
    void signal(int number) { ::kill(pid_t(m_pid), number); }
    // "fill" or "free", once done.
    bool tell(const QString& command) {
        m_run.write(command.toLatin1() + '\n');
        return line(10000) == (command == "fill" ? "filled" : "freed");
    }
    // The next line on standard output (a clip's path, an answer), or empty after `ms`.
    QString line(int ms = 10000) {
        if (!QTest::qWaitFor([this] { return m_run.canReadLine(); }, ms)) return {};
        return QString::fromLocal8Bit(m_run.readLine()).trimmed();
    }
    // Everything on standard error since the last call.
    QString errors() { return QString::fromLocal8Bit(m_run.readAllStandardError()); }
    Child& process() { return m_run; }

private:
    Child m_run;
    qint64 m_pid = 0;
};

} // namespace

// Full disks, as a user's bad day brings them: the buffer's file system, the clips' file system.
class FullDiskTest : public QObject {
    Q_OBJECT
    Xvfb m_x;

private slots:
    void initTestCase() {
        QVERIFY2(m_x.start(QSize(1280, 720)), "Xvfb did not start");
        QVERIFY2(m_x.startClock(), "xterm did not start");
    }

    // While the newest seconds cannot be written, a save fails with the reason rather than pass older
    // seconds off as the last ones; once there is room again, saves work by themselves.
    void fullBufferDisk() {
        OnSmallDisk app("48m", qEnvironmentVariable("XDG_RUNTIME_DIR"));
        QVERIFY2(app.pid() > 0, qPrintable(app.errors()));
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
        QVERIFY(app.process().waitForFinished(10000));
        QCOMPARE(app.process().exitCode(), 0);
    }

    // A save that meets a full clips disk as the application quits says why, at once (encoding the clip
    // again would only fail the same way), and the exit status says it failed.
    void fullClipsDiskAtQuit() {
        const QString clips = QDir::home().filePath("Videos/Ferrovane");
        QVERIFY(QDir().mkpath(clips));
        for (int round = 0; round < 20; ++round) {
            OnSmallDisk app("1m", clips, {"QT_LOGGING_RULES=ferrovane.export.debug=true"});
            QVERIFY(app.tell("fill"));
            QVERIFY(QTest::qWaitFor([] { return recordingStarted(); }, 10000));
            QTest::qWait(500);
            app.signal(SIGUSR1);
            QTest::qWait(300);
            app.signal(round % 2 ? SIGINT : SIGTERM);
            QVERIFY(app.process().waitForFinished(20000));
            const QString said = app.errors();
            QVERIFY2(app.process().exitCode() == 1 && said.contains("Could not save the replay: ") &&
                         said.contains("No space left on device") && !said.contains("encoding again"),
                     qPrintable(QStringLiteral("round %1: exit %2: %3")
                                    .arg(round)
                                    .arg(app.process().exitCode())
                                    .arg(said)));
        }
    }
};

FERROVANE_TEST_MAIN(FullDiskTest)
#include "tst_fulldisk.moc"
