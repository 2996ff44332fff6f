#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

// The README's first command without a display: scripts/run's demo on a private display and bus. A
// desktop portal that the bus starts on demand (here a stand-in that only complains) must not fill the
// demo's output, which is its own lines only.
class DemoTest : public QObject {
    Q_OBJECT
private slots:
    void quietDemo() {
        QTemporaryDir data;
        const QString service = data.filePath("dbus-1/services/org.freedesktop.portal.Desktop.service");
        writeFile(service,
                  "[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/bin/sh -c 'for i in 1 2 "
                  "3 4 5 6; do echo \"xdg-desktop-portal: noise $i\" >&2; done; exit 1'\n");
        QProcess demo;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_DIRS", data.path() + ":/usr/share");
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
            environment.remove(name);
        demo.setProcessEnvironment(environment);
        demo.start(QStringLiteral(FERROVANE_SCRIPTS "/with-demo-display"),
                   {QStringLiteral(FERROVANE_SCRIPTS "/demo-desktop"), ferrovaneBinary()});
        QVERIFY(demo.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(demo.readAllStandardError());
        QCOMPARE(demo.exitCode(), 0);
        const QStringList out =
            QString::fromLocal8Bit(demo.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), 2);
        QVERIFY(QFileInfo(out[0]).size() > 0 && QFileInfo(out[1]).size() > 0);
        QStringList said = err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(said, (QStringList{"Recording the private display " + said.value(0).section(' ', 4, 4) +
                                        " (no X display was usable).",
                                    "Recording for 8 seconds…", "Saved: " + out[0],
                                    "Screenshot of the panel: " + out[1]}));
    }
};

FERROVANE_TEST_MAIN(DemoTest)
#include "tst_demo.moc"
