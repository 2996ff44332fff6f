#include "platform/linux/FfmpegMediaAssets.h"
#include "support/CodedFrames.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <cmath>

Q_DECLARE_METATYPE(ExportPreset)

namespace {

constexpr double frameSeconds = 1.0 / 30;

// Runs the ffmpeg tool; the error text, or empty on success.
QString ffmpeg(const QStringList& arguments) {
    QProcess process;
    process.start("ffmpeg", QStringList{"-v", "error", "-y"} + arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return "ffmpeg failed: " + QString::fromLocal8Bit(process.readAllStandardError());
    return {};
}

// 30 fps frames numbered from `first` in CodedFrames' stripes, drawn on a canvas whose width is a
// multiple of 12 and scaled to `size`, coded as our segments are: H.264 High, no B-frames, a key frame
// every second.
QString makeSegment(const QString& path, int first, int frames, QSize size, const QString& profile = "high") {
    const QSize canvas = size.width() % 12 == 0 ? size : QSize(384, 240);
    const int stripe = canvas.width() / CodedFrames::bits;
    const QString source = QString::asprintf(
        "nullsrc=s=%dx%d:r=30,geq=lum='if(bitand(floor((N+%d)/pow(2,%d-min(floor(X/%d),%d))),1),235,16)'"
        ":cb=128:cr=128,scale=%d:%d:flags=neighbor,format=yuv420p",
        canvas.width(), canvas.height(), first, CodedFrames::bits - 1, stripe, CodedFrames::bits - 1,
        size.width(), size.height());
    const QStringList coding = QString("-c:v libx264 -bf 0 -g 30 -sc_threshold 0 -colorspace bt709 "
                                       "-color_primaries bt709 -color_trc bt709")
                                   .split(' ');
    return ffmpeg(QStringList{"-f", "lavfi", "-i", source, "-frames:v", QString::number(frames), "-profile:v",
                              profile} +
                  coding + QStringList{path});
}

// The code of every frame the ffmpeg tool shows, in order (hidden pre-roll excluded).
QList<int> shownCodes(const QString& path) {
    constexpr int width = 8 * CodedFrames::bits, height = 8;
    QProcess process;
    process.start("ffmpeg", {"-v", "error", "-i", path, "-vf", QString("scale=%1:%2").arg(width).arg(height),
                             "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    process.waitForFinished(120000);
    const QByteArray pixels = process.readAllStandardOutput();
    QList<int> codes;
    for (qsizetype offset = 0; offset + width * height <= pixels.size(); offset += width * height) {
        int code = 0;
        for (int bit = 0; bit < CodedFrames::bits; ++bit)
            code = code << 1 | (uchar(pixels[offset + width * (height / 2) + bit * 8 + 4]) > 128);
        codes << code;
    }
    return codes;
}

bool consecutive(const QList<int>& codes) {
    for (qsizetype i = 1; i < codes.size(); ++i)
        if (codes[i] != codes[i - 1] + 1) return false;
    return true;
}

MediaTime seconds(double value) {
    return MediaTime::fromNanoseconds(std::llround(value * 1e9));
}

} // namespace

class FfmpegMediaAssetsTest : public QObject {
    Q_OBJECT

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // Whole files back to back from time 0, the first from `firstStart` on (durations as loadAsset says).
    Composition compose(const QStringList& names, double firstStart) {
        Composition composition;
        MediaTime at = MediaTime::zero();
        for (const QString& name : names) {
            Result<AssetInfo> info = m_assets.loadAsset(file(name));
            const MediaTime start = composition.ranges.empty() ? seconds(firstStart) : MediaTime::zero();
            const MediaTime duration = info.value().duration - start;
            composition.ranges.push_back({file(name), start, duration, at});
            at = at + duration;
        }
        return composition;
    }

    FfmpegMediaAssets m_assets;
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QSize size(384, 216);
        for (const auto& [name, error] : {
                 std::pair{"a.mp4", makeSegment(file("a.mp4"), 0, 60, size)},
                 std::pair{"b.mp4", makeSegment(file("b.mp4"), 60, 60, size)},
                 std::pair{"c.mp4", makeSegment(file("c.mp4"), 120, 60, size)},
                 std::pair{"small.mp4", makeSegment(file("small.mp4"), 60, 60, QSize(240, 144))},
                 std::pair{"main.mp4", makeSegment(file("main.mp4"), 60, 60, size, "main")},
                 std::pair{"wide.mp4", makeSegment(file("wide.mp4"), 0, 6, QSize(2560, 1600))},
                 std::pair{"audio.mp4",
                           ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac", file("audio.mp4")})},
                 std::pair{"b-faststart.mp4", ffmpeg({"-i", file("b.mp4"), "-c", "copy", "-movflags",
                                                      "+faststart", file("b-faststart.mp4")})},
             })
            QVERIFY2(error.isEmpty(), qPrintable(QString(name) + ": " + error));
        // Cut in half: without its header, and with its header but without half of its samples.
        for (const QString name : {"b.mp4", "b-faststart.mp4"}) {
            QFile whole(file(name));
            QVERIFY(whole.open(QIODevice::ReadOnly));
            QFile half(file("cut-" + name));
            QVERIFY(half.open(QIODevice::WriteOnly));
            half.write(whole.read(whole.size() / 2));
        }
    }

    void loadAsset_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("hasVideo");
        QTest::addColumn<double>("duration");

        QTest::newRow("segment") << "a.mp4" << true << true << 2.0;
        QTest::newRow("header first") << "b-faststart.mp4" << true << true << 2.0;
        QTest::newRow("audio only") << "audio.mp4" << true << false << -1.0;
        QTest::newRow("missing") << "none.mp4" << false << false << -1.0;
        QTest::newRow("cut short, header lost") << "cut-b.mp4" << false << false << -1.0;
        QTest::newRow("cut short, samples lost") << "cut-b-faststart.mp4" << false << false << -1.0;
    }

    void loadAsset() {
        QFETCH(QString, name);
        QFETCH(bool, readable);
        QFETCH(bool, hasVideo);
        QFETCH(double, duration);

        const Result<AssetInfo> info = m_assets.loadAsset(file(name));
        QCOMPARE(info.ok(), readable);
        if (!readable) {
            QVERIFY(!info.error().description.isEmpty());
            return;
        }
        QCOMPARE(info.value().hasVideoTrack, hasVideo);
        if (hasVideo) {
            QCOMPARE(info.value().duration.seconds(), duration);
            QCOMPARE(info.value().duration.seconds(),
                     Probe::videoStream(file(name))["duration"].toString().toDouble());
        }
    }

    void passthrough_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<double>("cut");
        QTest::addColumn<int>("firstShown");
        QTest::addColumn<int>("keyFrameBeforeCut");

        const QStringList three{"a.mp4", "b.mp4", "c.mp4"};
        QTest::newRow("cut between frames") << three << 0.51 << 15 << 0;
        QTest::newRow("cut on a frame") << three << 0.5 << 15 << 0;
        QTest::newRow("cut on a key frame") << three << 1.0 << 30 << 30;
        QTest::newRow("cut just after a key frame") << three << 1.01 << 30 << 30;
        QTest::newRow("cut in a segment's last frame") << three << 1.99 << 59 << 30;
        QTest::newRow("whole segments") << three << 0.0 << 0 << 0;
        QTest::newRow("one segment") << QStringList{"b.mp4"} << 0.7 << 81 << 60;
    }

    void passthrough() {
        QFETCH(QStringList, names);
        QFETCH(double, cut);
        QFETCH(int, firstShown);
        QFETCH(int, keyFrameBeforeCut);

        const QString clip = file("passthrough.mp4");
        const Status status =
            m_assets.exportComposition(compose(names, cut), ExportPreset::Passthrough, clip);
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().description));

        const double expectedSeconds = 2.0 * names.size() - cut;
        const QJsonObject probe = Probe::run(clip);
        QCOMPARE(probe["streams"].toArray().size(), 1);
        const QJsonObject video = probe["streams"].toArray()[0].toObject();
        QCOMPARE(video["codec_name"].toString(), "h264");
        QCOMPARE(video["start_time"].toString().toDouble(), 0.0);
        QVERIFY(std::abs(video["duration"].toString().toDouble() - expectedSeconds) < frameSeconds);
        QVERIFY(std::abs(m_assets.loadAsset(clip).value().duration.seconds() - expectedSeconds) < 0.001);

        const QList<int> codes = shownCodes(clip);
        QVERIFY(!codes.isEmpty());
        QCOMPARE(codes.first(), firstShown);
        QCOMPARE(codes.last(), 60 * (names.last().at(0).toLatin1() - 'a') + 59);
        QVERIFY(consecutive(codes));

        // The samples themselves, pre-roll from the key frame before the cut included, byte for byte.
        QStringList sourcePackets;
        for (const QString& name : names)
            sourcePackets += Probe::packetHashes(file(name));
        QCOMPARE(Probe::packetHashes(clip), sourcePackets.mid(keyFrameBeforeCut % 60));

        // Our own reader honours the edit list as well.
        const Result<ImageAtTime> opening = m_assets.imageAt(clip, MediaTime::zero(), {}, {}, QSize());
        QVERIFY(opening.ok());
        QCOMPARE(CodedFrames::read(opening.value().image), firstShown);
    }

    void passthroughRefusesDifferentCoding_data() {
        QTest::addColumn<QString>("second");
        QTest::newRow("another size") << "small.mp4";
        QTest::newRow("another profile") << "main.mp4";
    }

    void passthroughRefusesDifferentCoding() {
        QFETCH(QString, second);
        const Status status = m_assets.exportComposition(compose({"a.mp4", second}, 0.5),
                                                         ExportPreset::Passthrough, file("refused.mp4"));
        QVERIFY(!status.ok());
        QVERIFY(!status.error().description.isEmpty());
    }

    void highestQuality_data() {
        QTest::addColumn<QString>("second");
        QTest::addColumn<double>("cut");
        QTest::addColumn<int>("firstShown");

        QTest::newRow("two sizes") << "small.mp4" << 0.51 << 15;
        QTest::newRow("one size, cut after a key frame") << "b.mp4" << 1.27 << 38;
    }

    void highestQuality() {
        QFETCH(QString, second);
        QFETCH(double, cut);
        QFETCH(int, firstShown);

        const QString clip = file("encoded.mp4");
        const Status status =
            m_assets.exportComposition(compose({"a.mp4", second}, cut), ExportPreset::HighestQuality, clip);
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().description));

        const QJsonObject video = Probe::videoStream(clip);
        QCOMPARE(video["codec_name"].toString(), "h264");
        QCOMPARE(video["profile"].toString(), "High");
        QCOMPARE(video["pix_fmt"].toString(), "yuv420p");
        QCOMPARE(video["color_space"].toString(), "bt709");
        QCOMPARE(video["width"].toInt(), 384);
        QCOMPARE(video["height"].toInt(), 216);
        QCOMPARE(video["start_time"].toString().toDouble(), 0.0);
        QVERIFY(std::abs(video["duration"].toString().toDouble() - (4.0 - cut)) < frameSeconds);
        QCOMPARE(Probe::decodeErrors(clip), QString());
        const QList<int> codes = shownCodes(clip);
        QVERIFY(!codes.isEmpty());
        QCOMPARE(codes.first(), firstShown);
        QCOMPARE(codes.last(), 119);
        QVERIFY(consecutive(codes));
    }

    void exportFailures_data() {
        QTest::addColumn<QString>("second");
        QTest::addColumn<double>("secondStart");
        QTest::addColumn<ExportPreset>("preset");
        QTest::addColumn<QString>("message");

        const auto copy = ExportPreset::Passthrough, encode = ExportPreset::HighestQuality;
        QTest::newRow("copy: segment cut short") << "cut-b.mp4" << 0.0 << copy << "";
        QTest::newRow("encode: segment cut short") << "cut-b.mp4" << 0.0 << encode << "";
        QTest::newRow("copy: samples cut short") << "cut-b-faststart.mp4" << 0.0 << copy << "";
        QTest::newRow("copy: segment deleted") << "gone.mp4" << 0.0 << copy << "No such file or directory";
        QTest::newRow("encode: segment deleted")
            << "gone.mp4" << 0.0 << encode << "No such file or directory";
        QTest::newRow("copy: later range between key frames") << "b.mp4" << 0.5 << copy << "";
    }

    void exportFailures() {
        QFETCH(QString, second);
        QFETCH(double, secondStart);
        QFETCH(ExportPreset, preset);
        QFETCH(QString, message);

        const MediaTime length = seconds(2.0 - secondStart);
        const Composition composition{{{file("a.mp4"), MediaTime::zero(), seconds(2), MediaTime::zero()},
                                       {file(second), seconds(secondStart), length, seconds(2)}}};
        const Status status = m_assets.exportComposition(composition, preset, file("failed.mp4"));
        QVERIFY(!status.ok());
        if (message.isEmpty())
            QVERIFY(!status.error().description.isEmpty());
        else
            QCOMPARE(status.error().description, message);
    }

    void imageAt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("before");
        QTest::addColumn<double>("after");
        QTest::addColumn<int>("frame"); // -1: an error

        // a.mp4: frames 0 to 59 every 1/30 s, key frames 0 and 30.
        QTest::newRow("exact frame time") << "a.mp4" << 0.5 << 0.0 << 0.0 << 15;
        QTest::newRow("between frames: the frame shown") << "a.mp4" << 0.51 << 0.0 << 0.0 << 15;
        QTest::newRow("shown frame before a later one in tolerance") << "a.mp4" << 0.51 << 0.0 << 0.1 << 15;
        QTest::newRow("last frame lasts until the end") << "a.mp4" << 1.99 << 0.0 << 0.0 << 59;
        QTest::newRow("key frame within tolerance") << "a.mp4" << 1.5 << 1.0 << 0.0 << 30;
        QTest::newRow("first frame within tolerance") << "a.mp4" << 1.5 << 0.2 << 0.0 << 39;
        QTest::newRow("before the start, tolerance after") << "a.mp4" << -0.05 << 0.0 << 0.1 << 0;
        QTest::newRow("before the start, no tolerance") << "a.mp4" << -0.05 << 0.0 << 0.0 << -1;
        QTest::newRow("after the end, no tolerance") << "a.mp4" << 2.5 << 0.0 << 0.0 << -1;
        QTest::newRow("after the end, tolerance before") << "a.mp4" << 2.5 << 1.0 << 0.0 << 45;
        QTest::newRow("missing file") << "none.mp4" << 0.0 << 1.0 << 1.0 << -1;
        QTest::newRow("no video track") << "audio.mp4" << 0.0 << 1.0 << 1.0 << -1;
    }

    void imageAt() {
        QFETCH(QString, name);
        QFETCH(double, time);
        QFETCH(double, before);
        QFETCH(double, after);
        QFETCH(int, frame);

        const Result<ImageAtTime> image =
            m_assets.imageAt(file(name), MediaTime::fromSeconds(time), MediaTime::fromSeconds(before),
                             MediaTime::fromSeconds(after), QSize(360, 360));
        QCOMPARE(image.ok(), frame >= 0);
        if (frame < 0) {
            QVERIFY(!image.error().description.isEmpty());
            return;
        }
        QCOMPARE(CodedFrames::read(image.value().image), frame);
        QCOMPARE(image.value().actualTime, MediaTime(frame * 512, 15360)); // libx264's 30 fps time base
    }

    void imageAtFitsTheBox_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("expected");

        QTest::newRow("wide into a square") << "wide.mp4" << QSize(360, 360) << QSize(360, 225);
        QTest::newRow("narrow box") << "a.mp4" << QSize(96, 96) << QSize(96, 54);
        QTest::newRow("box larger than the frame") << "a.mp4" << QSize(400, 400) << QSize(384, 216);
        QTest::newRow("no box") << "a.mp4" << QSize() << QSize(384, 216);
    }

    void imageAtFitsTheBox() {
        QFETCH(QString, name);
        QFETCH(QSize, box);
        QFETCH(QSize, expected);

        const MediaTime fifthFrame(5 * 512, 15360);
        const Result<ImageAtTime> image = m_assets.imageAt(file(name), fifthFrame, {}, {}, box);
        QVERIFY(image.ok());
        const QImage& picture = image.value().image;
        QCOMPARE(picture.size(), expected);
        QCOMPARE(CodedFrames::read(picture), 5);
        // Opaque, and video levels 16 and 235 widened to full black and white.
        int darkest = 255, brightest = 0;
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, picture.height() / 2);
            QCOMPARE(qAlpha(pixel), 255);
            darkest = std::min(darkest, qGray(pixel));
            brightest = std::max(brightest, qGray(pixel));
        }
        QVERIFY2(darkest <= 8 && brightest >= 247, qPrintable(QString("%1..%2").arg(darkest).arg(brightest)));
    }

    void callsRunInParallel() {
        auto grab = [this](double time) {
            Result<ImageAtTime> image = m_assets.imageAt(
                file(time < 2 ? "a.mp4" : "b.mp4"), MediaTime::fromSeconds(std::fmod(time, 2.0)), {}, {}, {});
            return image ? CodedFrames::read(image.value().image).value_or(-2) : -1;
        };
        auto save = [this](int index) {
            const QString clip = file(QString("parallel-%1.mp4").arg(index));
            const Status status = m_assets.exportComposition(
                compose({"a.mp4", "b.mp4", "c.mp4"}, 0.5 * index), ExportPreset::Passthrough, clip);
            return status ? shownCodes(clip).value(0, -2) : -1;
        };
        QList<QFuture<int>> grabs, saves;
        for (int i = 0; i < 8; ++i)
            grabs << QtConcurrent::run(grab, i * 0.5);
        for (int i = 0; i < 3; ++i)
            saves << QtConcurrent::run(save, i);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(grabs[i].result(), i * 15);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(saves[i].result(), i * 15);
    }
};

FERROVANE_TEST_MAIN(FfmpegMediaAssetsTest)
#include "tst_ffmpegmediaassets.moc"
