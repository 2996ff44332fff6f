#include "recorder/BufferRoot.h"
#include "recorder/ReplayError.h"
#include "recorder/ReplayRecorder.h"
#include "support/FakeMedia.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSemaphore>

namespace {

using Rig = RecorderRig;

const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

QList<double> ends(const ReplayRecorder::Snapshot& s) {
    QList<double> list;
    for (const Segment& segment : s.segments)
        list << segment.end.seconds();
    return list;
}

} // namespace

// Holds every export at its start until opened. Opens on the way out too, so that a failed check does not
// leave an export blocked and the rig hanging in its destructor; declare it after the rig.
struct ExportGate {
    explicit ExportGate(FakeMediaAssets& assets) {
        assets.duringExport = [in = in, out = out] {
            in->release();
            out->acquire();
        };
    }
    ~ExportGate() { open(); }
    bool entered() { return in->tryAcquire(1, 5000); }
    void open() { out->release(); }
    std::shared_ptr<QSemaphore> in = std::make_shared<QSemaphore>(), out = std::make_shared<QSemaphore>();
};

class TestReplayRecorder : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { BufferRoot::removeAll(); }

    // The capture is the display's own pixels, at most the width limit, rounded down to even: never scaled
    // up.
    void startConfiguresTheStream_data() {
        QTest::addColumn<QSizeF>("display");
        QTest::addColumn<double>("maxWidth");
        QTest::addColumn<QSize>("size");
        QTest::newRow("2560x1600 at 1920") << QSizeF(2560, 1600) << 1920.0 << QSize(1920, 1200);
        QTest::newRow("HiDPI keeps its pixels") << QSizeF(3840, 2400) << 3840.0 << QSize(3840, 2400);
        QTest::newRow("odd result made even") << QSizeF(1001, 999) << 1920.0 << QSize(1000, 998);
    }
    void startConfiguresTheStream() {
        QFETCH(QSizeF, display);
        QFETCH(double, maxWidth);
        QFETCH(QSize, size);
        Rig rig(24, maxWidth);
        rig.capture->displays = {{3, "left", 800, 600, 0, 0},
                                 {7, "main", display.width(), display.height(), 800, 0}};
        QVERIFY(rig.start());
        const StreamConfiguration& c = rig.capture->lastConfiguration;
        QCOMPARE(rig.capture->lastDisplay.displayId, 7u);
        QCOMPARE(QSize(c.width, c.height), size);
        QCOMPARE(c.minimumFrameInterval, MediaTime(1, 24));
        // The very first segment is encoded at the capture size, never at a placeholder.
        rig.frame(100);
        // High profile, no frame reordering, real time: the defaults.
        QCOMPARE(
            rig.writers->record(0).settings,
            (VideoSettings{size.width(), size.height(), int64_t(size.width()) * size.height() * 3, 24, 24}));
        QCOMPARE(rig.writers->record(0).sessionStart, secondsAt(100));
        // Private folders all the way down.
        QCOMPARE(QFile::permissions(rig.recorder->workDir()), ownerOnly);
        QCOMPARE(QFile::permissions(BufferRoot::location()), ownerOnly);
    }

    void startFailures() {
        for (const bool noDisplay : {true, false}) { // else the stream is refused
            Rig rig;
            if (noDisplay) rig.capture->displays.clear();
            rig.capture->startError = platformError("stream refused");
            const Status started = rig.start();
            QVERIFY(!started);
            QCOMPARE(ReplayError::is(started.error(), ReplayError::Kind::NoDisplay), noDisplay);
        }
    }

    // What the frame after the one at 100 s does: roll the segment, join it, or go nowhere.
    void secondFrame_data() {
        QTest::addColumn<double>("time");
        QTest::addColumn<FrameStatus>("status");
        QTest::addColumn<bool>("full"); // the writer has no room after the first frame
        QTest::addColumn<int>("segments");
        QTest::addColumn<int>("framesInFirst");
        const FrameStatus complete = FrameStatus::Complete;
        QTest::newRow("exactly 5.0 s rolls") << 105.0 << complete << false << 2 << 1;
        QTest::newRow("4.999 s joins") << 104.999 << complete << false << 1 << 2;
        QTest::newRow("idle is ignored") << 106.0 << FrameStatus::Idle << false << 1 << 1;
        QTest::newRow("full writer: dropped") << 100.1 << complete << true << 1 << 1;
    }
    void secondFrame() {
        QFETCH(double, time);
        QFETCH(FrameStatus, status);
        QFETCH(bool, full);
        QFETCH(int, segments);
        QFETCH(int, framesInFirst);
        Rig rig;
        QVERIFY(rig.start());
        if (status != FrameStatus::Complete) {
            rig.frame(99, status); // would open a segment
            QCOMPARE(rig.writers->count(), size_t(0));
        }
        rig.frame(100);
        rig.writers->ready = !full;
        rig.frame(time, status);
        QCOMPARE(rig.writers->count(), size_t(segments));
        const auto first = rig.writers->record(0);
        QCOMPARE(first.sessionStart, secondsAt(100));
        QCOMPARE(rig.state().segmentStart, rig.writers->record(segments - 1).sessionStart);
        QCOMPARE(first.frames.size(), size_t(framesInFirst));
        QCOMPARE(rig.state().framesDropped, int64_t(full));
        if (segments == 2) {
            // The frame that rolls is the first of the new segment; the old one ends exactly there.
            QCOMPARE(first.sessionEnd, secondsAt(time));
            QCOMPARE(rig.writers->record(1).sessionStart, secondsAt(time));
            QCOMPARE(rig.writers->record(1).frames.front(), secondsAt(time));
            QCOMPARE(rig.state().inFlight, 1);
        }
    }

    // Segments closed every 5 s from 105 s on, the last at lastRoll: time, then free space, decides what
    // stays. 10 MB a segment on a 1000 MB disk where 100 MB must stay free; the newest always stays.
    void prune_data() {
        QTest::addColumn<double>("lastRoll");
        QTest::addColumn<bool>("completed"); // the segment closed at lastRoll
        QTest::addColumn<int>("otherMegabytes");
        QTest::addColumn<QList<double>>("remaining");
        QTest::newRow("35.0 s after stays")
            << 140.0 << true << 0 << QList<double>{105, 110, 115, 120, 125, 130, 135, 140};
        QTest::newRow("35.001 s after goes")
            << 140.001 << true << 0 << QList<double>{110, 115, 120, 125, 130, 135, 140.001};
        QTest::newRow("failed segment is dropped, pruning goes on")
            << 140.001 << false << 0 << QList<double>{110, 115, 120, 125, 130, 135};
        QTest::newRow("low on space: oldest go") << 150.0 << true << 850 << QList<double>{135, 140, 145, 150};
        QTest::newRow("nearly full: the newest stays") << 150.0 << true << 995 << QList<double>{150};
    }
    void prune() {
        QFETCH(double, lastRoll);
        QFETCH(bool, completed);
        QFETCH(int, otherMegabytes);
        QFETCH(QList<double>, remaining);
        Rig rig;
        rig.writers->segmentBytes = 10 << 20;
        rig.disk->totalBytes = int64_t(1000) << 20;
        rig.disk->otherBytes = int64_t(otherMegabytes) << 20;
        QVERIFY(rig.start());
        rig.rollEvery5(100, lastRoll - 5);
        rig.frame(lastRoll);
        rig.writers->completeAll(completed ? Status(Ok{}) : Status(platformError("disk full")));
        QCOMPARE(ends(rig.state()), remaining);
        QCOMPARE(rig.state().inFlight, 0);
        // Dropped segments leave no file behind; the open one has its own.
        QCOMPARE(QDir(rig.recorder->workDir()).entryList(QDir::Files).size(), remaining.size() + 1);
    }

    void pruningWaitsForExports() {
        Rig rig;
        rig.writers->autoComplete = true;
        ExportGate gate(*rig.assets);
        QVERIFY(rig.start());
        rig.rollEvery5(100, 110);
        rig.clock->set(112);
        std::atomic<bool> saved = false;
        rig.recorder->saveLast(10, rig.folder, [&](const Result<QString>&) { saved = true; });
        QVERIFY(gate.entered());
        QCOMPARE(rig.state().exportsInProgress, 1);
        rig.writers->completeAll();
        rig.rollEvery5(115, 160);
        QCOMPARE(ends(rig.state()).first(), 105.0); // nothing pruned meanwhile
        gate.open();
        QTRY_VERIFY(saved);
        QTRY_COMPARE(rig.state().exportsInProgress, 0);
        rig.rollEvery5(165, 165);
        QCOMPARE(ends(rig.state()).first(), 130.0); // caught up in one step: cutoff 165 - 35
    }

    // The buffer goes only once nothing reads or finishes it: a save in progress still gets its clip.
    void discardWaits_data() {
        QTest::addColumn<bool>("duringExport"); // else while a segment is being finalised
        QTest::newRow("segment being finalised") << false;
        QTest::newRow("export in progress") << true;
    }
    void discardWaits() {
        QFETCH(bool, duringExport);
        Rig rig;
        std::optional<ExportGate> gate;
        if (duringExport) {
            rig.writers->autoComplete = true;
            gate.emplace(*rig.assets);
        }
        QVERIFY(rig.start());
        rig.rollEvery5(100, 105);
        rig.frame(110); // [105,110) being finalised, unless completed at once
        rig.clock->set(111);
        std::optional<Result<QString>> saved;
        if (duringExport) {
            rig.recorder->saveLast(10, rig.folder, [&](const Result<QString>& r) { saved = r; });
            QVERIFY(gate->entered());
        }
        rig.recorder->stop();
        rig.recorder->discard();
        QVERIFY(!rig.state().segments.empty());
        QVERIFY(QFileInfo::exists(rig.recorder->workDir()));
        if (duringExport)
            gate->open();
        else
            rig.writers->completeAll();
        QTRY_VERIFY(rig.state().segments.empty());
        QTRY_VERIFY(!QFileInfo::exists(rig.recorder->workDir()));
        if (duringExport) QVERIFY(saved && saved->ok());
        // A clean exit leaves no empty root behind.
        QVERIFY(!QFileInfo::exists(BufferRoot::location()));
    }

    // Another instance starting up sweeps only what no live recorder holds, and never through a link; a
    // root that is a link is never used. A recorder that goes without its discard (a quit that could not
    // wait for one) takes its buffer along.
    void sweepSparesLiveBuffersAndLinks() {
        Rig rig;
        QVERIFY(rig.start());
        rig.rollEvery5(100, 105);
        const QString stale = BufferRoot::location() + "/STALE";
        const QString precious = QDir::home().filePath("precious");
        QVERIFY(QDir().mkpath(stale) && QDir().mkpath(precious));
        QVERIFY(QFile::link(precious, stale + "/link"));
        QFile(precious + "/keep").open(QIODevice::WriteOnly);
        ReplayRecorder::removeStaleBuffers();
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(precious + "/keep"));
        QVERIFY(QFileInfo::exists(rig.writers->record(0).path));
        rig.recorder.reset();
        QVERIFY(!QFileInfo::exists(QFileInfo(rig.writers->record(0).path).absolutePath()));
        ReplayRecorder::removeStaleBuffers();
        QVERIFY(!QFileInfo::exists(BufferRoot::location()));

        const QString root = BufferRoot::temporaryDirectory() + "/FerrovaneBuffer";
        QVERIFY(QFile::link(precious, root));
        QVERIFY(rig.start());
        QVERIFY(!rig.recorder->workDir().startsWith(root + "/"));
        rig.recorder.reset();
        ReplayRecorder::removeStaleBuffers();
        QVERIFY(QFileInfo(root).isSymLink() && QFileInfo::exists(precious + "/keep"));
        QFile::remove(root);
    }

    // A work folder deleted, or replaced by a link elsewhere, is made again privately with the next segment;
    // nothing is written through the link.
    void vanishedFolderIsRecreated_data() {
        QTest::addColumn<bool>("link");
        QTest::newRow("deleted") << false;
        QTest::newRow("replaced by a link") << true;
    }
    void vanishedFolderIsRecreated() {
        QFETCH(bool, link);
        Rig rig;
        rig.writers->autoComplete = true;
        QVERIFY(rig.start());
        rig.rollEvery5(100, 105);
        const QString elsewhere = QDir::home().filePath("elsewhere");
        if (link) {
            QVERIFY(QDir().mkpath(elsewhere));
            QVERIFY(QDir(rig.recorder->workDir()).removeRecursively());
            QVERIFY(QFile::link(elsewhere, rig.recorder->workDir()));
        } else {
            QVERIFY(QDir(BufferRoot::location()).removeRecursively());
        }
        rig.rollEvery5(110, 110);
        QVERIFY(!QFileInfo(rig.recorder->workDir()).isSymLink());
        if (link) QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList());
        QCOMPARE(QFile::permissions(rig.recorder->workDir()), ownerOnly);
        QVERIFY(QFileInfo::exists(rig.writers->record(2).path));
        QVERIFY(rig.save(5, 112).ok());
        ReplayRecorder::removeStaleBuffers(); // and it is locked again
        QVERIFY(QFileInfo::exists(rig.recorder->workDir()));
    }

    // A buffer that cannot be written says why at the next save, and recovers on its own. Seconds written
    // before it failed are not the last ones: the save fails rather than pass them off as such, and the
    // fill says nothing can be saved.
    void unwritableBuffer_data() {
        QTest::addColumn<bool>("failsAtOpen"); // else when the segment is finished
        QTest::addColumn<bool>("writtenBefore");
        QTest::newRow("segment cannot be created") << true << false;
        QTest::newRow("segment cannot be completed") << false << false;
        QTest::newRow("cannot be created after good seconds") << true << true;
        QTest::newRow("cannot be completed after good seconds") << false << true;
    }
    void unwritableBuffer() {
        QFETCH(bool, failsAtOpen);
        QFETCH(bool, writtenBefore);
        Rig rig;
        QVERIFY(rig.start());
        rig.writers->autoComplete = true;
        if (writtenBefore) rig.rollEvery5(90, 95);
        // The writer names the segment file, which nobody knows of: the user reads the system's reason.
        (failsAtOpen ? rig.writers->openError : rig.writers->finishError) =
            platformError("Could not write the movie file /run/seg-1.mp4: No space left on device", ENOSPC);
        rig.frame(100);
        rig.frame(105);
        rig.clock->set(106);
        const ReplayRecorder::Fill fill = rig.recorder->fill();
        QCOMPARE(fill.seconds, 0.0);
        QCOMPARE(fill.writeError ? fill.writeError->message : QString(),
                 "The buffer cannot be written: No space left on device");
        QCOMPARE(rig.save(5, 106).error().message, "Could not save the replay: No space left on device");
        rig.writers->openError.reset();
        rig.writers->finishError.reset();
        rig.rollEvery5(110, 115);
        QVERIFY(rig.save(5, 116).ok());
        QVERIFY(!rig.state().bufferError);
    }

    void bufferedSeconds_data() {
        QTest::addColumn<double>("lastFrame"); // of frames every 5 s from 100 s on; 0: none
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("expected");
        QTest::newRow("nothing") << 0.0 << 100.0 << 0.0;
        QTest::newRow("first segment being written") << 100.0 << 102.5 << 2.5;
        QTest::newRow("clock before the start") << 100.0 << 99.0 << 0.0;
        QTest::newRow("from the oldest listed") << 110.0 << 111.0 << 11.0;
        QTest::newRow("never above the buffer") << 135.0 << 139.0 << 30.0;
    }
    void bufferedSeconds() {
        QFETCH(double, lastFrame);
        QFETCH(double, now);
        QFETCH(double, expected);
        Rig rig;
        QVERIFY(rig.start());
        rig.rollEvery5(100, lastFrame);
        rig.clock->set(now);
        QCOMPARE(rig.recorder->bufferedSeconds(), expected);
    }

    // Both close the open segment at the clock's time; only a lost stream is reported as a stop.
    void streamEnds_data() {
        QTest::addColumn<bool>("lost"); // else stop()
        QTest::newRow("stream lost") << true;
        QTest::newRow("stopped") << false;
    }
    void streamEnds() {
        QFETCH(bool, lost);
        Rig rig;
        QVERIFY(rig.start());
        QList<Error> received;
        rig.recorder->setOnStop([&](const Error& e) { received << e; });
        rig.frame(100);
        rig.clock->set(101);
        const Error gone = platformError("The X display connection was lost.");
        if (lost)
            rig.capture->failStream(gone);
        else
            rig.recorder->stop();
        QCOMPARE(received, lost ? QList<Error>{gone} : QList<Error>());
        QCOMPARE(rig.state().inFlight, 1);
        QCOMPARE(rig.writers->record(0).sessionEnd, secondsAt(101));
    }
};

FERROVANE_TEST_MAIN(TestReplayRecorder)
#include "tst_replayrecorder.moc"
