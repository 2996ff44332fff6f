#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "support/CodedFrames.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class FfmpegMediaAssetsTest : public QObject {
    Q_OBJECT

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // Whole files back to back from time 0, the first from `firstStart` on (durations as loadAsset says).
    Composition compose(const QStringList& names, double firstStart) {
        Composition composition;
        MediaTime at = MediaTime::zero();
        for (const QString& name : names) {
            const MediaTime start = MediaTime::fromSeconds(composition.ranges.empty() ? firstStart : 0);
            const MediaTime duration = m_assets.loadAsset(file(name)).value().duration - start;
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
        for (const QString& error :
             {CodedFrames::movie(file("a.mp4"), 60, QSize(384, 216)),
              CodedFrames::movie(file("b.mp4"), 60, QSize(384, 216), {.first = 60}),
              CodedFrames::movie(file("small.mp4"), 60, QSize(240, 144), {.first = 60}),
              CodedFrames::movie(file("quiet.mp4"), 60, QSize(384, 216), {.first = 120, .every = 6}),
              Probe::ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac", file("audio.mp4")})})
            QVERIFY2(error.isEmpty(), qPrintable(error));
        QFile whole(file("b.mp4")), half(file("cut.mp4"));
        QVERIFY(whole.open(QIODevice::ReadOnly) && half.open(QIODevice::WriteOnly));
        half.write(whole.read(whole.size() / 2));
    }

    // A segment's duration is checked through the clips composed from it.
    void loadAsset_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readable");
        QTest::newRow("audio only") << "audio.mp4" << true;
        QTest::newRow("missing") << "none.mp4" << false;
        QTest::newRow("cut short") << "cut.mp4" << false;
    }

    void loadAsset() {
        QFETCH(QString, name);
        QFETCH(bool, readable);
        const Result<AssetInfo> info = m_assets.loadAsset(file(name));
        QCOMPARE(info.ok(), readable);
        QVERIFY(readable ? !info.value().hasVideoTrack : !info.error().message.isEmpty());
    }

    // Frames stay a whole interval apart on one grid, so tools that time a video by its frame rate read
    // it right, and the clip keeps its length. Passthrough copies the samples from the key frame before
    // the cut on byte for byte; a segment of another size needs encoding again.
    void exportComposition_data() {
        QTest::addColumn<QString>("second");
        QTest::addColumn<double>("cut");
        QTest::addColumn<double>("firstLength"); // of a.mp4's range; the second file follows whole
        QTest::addColumn<int>("opening");        // the frame shown at time 0
        QTest::addColumn<int>("copiedFrom");     // a.mp4's first packet in the clip; -1: not checked
        QTest::newRow("cut 5 ms before a frame") << "b.mp4" << 1.3 - 0.005 << 0.0 << 38 << 30;
        QTest::newRow("range closed 7 ms after a frame") << "b.mp4" << 0.0 << 1.94 << 0 << -1;
        QTest::newRow("quiet screen after a cut between frames") << "quiet.mp4" << 1.95 << 0.0 << 58 << 30;
        QTest::newRow("another size: encoded again") << "small.mp4" << 0.51 << 0.0 << 15 << -1;
    }
    void exportComposition() {
        QFETCH(QString, second);
        QFETCH(double, cut);
        QFETCH(double, firstLength);
        QFETCH(int, opening);
        QFETCH(int, copiedFrom);
        Composition composition = compose({"a.mp4", second}, cut);
        if (firstLength > 0) {
            composition.ranges[0].duration = MediaTime::fromSeconds(firstLength);
            composition.ranges[1].at = composition.ranges[0].duration;
        }
        composition.minimumFrameInterval = MediaTime(1, 30);
        const MediaTime length = composition.ranges[1].at + composition.ranges[1].duration;
        const QString clip = file("clip.mp4");
        Status status = m_assets.exportComposition(composition, ExportPreset::Passthrough, clip);
        if (second == "small.mp4") {
            QVERIFY(!status.ok());
            status = m_assets.exportComposition(composition, ExportPreset::HighestQuality, clip);
        }
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().message));

        QCOMPARE(Probe::decodeErrors(clip), QString());
        const QJsonObject video = Probe::videoStream(clip);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), QSize(384, 216));
        QCOMPARE(video["start_time"].toString().toDouble(), 0.0);
        QCOMPARE(video["r_frame_rate"].toString(), "30/1");
        QVERIFY(std::abs(Probe::duration(clip) - length.seconds()) < 0.001);
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip, 0)), opening);
        // Our own reader honours the edit list as well.
        QCOMPARE(CodedFrames::read(m_assets.imageAt(clip, MediaTime::zero(), {}, {}, QSize()).value().image),
                 opening);
        if (copiedFrom >= 0)
            QCOMPARE(Probe::packetHashes(clip),
                     Probe::packetHashes(file("a.mp4")).mid(copiedFrom) + Probe::packetHashes(file(second)));
        if (second == "small.mp4") return; // encoded again: the first frame is held from the cut
        double previous = -1;
        for (const QJsonValue packet : Probe::run(clip, {"-show_packets"})["packets"].toArray()) {
            const double pts = packet["pts_time"].toString().toDouble();
            if (pts < 0) continue; // hidden before the cut
            QVERIFY2(previous < 0 || pts - previous > 1.0 / 30 - 0.0001, qPrintable(QString::number(pts)));
            previous = pts;
        }
    }

    // a.mp4: frames 0 to 59 every 1/30 s, key frames 0 and 30.
    void imageAt_data() {
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("before");
        QTest::addColumn<double>("after");
        QTest::addColumn<int>("frame"); // -1: an error
        QTest::newRow("between frames: the frame shown") << 0.51 << 0.0 << 0.0 << 15;
        // Within the tolerances, the nearest frame.
        QTest::newRow("nearest is just after") << 0.83 << 0.35 << 0.35 << 25;
        QTest::newRow("nearest is just before") << 0.81 << 0.35 << 0.35 << 24;
        QTest::newRow("before the start, tolerance after") << -0.05 << 0.0 << 0.1 << 0;
        QTest::newRow("after the end, no tolerance") << 2.5 << 0.0 << 0.0 << -1;
    }
    void imageAt() {
        QFETCH(double, time);
        QFETCH(double, before);
        QFETCH(double, after);
        QFETCH(int, frame);
        const Result<ImageAtTime> image =
            m_assets.imageAt(file("a.mp4"), MediaTime::fromSeconds(time), MediaTime::fromSeconds(before),
                             MediaTime::fromSeconds(after), QSize(360, 360));
        QCOMPARE(image.ok(), frame >= 0);
        QVERIFY(image.ok() || !image.error().message.isEmpty());
        if (frame < 0) return;
        QCOMPARE(CodedFrames::read(image.value().image), frame);
        QCOMPARE(image.value().actualTime, MediaTime(frame * 512, 15360)); // libx264's 30 fps time base
    }
};

FERROVANE_TEST_MAIN(FfmpegMediaAssetsTest)
#include "tst_ffmpegmediaassets.moc"
