#include "platform/linux/x11/XcbCaptureStream.h"
#include "platform/linux/x11/XcbConnection.h"
#include "platform/linux/x11/XcbScreenCapture.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QTimer>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>
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

    bool start() {
        if (!xvfb.start(QSize(640, 480))) return false;
        capture = std::make_unique<XcbScreenCapture>(xvfb.display());
        Result<XcbConnection> opened = XcbConnection::open(xvfb.display());
        if (opened) connection = x.emplace(opened.take()).get();
        return connection;
    }
    bool succeeded(xcb_void_cookie_t cookie) { return xcbSucceeded(connection, cookie); }
    // The root visual is 24-bit true colour, so a pixel value is 0xRRGGBB.
    void fill(QColor color) {
        const uint32_t pixel = color.rgb() & 0xffffff;
        xcb_change_window_attributes(connection, x->root(), XCB_CW_BACK_PIXEL, &pixel);
        succeeded(xcb_clear_area_checked(connection, 0, x->root(), 0, 0, 0, 0));
    }
    // A child window, so the change reaches the root's damage only from an inferior.
    xcb_window_t fillInWindow(QRect rect, QColor color, std::optional<uint32_t> ownerPid = {}) {
        const xcb_window_t window = xcb_generate_id(connection);
        const uint32_t values[] = {color.rgb() & 0xffffff, 1};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, x->root(), int16_t(rect.x()),
                          int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        if (ownerPid) {
            auto atom = xcbReply(connection, xcb_intern_atom_reply,
                                 xcb_intern_atom(connection, 0, 11, "_NET_WM_PID"));
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32,
                                1, &*ownerPid);
        }
        succeeded(xcb_map_window_checked(connection, window));
        return window;
    }
    void repaint(xcb_window_t window, QColor color) {
        const uint32_t pixel = color.rgb() & 0xffffff;
        xcb_change_window_attributes(connection, window, XCB_CW_BACK_PIXEL, &pixel);
        succeeded(xcb_clear_area_checked(connection, 0, window, 0, 0, 0, 0));
    }
    bool removeMonitor(const QByteArray& name) {
        auto atom = xcbReply(connection, xcb_intern_atom_reply,
                             xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()));
        return succeeded(xcb_randr_delete_monitor_checked(connection, x->root(), atom->atom));
    }
    bool addMonitor(const QByteArray& name, QRect rect, bool primary) {
        auto atom = xcbReply(connection, xcb_intern_atom_reply,
                             xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()));
        xcb_randr_monitor_info_t info{};
        info.name = atom->atom;
        info.primary = primary;
        info.x = int16_t(rect.x());
        info.y = int16_t(rect.y());
        info.width = uint16_t(rect.width());
        info.height = uint16_t(rect.height());
        // Sent by hand: libxcb 1.15's xcb_randr_set_monitor mis-sizes a monitor without outputs and aborts.
        xcb_randr_set_monitor_request_t request{};
        request.window = x->root();
        iovec parts[6]{{}, {}, {&request, sizeof request}, {}, {&info, sizeof info}, {}};
        const xcb_protocol_request_t protocol{4, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        return succeeded({xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &protocol)});
    }
    std::optional<DisplayInfo> mainDisplay() {
        Result<ShareableContent> content = capture->shareableContent();
        if (!content) return std::nullopt;
        for (const DisplayInfo& d : content.value().displays)
            if (d.displayId == content.value().mainDisplayId) return d;
        return std::nullopt;
    }
    std::unique_ptr<CaptureStream> stream(const DisplayInfo& display, bool showsCursor, FrameLog& log,
                                          QObject* context, const std::vector<int64_t>& excluded = {}) {
        // Not the display's size: frames keep the native size, the encoder scales.
        const StreamConfiguration configuration{
            .width = 1280, .height = 720, .minimumFrameInterval = interval, .showsCursor = showsCursor};
        auto stream = capture->createStream(display, excluded, configuration, context, log.frameHandler(),
                                            log.stopHandler());
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
    // The start fails on the caller's thread, naming the display; the stop handler never hears of it.
    void unreachableDisplay() {
        XcbScreenCapture capture(QStringLiteral(":4242"));
        QVERIFY(capture.shareableContent().error().message.contains("\":4242\""));
        FrameLog log;
        auto stream = capture.createStream(DisplayInfo{1, "X", 640, 480, 0, 0}, {},
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

    void nextTick_data() {
        QTest::addColumn<int>("nowMs"); // the previous tick was due at 1000 ms, and ticks are 40 ms apart
        QTest::addColumn<int>("expectedMs");
        QTest::newRow("early") << 1010 << 1040;
        QTest::newRow("on time") << 1040 << 1040;
        QTest::newRow("slightly late: runs at once") << 1045 << 1040;
        QTest::newRow("a third of an interval late: waits for the next") << 1053 << 1080;
        QTest::newRow("more than an interval late") << 1095 << 1120;
        QTest::newRow("several intervals late, just past a deadline") << 1202 << 1200;
        QTest::newRow("several intervals late") << 1217 << 1240;
    }

    // The tick runs at the deadline chosen and its frame carries that time, so frames stay whole intervals
    // apart: a late tick is never made up for.
    void nextTick() {
        QFETCH(int, nowMs);
        QFETCH(int, expectedMs);
        using namespace std::chrono;
        const nanoseconds next = XcbCaptureStream::nextTick(1000ms, milliseconds(nowMs), 40ms);
        QCOMPARE(duration_cast<milliseconds>(next).count(), qint64(expectedMs));
    }

    void framesShowTheScreen_data() {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("patchColor");
        QTest::addColumn<QRect>("patch");   // drawn in a child window, so damage must come from inferiors
        QTest::addColumn<QRect>("monitor"); // a second monitor, named PART and primary; null for none

        QTest::newRow("whole screen")
            << QColor(Qt::red) << QColor(Qt::blue) << QRect(100, 80, 60, 40) << QRect();
        QTest::newRow("right-half monitor, odd colours")
            << QColor(0x12, 0x34, 0x56) << QColor(0xfe, 0xdc, 0xba) << QRect(400, 100, 50, 50)
            << QRect(320, 0, 320, 480);
    }

    void framesShowTheScreen() {
        QFETCH(QColor, background);
        QFETCH(QColor, patchColor);
        QFETCH(QRect, patch);
        QFETCH(QRect, monitor);
        Screen screen;
        QVERIFY(screen.start());
        if (!monitor.isNull()) QVERIFY(screen.addMonitor("PART", monitor, true));
        const QRect shown = monitor.isNull() ? QRect(0, 0, 640, 480) : monitor;
        // The primary monitor is the main display.
        const auto display = screen.mainDisplay();
        QVERIFY(display);
        QCOMPARE(QRectF(display->x, display->y, display->width, display->height), QRectF(shown));
        QVERIFY(monitor.isNull() ? !display->name.isEmpty() : display->name == "PART");
        FrameLog log;
        auto stream = screen.stream(*display, false, log, this);
        QVERIFY(stream);

        const QPoint inPatch = patch.center() - shown.topLeft();
        screen.fill(background);
        QTRY_VERIFY(shows(log.lastImage, inPatch, background));
        screen.fillInWindow(patch, patchColor);
        QTRY_VERIFY(shows(log.lastImage, inPatch, patchColor));
        QCOMPARE(log.lastImage.size(), shown.size());
        QCOMPARE(pixelsDifferingFrom(log.lastImage, patch.translated(-shown.topLeft()), patchColor), 0);
        QVERIFY(shows(log.lastImage, QPoint(2, 2), background));
    }

    void idleUntilSomethingChanges_data() {
        QTest::addColumn<bool>("showsCursor");
        QTest::addColumn<bool>("movePointer");
        QTest::addColumn<int>("changedFrames"); // per pointer move

        QTest::newRow("still") << true << false << 0;
        QTest::newRow("pointer moved, cursor shown") << true << true << 1;
        QTest::newRow("pointer moved, cursor hidden") << false << true << 0;
    }

    void idleUntilSomethingChanges() {
        QFETCH(bool, showsCursor);
        QFETCH(bool, movePointer);
        QFETCH(int, changedFrames);
        Screen screen;
        QVERIFY(screen.start());
        screen.fill(flat);
        FrameLog log;
        auto stream = screen.stream(*screen.mainDisplay(), showsCursor, log, this);
        QVERIFY(stream);
        QTRY_VERIFY(log.statuses.size() >= 8);

        // Twice, so the change detection is seen to re-arm.
        const QPoint targets[] = {{200, 150}, {450, 350}};
        for (int round = 1; round <= 2; ++round) {
            const QPoint target = targets[round - 1];
            const QStringList move{"mousemove", QString::number(target.x()), QString::number(target.y())};
            if (movePointer) QVERIFY(screen.xvfb.startClient("xdotool", move)->waitForFinished(5000));
            const qsizetype seen = log.statuses.size();
            QTRY_VERIFY(log.statuses.size() >= seen + 10);
            QCOMPARE(log.pictures(), 1 + round * changedFrames);
            const QRect aroundTarget(target - QPoint(2, 2), QSize(24, 24));
            QCOMPARE(pixelsDifferingFrom(log.lastImage, aroundTarget, flat) > 20, changedFrames == 1);
        }
        QCOMPARE(log.statuses.front(), FrameStatus::Complete);
        // The cursor left nothing behind at its first place.
        QCOMPARE(pixelsDifferingFrom(log.lastImage, QRect(targets[0], QSize(24, 24)), flat), 0);
    }

    // Our own panel animating on screen makes no frame of its own; anyone else's window does.
    void ownWindowsMakeNoFrames_data() {
        QTest::addColumn<bool>("ours");
        QTest::newRow("our window") << true;
        QTest::newRow("another program's window") << false;
    }
    void ownWindowsMakeNoFrames() {
        QFETCH(bool, ours);
        Screen screen;
        QVERIFY(screen.start());
        screen.fill(flat);
        const uint32_t pid = uint32_t(getpid());
        const xcb_window_t window =
            screen.fillInWindow(QRect(200, 0, 240, 40), Qt::black, ours ? pid : pid + 1);
        FrameLog log;
        auto stream = screen.stream(*screen.mainDisplay(), false, log, this, {int64_t(pid)});
        QVERIFY(stream);
        QTRY_VERIFY(log.statuses.size() >= 4);
        for (const QColor color : {Qt::red, Qt::green, Qt::blue}) {
            screen.repaint(window, color);
            const qsizetype seen = log.statuses.size();
            QTRY_VERIFY(log.statuses.size() >= seen + 4);
        }
        QCOMPARE(log.pictures(), ours ? 1 : 4);
    }

    // The recorded display moves: frames follow it. It changes size: the stream ends as resized, so that
    // its owner sets up a capture at the new size rather than scale the new picture to the old one.
    void displayChanges_data() {
        QTest::addColumn<QRect>("changed");
        QTest::addColumn<bool>("ends");
        QTest::newRow("moved") << QRect(200, 100, 320, 240) << false;
        QTest::newRow("grown") << QRect(100, 100, 400, 300) << true;
        QTest::newRow("shrunk") << QRect(100, 100, 160, 120) << true;
    }
    void displayChanges() {
        QFETCH(QRect, changed);
        QFETCH(bool, ends);
        Screen screen;
        QVERIFY(screen.start());
        QVERIFY(screen.addMonitor("PART", QRect(100, 100, 320, 240), true));
        FrameLog log;
        auto stream = screen.stream(*screen.mainDisplay(), false, log, this);
        QVERIFY(stream);
        screen.fill(Qt::red);
        QTRY_VERIFY(log.pictures() > 0);
        QVERIFY(screen.removeMonitor("PART") && screen.addMonitor("PART", changed, true));
        if (ends) {
            QTRY_COMPARE(log.stops, 1);
            QVERIFY(log.resized);
            return;
        }
        screen.fillInWindow(changed, Qt::green);
        QTRY_VERIFY(shows(log.lastImage, QPoint(5, 5), Qt::green));
        QCOMPARE(log.lastImage.size(), changed.size());
        QCOMPARE(log.stops, 0);
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
        FrameLog log;
        std::unique_ptr<CaptureStream> stream = screen.stream(*screen.mainDisplay(), true, log, this);
        QVERIFY(stream);
        QTRY_VERIFY(log.pictures() >= 30);
        repaint.stop();
        // Without an event loop for a while, frames wait in this thread's queue at the end.
        QThread::msleep(150);

        if (killServer) {
            screen.xvfb.kill();
        } else {
            stream->stopCapture();
            log.stopped = true;
        }
        QTRY_COMPARE(log.stops, int(killServer));
        QTest::qWait(200);
        stream->stopCapture();
        QCOMPARE(log.stops, int(killServer));
        QCOMPARE(log.lateFrames, 0);
        QCOMPARE(log.tooClose, 0);
    }
};

FERROVANE_TEST_MAIN(TestXcbScreenCapture)
#include "tst_xcbscreencapture.moc"
