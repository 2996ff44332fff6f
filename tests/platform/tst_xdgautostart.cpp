#include "platform/linux/desktop/XdgAutostart.h"
#include "support/TestEnvironment.h"

#include <QDir>

namespace {

const QByteArray handWritten = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/home/me/bin/ferrovane\n";

} // namespace

class XdgAutostartTest : public QObject {
    Q_OBJECT
    // The test environment's, set before the test object is made.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString folder = config + "/autostart";
    const QString entry = folder + "/io.github.ferrovane.Ferrovane.desktop";

private slots:
    void cleanup() {
        QFile::remove(config);
        QDir(config).removeRecursively();
    }

    void enabled_data() {
        QTest::addColumn<QByteArray>("added"); // to an entry written by hand, with another program's Exec=
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Hidden = true") << QByteArray("Hidden = true\n") << false;
        QTest::newRow("Hidden=false") << QByteArray("Hidden=false\n") << true;
        QTest::newRow("off for GNOME") << QByteArray("X-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("hidden action") << QByteArray("[Desktop Action New]\nHidden=true\n") << true;
    }
    void enabled() {
        QFETCH(QByteArray, added);
        QFETCH(bool, enabled);
        writeFile(entry, handWritten + added);
        QCOMPARE(XdgAutostart("/usr/bin/ferrovane").enabled(), enabled);
    }

    // Exec= quoted as freedesktop.org's desktop entry format asks, then escaped as every string value.
    void roundTrip_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("exec");
        QTest::newRow("space, percent") << "/opt/My 100%/ferrovane"
                                        << "\"/opt/My 100%%/ferrovane\"";
        QTest::newRow("quote, dollar, backslash") << "/a\"b$c\\d"
                                                  << "\"/a\\\\\"b\\\\$c\\\\\\\\d\"";
    }
    void roundTrip() {
        QFETCH(QString, executable);
        QFETCH(QString, exec);
        writeFile(folder + "/other.desktop", handWritten);
        writeFile(entry, handWritten + "Hidden=true\n"); // ours, edited by hand: replaced whole
        XdgAutostart item(executable);
        QVERIFY(item.registerItem().ok() && item.enabled());
        QCOMPARE(QString::fromUtf8(readFile(entry)),
                 "[Desktop Entry]\nType=Application\nName=Ferrovane\nExec=" + exec +
                     "\nIcon=io.github.ferrovane.Ferrovane\n"
                     "X-GNOME-Autostart-enabled=true\n");
        QVERIFY(item.unregisterItem().ok() && !item.enabled());
        QVERIFY(item.unregisterItem().ok()); // nothing left to remove
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"other.desktop"});
    }

    // A file where a folder of the path belongs, or the other way round, stops even root.
    void failuresNameTheReason_data() {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("registerError");
        QTest::addColumn<QString>("unregisterError"); // empty: succeeds, as there is no entry
        QTest::newRow("~/.config is a file") << config << "Couldn't create " + folder + ": Not a directory"
                                             << "";
        QTest::newRow("a folder for the entry")
            << entry + "/x"
            << "Couldn't write " + entry + ": Filename refers to a directory"
            << "Couldn't remove " + entry + ": Is a directory";
    }
    void failuresNameTheReason() {
        QFETCH(QString, blocker);
        QFETCH(QString, registerError);
        QFETCH(QString, unregisterError);
        writeFile(blocker, "x");
        XdgAutostart item("/usr/bin/ferrovane");
        const Status registered = item.registerItem();
        QCOMPARE(registered.ok() ? QString() : registered.error().message, registerError);
        const Status unregistered = item.unregisterItem();
        QCOMPARE(unregistered.ok() ? QString() : unregistered.error().message, unregisterError);
    }
};

FERROVANE_TEST_MAIN(XdgAutostartTest)
#include "tst_xdgautostart.moc"
