#include "platform/linux/desktop/DesktopFileOpener.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QTemporaryDir>

namespace {

const QString fileManager = QStringLiteral("org.freedesktop.FileManager1");

} // namespace

// Opening files on a private session bus without the desktop's portal, the way most X11 desktops are: the
// file manager's FileManager1 where one answers, else xdg-open (stand-ins on PATH), whose chatter stays in
// the debug log.
class TestFileOpener : public QObject {
    Q_OBJECT
    Child m_daemon, m_fileManager;
    QDBusConnection m_bus{QString()};
    QTemporaryDir m_bin;
    QString m_clip;

    // Runs one operation and returns its answer.
    static Status answer(const std::function<void(FileOpener::Done)>& operation) {
        std::optional<Status> answered;
        operation([&](const Status& status) { answered = status; });
        if (!QTest::qWaitFor([&] { return answered.has_value(); }, 10000)) return platformError("no answer");
        return *answered;
    }
    void xdgOpen(const QByteArray& script) {
        const QString path = m_bin.filePath("xdg-open");
        QFile::remove(path);
        if (script.isEmpty()) return;
        writeFile(path, "#!/bin/sh\n" + script);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    void initTestCase() {
        const QString address = startBus(m_daemon);
        QVERIFY(!address.isEmpty());
        m_bus = QDBusConnection::connectToBus(address, "opener");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        qputenv("PATH", (m_bin.path() + ":/usr/bin:/bin").toLocal8Bit());
        m_clip = QDir::home().filePath("replay.mp4");
        writeFile(m_clip, "not a movie");
    }

    // Its own exit status says why; the dozen lines it prints when no application fits never reach the
    // terminal (the test's own output would show them).
    void xdgOpen_data() {
        QTest::addColumn<QByteArray>("script"); // empty: not installed
        QTest::addColumn<QString>("error");     // empty: opened
        QTest::newRow("opened") << QByteArray("exit 0\n") << QString();
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
        xdgOpen(script);
        DesktopFileOpener opener(m_bus);
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
        xdgOpen("exit 4\n");
        m_fileManager.start("/usr/bin/python3", {"-m", "dbusmock", "--session", fileManager,
                                                 "/org/freedesktop/FileManager1", fileManager});
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.interface()->isServiceRegistered(fileManager), 15000);
        QDBusMessage add = QDBusMessage::createMethodCall(fileManager, "/org/freedesktop/FileManager1",
                                                          "org.freedesktop.DBus.Mock", "AddMethod");
        add << fileManager << "ShowItems"
            << "ass"
            << ""
            << "";
        QCOMPARE(m_bus.call(add).errorMessage(), QString());
        DesktopFileOpener opener(m_bus);
        const Status shown = answer([&](FileOpener::Done done) { opener.reveal(m_clip, done); });
        QVERIFY2(shown.ok(), qPrintable(shown.ok() ? QString() : shown.error().message));
    }
};

FERROVANE_TEST_MAIN(TestFileOpener)
#include "tst_fileopener.moc"
