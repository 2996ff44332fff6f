#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "support/CodedFrames.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

double durationOf(const QJsonObject& video) {
    return video["duration"].toString().toDouble();
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
        for (const auto& [name, error] : {
                 std::pair{"a.mp4", CodedFrames::movie(file("a.mp4"), 60, QSize(384, 216))},
                 std::pair{"b.mp4", CodedFrames::movie(file("b.mp4"), 60, QSize(384, 216), {.first = 60})},
                 std::pair{"small.mp4",
                           CodedFrames::movie(file("small.mp4"), 60, QSize(240, 144), {.first = 60})},
                 std::pair{"quiet.mp4", CodedFrames::movie(file("quiet.mp4"), 60, QSize(384, 216),
                                                           {.first = 120, .every = 6})},
                 std::pair{"wide.mp4", CodedFrames::movie(file("wide.mp4"), 6, QSize(2560, 1600))},
                 std::pair{"audio.mp4", Probe::ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac",
                                                       file("audio.mp4")})},
             })
            QVERIFY2(error.isEmpty(), qPrintable(QString(name) + ": " + error));
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

    void passthroughCopiesFromTheKeyFrameBeforeTheCut() {
        const QString clip = file("passthrough.mp4");
        const Status status =
            m_assets.exportComposition(compose({"a.mp4", "b.mp4"}, 1.27), ExportPreset::Passthrough, clip);
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().message));

        const QJsonObject video = Probe::videoStream(clip);
        QCOMPARE(video["start_time"].toString().toDouble(), 0.0);
        QVERIFY(std::abs(durationOf(video) - (4 - 1.27)) < 1.0 / 30);
        // Frame 38 is shown at 1.27 s; the samples from key frame 30 on are copied byte for byte.
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip, 0)), 38);
        QCOMPARE(Probe::packetHashes(clip),
                 Probe::packetHashes(file("a.mp4")).mid(30) + Probe::packetHashes(file("b.mp4")));
        // Our own reader honours the edit list as well.
        QCOMPARE(CodedFrames::read(m_assets.imageAt(clip, MediaTime::zero(), {}, {}, QSize()).value().image),
                 38);
    }

    // Frames stay a whole interval apart on one grid, so tools that time a video by its frame rate read
    // it right, and the clip keeps its length.
    void framesStayOnTheGrid_data() {
        QTest::addColumn<QString>("second");
        QTest::addColumn<double>("cut");
        QTest::addColumn<double>("firstLength"); // of a.mp4's range; the second file follows whole
        QTest::addColumn<int>("opening");        // the frame shown at time 0
        QTest::newRow("cut 5 ms before a frame") << "b.mp4" << 1.0 + 1.0 / 30 - 0.005 << 0.0 << 30;
        QTest::newRow("range closed 7 ms after a frame") << "b.mp4" << 0.0 << 1.94 << 0;
        QTest::newRow("quiet screen after a cut between frames") << "quiet.mp4" << 1.95 << 0.0 << 58;
    }
    void framesStayOnTheGrid() {
        QFETCH(QString, second);
        QFETCH(double, cut);
        QFETCH(double, firstLength);
        QFETCH(int, opening);
        Composition composition = compose({"a.mp4", second}, cut);
        if (firstLength > 0) {
            composition.ranges[0].duration = MediaTime::fromSeconds(firstLength);
            composition.ranges[1].at = composition.ranges[0].duration;
        }
        composition.minimumFrameInterval = MediaTime(1, 30);
        const MediaTime length = composition.ranges[1].at + composition.ranges[1].duration;
        const QString clip = file("brief.mp4");
        const Status status = m_assets.exportComposition(composition, ExportPreset::Passthrough, clip);
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().message));

        QCOMPARE(Probe::decodeErrors(clip), QString());
        QCOMPARE(Probe::videoStream(clip)["r_frame_rate"].toString(), "30/1");
        QVERIFY(std::abs(Probe::duration(clip) - length.seconds()) < 0.001);
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip, 0)), opening);
        double previous = -1;
        for (const QJsonValue packet : Probe::run(clip, {"-show_packets"})["packets"].toArray()) {
            const double pts = packet["pts_time"].toString().toDouble();
            if (pts < 0) continue; // hidden before the cut
            QVERIFY2(previous < 0 || pts - previous > 1.0 / 30 - 0.0001, qPrintable(QString::number(pts)));
            previous = pts;
        }
    }

    void differentSizesNeedReencoding() {
        const Composition composition = compose({"a.mp4", "small.mp4"}, 0.51);
        QVERIFY(!m_assets.exportComposition(composition, ExportPreset::Passthrough, file("x.mp4")).ok());

        const QString clip = file("encoded.mp4");
        const Status status = m_assets.exportComposition(composition, ExportPreset::HighestQuality, clip);
        QVERIFY2(status.ok(), qPrintable(status ? QString() : status.error().message));
        const QJsonObject video = Probe::videoStream(clip);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), QSize(384, 216));
        QVERIFY(std::abs(durationOf(video) - (4 - 0.51)) < 1.0 / 30);
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip, 0)), 15);
    }

    void imageAt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("before");
        QTest::addColumn<double>("after");
        QTest::addColumn<int>("frame");  // -1: an error
        QTest::addColumn<QSize>("size"); // fitted into 360x360; not checked when empty

        // a.mp4: frames 0 to 59 every 1/30 s, key frames 0 and 30.
        QTest::newRow("between frames: the frame shown") << "a.mp4" << 0.51 << 0.0 << 0.0 << 15 << QSize();
        // Within the tolerances, the nearest frame: not the first one the window lets in.
        QTest::newRow("nearest, not the earliest allowed") << "a.mp4" << 1.5 << 1.0 << 0.0 << 45 << QSize();
        QTest::newRow("nearest is just after") << "a.mp4" << 0.83 << 0.35 << 0.35 << 25 << QSize();
        QTest::newRow("nearest is just before") << "a.mp4" << 0.81 << 0.35 << 0.35 << 24 << QSize();
        QTest::newRow("before the start, tolerance after") << "a.mp4" << -0.05 << 0.0 << 0.1 << 0 << QSize();
        QTest::newRow("after the end, no tolerance") << "a.mp4" << 2.5 << 0.0 << 0.0 << -1 << QSize();
        QTest::newRow("wide frame fitted") << "wide.mp4" << 0.17 << 0.0 << 0.0 << 5 << QSize(360, 225);
    }

    void imageAt() {
        QFETCH(QString, name);
        QFETCH(double, time);
        QFETCH(double, before);
        QFETCH(double, after);
        QFETCH(int, frame);
        QFETCH(QSize, size);

        const Result<ImageAtTime> image =
            m_assets.imageAt(file(name), MediaTime::fromSeconds(time), MediaTime::fromSeconds(before),
                             MediaTime::fromSeconds(after), QSize(360, 360));
        QCOMPARE(image.ok(), frame >= 0);
        QVERIFY(image.ok() || !image.error().message.isEmpty());
        if (frame < 0) return;
        QCOMPARE(CodedFrames::read(image.value().image), frame);
        QCOMPARE(image.value().actualTime, MediaTime(frame * 512, 15360)); // libx264's 30 fps time base
        if (size.isValid()) QCOMPARE(image.value().image.size(), size);
    }
};

FERROVANE_TEST_MAIN(FfmpegMediaAssetsTest)
#include "tst_ffmpegmediaassets.moc"
