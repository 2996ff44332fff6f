#include "ClipMovies.h"
#include "clips/Thumbnailer.h"
#include "platform/linux/FfmpegMediaAssets.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QFutureWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class ThumbnailerTest : public QObject {
    Q_OBJECT

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::shared_ptr<FfmpegMediaAssets> m_ffmpeg = std::make_shared<FfmpegMediaAssets>();

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        for (const auto& [name, error] : {
                 std::pair{"ten.mp4", ClipMovies::make(file("ten.mp4"), 300, 30, QSize(384, 240))},
                 std::pair{"quarter.mp4", ClipMovies::make(file("quarter.mp4"), 5, 20, QSize(384, 240))},
                 std::pair{"wide.mp4", ClipMovies::make(file("wide.mp4"), 15, 30, QSize(2560, 1600))},
                 std::pair{"audio.mp4", Probe::ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac",
                                                       file("audio.mp4")})},
             })
            QVERIFY2(error.isEmpty(), qPrintable(QString(name) + ": " + error));
        QFile junk(file("junk.mp4"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
    }

    // The frame is asked for 0.3 s before the end, with up to 1 s before it and nothing after, at 360.
    void tenSecondClipShowsAFrameNearItsEnd() {
        RecordingAssets assets(m_ffmpeg);
        const Thumbnail thumbnail = Thumbnailer::make(assets, file("ten.mp4"));

        QCOMPARE(thumbnail.duration, 10.0);
        const std::vector<RecordingAssets::Request> requests = assets.requests();
        QCOMPARE(requests.size(), size_t(1));
        QCOMPARE(requests[0].time.value(), 5820); // 9.7 s
        QCOMPARE(requests[0].time.timescale(), 600);
        QCOMPARE(requests[0].toleranceBefore, MediaTime(600, 600));
        QCOMPARE(requests[0].toleranceAfter, MediaTime::zero());
        QCOMPARE(requests[0].maxSize, QSize(360, 360));

        QCOMPARE(thumbnail.image.size(), QSize(360, 225));
        const int frame = ClipMovies::frameNumber(thumbnail.image);
        QVERIFY2(frame >= 261 && frame <= 291,
                 qPrintable(QString("frame %1 is not within 8.7 to 9.7 s").arg(frame)));
    }

    void quarterSecondClipAsksForTimeZero() {
        RecordingAssets assets(m_ffmpeg);
        const Thumbnail thumbnail = Thumbnailer::make(assets, file("quarter.mp4"));

        QCOMPARE(thumbnail.duration, 0.25);
        QCOMPARE(assets.requests().at(0).time, MediaTime::zero());
        QCOMPARE(Thumbnailer::requestedTime(0.25), MediaTime(0, 600));
        QCOMPARE(ClipMovies::frameNumber(thumbnail.image), 0);
    }

    void wideClipFitsTheBox() {
        const Thumbnail thumbnail = Thumbnailer::make(*m_ffmpeg, file("wide.mp4"));
        QCOMPARE(thumbnail.image.size(), QSize(360, 225));
        QCOMPARE(thumbnail.duration, 0.5);
    }

    void unreadableFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("duration");

        QTest::newRow("missing") << "none.mp4" << 0.0;
        QTest::newRow("not a movie") << "junk.mp4" << 0.0;
        QTest::newRow("no picture") << "audio.mp4" << Probe::duration(file("audio.mp4"));
    }

    // No error escapes: the image is null and the duration whatever could be read.
    void unreadableFiles() {
        QFETCH(QString, name);
        QFETCH(double, duration);

        const Thumbnail thumbnail = Thumbnailer::make(*m_ffmpeg, file(name));
        QVERIFY(thumbnail.image.isNull());
        QVERIFY2(std::abs(thumbnail.duration - duration) < 1e-3,
                 qPrintable(QString::number(thumbnail.duration)));
    }

    // The application awaits it from the main thread, which keeps running meanwhile.
    void makeAsyncRunsOffTheMainThread() {
        QFutureWatcher<Thumbnail> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(Thumbnailer::makeAsync(m_ffmpeg, file("ten.mp4")));
        QVERIFY(finished.wait(30000));
        const Thumbnail thumbnail = watcher.result();
        QCOMPARE(thumbnail.duration, 10.0);
        QCOMPARE(thumbnail.image, Thumbnailer::make(*m_ffmpeg, file("ten.mp4")).image);

        QFuture<Thumbnail> missing = Thumbnailer::makeAsync(m_ffmpeg, file("none.mp4"));
        QTRY_VERIFY(missing.isFinished());
        QVERIFY(missing.result().image.isNull());
        QCOMPARE(missing.result().duration, 0.0);
    }
};

FERROVANE_TEST_MAIN(ThumbnailerTest)
#include "tst_thumbnailer.moc"
