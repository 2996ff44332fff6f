#include "recorder/BufferRoot.h"
#include "recorder/ReplayError.h"
#include "recorder/ReplayRecorder.h"
#include "support/FakeMedia.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>

#include <sys/stat.h>

namespace {

// A started recorder on fakes; frame times are seconds on the fake host clock.
struct Rig {
    explicit Rig(double buffer = 30, int fps = 30, double width = 1920)
        : recorder(std::make_unique<ReplayRecorder>(buffer, fps, width, fakes.platform())) {}
    bool start() { return recorder->start().ok(); }
    void frame(double t, FrameStatus status = FrameStatus::Complete, bool image = true) {
        fakes.capture->deliver(t, status, image);
    }
    // Frames every 5 s from `from` to `to` inclusive; each one after the first rolls a segment, and each
    // closed segment is finalised at once.
    void rollEvery5(double from, double to) {
        for (double t = from; t <= to + 1e-9; t += 5) {
            frame(t);
            fakes.writers->completeAll();
        }
    }
    ReplayRecorder::Snapshot state() { return recorder->snapshot(); }
    static MediaTime at(double s) { return MediaTime::fromNanoseconds(int64_t(s * 1e9 + 0.5)); }

    FakeMediaPlatform fakes;
    std::unique_ptr<ReplayRecorder> recorder;
};

unsigned mode(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

QList<double> ends(const ReplayRecorder::Snapshot& s) {
    QList<double> list;
    for (const Segment& segment : s.segments)
        list << segment.end.seconds();
    return list;
}

} // namespace

class TestReplayRecorder : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { BufferRoot::removeAll(); }

    // The capture is twice the display's width in points, at most the width limit, rounded down to even.
    void startConfiguresTheStream_data() {
        QTest::addColumn<QSizeF>("display");
        QTest::addColumn<double>("maxWidth");
        QTest::addColumn<QSize>("size");
        QTest::newRow("1512x982 at 1920") << QSizeF(1512, 982) << 1920.0 << QSize(1920, 1246);
        QTest::newRow("1512x982 at 3840") << QSizeF(1512, 982) << 3840.0 << QSize(3024, 1962);
        QTest::newRow("1920x1080 at 1280") << QSizeF(1920, 1080) << 1280.0 << QSize(1280, 720);
        QTest::newRow("odd result made even") << QSizeF(1001, 999) << 1001.0 << QSize(1000, 998);
    }
    void startConfiguresTheStream() {
        QFETCH(QSizeF, display);
        QFETCH(double, maxWidth);
        QFETCH(QSize, size);
        Rig rig(30, 24, maxWidth);
        rig.fakes.capture->displays = {{3, "left", 800, 600, 0, 0},
                                       {7, "main", display.width(), display.height(), 800, 0}};
        QVERIFY(rig.start());
        const StreamConfiguration& c = rig.fakes.capture->lastConfiguration;
        QCOMPARE(rig.fakes.capture->lastDisplay.displayId, 7u);
        QCOMPARE(QSize(c.width, c.height), size);
        QCOMPARE(c.minimumFrameInterval, MediaTime(1, 24));
        QCOMPARE(c.pixelFormat, 0x42475241u); // 'BGRA'
        QVERIFY(c.showsCursor);
        QCOMPARE(c.queueDepth, 6);
        // The very first segment is encoded at the capture size, never at a placeholder.
        rig.frame(100);
        const VideoSettings s = rig.fakes.writers->record(0).settings;
        QCOMPARE(QSize(s.width, s.height), size);
        QCOMPARE(s.averageBitRate, int64_t(size.width()) * size.height() * 3);
        QCOMPARE(s.maxKeyFrameInterval, 24);
        QCOMPARE(s.expectedSourceFrameRate, 24);
        QVERIFY(s.highProfile && !s.allowFrameReordering && s.expectsMediaDataInRealTime);
        QCOMPARE(rig.fakes.writers->record(0).sessionStart, Rig::at(100));
        // Private folders all the way down.
        QCOMPARE(mode(rig.recorder->workDir()), 0700u);
        QCOMPARE(mode(BufferRoot::location()), 0700u);
    }

    void startFailures_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("message");
        QTest::newRow("no display") << 0 << "No display found to record.";
        QTest::newRow("content error passes through") << 1 << "Cannot open the X display.";
        QTest::newRow("stream error passes through") << 2 << "stream refused";
    }
    void startFailures() {
        QFETCH(int, which);
        QFETCH(QString, message);
        Rig rig;
        if (which == 0) rig.fakes.capture->displays.clear();
        if (which == 1) rig.fakes.capture->contentError = platformError(message);
        if (which == 2) rig.fakes.capture->startError = platformError(message);
        const Status started = rig.recorder->start();
        QVERIFY(!started);
        QCOMPARE(started.error().localizedDescription(), message);
        QCOMPARE(ReplayError::is(started.error(), ReplayError::Kind::NoDisplay), which == 0);
        rig.recorder->stop(); // closes nothing, returns normally
        QCOMPARE(rig.state().inFlight, 0);
    }

    void roll_data() {
        QTest::addColumn<double>("delta");
        QTest::addColumn<bool>("rolls");
        QTest::newRow("exactly 5.0 s") << 5.0 << true;
        QTest::newRow("4.999 s") << 4.999 << false;
        QTest::newRow("well past") << 7.5 << true;
    }
    void roll() {
        QFETCH(double, delta);
        QFETCH(bool, rolls);
        Rig rig;
        QVERIFY(rig.start());
        rig.frame(100);
        rig.frame(100 + delta);
        QCOMPARE(rig.fakes.writers->count(), size_t(rolls ? 2 : 1));
        const auto first = rig.fakes.writers->record(0);
        if (rolls) {
            // The frame that rolls is the first of the new segment; the old one ends exactly there.
            QCOMPARE(first.sessionEnd, Rig::at(100 + delta));
            QCOMPARE(first.frames.size(), size_t(1));
            QCOMPARE(rig.fakes.writers->record(1).sessionStart, Rig::at(100 + delta));
            QCOMPARE(rig.fakes.writers->record(1).frames.front(), Rig::at(100 + delta));
            QCOMPARE(rig.state().inFlight, 1);
        } else {
            QCOMPARE(first.frames.size(), size_t(2));
        }
    }

    void ignoredFrames_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("image");
        QTest::newRow("idle") << int(FrameStatus::Idle) << true;
        QTest::newRow("complete without picture") << int(FrameStatus::Complete) << false;
    }
    void ignoredFrames() {
        QFETCH(int, status);
        QFETCH(bool, image);
        Rig rig;
        QVERIFY(rig.start());
        rig.frame(99, FrameStatus(status), image); // would open a segment
        QCOMPARE(rig.fakes.writers->count(), size_t(0));
        rig.frame(100);
        rig.frame(106, FrameStatus(status), image); // would roll
        QCOMPARE(rig.fakes.writers->count(), size_t(1));
        QCOMPARE(rig.fakes.writers->record(0).frames.size(), size_t(1));
    }

    void framesAtTheLastEndAreDropped() {
        Rig rig;
        rig.fakes.writers->autoComplete = true;
        QVERIFY(rig.start());
        rig.frame(100);
        rig.fakes.clock->set(102);
        bool done = false;
        rig.recorder->saveLast(5, QDir::home().filePath("clips"),
                               [&](const Result<QString>&) { done = true; });
        QTRY_VERIFY(done);
        QCOMPARE(rig.state().lastSegmentEnd, Rig::at(102));
        rig.fakes.capture->deliver(Rig::at(102));
        QCOMPARE(rig.fakes.writers->count(), size_t(1));
        rig.fakes.capture->deliver(MediaTime::fromNanoseconds(102'000'000'001));
        QCOMPARE(rig.fakes.writers->count(), size_t(2));
        QCOMPARE(rig.fakes.writers->record(1).sessionStart, MediaTime::fromNanoseconds(102'000'000'001));
    }

    void notReadyDropsTheFrame() {
        Rig rig;
        QVERIFY(rig.start());
        rig.frame(100);
        rig.fakes.writers->ready = false;
        rig.frame(100.1);
        QCOMPARE(rig.fakes.writers->record(0).frames.size(), size_t(1));
        QCOMPARE(rig.state().framesDropped, int64_t(1));
    }

    void refusedSegmentRetriesWithNextFrame() {
        Rig rig;
        QVERIFY(rig.start());
        rig.fakes.writers->refuseOpen = true;
        rig.frame(100);
        QVERIFY(!rig.state().writing);
        rig.fakes.writers->refuseOpen = false;
        rig.frame(100.1);
        QVERIFY(rig.state().writing);
        QCOMPARE(rig.state().segmentStart, Rig::at(100.1));
    }

    void prune_data() {
        QTest::addColumn<double>("lastRoll");
        QTest::addColumn<WriterStatus>("status"); // of the segment closed at lastRoll
        QTest::addColumn<QList<double>>("remaining");
        // Segments [100,105) … are finalised in turn; the one closed at lastRoll decides.
        QTest::newRow("35.0 s after stays")
            << 140.0 << WriterStatus::Completed << QList<double>{105, 110, 115, 120, 125, 130, 135, 140};
        QTest::newRow("35.001 s after goes")
            << 140.001 << WriterStatus::Completed << QList<double>{110, 115, 120, 125, 130, 135, 140.001};
        QTest::newRow("failed segment is dropped, pruning goes on")
            << 140.001 << WriterStatus::Failed << QList<double>{110, 115, 120, 125, 130, 135};
    }
    void prune() {
        QFETCH(double, lastRoll);
        QFETCH(WriterStatus, status);
        QFETCH(QList<double>, remaining);
        Rig rig(30);
        QVERIFY(rig.start());
        rig.rollEvery5(100, 135);
        rig.frame(lastRoll);
        const QString closed = rig.fakes.writers->record(rig.fakes.writers->count() - 2).path;
        rig.fakes.writers->completeAll(status);
        const auto state = rig.state();
        QCOMPARE(ends(state), remaining);
        QCOMPARE(state.inFlight, 0);
        QCOMPARE(QFile::exists(closed), status == WriterStatus::Completed);
        QCOMPARE(QFile::exists(rig.fakes.writers->record(0).path), remaining.first() == 105);
    }

    void pruningWaitsForExports() {
        Rig rig(30);
        rig.fakes.writers->autoComplete = true;
        QSemaphore entered, release;
        rig.fakes.assets->duringExport = [&] {
            entered.release();
            release.acquire();
        };
        QVERIFY(rig.start());
        rig.rollEvery5(100, 110);
        rig.fakes.clock->set(112);
        std::atomic<bool> saved = false;
        rig.recorder->saveLast(10, QDir::home().filePath("clips"),
                               [&](const Result<QString>&) { saved = true; });
        QVERIFY(entered.tryAcquire(1, 5000));
        QCOMPARE(rig.state().exportsInProgress, 1);
        rig.fakes.writers->completeAll();
        rig.rollEvery5(115, 160);
        QCOMPARE(ends(rig.state()).first(), 105.0); // nothing pruned meanwhile
        release.release();
        QTRY_VERIFY(saved);
        QTRY_COMPARE(rig.state().exportsInProgress, 0);
        rig.rollEvery5(165, 165);
        QCOMPARE(ends(rig.state()).first(), 130.0); // caught up in one step: cutoff 165 - 35
    }

    void discardWaitsForFinalisation() {
        Rig rig;
        QVERIFY(rig.start());
        rig.rollEvery5(100, 105);
        rig.frame(110); // [105,110) being finalised
        rig.fakes.clock->set(111);
        rig.recorder->stop();
        rig.recorder->discard();
        QCOMPARE(rig.state().segments.size(), size_t(1));
        QVERIFY(QFileInfo::exists(rig.recorder->workDir()));
        rig.fakes.writers->completeAll();
        QVERIFY(rig.state().segments.empty());
        QVERIFY(!QFileInfo::exists(rig.recorder->workDir()));
    }

    void bufferedSeconds_data() {
        QTest::addColumn<QList<double>>("frames");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("expected");
        QTest::newRow("nothing") << QList<double>{} << 100.0 << 0.0;
        QTest::newRow("first segment being written") << QList<double>{100} << 102.5 << 2.5;
        QTest::newRow("clock before the start") << QList<double>{100} << 99.0 << 0.0;
        QTest::newRow("from the oldest listed") << QList<double>{100, 105, 110} << 111.0 << 11.0;
        QTest::newRow("never above the buffer")
            << QList<double>{100, 105, 110, 115, 120, 125, 130, 135} << 139.0 << 30.0;
    }
    void bufferedSeconds() {
        QFETCH(QList<double>, frames);
        QFETCH(double, now);
        QFETCH(double, expected);
        Rig rig(30);
        QVERIFY(rig.start());
        for (double t : frames) {
            rig.frame(t);
            rig.fakes.writers->completeAll();
        }
        rig.fakes.clock->set(now);
        QCOMPARE(rig.recorder->bufferedSeconds(), expected);
    }

    void unexpectedStop() {
        Rig rig;
        QVERIFY(rig.start());
        int calls = 0;
        Error received;
        rig.recorder->setOnStop([&](const Error& e) {
            ++calls;
            received = e;
        });
        rig.frame(100);
        rig.fakes.clock->set(101);
        const Error lost = platformError("The X display connection was lost.");
        rig.fakes.capture->failStream(lost);
        QCOMPARE(calls, 1);
        QCOMPARE(received, lost);
        const auto state = rig.state();
        QVERIFY(!state.streaming);
        QCOMPARE(state.inFlight, 1);
        QCOMPARE(rig.fakes.writers->record(0).sessionEnd, Rig::at(101));
    }

    void staleBuffers() {
        ReplayRecorder::removeStaleBuffers(); // nothing there: silent
        const QString root = BufferRoot::temporaryDirectory() + "/FerrovaneBuffer";
        QVERIFY(QDir().mkpath(root + "/OLD"));
        QVERIFY(QDir().mkpath(QDir::home().filePath("precious")));
        QVERIFY(QFile::link(QDir::home().filePath("precious"), root + "/OLD/link"));
        QFile(QDir::home().filePath("precious/keep")).open(QIODevice::WriteOnly);
        ReplayRecorder::removeStaleBuffers();
        QVERIFY(!QFileInfo::exists(root));
        QVERIFY(QFileInfo::exists(QDir::home().filePath("precious/keep")));
    }

    void linkedRootIsNeverUsed() {
        const QString root = BufferRoot::temporaryDirectory() + "/FerrovaneBuffer";
        const QString elsewhere = QDir::home().filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        QFile(elsewhere + "/keep").open(QIODevice::WriteOnly);
        QVERIFY(QFile::link(elsewhere, root));
        Rig rig;
        QVERIFY(!rig.recorder->workDir().startsWith(root + "/"));
        QVERIFY(rig.start());
        QVERIFY(BufferRoot::isPrivateFolder(rig.recorder->workDir()));
        rig.recorder->stop();
        rig.recorder->discard();
        QTRY_VERIFY(!QFileInfo::exists(rig.recorder->workDir()));
        ReplayRecorder::removeStaleBuffers();
        QVERIFY(QFileInfo(root).isSymLink());
        QVERIFY(QFileInfo::exists(elsewhere + "/keep"));
        QFile::remove(root);
    }
};

FERROVANE_TEST_MAIN(TestReplayRecorder)
#include "tst_replayrecorder.moc"
