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
const QList<int> barsFromWhite{white, yellow, cyan, green, magenta, red, blue};
// The bars are ~180 px wide; 4:2:0 chroma smears a few pixels either side of each edge.
constexpr int shortestBarPx = 16;

struct Bar {
    int colour, startPx, widthPx;
};

// The bars along row y, left to right; the one cut by the right edge carries on at the left.
QList<Bar> barsAlong(const QImage& image, int y) {
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
    return bars;
}

// The bars' colours from the white one on, wrapping; empty when there is no white bar.
QList<int> coloursFromWhite(const QList<Bar>& bars) {
    QList<int> colours;
    for (const Bar& bar : bars)
        colours << bar.colour;
    const qsizetype first = colours.indexOf(white);
    return first < 0 ? QList<int>() : colours.mid(first) + colours.first(first);
}

int whiteStartPx(const QList<Bar>& bars) {
    for (const Bar& bar : bars)
        if (bar.colour == white) return bar.startPx;
    return -1;
}

double meanBrightness(const QImage& image) {
    double sum = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) {
            const QRgb pixel = image.pixel(x, y);
            sum += (qRed(pixel) + qGreen(pixel) + qBlue(pixel)) / 3.0;
        }
    return sum / (((image.height() + 3) / 4) * ((image.width() + 3) / 4));
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
        const QImage earlier =
            CodedFrames::frameAt(m_clip, earlierSeconds).convertToFormat(QImage::Format_RGB32);
        const QImage later = CodedFrames::frameAt(m_clip, laterSeconds).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(earlier.size(), m_monitor);
        QCOMPARE(later.size(), m_monitor);
        // Rows through the tall bars, the top two thirds.
        const int row = m_monitor.height() / 4, lowerRow = m_monitor.height() / 2;
        const QList<Bar> barsBefore = barsAlong(earlier, row), barsAfter = barsAlong(later, row);
        QCOMPARE(coloursFromWhite(barsBefore), barsFromWhite);
        QCOMPARE(coloursFromWhite(barsAfter), barsFromWhite);
        const int width = m_monitor.width();
        const auto apartPx = [width](int a, int b) {
            const int d = ((a - b) % width + width) % width;
            return std::min(d, width - d);
        };
        QCOMPARE_LE(apartPx(whiteStartPx(barsBefore), whiteStartPx(barsAlong(earlier, lowerRow))), 4);
        QCOMPARE_LE(apartPx(whiteStartPx(barsAfter), whiteStartPx(barsAlong(later, lowerRow))), 4);
        QVERIFY2(meanBrightness(earlier) > 64, qPrintable(QString::number(meanBrightness(earlier))));
        QVERIFY2(meanBrightness(later) > 64, qPrintable(QString::number(meanBrightness(later))));
        QCOMPARE_GE(apartPx(whiteStartPx(barsBefore), whiteStartPx(barsAfter)), 2 * shortestBarPx);
    }
};

FERROVANE_TEST_MAIN(MutterTest)
#include "tst_mutter.moc"
