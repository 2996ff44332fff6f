#include "platform/linux/x11/XcbCaptureStream.h"
#include "platform/linux/x11/XcbConnection.h"
#include "platform/linux/x11/XcbScreenCapture.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QTimer>
#include <unistd.h>

#include <atomic>
#include <optional>

namespace {

const QColor flat(0x40, 0x40, 0x40);
const MediaTime interval(1, 30);

// What a stream delivers: frames on the test thread, which is the handler context's; the stop on the
// backend's thread.
struct FrameLog {
    QList<FrameStatus> statuses;
    MediaTime lastTime;
    int tooClose = 0;                  // frames less than an interval after the one before
    QImage lastImage;                  // of the last frame with a picture
    std::atomic<bool> stopped = false; // by the owner; frames handled after a stop count as late
    std::atomic<int> lateFrames = 0;
    std::atomic<int> stops = 0;
    std::atomic<bool> resized = false; // the last stop was for a display that changed size

    CaptureStream::FrameHandler frameHandler() {
        return [this](const CapturedFrame& frame) {
            lateFrames += stopped || stops > 0;
            statuses << frame.status;
            tooClose += lastTime.isValid() && frame.presentationTime - lastTime < interval;
            lastTime = frame.presentationTime;
            // The fourth byte is padding on X11, so the copy reads the picture as opaque.
            if (const PixelBufferRef& p = frame.image)
                lastImage = QImage(p->data, p->width, p->height, p->bytesPerRow, QImage::Format_RGB32).copy();
        };
    }
    qsizetype pictures() const { return statuses.count(FrameStatus::Complete); }
    CaptureStream::StopHandler stopHandler() {
        return [this](const Error& error) {
            resized = isDisplayResized(error);
            ++stops;
        };
    }
};

// A private display, the capture backend on it, and a connection of the test's own to draw and add RandR
// monitors with. Every drawing call returns once the server has done it.
struct Screen {
    Xvfb xvfb;
    std::optional<XcbConnection> x;
    xcb_connection_t* connection = nullptr;
    std::unique_ptr<XcbScreenCapture> capture;
    FrameLog log;
    std::unique_ptr<CaptureStream> stream;

    bool start() {
        if (!xvfb.start(QSize(640, 480))) return false;
        capture = std::make_unique<XcbScreenCapture>(xvfb.display());
        Result<XcbConnection> opened = XcbConnection::open(xvfb.display());
        if (opened) connection = x.emplace(opened.take()).get();
        return connection;
    }
    bool succeeded(xcb_void_cookie_t cookie) { return xcbSucceeded(connection, cookie); }
    // The root visual is 24-bit true colour, so a pixel value is 0xRRGGBB.
    void paint(xcb_window_t window, QColor color) {
        const uint32_t pixel = color.rgb() & 0xffffff;
        xcb_change_window_attributes(connection, window, XCB_CW_BACK_PIXEL, &pixel);
        succeeded(xcb_clear_area_checked(connection, 0, window, 0, 0, 0, 0));
    }
    void fill(QColor color) { paint(x->root(), color); }
    // A child window, so the change reaches the root's damage only from an inferior.
    xcb_window_t fillInWindow(QRect rect, QColor color, std::optional<uint32_t> ownerPid = {}) {
        const xcb_window_t window = xcb_generate_id(connection);
        const uint32_t values[] = {color.rgb() & 0xffffff, 1};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, x->root(), int16_t(rect.x()),
                          int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        if (ownerPid) {
            const auto pid = xcbReply(connection, xcb_intern_atom_reply,
                                      xcb_intern_atom(connection, 0, 11, "_NET_WM_PID"));
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, pid->atom, XCB_ATOM_CARDINAL, 32,
                                1, &*ownerPid);
        }
        succeeded(xcb_map_window_checked(connection, window));
        return window;
    }
    // PART, the primary monitor, at `rect` (moved there when it was elsewhere).
    bool placeMonitor(QRect rect) {
        const QString geometry =
            QString::asprintf("%d/0x%d/0+%d+%d", rect.width(), rect.height(), rect.x(), rect.y());
        QProcess* xrandr =
            xvfb.startClient("xrandr", {"--delmonitor", "PART", "--setmonitor", "*PART", geometry, "none"});
        return xrandr->waitForFinished(5000) && xrandr->exitCode() == 0;
    }
    std::optional<DisplayInfo> mainDisplay() {
        Result<ShareableContent> content = capture->shareableContent();
        if (!content) return std::nullopt;
        for (const DisplayInfo& d : content.value().displays)
            if (d.displayId == content.value().mainDisplayId) return d;
        return std::nullopt;
    }
    // Starts `stream` on the main display, its frames handled on `context`'s thread.
    bool record(bool showsCursor, QObject* context) {
        // Not the display's size: frames keep the native size, the encoder scales.
        const StreamConfiguration configuration{
            .width = 1280, .height = 720, .minimumFrameInterval = interval, .showsCursor = showsCursor};
        const std::optional<DisplayInfo> display = mainDisplay();
        if (!display) return false;
        auto created =
            capture->createStream(*display, configuration, context, log.frameHandler(), log.stopHandler());
        if (created && created.value()->startCapture()) stream = created.take();
        return bool(stream);
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
    // The start fails on the caller's thread, naming the display; the stop handler never hears of it.
    void unreachableDisplay() {
        XcbScreenCapture capture(QStringLiteral(":4242"));
        QVERIFY(capture.shareableContent().error().message.contains("\":4242\""));
        FrameLog log;
        auto stream = capture.createStream(DisplayInfo{1, "X", 640, 480, 0, 0},
                                           StreamConfiguration{.minimumFrameInterval = interval}, this,
                                           log.frameHandler(), log.stopHandler());
        QVERIFY(stream && !stream.value()->startCapture());
        stream.value()->stopCapture();
        QCOMPARE(log.stops, 0);
    }

    // A start connects twice within a millisecond (monitors, then the grab). An X server whose last
    // client just left is starting afresh and drops the second; that failed a headless start now and then.
    void connectsBackToBack() {
        Xvfb xvfb;
        QVERIFY(xvfb.start(QSize(320, 240), 24, Xvfb::Reset::WhenLastClientLeaves));
        for (int i = 0; i < 100; ++i)
            QVERIFY2(XcbConnection::open(xvfb.display()), qPrintable(QString::number(i)));
    }

    // The tick runs at the deadline chosen and its frame carries that time, so frames stay whole intervals
    // apart: a late tick is never made up for.
    void nextTick_data() {
        QTest::addColumn<int>("nowMs"); // the previous tick was due at 1000 ms, and ticks are 40 ms apart
        QTest::addColumn<int>("expectedMs");
        QTest::newRow("early") << 1010 << 1040;
        QTest::newRow("on time") << 1040 << 1040;
        QTest::newRow("slightly late: runs at once") << 1045 << 1040;
        QTest::newRow("half an interval late: runs at once") << 1060 << 1040;
        QTest::newRow("more than half an interval late: waits for the next") << 1061 << 1080;
        QTest::newRow("more than an interval late, nearer the deadline passed") << 1095 << 1080;
        QTest::newRow("more than an interval late, nearer the next deadline") << 1105 << 1120;
        QTest::newRow("several intervals late, just past a deadline") << 1202 << 1200;
        QTest::newRow("several intervals late, nearer the last deadline") << 1217 << 1200;
        QTest::newRow("several intervals late, nearer the next deadline") << 1223 << 1240;
    }
    void nextTick() {
        QFETCH(int, nowMs);
        QFETCH(int, expectedMs);
        using namespace std::chrono;
        const nanoseconds next = XcbCaptureStream::nextTick(1000ms, milliseconds(nowMs), 40ms);
        QCOMPARE(duration_cast<milliseconds>(next).count(), qint64(expectedMs));
    }

    // Frames show the primary monitor's pixels, drawn by the root or by a child window (whose damage comes
    // from an inferior), at its size; a monitor that moves is followed. One that changes size ends the
    // stream as resized, so that its owner sets up a capture at the new size rather than scale the new
    // picture to the old one.
    void framesShowTheDisplay_data() {
        QTest::addColumn<QRect>("monitor"); // the primary one, named PART; null for none
        QTest::addColumn<QRect>("changed"); // where PART goes next; null: stays
        const QRect right(320, 0, 320, 480);
        QTest::newRow("whole screen") << QRect() << QRect();
        QTest::newRow("right-half monitor, moved") << right << QRect(0, 0, 320, 480);
        QTest::newRow("grown") << right << QRect(100, 100, 400, 300);
        QTest::newRow("shrunk") << right << QRect(100, 100, 160, 120);
    }
    void framesShowTheDisplay() {
        QFETCH(QRect, monitor);
        QFETCH(QRect, changed);
        // Colours whose channels all differ, drawn by the root and by a child window in the monitor.
        const QColor background(0x12, 0x34, 0x56), patchColor(0xfe, 0xdc, 0xba);
        const QRect patch(400, 100, 50, 50);
        Screen screen;
        QVERIFY(screen.start());
        if (!monitor.isNull()) QVERIFY(screen.placeMonitor(monitor));
        const QRect shown = monitor.isNull() ? QRect(0, 0, 640, 480) : monitor;
        const auto display = screen.mainDisplay();
        QVERIFY(display);
        QCOMPARE(QRectF(display->x, display->y, display->width, display->height), QRectF(shown));
        QVERIFY(monitor.isNull() ? !display->name.isEmpty() : display->name == "PART");
        QVERIFY(screen.record(false, this));
        const QImage& image = screen.log.lastImage;
        const QPoint inPatch = patch.center() - shown.topLeft();
        screen.fill(background);
        QTRY_VERIFY(shows(image, inPatch, background));
        screen.fillInWindow(patch, patchColor);
        QTRY_VERIFY(shows(image, inPatch, patchColor));
        QCOMPARE(image.size(), shown.size());
        QCOMPARE(pixelsDifferingFrom(image, patch.translated(-shown.topLeft()), patchColor), 0);
        QVERIFY(shows(image, QPoint(2, 2), background));
        if (changed.isNull()) return;
        QVERIFY(screen.placeMonitor(changed));
        if (changed.size() != monitor.size()) {
            QTRY_COMPARE(screen.log.stops, 1);
            QVERIFY(screen.log.resized);
            return;
        }
        screen.fillInWindow(changed, Qt::green);
        QTRY_VERIFY(shows(image, QPoint(5, 5), Qt::green));
        QCOMPARE(image.size(), changed.size());
        QCOMPARE(screen.log.stops, 0);
    }

    // A screen gives one picture, then only idle ticks until something shows a change, twice over (the
    // change detection re-arms). Our own panel animating on screen makes no frame of its own; anyone
    // else's window does.
    void idleUntilSomethingChanges_data() {
        QTest::addColumn<QString>("change"); // "pointer moved", "our window", "their window"
        QTest::addColumn<bool>("showsCursor");
        QTest::addColumn<int>("changedFrames"); // per change
        QTest::newRow("pointer moved, cursor shown") << "pointer moved" << true << 1;
        QTest::newRow("pointer moved, cursor hidden") << "pointer moved" << false << 0;
        QTest::newRow("our window repainted") << "our window" << false << 0;
        QTest::newRow("another program's window repainted") << "their window" << false << 1;
    }
    void idleUntilSomethingChanges() {
        QFETCH(QString, change);
        QFETCH(bool, showsCursor);
        QFETCH(int, changedFrames);
        Screen screen;
        QVERIFY(screen.start());
        screen.fill(flat);
        const uint32_t pid = uint32_t(getpid());
        const xcb_window_t window = change.endsWith("window")
                                        ? screen.fillInWindow(QRect(200, 0, 240, 40), Qt::black,
                                                              change == "our window" ? pid : pid + 1)
                                        : XCB_NONE;
        QVERIFY(screen.record(showsCursor, this));
        const FrameLog& log = screen.log;
        QTRY_VERIFY(log.statuses.size() >= 8);
        const QPoint targets[] = {{200, 150}, {450, 350}};
        for (int round = 1; round <= 2; ++round) {
            const QPoint target = targets[round - 1];
            const QStringList move{"mousemove", QString::number(target.x()), QString::number(target.y())};
            if (change == "pointer moved")
                QVERIFY(screen.xvfb.startClient("xdotool", move)->waitForFinished(5000));
            if (window) screen.paint(window, round == 1 ? Qt::red : Qt::green);
            const qsizetype seen = log.statuses.size();
            QTRY_VERIFY(log.statuses.size() >= seen + 10);
            QCOMPARE(log.pictures(), 1 + round * changedFrames);
            const QRect aroundTarget(target - QPoint(2, 2), QSize(24, 24));
            if (!window)
                QCOMPARE(pixelsDifferingFrom(log.lastImage, aroundTarget, flat) > 20, changedFrames == 1);
        }
        QCOMPARE(log.statuses.front(), FrameStatus::Complete);
        // The cursor left nothing behind at its first place.
        QCOMPARE(pixelsDifferingFrom(log.lastImage, QRect(targets[0], QSize(24, 24)), flat), 0);
    }

    void streamEnds_data() {
        QTest::addColumn<bool>("killServer"); // else the owner stops the stream, and hears of no error
        QTest::newRow("stopCapture") << false;
        QTest::newRow("server killed") << true;
    }
    // A busy stream, then its end. Complete frames keep flowing, so pictures are in flight at the end. Every
    // fourth repaint holds the server for longer than an interval, and ticks wait for it (they ask where the
    // pointer is): the tick caught in it ends past the next deadline, at a phase that drifts from grab to
    // grab.
    void streamEnds() {
        QFETCH(bool, killServer);
        Screen screen;
        QVERIFY(screen.start());
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, [&, step = 0]() mutable {
            screen.fill(++step % 2 ? Qt::cyan : Qt::darkBlue);
            if (step % 4) return;
            xcb_grab_server(screen.connection);
            xcb_flush(screen.connection);
            QThread::msleep(60);
            screen.succeeded(xcb_ungrab_server_checked(screen.connection));
        });
        repaint.start(20);
        FrameLog& log = screen.log;
        QVERIFY(screen.record(true, this));
        QTRY_VERIFY(log.pictures() >= 30);
        repaint.stop();
        // Without an event loop for a while, frames wait in this thread's queue at the end.
        QThread::msleep(150);

        if (killServer) {
            screen.xvfb.kill();
        } else {
            screen.stream->stopCapture();
            log.stopped = true;
        }
        QTRY_COMPARE(log.stops, int(killServer));
        QTest::qWait(200);
        screen.stream->stopCapture();
        QCOMPARE(log.stops, int(killServer));
        QCOMPARE(log.lateFrames, 0);
        QCOMPARE(log.tooClose, 0);
    }
};

FERROVANE_TEST_MAIN(TestXcbScreenCapture)
#include "tst_xcbscreencapture.moc"
