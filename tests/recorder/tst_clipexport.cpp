#include "recorder/BufferRoot.h"
#include "recorder/ClipExport.h"
#include "recorder/ReplayError.h"
#include "recorder/ReplayRecorder.h"
#include "support/FakeMedia.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

namespace {

struct Rig {
    explicit Rig(double buffer = 30)
        : recorder(std::make_unique<ReplayRecorder>(buffer, 30, 1920, fakes.platform())) {
        fakes.writers->autoComplete = true;
        QDir(folder).removeRecursively();
        recorder->start();
    }
    // One segment per listed start; each closed by the next frame. The last one stays open.
    void frames(const QList<double>& times) {
        for (double t : times)
            fakes.capture->deliver(t);
    }
    void duration(size_t writer, double seconds) {
        fakes.assets->infos[fakes.writers->record(writer).path] =
            AssetInfo{true, MediaTime::fromSeconds(seconds)};
    }
    Result<QString> save(double seconds, double now) {
        fakes.clock->set(now);
        std::optional<Result<QString>> result;
        std::atomic<bool> done = false;
        recorder->saveLast(seconds, folder, [&](const Result<QString>& r) {
            result = r;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done.load(); }, 5000)) return platformError("no completion");
        return *result;
    }
    QList<double> rangeStarts() const {
        return values([](auto& r) { return r.start.seconds(); });
    }
    QList<double> rangeLengths() const {
        return values([](auto& r) { return r.duration.seconds(); });
    }
    QList<double> rangeAts() const {
        return values([](auto& r) { return r.at.seconds(); });
    }
    template <typename F> QList<double> values(F f) const {
        QList<double> list;
        for (const auto& range : fakes.assets->exports.back().first.ranges)
            list << std::round(f(range) * 1000) / 1000;
        return list;
    }
    QStringList clips() const { return QDir(folder).entryList(QDir::Files); }

    QString folder = QDir::home().filePath("Movies/Ferrovane");
    FakeMediaPlatform fakes;
    std::unique_ptr<ReplayRecorder> recorder;
};

} // namespace

class TestClipExport : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { BufferRoot::removeAll(); }

    void workedExample() {
        Rig rig;
        rig.frames({100, 105, 110});
        rig.duration(2, 2.3); // [110, 112.3) is closed by the save
        const Result<QString> clip = rig.save(5, 112.3);
        QVERIFY2(clip.ok(), qPrintable(clip.ok() ? "" : clip.error().description));
        QCOMPARE(rig.rangeStarts(), (QList<double>{2.3, 0}));
        QCOMPARE(rig.rangeLengths(), (QList<double>{2.7, 2.3}));
        QCOMPARE(rig.rangeAts(), (QList<double>{0, 2.7}));
        QCOMPARE(rig.fakes.assets->exports.back().second, ExportPreset::Passthrough);
        QVERIFY(QFileInfo(clip.value()).fileName().startsWith("replay-"));
        QCOMPARE(QFileInfo(clip.value()).absolutePath(), QFileInfo(rig.folder).absoluteFilePath());
        QCOMPARE(rig.recorder->snapshot().exportsInProgress, 0);
        // The save closed the open segment at its own time; capture goes on into a new one.
        QCOMPARE(rig.recorder->snapshot().lastSegmentEnd.seconds(), 112.3);
    }

    void boundaries() {
        Rig rig;
        rig.frames({105, 110, 115});
        rig.duration(2, 0.0001);
        // Cut at 110: [105,110) ends exactly there and is left out; [110,115) starts there and is whole.
        QVERIFY(rig.save(5, 115).ok());
        QCOMPARE(rig.rangeStarts(), (QList<double>{0}));
        QCOMPARE(rig.rangeLengths(), (QList<double>{5}));
    }

    void effectiveLength_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("length");
        QTest::newRow("zero is one second") << 0.0 << 1.0;
        QTest::newRow("negative is one second") << -4.0 << 1.0;
        QTest::newRow("within the buffer") << 12.0 << 12.0;
        QTest::newRow("above the buffer is the buffer") << 45.0 << 30.0;
    }
    void effectiveLength() {
        QFETCH(double, seconds);
        QFETCH(double, length);
        Rig rig(30);
        rig.frames({90, 95, 100, 105, 110, 115, 120, 125});
        rig.duration(7, 5);
        QVERIFY(rig.save(seconds, 130).ok());
        double total = 0;
        for (double l : rig.rangeLengths())
            total += l;
        QCOMPARE(total, length);
    }

    void tooLittleMaterial_data() {
        QTest::addColumn<double>("material");
        QTest::addColumn<bool>("saved");
        QTest::newRow("0.2 s") << 0.2 << false;
        QTest::newRow("0.25 s") << 0.25 << true;
    }
    void tooLittleMaterial() {
        QFETCH(double, material);
        QFETCH(bool, saved);
        Rig rig;
        rig.frames({100});
        rig.duration(0, material);
        const Result<QString> clip = rig.save(5, 100 + material);
        QCOMPARE(clip.ok(), saved);
        if (!saved) {
            QCOMPARE(clip.error().description, QString("Nothing recorded yet. Give it a few seconds."));
            QVERIFY(rig.clips().isEmpty());
        }
        QCOMPARE(rig.recorder->snapshot().exportsInProgress, 0);
    }

    void nothingRecordedRightAfterStart() {
        Rig rig;
        const Result<QString> clip = rig.save(5, 50);
        QVERIFY(ReplayError::is(clip.error(), ReplayError::Kind::NothingRecorded));
    }

    void segmentWithoutVideoIsSkipped() {
        Rig rig;
        rig.frames({100, 105});
        rig.fakes.assets->infos[rig.fakes.writers->record(0).path] =
            AssetInfo{false, MediaTime::fromSeconds(5)};
        rig.duration(1, 2);
        QVERIFY(rig.save(10, 107).ok());
        QCOMPARE(rig.rangeLengths(), (QList<double>{2}));
    }

    void failures_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exports");
        QTest::newRow("load error passes through") << 0 << "Invalid data found when processing input" << 0;
        QTest::newRow("fallback error") << 1 << "Could not save the replay: No space left on device" << 2;
        QTest::newRow("fallback error without text") << 2 << "Could not save the replay: unknown error" << 2;
        QTest::newRow("folder cannot be made") << 3 << "Could not create the folder %1." << 0;
    }
    void failures() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        QFETCH(int, exports);
        Rig rig;
        rig.frames({100, 105});
        if (kind == 0)
            rig.fakes.assets->loadErrors[rig.fakes.writers->record(0).path] = platformError(message);
        if (kind == 1 || kind == 2) {
            rig.fakes.assets->passthroughError = platformError("codec parameters differ");
            rig.fakes.assets->fallbackError = platformError(kind == 1 ? "No space left on device" : "");
        }
        if (kind == 3) {
            QDir().mkpath(QFileInfo(rig.folder).absolutePath());
            QFile(rig.folder).open(QIODevice::WriteOnly); // a file where the folder should be
            message = message.arg(rig.folder);
        }
        const Result<QString> clip = rig.save(10, 107);
        QVERIFY(!clip.ok());
        QCOMPARE(clip.error().localizedDescription(), message);
        QCOMPARE(int(rig.fakes.assets->exports.size()), exports);
        if (kind != 3)
            QVERIFY(rig.clips().isEmpty());
        else
            QFile::remove(rig.folder);
        QTRY_COMPARE(rig.recorder->snapshot().exportsInProgress, 0);
        QCOMPARE(rig.recorder->snapshot().segments.size(), size_t(2)); // the buffer is untouched
    }

    void fallbackAfterRefusedPassthrough() {
        Rig rig;
        rig.frames({100, 105});
        rig.fakes.assets->passthroughError = platformError("codec parameters differ");
        const Result<QString> clip = rig.save(10, 107);
        QVERIFY(clip.ok());
        QCOMPARE(rig.fakes.assets->exports.back().second, ExportPreset::HighestQuality);
        QCOMPARE(rig.clips(), QStringList{QFileInfo(clip.value()).fileName()});
    }

    void sameSecondGetsANewName() {
        const QString folder = QDir::home().filePath("names");
        QDir().mkpath(folder);
        const QString stamp = ClipExport::timestamp(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        QCOMPARE(stamp, QString("2026-03-14_09-26-53"));
        QCOMPARE(QFileInfo(ClipExport::claimClipPath(folder, stamp).value()).fileName(),
                 QString("replay-2026-03-14_09-26-53.mp4"));
        QCOMPARE(QFileInfo(ClipExport::claimClipPath(folder, stamp).value()).fileName(),
                 QString("replay-2026-03-14_09-26-53-2.mp4"));
        QCOMPARE(QFileInfo(ClipExport::claimClipPath(folder, stamp).value()).fileName(),
                 QString("replay-2026-03-14_09-26-53-3.mp4"));
    }

    void concurrentSavesEachGetAFile() {
        Rig rig;
        rig.frames({100, 105});
        rig.fakes.clock->set(107);
        std::atomic<int> done = 0;
        QStringList paths;
        std::mutex m;
        for (int i = 0; i < 2; ++i)
            rig.recorder->saveLast(10, rig.folder, [&](const Result<QString>& r) {
                std::lock_guard lock(m);
                paths << (r.ok() ? r.value() : r.error().description);
                ++done;
            });
        QTRY_COMPARE(done.load(), 2);
        QCOMPARE(rig.clips().size(), 2);
        QVERIFY(paths[0] != paths[1]);
    }
};

FERROVANE_TEST_MAIN(TestClipExport)
#include "tst_clipexport.moc"
