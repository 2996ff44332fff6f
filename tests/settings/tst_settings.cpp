#include "platform/linux/desktop/QSettingsStore.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <utime.h>

namespace {

// A clip with a given age, so the listing order is known.
void touch(const QString& path, int ageSeconds) {
    writeFile(path, "x");
    const time_t when = time(nullptr) - ageSeconds;
    utimbuf times{when, when};
    utime(QFile::encodeName(path).constData(), &times);
}

// Who changes the settings file, and how.
enum class Writer { Us, InPlace, Replacing, Later };

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    const QString config = QSettingsStore::defaultPath();
    std::optional<InstalledSettings<QSettingsStore>> m_settings; // made by the test, over what it left there

private slots:
    void cleanup() {
        m_settings.reset();
        QFile::remove(config);
    }

    // Clips go to the desktop's videos folder, wherever xdg-user-dirs put it and whatever its name.
    void clipsFolder_data() {
        QTest::addColumn<QString>("folder");       // under HOME
        QTest::addColumn<QString>("videosFolder"); // in user-dirs.dirs; null: no such file
        QTest::addColumn<QString>("place");
        QTest::newRow("localised") << "Vidéos/Ferrovane/" << QString("$HOME/Vidéos") << "Vidéos › Ferrovane";
        QTest::newRow("moved") << "Media/Clips/Ferrovane/" << QString("$HOME/Media/Clips")
                               << "Clips › Ferrovane";
        QTest::newRow("default") << "Videos/Ferrovane/" << QString() << "Videos › Ferrovane";
    }
    void clipsFolder() {
        QFETCH(QString, folder);
        QFETCH(QString, videosFolder);
        QFETCH(QString, place);
        const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs";
        QFile::remove(file);
        if (!videosFolder.isNull()) writeFile(file, "XDG_VIDEOS_DIR=\"" + videosFolder.toUtf8() + "\"\n");
        QCOMPARE(Settings::folder(), QDir::home().filePath(folder));
        QCOMPARE(Settings::folderAsPlace(), place);
        QCOMPARE(Settings::folderAsPath(), "~/" + folder.chopped(1));
    }

    // Values as a user or an editor left them in the file, under [General].
    void clampedReads_data() {
        QTest::addColumn<QByteArray>("file"); // "/": a folder in its place, unreadable even by root
        QTest::addColumn<double>("buffer");
        QTest::addColumn<int>("fps");
        QTest::addColumn<double>("width");
        QTest::newRow("above the ranges")
            << QByteArray("bufferSeconds=600\nfps=120\nmaxWidth=5000\n") << 300.0 << 60 << 3840.0;
        QTest::newRow("below the ranges")
            << QByteArray("bufferSeconds=2\nfps=1\nmaxWidth=100\n") << 5.0 << 5 << 640.0;
        QTest::newRow("text where numbers belong")
            << QByteArray("bufferSeconds=lots\nfps=fast\nmaxWidth=@Variant(garbage\n") << 5.0 << 5 << 640.0;
        QTest::newRow("truncated file") << QByteArray("bufferSeconds=6") << 6.0 << 30 << 1920.0;
        QTest::newRow("unreadable") << QByteArray("/") << 30.0 << 30 << 1920.0;
    }
    void clampedReads() {
        QFETCH(QByteArray, file);
        QFETCH(double, buffer);
        QFETCH(int, fps);
        QFETCH(double, width);
        if (file == "/")
            QDir().mkpath(config);
        else
            writeFile(config, "[General]\n" + file);
        m_settings.emplace();
        QCOMPARE(Settings::bufferSeconds(), buffer);
        QCOMPARE(Settings::fps(), fps);
        QCOMPARE(Settings::maxWidth(), width);
        QVERIFY(Settings::playSound());
        QVERIFY(!QFileInfo::exists(Settings::folder())); // computing it creates nothing
        // Reading never rewrites the user's file, nor removes what stands in its place.
        if (file == "/")
            QVERIFY(QFileInfo(config).isDir() && QDir(config).removeRecursively());
        else
            QCOMPARE(readFile(config), "[General]\n" + file);
    }

    void recentClips() {
        const QString dir = QDir::home().filePath("clips-test");
        QVERIFY(Settings::recentClipsIn(dir).isEmpty()); // missing folder
        for (int i = 0; i < 7; ++i)
            touch(QStringLiteral("%1/replay-%2.mp4").arg(dir).arg(i), 100 - i * 10); // 6 is newest
        touch(dir + "/SHOUTING.MP4", 5);
        touch(dir + "/.hidden.mp4", 1);
        touch(dir + "/notes.mov", 1);
        QDir().mkpath(dir + "/replay-6-frames");
        QStringList names;
        for (const QString& path : Settings::recentClipsIn(dir))
            names << QFileInfo(path).fileName();
        QCOMPARE(names, (QStringList{"SHOUTING.MP4", "replay-6.mp4", "replay-5.mp4", "replay-4.mp4",
                                     "replay-3.mp4"}));
    }

    void oneNotificationPerChange_data() {
        QTest::addColumn<Writer>("writer");
        QTest::newRow("our own write") << Writer::Us;
        QTest::newRow("written in place") << Writer::InPlace;
        QTest::newRow("replaced, as editors do") << Writer::Replacing;
        QTest::newRow("its folders made after the start") << Writer::Later;
    }
    void oneNotificationPerChange() {
        QFETCH(Writer, writer);
        if (writer == Writer::Later)
            QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).removeRecursively();
        else
            writeFile(config, "[General]\nfps=30\n");
        m_settings.emplace();
        QSignalSpy spy(&m_settings->store, &PreferencesStore::changed);
        // File times move in clock ticks of a few ms; a same-size edit within one tick of the last read
        // looks unchanged to QSettings' cache. People do not edit that fast.
        QTest::qWait(50);
        if (writer == Writer::Us) Settings::setValue(Settings::Keys::fps, 24);
        if (writer == Writer::InPlace || writer == Writer::Later) writeFile(config, "[General]\nfps=24\n");
        if (writer == Writer::Replacing) {
            writeFile(config + ".tmp", "[General]\nfps=24\n");
            QVERIFY(QFile::remove(config));
            QVERIFY(QFile::rename(config + ".tmp", config));
        }
        QTRY_VERIFY(spy.count() >= 1);
        QTest::qWait(300); // the watcher sees our own write too, and must stay quiet about it
        QCOMPARE(spy.count(), 1);
        QCOMPARE(Settings::fps(), 24);
        // A later edit is still seen, after a replacement as well.
        QTest::qWait(50);
        writeFile(config, "[General]\nfps=12\n");
        QTRY_COMPARE(Settings::fps(), 12);
    }
};

FERROVANE_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
