#include "clips/Thumbnailer.h"
#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "support/CodedFrames.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QTest>

class ThumbnailerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Every frame of the long clip is a key frame, so the backend need not step back to an earlier one
        // and the picture shows the time asked for.
        for (const QString& error :
             {CodedFrames::movie(m_dir.filePath("ten.mp4"), 300, QSize(2560, 1600), {.keyInterval = 1}),
              CodedFrames::movie(m_dir.filePath("quarter.mp4"), 5, QSize(384, 240), {.fps = 20})})
            QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void make_data() {
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
    void make() {
        QFETCH(QString, clip);
        QFETCH(double, duration);
        QFETCH(int, firstFrame);
        QFETCH(int, lastFrame);

        const Thumbnail thumbnail =
            Thumbnailer::makeAsync(std::make_shared<FfmpegMediaAssets>(), m_dir.filePath(clip)).result();
        QCOMPARE(thumbnail.duration, duration);
        QCOMPARE(thumbnail.image.isNull(), firstFrame < 0);
        if (firstFrame < 0) return;
        QCOMPARE(thumbnail.image.size(), QSize(360, 225));
        const int frame = CodedFrames::read(thumbnail.image).value_or(-1);
        QVERIFY2(frame >= firstFrame && frame <= lastFrame, qPrintable(QString::number(frame)));
    }
};

FERROVANE_TEST_MAIN(ThumbnailerTest)
#include "tst_thumbnailer.moc"
