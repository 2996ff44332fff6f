#include "platform/linux/desktop/QSettingsStore.h"
#include "settings/Settings.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <functional>

#include <utime.h>

namespace {

QString configPath() {
    return QSettingsStore::defaultPath();
}

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
private:
    std::unique_ptr<QSettingsStore> m_store;

    // A new store over whatever `prepare` left at the file's place.
    void fresh(const std::function<void()>& prepare = {}) {
        cleanup();
        if (prepare) prepare();
        m_store = std::make_unique<QSettingsStore>();
        Settings::useStore(m_store.get());
        Settings::registerDefaults();
    }

private slots:
    void cleanup() {
        Settings::useStore(nullptr);
        m_store.reset();
        QFile::remove(configPath());
    }

    // Clips go to the desktop's videos folder, wherever xdg-user-dirs put it and whatever its name.
    void clipsFolder_data() {
        QTest::addColumn<QByteArray>("userDirs"); // user-dirs.dirs; empty: none
        QTest::addColumn<QString>("folder");      // under HOME
        QTest::addColumn<QString>("place");
        QTest::newRow("default") << QByteArray() << "Videos/Ferrovane/"
                                 << "Videos › Ferrovane";
        QTest::newRow("localised") << QByteArray("XDG_VIDEOS_DIR=\"$HOME/Vidéos\"\n") << "Vidéos/Ferrovane/"
                                   << "Vidéos › Ferrovane";
        QTest::newRow("moved") << QByteArray("XDG_VIDEOS_DIR=\"$HOME/Media/Clips\"\n")
                               << "Media/Clips/Ferrovane/"
                               << "Clips › Ferrovane";
    }
    void clipsFolder() {
        QFETCH(QByteArray, userDirs);
        QFETCH(QString, folder);
        QFETCH(QString, place);
        const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs";
        if (userDirs.isEmpty())
            QFile::remove(file);
        else
            writeFile(file, userDirs);
        QCOMPARE(Settings::folder(), QDir::home().filePath(folder));
        QCOMPARE(Settings::folderAsPlace(), place);
        QCOMPARE(Settings::folderAsPath(), "~/" + folder.chopped(1));
        QFile::remove(file);
    }

    // Values as a user or an editor left them in the file.
    void clampedReads_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<double>("buffer");
        QTest::addColumn<int>("fps");
        QTest::addColumn<double>("width");
        QTest::newRow("above the ranges")
            << QByteArray("[General]\nbufferSeconds=600\nfps=120\nmaxWidth=5000\n") << 300.0 << 60 << 3840.0;
        QTest::newRow("below the ranges")
            << QByteArray("[General]\nbufferSeconds=2\nfps=1\nmaxWidth=100\n") << 5.0 << 5 << 640.0;
        QTest::newRow("text where numbers belong")
            << QByteArray("[General]\nbufferSeconds=lots\nfps=fast\nmaxWidth=@Variant(garbage\n") << 5.0 << 5
            << 640.0;
        QTest::newRow("truncated file") << QByteArray("[General]\nbufferSeconds=6") << 6.0 << 30 << 1920.0;
        QTest::newRow("no file") << QByteArray() << 30.0 << 30 << 1920.0;
        // "/": a folder where the file belongs, which cannot be read, even by root.
        QTest::newRow("unreadable") << QByteArray("/") << 30.0 << 30 << 1920.0;
    }
    void clampedReads() {
        QFETCH(QByteArray, file);
        QFETCH(double, buffer);
        QFETCH(int, fps);
        QFETCH(double, width);
        fresh([&] {
            if (file == "/")
                QDir().mkpath(configPath());
            else if (!file.isNull())
                writeFile(configPath(), file);
        });
        QCOMPARE(Settings::bufferSeconds(), buffer);
        QCOMPARE(Settings::fps(), fps);
        QCOMPARE(Settings::maxWidth(), width);
        QVERIFY(Settings::playSound());
        QVERIFY(!QFileInfo::exists(Settings::folder())); // computing it creates nothing
        // Reading never creates or rewrites the user's file, nor removes what stands in its place.
        if (file.isNull()) {
            QVERIFY(!QFileInfo::exists(configPath()));
        } else if (file == "/") {
            QVERIFY(QFileInfo(configPath()).isDir() && QDir(configPath()).removeRecursively());
        } else {
            QFile f(configPath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), file);
        }
    }

    void saveOptions_data() {
        QTest::addColumn<double>("buffer");
        QTest::addColumn<std::vector<double>>("options");
        QTest::newRow("5") << 5.0 << std::vector<double>{5};
        QTest::newRow("45") << 45.0 << std::vector<double>{10, 30, 45};
        QTest::newRow("90") << 90.0 << std::vector<double>{30, 60, 90};
        QTest::newRow("300") << 300.0 << std::vector<double>{60, 120, 300};
    }
    void saveOptions() {
        QFETCH(double, buffer);
        QFETCH(std::vector<double>, options);
        QCOMPARE(Settings::saveOptions(buffer), options);
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
            fresh([] { QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).removeRecursively(); });
        else
            fresh([] { writeFile(configPath(), "[General]\nfps=30\n"); });
        QSignalSpy spy(m_store.get(), &PreferencesStore::changed);
        // File times move in clock ticks of a few ms; a same-size edit within one tick of the last read
        // looks unchanged to QSettings' cache. People do not edit that fast.
        QTest::qWait(50);
        if (writer == Writer::Us) Settings::setValue(Settings::Keys::fps, 24);
        if (writer == Writer::InPlace || writer == Writer::Later)
            writeFile(configPath(), "[General]\nfps=24\n");
        if (writer == Writer::Replacing) {
            writeFile(configPath() + ".tmp", "[General]\nfps=24\n");
            QVERIFY(QFile::remove(configPath()));
            QVERIFY(QFile::rename(configPath() + ".tmp", configPath()));
        }
        QTRY_VERIFY(spy.count() >= 1);
        QTest::qWait(300); // the watcher sees our own write too, and must stay quiet about it
        QCOMPARE(spy.count(), 1);
        QCOMPARE(Settings::fps(), 24);
        // A later edit is still seen, after a replacement as well.
        QTest::qWait(50);
        writeFile(configPath(), "[General]\nfps=12\n");
        QTRY_COMPARE(Settings::fps(), 12);
    }
};

FERROVANE_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
