#include "support/CodedFrames.h"
#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QFile>

namespace {

// The rig's client draws SMPTE colour bars over the whole monitor, scrolling left. Along a row through
// the tall bars every channel is either off or at least three quarters on; as R, G, B bits:
constexpr int white = 0b111, yellow = 0b110, cyan = 0b011, green = 0b010, magenta = 0b101, red = 0b100,
              blue = 0b001;
const QList<int> expectedColours{white, yellow, cyan, green, magenta, red, blue};
// The bars are ~180 px wide; 4:2:0 chroma smears a few pixels either side of each edge.
constexpr int shortestBarPx = 16;

struct Bar {
    int colour, startPx, widthPx;
};

// The bars along row y, left to right from the white one on (the one cut by the right edge carries on at
// the left); empty when there is no white bar.
QList<Bar> barsFromWhite(const QImage& image, int y) {
    QList<Bar> runs;
    for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, y);
        const int colour =
            int(qRed(pixel) > 127) << 2 | int(qGreen(pixel) > 127) << 1 | int(qBlue(pixel) > 127);
        if (!runs.isEmpty() && runs.last().colour == colour)
            ++runs.last().widthPx;
        else
            runs.append({colour, x, 1});
    }
    QList<Bar> bars;
    for (const Bar& run : runs) {
        if (run.widthPx < shortestBarPx) continue;
        if (!bars.isEmpty() && bars.last().colour == run.colour)
            bars.last().widthPx = run.startPx + run.widthPx - bars.last().startPx;
        else
            bars.append(run);
    }
    if (bars.size() > 1 && bars.first().colour == bars.last().colour) {
        bars.first().startPx = bars.last().startPx;
        bars.first().widthPx += bars.last().widthPx;
        bars.removeLast();
    }
    const qsizetype first =
        std::find_if(bars.begin(), bars.end(), [](const Bar& bar) { return bar.colour == white; }) -
        bars.begin();
    return first == bars.size() ? QList<Bar>() : bars.mid(first) + bars.first(first);
}

QList<int> colours(const QList<Bar>& bars) {
    QList<int> colours;
    for (const Bar& bar : bars)
        colours << bar.colour;
    return colours;
}

} // namespace

// Recording a real GNOME-style desktop: headless mutter with one virtual monitor, a Wayland client
// animating it, mutter's own screen cast on a private PipeWire, and the stand-in portal asking mutter
// for it. The application records headless; the clip must show what the client drew, moving.
class MutterTest : public QObject {
    Q_OBJECT
    Child m_bus, m_rig;
    QSize m_monitor;
    QString m_clip;

private slots:
    void initTestCase() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", startBus(m_bus).toLatin1());
        m_rig.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_rig.start(QStringLiteral(FERROVANE_MUTTER_RIG), {});
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.canReadLine() || m_rig.state() == QProcess::NotRunning, 60000);
        const QString ready = QString::fromLatin1(m_rig.readLine()).trimmed();
        QVERIFY2(ready.startsWith("ready size="), qPrintable(ready));
        const QStringList size = ready.section('=', 1).split('x');
        m_monitor = QSize(size.value(0).toInt(), size.value(1).toInt());

        Child app;
        launchOnPortal(app);
        QTRY_VERIFY2_WITH_TIMEOUT(recordingStarted(),
                                  qPrintable(QString::fromLocal8Bit(app.readAllStandardError())), 20000);
        QTest::qWait(8000); // into the second five-second segment
        m_clip = saveNow(app);
        app.terminate();
        QVERIFY(app.waitForFinished(20000));
        QVERIFY2(app.exitCode() == 0, qPrintable(QString::fromLocal8Bit(app.readAllStandardError())));
        QVERIFY2(QFile::exists(m_clip), qPrintable(m_clip));
        QCOMPARE(Probe::videoSize(m_clip), m_monitor);
        const double seconds = Probe::duration(m_clip);
        QVERIFY2(seconds > 7.2 && seconds < 12.0, qPrintable(QString::number(seconds)));
        QCOMPARE(Probe::decodeErrors(m_clip), QString());
    }

    // Two pictures 1.5 s apart, in either segment: each shows the client's bars in their order (a swapped
    // channel does not) and upright (rows copied with the wrong length shear them), and the bars moved in
    // between (a stalled stream does not).
    void framesShowTheClientMoving_data() {
        QTest::addColumn<double>("earlierSeconds");
        QTest::addColumn<double>("laterSeconds");
        QTest::newRow("first segment") << 1.0 << 2.5;
        QTest::newRow("second segment") << 5.5 << 7.0;
    }
    void framesShowTheClientMoving() {
        QFETCH(double, earlierSeconds);
        QFETCH(double, laterSeconds);
        const int width = m_monitor.width();
        const auto apartPx = [width](int a, int b) {
            const int d = ((a - b) % width + width) % width;
            return std::min(d, width - d);
        };
        // Rows through the tall bars, the top two thirds.
        const int row = m_monitor.height() / 4, lowerRow = m_monitor.height() / 2;
        QList<int> whiteAtPx;
        for (const double seconds : {earlierSeconds, laterSeconds}) {
            const QImage picture =
                CodedFrames::frameAt(m_clip, seconds).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(picture.size(), m_monitor);
            const QList<Bar> bars = barsFromWhite(picture, row), lower = barsFromWhite(picture, lowerRow);
            QCOMPARE(colours(bars), expectedColours);
            QVERIFY(!lower.isEmpty());
            QCOMPARE_LE(apartPx(bars[0].startPx, lower[0].startPx), 4);
            whiteAtPx << bars[0].startPx;
        }
        QCOMPARE_GE(apartPx(whiteAtPx[0], whiteAtPx[1]), 2 * shortestBarPx);
    }
};

FERROVANE_TEST_MAIN(MutterTest)
#include "tst_mutter.moc"
