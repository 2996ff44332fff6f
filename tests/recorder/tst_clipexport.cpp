#include "recorder/BufferRoot.h"
#include "recorder/ClipExport.h"
#include "recorder/PartialClip.h"
#include "recorder/ReplayError.h"
#include "recorder/ReplayRecorder.h"
#include "settings/Settings.h"
#include "support/FakeMedia.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

namespace {

// Started, its segments finalised at once.
struct Rig : RecorderRig {
    Rig() {
        writers->autoComplete = true;
        start();
    }
    void duration(size_t writer, double seconds, bool hasVideo = true) {
        assets->infos[writers->record(writer).path] = AssetInfo{hasVideo, MediaTime::fromSeconds(seconds)};
    }
    // The last export's ranges as "start+length@at", in seconds rounded to the millisecond.
    QString ranges() const {
        QStringList list;
        for (const CompositionRange& r : assets->exports.back().first.ranges)
            list << QStringLiteral("%1+%2@%3").arg(ms(r.start)).arg(ms(r.duration)).arg(ms(r.at));
        return list.join(QLatin1Char(' '));
    }
    static double ms(MediaTime t) { return std::round(t.seconds() * 1000) / 1000; }
    QStringList clips() const { return QDir(folder).entryList(QDir::Files); }
};

// An error as the platform reports it: the system's errno as the code when the text is one of its messages.
Error systemError(const QString& text) {
    for (int code = 1; code < 134; ++code)
        if (text == QString::fromLocal8Bit(strerror(code))) return platformError(text, code);
    return platformError(text);
}

} // namespace

class TestClipExport : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        BufferRoot::removeAll();
        QDir(RecorderRig().folder).removeRecursively();
    }

    // One segment per start, each closed by the next frame; the last is the open one, closed by the save at
    // `now` with `lastLength` seconds in its file. No ranges: too little for a clip.
    void selection_data() {
        QTest::addColumn<QList<double>>("starts"); // negative: a segment without video
        QTest::addColumn<double>("lastLength");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("now");
        QTest::addColumn<QString>("ranges");
        const QList<double> eight{90, 95, 100, 105, 110, 115, 120, 125};
        QTest::newRow("worked example")
            << QList<double>{100, 105, 110} << 2.3 << 5.0 << 112.3 << "2.3+2.7@0 0+2.3@2.7";
        // Cut at 110: [105,110) ends exactly there and is left out; [110,115) starts there and is whole.
        QTest::newRow("cut at a segment's end")
            << QList<double>{105, 110, 115} << 0.0001 << 5.0 << 115.0 << "0+5@0";
        QTest::newRow("zero is one second") << eight << 5.0 << 0.0 << 130.0 << "4+1@0";
        QTest::newRow("above the buffer is the buffer")
            << eight << 5.0 << 45.0 << 130.0 << "0+5@0 0+5@5 0+5@10 0+5@15 0+5@20 0+5@25";
        QTest::newRow("right after the start") << QList<double>{} << 0.0 << 5.0 << 100.0 << "";
        QTest::newRow("0.2 s") << QList<double>{100} << 0.2 << 5.0 << 100.2 << "";
        QTest::newRow("0.25 s") << QList<double>{100} << 0.25 << 5.0 << 100.25 << "0+0.25@0";
        QTest::newRow("segment without video skipped")
            << QList<double>{-100, 105} << 2.0 << 10.0 << 107.0 << "0+2@0";
    }
    void selection() {
        QFETCH(QList<double>, starts);
        QFETCH(double, lastLength);
        QFETCH(double, seconds);
        QFETCH(double, now);
        QFETCH(QString, ranges);
        Rig rig;
        for (qsizetype i = 0; i < starts.size(); ++i) {
            rig.frame(std::abs(starts[i]));
            if (starts[i] < 0) rig.duration(i, 5, false);
        }
        if (!starts.isEmpty()) rig.duration(starts.size() - 1, lastLength);
        const Result<QString> clip = rig.save(seconds, now);
        if (ranges.isEmpty()) {
            QVERIFY(!clip.ok() && ReplayError::is(clip.error(), ReplayError::Kind::NothingRecorded));
            QVERIFY(rig.clips().isEmpty());
            return;
        }
        QVERIFY2(clip.ok(), qPrintable(clip.ok() ? "" : clip.error().message));
        QCOMPARE(rig.ranges(), ranges);
        QCOMPARE(rig.assets->exports.back().second, ExportPreset::Passthrough);
        QCOMPARE(rig.clips(), QStringList{QFileInfo(clip.value()).fileName()});
        // The save closed the open segment at its own time: a frame still at that time is dropped, the next
        // one opens a new segment.
        const double end = rig.recorder->snapshot().lastSegmentEnd.seconds();
        QCOMPARE(end, now);
        const size_t opened = rig.writers->count();
        rig.frame(end);
        QCOMPARE(rig.writers->count(), opened);
        rig.frame(end + 1e-9);
        QCOMPARE(rig.writers->count(), opened + 1);
    }

    // What goes wrong on the way to a clip of the two segments.
    void exportOutcome_data() {
        QTest::addColumn<int>("unreadable");           // segments, oldest first
        QTest::addColumn<QStringList>("exportErrors"); // of the passthrough, then of the fallback
        QTest::addColumn<QString>("reason");           // empty: saved; naming a folder: a file stands there
        QTest::addColumn<int>("exports");
        const QString refused = "codec parameters differ", full = "No space left on device";
        QTest::newRow("unreadable segment is skipped") << 1 << QStringList() << "" << 1;
        QTest::newRow("no segment readable") << 2 << QStringList() << "No such file or directory" << 0;
        QTest::newRow("passthrough refused, fallback saves") << 0 << QStringList{refused} << "" << 2;
        // The output's file system refuses: encoding again could only fail the same way, seconds later.
        QTest::newRow("full disk, no fallback") << 0 << QStringList{full} << full << 1;
        QTest::newRow("read-only, no fallback")
            << 0 << QStringList{"Read-only file system"} << "Read-only file system" << 1;
        QTest::newRow("fallback error") << 0 << QStringList{refused, full} << full << 2;
        QTest::newRow("fallback error without text") << 0 << QStringList{refused, ""} << "unknown error" << 2;
        QTest::newRow("folder cannot be made")
            << 0 << QStringList() << "could not create the folder ~/Videos/Ferrovane (Not a directory)" << 0;
    }
    void exportOutcome() {
        QFETCH(int, unreadable);
        QFETCH(QStringList, exportErrors);
        QFETCH(QString, reason);
        QFETCH(int, exports);
        const bool folderIsAFile = reason.contains("folder");
        Rig rig;
        rig.frame(100);
        rig.frame(105);
        for (int i = 0; i < unreadable; ++i)
            rig.assets->loadErrors[rig.writers->record(i).path] = platformError("No such file or directory");
        if (exportErrors.size() > 0) rig.assets->passthroughError = systemError(exportErrors[0]);
        if (exportErrors.size() > 1) rig.assets->fallbackError = systemError(exportErrors[1]);
        if (folderIsAFile) {
            QDir().mkpath(QFileInfo(rig.folder).absolutePath());
            QFile(rig.folder).open(QIODevice::WriteOnly);
        }
        QStringList visibleWhileWriting;
        rig.assets->duringExport = [&] { visibleWhileWriting << rig.clips(); };
        const Result<QString> clip = rig.save(10, 107);
        QCOMPARE(int(rig.assets->exports.size()), exports);
        if (exports == 2) QCOMPARE(rig.assets->exports.back().second, ExportPreset::HighestQuality);
        // Nothing carries a clip's name before it is complete, and only a saved clip is left afterwards.
        QCOMPARE(visibleWhileWriting, QStringList());
        QCOMPARE(QDir(rig.folder).entryList(QDir::Files | QDir::Hidden),
                 clip.ok() ? QStringList{QFileInfo(clip.value()).fileName()} : QStringList());
        QCOMPARE(clip.ok() ? QString() : clip.error().message,
                 reason.isEmpty() ? QString() : "Could not save the replay: " + reason);
        if (folderIsAFile) QFile::remove(rig.folder);
        QTRY_COMPARE(rig.recorder->snapshot().exportsInProgress, 0);
        QCOMPARE(rig.recorder->snapshot().segments.size(), size_t(2)); // the buffer is untouched
    }

    // Clips saved in the same second, even at once, each get a name of their own; none replaces another.
    void sameSecondGetsANewName() {
        const QString folder = QDir::home().filePath("names");
        QDir().mkpath(folder);
        const QString stamp = ClipExport::timestamp(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        // An earlier clip already has the plain name.
        QVERIFY(QFile(folder + "/replay-2026-03-14_09-26-53.mp4").open(QIODevice::WriteOnly));
        auto first = PartialClip::create(folder, stamp);
        auto second = PartialClip::create(folder, stamp);
        QVERIFY(first.ok() && second.ok());
        QCOMPARE(QFileInfo(first.value()->publish().value()).fileName(), "replay-2026-03-14_09-26-53-2.mp4");
        QCOMPARE(QFileInfo(second.value()->publish().value()).fileName(), "replay-2026-03-14_09-26-53-3.mp4");
    }

    // What a crash leaves is removed at the next start and never listed; a save still being written is not.
    void unfinishedClips() {
        const QString folder = QDir::home().filePath("Videos/Ferrovane");
        QVERIFY(QDir().mkpath(folder));
        QFile(folder + "/.replay-2026-01-01_10-00-00-1f.mp4.part").open(QIODevice::WriteOnly);
        auto live = PartialClip::create(folder, "2026-01-01_10-00-01");
        QVERIFY(live.ok());
        QCOMPARE(Settings::recentClipsIn(folder), QStringList());
        PartialClip::removeLeftovers(folder);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(live.value()->path()).fileName()});
        live.value().reset();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

FERROVANE_TEST_MAIN(TestClipExport)
#include "tst_clipexport.moc"
