#include "clips/AgentHandoff.h"
#include "clips/Thumbnailer.h"
#include "platform/Clipboard.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "support/CodedFrames.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QClipboard>
#include <QDir>
#include <QMimeData>

#include <clocale>
#include <cmath>

namespace {

const QString intro = "I captured a screen replay of a problem (";
const QString tail =
    "\n\nLook at the frames, describe what goes wrong, then find the likely cause in this codebase.";

// The clipboard as another program reads it. This process may be the one serving it, so its event loop
// runs meanwhile.
QByteArray xclip(const QString& target) {
    QProcess xclip;
    xclip.start("xclip", {"-o", "-selection", "clipboard", "-t", target});
    if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000)) {
        xclip.kill();
        xclip.waitForFinished();
    }
    return xclip.exitCode() == 0 ? xclip.readAllStandardOutput() : QByteArray();
}

// QCoreApplication adopts the user's locale for printf; with a German one, "%.1f" would write 2,5.
bool useDecimalComma(const QString& locales) {
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        // Compiled here when the system has none (Debian's locales package has the sources).
        QDir().mkpath(locales);
        QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"});
        qputenv("LOCPATH", QFile::encodeName(locales));
        setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    char printed[8];
    std::snprintf(printed, sizeof printed, "%.1f", 2.5);
    return QByteArray(printed) == "2,5";
}

} // namespace

// Thumbnails, the handoff, and the clipboard as other programs on a private X display see it, in a German
// locale.
class ClipsTest : public QObject {
    Q_OBJECT

private:
    Result<QString> handoff(const QString& clip) {
        QFuture<Result<QString>> future = AgentHandoff::prepare(m_ffmpeg, *m_clipboard, clip);
        // The last step runs on this thread, so its event loop must run meanwhile, as in the application.
        if (!QTest::qWaitFor([&] { return future.isFinished(); }, 60000)) return platformError("timed out");
        return future.result();
    }

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_frames;
    std::shared_ptr<FfmpegMediaAssets> m_ffmpeg = std::make_shared<FfmpegMediaAssets>();
    std::unique_ptr<Clipboard> m_clipboard = createClipboard();

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_clip = m_dir.filePath("replay-2026-12-04_16-23-22.mp4");
        m_frames = m_dir.filePath("replay-2026-12-04_16-23-22-frames/");
        // Every frame of ten.mp4 is a key frame, so the thumbnail need not step back to an earlier one and
        // shows the time asked for.
        for (const QString& error :
             {CodedFrames::movie(m_clip, 900, QSize(384, 240)),
              CodedFrames::movie(m_dir.filePath("ten.mp4"), 300, QSize(2560, 1600), {.keyInterval = 1}),
              CodedFrames::movie(m_dir.filePath("quarter.mp4"), 5, QSize(384, 240), {.fps = 20})})
            QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(useDecimalComma(m_dir.filePath("locales")), "no German locale (localedef, locales)");
    }

    void init() { m_clipboard->setText("what the user copied before"); }

    // Frame lines are "- path  (at S.Ss)", rounded as printf rounds.
    void composePrompt_data() {
        QTest::addColumn<double>("duration");
        QTest::addColumn<QList<double>>("frames");
        QTest::addColumn<QString>("middle");
        const QString asked = "the last %1 seconds before I hit save). Here are %2 frames in time order:\n";
        QTest::newRow("no frames: one empty line") << 30.0 << QList<double>() << asked.arg(30).arg(0) + "\n";
        QTest::newRow("14.5 s is the last 15, a whole second keeps its decimal")
            << 14.5 << QList<double>{12.0} << asked.arg(15).arg(1) + "- /f.png  (at 12.0s)\n";
        QTest::newRow("29.4 s is the last 29, one decimal, an exact half")
            << 29.4 << QList<double>{12.46, 0.25}
            << asked.arg(29).arg(2) + "- /f.png  (at 12.5s)\n- /f.png  (at 0.2s)\n";
    }
    void composePrompt() {
        QFETCH(double, duration);
        QFETCH(QList<double>, frames);
        QFETCH(QString, middle);
        QStringList lines;
        for (double seconds : frames)
            lines << AgentHandoff::frameLine("/f.png", seconds);
        QCOMPARE(AgentHandoff::composePrompt(duration, lines, "/c.mp4"),
                 intro + middle + "Full video: /c.mp4" + tail);
    }

    // In the forms file managers paste from; names are percent-encoded in URIs.
    void fileReference() {
        m_clipboard->setFile("/home/user/My Clips/replay é.mp4");
        const QByteArray uri = "file:///home/user/My%20Clips/replay%20%C3%A9.mp4";
        const QByteArray targets = xclip("TARGETS");
        QVERIFY2(targets.contains("text/uri-list") && targets.contains("x-special/gnome-copied-files"),
                 targets.constData());
        QCOMPARE(xclip("text/uri-list").trimmed(), uri);
        QCOMPARE(xclip("x-special/gnome-copied-files"), "copy\n" + uri);
    }

    // The prompt replaces a file reference on the clipboard whole. A second hand-off overwrites the frame
    // files of the same numbers and leaves the others.
    void thirtySecondClip() {
        for (const bool again : {false, true}) {
            if (again)
                for (const char* name : {"frame-01.png", "frame-07.png"})
                    writeFile(m_frames + name, QByteArray(1 << 20, 'x')); // longer than the PNG
            m_clipboard->setFile(m_clip);
            const Result<QString> prompt = handoff(m_clip);
            QVERIFY2(prompt.ok(), qPrintable(prompt ? QString() : prompt.error().message));
            QStringList names;
            QString lines;
            for (int i = 1; i <= 6; ++i) {
                names << QString("frame-0%1.png").arg(i);
                const QString path = m_frames + names.last();
                const QByteArray png = readFile(path);
                QVERIFY(png.endsWith(QByteArray::fromHex("49454e44ae426082"))); // IEND: no stale tail
                const QImage image = QImage::fromData(png, "png");
                QCOMPARE(image.size(), QSize(384, 240));
                // The frame's own number tells its time: the one nearest the time asked for (frames are
                // 1/30 s apart), not the first the tolerance lets in. The line shows the frame's time.
                const int number = CodedFrames::read(image).value_or(-1);
                QCOMPARE(number, int(std::lround((5 * i - 2.5) * 30)));
                lines += "- " + path + "  (at " + QString::number(number / 30.0, 'f', 1) + "s)\n";
            }
            if (again) QCOMPARE(QFileInfo(m_frames + "frame-07.png").size(), 1 << 20);
            QCOMPARE(QDir(m_frames).entryList(QDir::Files),
                     names + (again ? QStringList{"frame-07.png"} : QStringList()));
            const QString expected =
                intro + "the last 30 seconds before I hit save). Here are 6 frames in time order:\n" + lines +
                "Full video: " + m_clip + tail;
            QCOMPARE(prompt.value(), expected);
            QCOMPARE(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{"text/plain"});
            QCOMPARE(QString::fromUtf8(xclip("UTF8_STRING")), expected);
        }
    }

    void thumbnail_data() {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("firstFrame"); // the frames the picture may show; -1: no picture
        QTest::addColumn<int>("lastFrame");
        // 0.3 s before the end with up to 1 s before it: 8.7 to 9.7 s at 30 frames a second.
        QTest::newRow("10 s, 2560 × 1600") << "ten.mp4" << 10.0 << 261 << 291;
        QTest::newRow("0.25 s asks for 0") << "quarter.mp4" << 0.25 << 0 << 0;
        QTest::newRow("missing") << "none.mp4" << 0.0 << -1 << -1;
    }
    // Through the pool, as the application asks for it.
    void thumbnail() {
        QFETCH(QString, clip);
        QFETCH(double, duration);
        QFETCH(int, firstFrame);
        QFETCH(int, lastFrame);
        const Thumbnail thumbnail = Thumbnailer::makeAsync(m_ffmpeg, m_dir.filePath(clip)).result();
        QCOMPARE(thumbnail.duration, duration);
        QCOMPARE(thumbnail.image.isNull(), firstFrame < 0);
        if (firstFrame < 0) return;
        QCOMPARE(thumbnail.image.size(), QSize(360, 225));
        const int frame = CodedFrames::read(thumbnail.image).value_or(-1);
        QVERIFY2(frame >= firstFrame && frame <= lastFrame, qPrintable(QString::number(frame)));
    }

    void failureLeavesTheClipboard_data() {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("blocker"); // a folder where a frame file goes

        QTest::newRow("missing clip") << "none.mp4" << QString();
        QTest::newRow("frame cannot be written") << "unwritable.mp4"
                                                 << "unwritable-frames/frame-02.png";
    }

    void failureLeavesTheClipboard() {
        QFETCH(QString, clip);
        QFETCH(QString, blocker);

        if (!blocker.isEmpty()) {
            QVERIFY(QFile::copy(m_clip, m_dir.filePath(clip)));
            QVERIFY(QDir().mkpath(m_dir.filePath(blocker)));
        }
        QVERIFY(!handoff(m_dir.filePath(clip)).ok());
        QCOMPARE(xclip("UTF8_STRING"), "what the user copied before");
    }
};

FERROVANE_X11_TEST_MAIN(ClipsTest, QSize(640, 480))

#include "tst_clips.moc"
