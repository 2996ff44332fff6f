#include "FrameLog.h"
#include "ScreenPainter.h"

#include "platform/linux/MonotonicClock.h"
#include "platform/linux/x11/XcbScreenCapture.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

const QColor flat(0x40, 0x40, 0x40);

// A private display with a painter and the capture backend on it.
struct Screen {
    Xvfb xvfb;
    std::unique_ptr<ScreenPainter> painter;
    std::unique_ptr<XcbScreenCapture> capture;

    bool start(QSize size = QSize(640, 480)) {
        if (!xvfb.start(size)) return false;
        painter = std::make_unique<ScreenPainter>(xvfb.display());
        capture = std::make_unique<XcbScreenCapture>(xvfb.display());
        return painter->isConnected();
    }
    // The display with that name; the main display for none.
    std::optional<DisplayInfo> display(const QString& name = QString()) {
        Result<ShareableContent> content = capture->shareableContent();
        for (const DisplayInfo& d : content ? content.value().displays : std::vector<DisplayInfo>()) {
            if (name.isEmpty() ? d.displayId == content.value().mainDisplayId : d.name == name) return d;
        }
        return std::nullopt;
    }
    std::unique_ptr<CaptureStream> stream(const DisplayInfo& display, int fps, bool showsCursor,
                                          FrameLog& log, QObject* context) {
        StreamConfiguration configuration;
        // Not the display's size: frames keep the native size, the encoder scales.
        configuration.width = 1280;
        configuration.height = 720;
        configuration.minimumFrameInterval = MediaTime(1, fps);
        configuration.showsCursor = showsCursor;
        auto stream =
            capture->createStream(display, {}, configuration, context, log.frameHandler(), log.stopHandler());
        return stream && stream.value()->startCapture() ? stream.take() : nullptr;
    }
};

// Pixels in `box` of the picture that differ from `color`.
int pixelsDifferingFrom(const QImage& image, QRect box, QColor color) {
    int count = 0;
    box &= image.rect();
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            count += image.pixel(x, y) != color.rgb();
    return count;
}

bool shows(const QImage& image, QPoint at, QColor color) {
    return image.valid(at) && image.pixel(at) == color.rgb();
}

} // namespace

class TestXcbScreenCapture : public QObject {
    Q_OBJECT

private slots:
    void shareableContent_data();
    void shareableContent();
    void unreachableDisplay_data();
    void unreachableDisplay();
    void framesShowTheScreen_data();
    void framesShowTheScreen();
    void idleUntilSomethingChanges_data();
    void idleUntilSomethingChanges();
    void framesAreStampedOnTheMonotonicClock_data();
    void framesAreStampedOnTheMonotonicClock();
    void streamEnds_data();
    void streamEnds();
    void heldBuffersDropFrames();
};

void TestXcbScreenCapture::shareableContent_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("extra"); // a second monitor, named EXTRA
    QTest::addColumn<bool>("extraIsPrimary");

    QTest::newRow("1920x1200 alone") << QSize(1920, 1200) << QRect() << false;
    QTest::newRow("1024x768 alone") << QSize(1024, 768) << QRect() << false;
    QTest::newRow("second monitor") << QSize(1024, 768) << QRect(512, 0, 512, 384) << false;
    QTest::newRow("primary second monitor") << QSize(1024, 768) << QRect(512, 0, 512, 384) << true;
}

void TestXcbScreenCapture::shareableContent() {
    QFETCH(QSize, size);
    QFETCH(QRect, extra);
    QFETCH(bool, extraIsPrimary);
    Screen screen;
    QVERIFY(screen.start(size));
    if (!extra.isNull()) QVERIFY(screen.painter->addMonitor(QStringLiteral("EXTRA"), extra, extraIsPrimary));

    Result<ShareableContent> content = screen.capture->shareableContent();
    QVERIFY(content);
    const auto& displays = content.value().displays;
    QCOMPARE(displays.size(), extra.isNull() ? 1u : 2u);
    auto rectOf = [](const DisplayInfo& d) { return QRectF(d.x, d.y, d.width, d.height); };
    // RandR decides the order; the whole screen is the one not named EXTRA.
    const bool extraFirst = displays.front().name == QLatin1String("EXTRA");
    const DisplayInfo& whole = displays[extraFirst ? 1 : 0];
    QVERIFY(!whole.name.isEmpty());
    QCOMPARE(rectOf(whole), QRectF(QPoint(0, 0), size));
    // The primary monitor is the main display, else the first one.
    QCOMPARE(content.value().mainDisplayId,
             extraIsPrimary ? displays[extraFirst ? 0 : 1].displayId : displays.front().displayId);
    if (!extra.isNull()) {
        const DisplayInfo& added = displays[extraFirst ? 0 : 1];
        QCOMPARE(added.name, QStringLiteral("EXTRA"));
        QCOMPARE(rectOf(added), QRectF(extra));
        QVERIFY(added.displayId != whole.displayId);
    }
}

void TestXcbScreenCapture::unreachableDisplay_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("environment"); // DISPLAY
    QTest::addColumn<bool>("viaStream");
    QTest::addColumn<QString>("expected");

    QTest::newRow("shareable content") << ":4242"
                                       << "" << false << "Cannot open the X display \":4242\".";
    QTest::newRow("start capture") << ":4242"
                                   << "" << true << "Cannot open the X display \":4242\".";
    QTest::newRow("from DISPLAY") << ""
                                  << ":4243" << false << "Cannot open the X display \":4243\".";
}

void TestXcbScreenCapture::unreachableDisplay() {
    QFETCH(QString, name);
    QFETCH(QString, environment);
    QFETCH(bool, viaStream);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", environment.toLatin1());
    auto restore = qScopeGuard([&] { qputenv("DISPLAY", saved); });

    XcbScreenCapture capture(name);
    FrameLog log;
    StreamConfiguration configuration;
    configuration.minimumFrameInterval = MediaTime(1, 30);
    auto stream = capture.createStream(DisplayInfo{1, QStringLiteral("X"), 640, 480, 0, 0}, {}, configuration,
                                       this, log.frameHandler(), log.stopHandler());
    QVERIFY(stream);
    const Error error =
        viaStream ? stream.value()->startCapture().error() : capture.shareableContent().error();
    QCOMPARE(error.localizedDescription(), expected);
    stream.value()->stopCapture();
    QVERIFY(log.stopErrors().isEmpty());
}

void TestXcbScreenCapture::framesShowTheScreen_data() {
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("patchColor");
    QTest::addColumn<QRect>("patch");   // drawn in a child window, so damage must come from inferiors
    QTest::addColumn<QRect>("monitor"); // captured, named PART; null for the whole screen

    QTest::newRow("centre") << QColor(Qt::red) << QColor(Qt::blue) << QRect(100, 80, 60, 40) << QRect();
    QTest::newRow("corner") << QColor(Qt::white) << QColor(Qt::black) << QRect(0, 0, 16, 16) << QRect();
    QTest::newRow("odd colours") << QColor(0x12, 0x34, 0x56) << QColor(0xfe, 0xdc, 0xba)
                                 << QRect(600, 440, 40, 40) << QRect();
    QTest::newRow("right-half monitor")
        << QColor(Qt::green) << QColor(Qt::magenta) << QRect(400, 100, 50, 50) << QRect(320, 0, 320, 480);
}

void TestXcbScreenCapture::framesShowTheScreen() {
    QFETCH(QColor, background);
    QFETCH(QColor, patchColor);
    QFETCH(QRect, patch);
    QFETCH(QRect, monitor);
    Screen screen;
    QVERIFY(screen.start());
    if (!monitor.isNull()) QVERIFY(screen.painter->addMonitor(QStringLiteral("PART"), monitor, false));
    const QRect shown = monitor.isNull() ? QRect(0, 0, 640, 480) : monitor;
    const auto display = screen.display(monitor.isNull() ? QString() : QStringLiteral("PART"));
    QVERIFY(display);
    FrameLog log;
    auto stream = screen.stream(*display, 30, false, log, this);
    QVERIFY(stream);

    const QPoint inPatch = patch.center() - shown.topLeft();
    const QPoint outside = patch.contains(shown.topLeft() + QPoint(2, 2))
                               ? QPoint(shown.width() - 3, shown.height() - 3)
                               : QPoint(2, 2);
    screen.painter->fill(background);
    QTRY_VERIFY(shows(log.lastImage(), inPatch, background));
    screen.painter->fillInWindow(patch, patchColor);
    QTRY_VERIFY(shows(log.lastImage(), inPatch, patchColor));
    const QImage image = log.lastImage();
    QCOMPARE(image.size(), shown.size());
    QCOMPARE(pixelsDifferingFrom(image, patch.translated(-shown.topLeft()), patchColor), 0);
    QVERIFY(shows(image, outside, background));
    QCOMPARE(log.entries().front().bytesPerRow, shown.width() * 4);
}

void TestXcbScreenCapture::idleUntilSomethingChanges_data() {
    QTest::addColumn<bool>("showsCursor");
    QTest::addColumn<QString>("change"); // "", "draw" or "pointer"
    QTest::addColumn<int>("changedFrames");

    QTest::newRow("still, cursor shown") << true << "" << 0;
    QTest::newRow("still, cursor hidden") << false << "" << 0;
    QTest::newRow("drawing") << false << "draw" << 1;
    QTest::newRow("pointer moved, cursor shown") << true << "pointer" << 1;
    QTest::newRow("pointer moved, cursor hidden") << false << "pointer" << 0;
}

void TestXcbScreenCapture::idleUntilSomethingChanges() {
    QFETCH(bool, showsCursor);
    QFETCH(QString, change);
    QFETCH(int, changedFrames);
    Screen screen;
    QVERIFY(screen.start());
    screen.painter->fill(flat);
    FrameLog log;
    auto stream = screen.stream(*screen.display(), 30, showsCursor, log, this);
    QVERIFY(stream);
    QTRY_VERIFY(log.entries().size() >= 8);

    // Twice, so the change detection is seen to re-arm.
    const QPoint targets[] = {{200, 150}, {450, 350}};
    for (int round = 1; round <= 2; ++round) {
        const QPoint target = targets[round - 1];
        if (change == "draw") screen.painter->fillInWindow(QRect(target, QSize(8, 8)), Qt::yellow);
        if (change == "pointer") {
            QProcess* move = screen.xvfb.startClient(
                QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(target.x()), QString::number(target.y())});
            QVERIFY(move->waitForFinished(5000));
        }
        const size_t seen = log.entries().size();
        QTRY_VERIFY(log.entries().size() >= seen + 10);
        QCOMPARE(log.completeCount(), 1 + round * changedFrames);
        const QRect aroundTarget(target - QPoint(2, 2), QSize(24, 24));
        QCOMPARE(pixelsDifferingFrom(log.lastImage(), aroundTarget, flat) > 20, changedFrames == 1);
    }
    const auto entries = log.entries();
    QCOMPARE(entries.front().status, FrameStatus::Complete);
    for (const FrameLog::Entry& entry : entries)
        QCOMPARE(entry.image.isNull(), entry.status == FrameStatus::Idle);
    // The cursor left nothing behind at its first place, nor at the centre where it started.
    if (showsCursor && change == "pointer") {
        QCOMPARE(pixelsDifferingFrom(log.lastImage(), QRect(targets[0], QSize(24, 24)), flat), 0);
        QCOMPARE(pixelsDifferingFrom(log.lastImage(), QRect(QPoint(320, 240), QSize(24, 24)), flat), 0);
    }
}

void TestXcbScreenCapture::framesAreStampedOnTheMonotonicClock_data() {
    QTest::addColumn<int>("fps");
    QTest::newRow("30 fps") << 30;
    QTest::newRow("15 fps") << 15;
}

void TestXcbScreenCapture::framesAreStampedOnTheMonotonicClock() {
    QFETCH(int, fps);
    Screen screen;
    QVERIFY(screen.start());
    FrameLog log;
    const MediaTime before = MonotonicClock::read();
    auto stream = screen.stream(*screen.display(), fps, true, log, this);
    QVERIFY(stream);
    QTRY_VERIFY(log.entries().size() >= 16);
    stream->stopCapture();
    const MediaTime after = MonotonicClock::read();

    const auto entries = log.entries();
    std::vector<double> gapsSeconds;
    for (size_t i = 0; i < entries.size(); ++i) {
        QCOMPARE(entries[i].time.timescale(), MediaTime::nanosecondTimescale);
        QVERIFY(entries[i].time > before && entries[i].time < after);
        if (i > 0) gapsSeconds.push_back((entries[i].time - entries[i - 1].time).seconds());
    }
    std::sort(gapsSeconds.begin(), gapsSeconds.end());
    const double interval = 1.0 / fps;
    // Never bunched, even after a late tick; spaced by the interval.
    QVERIFY2(gapsSeconds.front() > 0.5 * interval, qPrintable(QString::number(gapsSeconds.front())));
    const double median = gapsSeconds[gapsSeconds.size() / 2];
    QVERIFY2(median > 0.8 * interval && median < 1.25 * interval, qPrintable(QString::number(median)));
}

void TestXcbScreenCapture::streamEnds_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("workerContext"); // frames handled on a worker thread, else on this one
    QTest::addColumn<QString>("expected");   // the stop error; none when the owner stopped

    QTest::newRow("stopCapture") << "stopCapture" << false << "";
    QTest::newRow("destroyed") << "destroy" << false << "";
    QTest::newRow("stopCapture, worker") << "stopCapture" << true << "";
    QTest::newRow("destroyed, worker") << "destroy" << true << "";
    QTest::newRow("server killed") << "kill" << false << "The X display connection was lost.";
    QTest::newRow("monitor removed") << "unplug" << true << "The display \"GONE\" was disconnected.";
}

void TestXcbScreenCapture::streamEnds() {
    QFETCH(QString, how);
    QFETCH(bool, workerContext);
    QFETCH(QString, expected);
    Screen screen;
    QVERIFY(screen.start());
    QVERIFY(screen.painter->addMonitor(QStringLiteral("GONE"), QRect(0, 0, 320, 240), false));
    QThread worker;
    QObject workerContextObject;
    workerContextObject.moveToThread(&worker);
    worker.start();
    auto joinWorker = qScopeGuard([&] {
        worker.quit();
        worker.wait();
    });
    QObject* context = workerContext ? &workerContextObject : this;
    // Complete frames keep flowing, so pictures are in flight at the end.
    QTimer repaint;
    connect(&repaint, &QTimer::timeout,
            [&, step = 0]() mutable { screen.painter->fill(++step % 2 ? Qt::cyan : Qt::darkBlue); });
    repaint.start(20);
    FrameLog log;
    std::unique_ptr<CaptureStream> stream =
        screen.stream(*screen.display(QStringLiteral("GONE")), 60, true, log, context);
    QVERIFY(stream);
    QTRY_VERIFY(log.completeCount() >= 10);
    repaint.stop();
    // Without an event loop for a while, frames wait in this thread's queue at the end.
    QThread::msleep(150);

    if (how == "stopCapture" || how == "destroy") {
        how == "destroy" ? stream.reset() : stream->stopCapture();
        log.markStopped();
    } else if (how == "kill") {
        screen.painter.reset();
        screen.xvfb.kill();
    } else {
        QVERIFY(screen.painter->removeMonitor(QStringLiteral("GONE")));
    }
    QTRY_COMPARE(log.stopErrors(), expected.isEmpty() ? QStringList() : QStringList{expected});
    QTest::qWait(200);
    if (stream) stream->stopCapture();
    QCOMPARE(log.stopErrors().size(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(log.lateFrames(), 0);
    if (!expected.isEmpty())
        QVERIFY(log.stopThread() != QThread::currentThread() && log.stopThread() != &worker);
    const auto entries = log.entries();
    QVERIFY(std::all_of(entries.begin(), entries.end(),
                        [&](const auto& e) { return e.thread == context->thread(); }));
    QCOMPARE(log.lastImage().size(), QSize(320, 240));
}

void TestXcbScreenCapture::heldBuffersDropFrames() {
    Screen screen;
    QVERIFY(screen.start());
    QTimer repaint;
    connect(&repaint, &QTimer::timeout,
            [&, step = 0]() mutable { screen.painter->fill(++step % 2 ? Qt::red : Qt::darkGreen); });
    repaint.start(20);
    FrameLog log;
    log.holdPictures(true);
    auto stream = screen.stream(*screen.display(), 30, false, log, this);
    QVERIFY(stream);
    const int queueDepth = StreamConfiguration().queueDepth;
    QTRY_COMPARE(log.completeCount(), queueDepth);
    // Every buffer is held downstream: the screen keeps changing, but those ticks are dropped.
    QTest::qWait(300);
    QCOMPARE(log.completeCount(), queueDepth);

    repaint.stop();
    screen.painter->fill(Qt::yellow);
    log.holdPictures(false);
    QTRY_VERIFY(shows(log.lastImage(), QPoint(320, 240), Qt::yellow));
}

FERROVANE_TEST_MAIN(TestXcbScreenCapture)
#include "tst_xcbscreencapture.moc"
