#include "platform/linux/ffmpeg/FfmpegMovieWriter.h"
#include "platform/linux/ffmpeg/H264Encoder.h"
#include "support/CodedFrames.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <future>
#include <sys/resource.h>

namespace {

// On the host clock, neither zero nor on a frame boundary, so the file's timeline must be taken from it.
const MediaTime sessionStart = MediaTime::fromNanoseconds(7'123'456'789);

MediaTime at(double secondsAfterStart) {
    return sessionStart + MediaTime::fromNanoseconds(std::llround(secondsAfterStart * 1e9));
}

VideoSettings settingsFor(QSize size, int fps) {
    return VideoSettings{size.width(), size.height(), int64_t(size.width()) * size.height() * 3, fps, fps};
}

// Waits for room first: unlike a real-time source, these tests want every frame in the file.
bool appendWhenReady(MovieWriter& writer, const PixelBufferRef& picture, MediaTime time) {
    for (QDeadlineTimer patience(20'000); !writer.isReadyForMoreMediaData() && !patience.hasExpired();)
        QThread::usleep(500);
    return writer.append(picture, time);
}

struct Outcome {
    std::optional<Status> status;
    bool completed() const { return status && status->ok(); }
    int calls = 0;
    bool onCallerThread = false;
};

// Ends the session, finishes and drops the writer at once, as the recorder does; calling the result waits
// for the outcome.
std::function<Outcome()> finish(std::unique_ptr<MovieWriter> writer, MediaTime end) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto reported = std::make_shared<std::promise<std::pair<Status, bool>>>();
    const std::thread::id caller = std::this_thread::get_id();
    writer->markAsFinished();
    writer->endSession(end);
    writer->finishWriting([=](const Status& status) {
        if (calls->fetch_add(1) == 0) reported->set_value({status, std::this_thread::get_id() == caller});
    });
    writer.reset();
    return [calls, future = reported->get_future().share()] {
        Outcome outcome;
        if (future.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
            std::tie(outcome.status, outcome.onCallerThread) = future.get();
        outcome.calls = calls->load();
        return outcome;
    };
}

PixelBufferRef noise(QSize size, int paddingBytes = 0) {
    return CodedFrames::paint(size, paddingBytes, [](int, int) { return QRgb(std::rand()); });
}

double number(const QJsonValue& value) {
    return value.toString().toDouble();
}

} // namespace

class TestFfmpegMovieWriter : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.emplace(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/segments-XXXXXX"));
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    void writesSegmentOnSessionTimeline_data() {
        QTest::addColumn<QSize>("sourceSize"); // the file is 320x200
        QTest::addColumn<int>("paddingBytes");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("idleEvery");      // every n-th capture tick brings no frame (0: none)
        QTest::addColumn<double>("tailSeconds"); // from the last tick to the session end

        QTest::newRow("30 fps, every tick") << QSize(320, 200) << 0 << 30 << 45 << 0 << 1.0 / 30;
        // The still tail is longer than a frame: the last frame must last until the session end.
        QTest::newRow("15 fps, scaled padded source, idle ticks, still tail")
            << QSize(640, 400) << 64 << 15 << 40 << 3 << 0.4;
    }

    void writesSegmentOnSessionTimeline() {
        QFETCH(QSize, sourceSize);
        QFETCH(int, paddingBytes);
        QFETCH(int, fps);
        QFETCH(int, ticks);
        QFETCH(int, idleEvery);
        QFETCH(double, tailSeconds);

        auto writer = open("seg.mp4", settingsFor(QSize(320, 200), fps), sessionStart);
        QVERIFY(writer);
        QList<double> frameTimes;
        for (int tick = 0; tick < ticks; ++tick) {
            if (idleEvery && tick % idleEvery == idleEvery - 1) continue;
            frameTimes << double(tick) / fps;
            QVERIFY(appendWhenReady(*writer, noise(sourceSize, paddingBytes), at(frameTimes.last())));
        }
        const double endSeconds = double(ticks - 1) / fps + tailSeconds;
        const Outcome outcome = finish(std::move(writer), at(endSeconds))();
        QVERIFY(outcome.completed());
        QCOMPARE(outcome.calls, 1);
        QVERIFY(!outcome.onCallerThread);
        const QString path = m_dir->filePath("seg.mp4");
        QCOMPARE(QFile::permissions(path),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

        const QJsonObject info = Probe::run(path, {"-show_frames"});
        QStringList properties;
        for (const char* key :
             {"codec_name", "profile", "pix_fmt", "color_range", "color_primaries", "color_transfer",
              "color_space", "has_b_frames", "width", "height", "start_time"})
            properties << info["streams"][0][key].toVariant().toString();
        QCOMPARE(properties, (QStringList{"h264", "High", "yuv420p", "tv", "bt709", "bt709", "bt709", "0",
                                          "320", "200", "0.000000"}));
        const double seconds = number(info["format"]["duration"]);
        QVERIFY2(std::abs(seconds - endSeconds) < 1.0 / fps, qPrintable(QString::number(seconds)));

        const QJsonArray frames = info["frames"].toArray();
        QCOMPARE(frames.size(), frameTimes.size());
        for (int i = 0, sinceKeyFrame = 0; i < frames.size(); ++i) {
            const QJsonObject frame = frames[i].toObject();
            QVERIFY2(std::abs(number(frame["pts_time"]) - frameTimes[i]) < 1e-4,
                     qPrintable(QString::number(i)));
            sinceKeyFrame = frame["key_frame"].toInt() ? 0 : sinceKeyFrame + 1;
            QVERIFY2(sinceKeyFrame < fps && (i > 0 || sinceKeyFrame == 0), qPrintable(QString::number(i)));
        }
    }

    // The blocks x264 may skip unseen: any block an area touches, even by one pixel, is not one of them.
    void flagsUntouchedMacroblocks_data() {
        QTest::addColumn<QList<QRect>>("changed");
        QTest::addColumn<QString>("constant"); // 40x40: three rows of three blocks, the last ones partial
        QTest::newRow("nothing") << QList<QRect>{} << "111 111 111";
        QTest::newRow("a block's last column") << QList<QRect>{{15, 0, 1, 1}} << "011 111 111";
        QTest::newRow("the next block's first") << QList<QRect>{{16, 0, 1, 1}} << "101 111 111";
        QTest::newRow("odd, across four") << QList<QRect>{{15, 15, 2, 2}} << "001 001 111";
        QTest::newRow("the partial corner") << QList<QRect>{{33, 33, 7, 7}} << "111 111 110";
        QTest::newRow("clipped to the picture") << QList<QRect>{{30, -5, 50, 10}} << "100 111 111";
        QTest::newRow("two areas") << QList<QRect>{{0, 0, 1, 1}, {39, 39, 1, 1}} << "011 111 110";
    }
    void flagsUntouchedMacroblocks() {
        QFETCH(QList<QRect>, changed);
        QFETCH(QString, constant);
        const std::vector<uint8_t> flags =
            ffmpeg::H264Encoder::constantMacroblocks({changed.begin(), changed.end()}, QSize(40, 40));
        QString shown;
        for (size_t i = 0; i < flags.size(); ++i)
            shown += QString(i && i % 3 == 0 ? " " : "") + (flags[i] ? '1' : '0');
        QCOMPARE(shown, constant);
    }

    // Pictures say where they changed; only that is converted, and x264 is told the rest of the picture
    // stayed as it was. A change must still reach the file wherever it falls on the 16-pixel macroblock
    // grid, and nothing else may move.
    void encodesEveryChangedArea_data() {
        QTest::addColumn<QRect>("area");
        QTest::newRow("one whole macroblock") << QRect(32, 32, 16, 16);
        QTest::newRow("odd, across four macroblocks") << QRect(37, 21, 19, 13);
        QTest::newRow("small, odd") << QRect(161, 99, 4, 3);
        QTest::newRow("in the partial bottom row, at the right edge") << QRect(300, 193, 20, 7);
    }
    void encodesEveryChangedArea() {
        QFETCH(QRect, area);
        const QSize size(320, 200);
        const int fps = 10, frames = 20;
        const QRgb background = qRgb(128, 128, 128);
        auto writer = open("seg.mp4", settingsFor(size, fps), sessionStart);
        QVERIFY(writer);
        uint64_t previous = 0;
        for (int i = 0; i < frames; ++i) {
            const QRgb colour = i % 2 ? qRgb(16, 16, 16) : qRgb(240, 240, 240);
            PixelBufferRef picture = CodedFrames::paint(
                size, 0, [&](int x, int y) { return area.contains(x, y) ? colour : background; });
            auto* described = const_cast<PixelBuffer*>(picture.get()); // fresh, not shared yet
            described->sequence = nextPictureSequence();
            described->previous = previous;
            described->changed = {area};
            previous = described->sequence;
            QVERIFY(appendWhenReady(*writer, picture, at(double(i) / fps)));
        }
        QVERIFY(finish(std::move(writer), at(double(frames) / fps))().completed());

        for (int i = 0; i < frames; ++i) {
            const QImage shown = CodedFrames::frameAt(m_dir->filePath("seg.mp4"), double(i) / fps);
            QCOMPARE(shown.size(), size);
            long sum = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    sum += qGray(shown.pixel(x, y));
            const long mean = sum / (area.width() * area.height());
            QVERIFY2(i % 2 ? mean < 60 : mean > 200,
                     qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(mean)));
            QVERIFY2(std::abs(qGray(shown.pixel(area.left() > 40 ? 8 : 300, 8)) - 128) < 8,
                     qPrintable(QString::number(i)));
        }
    }

    // Consecutive writers share an encoder; every file must still stand alone: a key frame first, its
    // own timeline from 0, and nothing of its neighbours. The next writer opens while the previous file
    // still finishes, as at a roll, and must take its first picture at once.
    void consecutiveSegmentsStandAlone_data() {
        QTest::addColumn<QSize>("firstSize");
        QTest::addColumn<QSize>("secondSize");
        QTest::addColumn<int>("framesEach");
        QTest::addColumn<bool>("abandonFirst");
        const QSize small(320, 200);
        QTest::newRow("roll to another size") << small << QSize(256, 160) << 40 << false;
        QTest::newRow("after an abandoned segment") << small << small << 40 << true;
        // Noise this large keeps the encoder busy: the previous segment still fills its queue at the roll.
        QTest::newRow("behind a full queue") << QSize(1920, 1080) << QSize(1920, 1080) << 4 << false;
    }
    void consecutiveSegmentsStandAlone() {
        QFETCH(QSize, firstSize);
        QFETCH(QSize, secondSize);
        QFETCH(int, framesEach);
        QFETCH(bool, abandonFirst);
        constexpr int fps = 30;
        const QString names[] = {"a.mp4", "b.mp4"};
        const QSize sizes[] = {firstSize, secondSize};
        std::vector<PixelBufferRef> pictures[2]; // made beforehand, so frames go in back to back
        for (int s = 0; s < 2; ++s)
            for (int i = 0; i < framesEach; ++i)
                pictures[s].push_back(noise(sizes[s]));
        std::function<Outcome()> first;
        std::unique_ptr<MovieWriter> previous;
        for (int s = 0; s < 2; ++s) {
            if (previous && !abandonFirst) first = finish(std::move(previous), at(2.5));
            previous.reset();
            // The second segment starts where the first ended, as the recorder's do.
            const double start = s * 2.5;
            std::unique_ptr<MovieWriter> writer = open(names[s], settingsFor(sizes[s], fps), at(start));
            QVERIFY(writer && writer->isReadyForMoreMediaData());
            for (int i = 0; i < framesEach; ++i)
                QVERIFY(i == 0 ? writer->append(pictures[s][i], at(start + 1.0 / fps))
                               : appendWhenReady(*writer, pictures[s][i], at(start + (i + 1) / double(fps))));
            previous = std::move(writer);
        }
        QVERIFY(finish(std::move(previous), at(5))().completed());
        if (!abandonFirst) QVERIFY(first().completed());

        for (int s = abandonFirst ? 1 : 0; s < 2; ++s) {
            const QString path = m_dir->filePath(names[s]);
            const QJsonObject info = Probe::run(path, {"-show_frames"});
            QCOMPARE(QSize(info["streams"][0]["width"].toInt(), info["streams"][0]["height"].toInt()),
                     sizes[s]);
            const QJsonArray frames = info["frames"].toArray();
            QCOMPARE(frames.size(), framesEach);
            QCOMPARE(frames[0]["key_frame"].toInt(), 1);
            // The empty edit before it is in the movie header's milliseconds.
            QVERIFY(std::abs(number(frames[0]["pts_time"]) - 1.0 / fps) < 1e-3);
            QCOMPARE(Probe::decodeErrors(path), QString());
        }
    }

    void refusesToOpen_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("mentions");

        // Passes the writer's own checks; the encoder refuses, after the file was created.
        QTest::newRow("beyond the encoder's size") << "seg.mp4" << QSize(30000, 30000) << "30000x30000";
        QTest::newRow("file exists") << "existing.mp4" << QSize(320, 200) << "existing.mp4";
    }

    void refusesToOpen() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(QString, mentions);
        writeFile(m_dir->filePath("existing.mp4"), "keep");

        auto opened = m_factory.openWriter(m_dir->filePath(name), settingsFor(size, 30));
        QVERIFY(!opened.ok());
        QVERIFY2(opened.error().message.contains(mentions), qPrintable(opened.error().message));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"existing.mp4"});
        QCOMPARE(readFile(m_dir->filePath("existing.mp4")), "keep");
    }

    void reportsFailureAtFinish_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("fileSizeLimitBytes"); // 0: none
        QTest::addColumn<QString>("reason");
        QTest::newRow("no frame at all") << 0 << 0 << "No frame was written";
        // A file size limit makes write(2) fail as a full disk does, without mounting anything; the limit
        // is below the I/O buffer's flushes, so writing fails while frames still come.
        QTest::newRow("disk full mid-segment") << 45 << 512 * 1024 << "File too large";
    }

    void reportsFailureAtFinish() {
        QFETCH(int, frames);
        QFETCH(int, fileSizeLimitBytes);
        QFETCH(QString, reason);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        });
        const rlimit limited{fileSizeLimitBytes ? rlim_t(fileSizeLimitBytes) : saved.rlim_cur,
                             saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

        VideoSettings settings = settingsFor(QSize(320, 200), 30);
        settings.averageBitRate = 40'000'000; // noise at this rate fills the limit within a second
        std::unique_ptr<MovieWriter> writer = open("seg.mp4", settings, sessionStart);
        QVERIFY(writer);
        for (int i = 0; i < frames; ++i, QThread::msleep(10))
            writer->append(noise(QSize(320, 200)), at(i / 30.0));
        if (fileSizeLimitBytes)
            QTRY_VERIFY2(!writer->isReadyForMoreMediaData(),
                         "a writer that cannot write takes no more frames");
        const Outcome outcome = finish(std::move(writer), at(2))();
        QVERIFY(outcome.status && !outcome.completed());
        // The reason reaches the recorder, not just the failure.
        QVERIFY2(outcome.status->error().message.contains(reason),
                 qPrintable(outcome.status->error().message));
        QCOMPARE(outcome.calls, 1);
        QVERIFY(!outcome.onCallerThread);
    }

private:
    // A writer for `name` in the test folder, its session started; null when refused.
    std::unique_ptr<MovieWriter> open(const QString& name, const VideoSettings& settings, MediaTime start) {
        auto opened = m_factory.openWriter(m_dir->filePath(name), settings);
        if (!opened) return nullptr;
        std::unique_ptr<MovieWriter> writer = opened.take();
        writer->startSession(start);
        return writer;
    }

    FfmpegMovieWriterFactory m_factory;
    std::optional<QTemporaryDir> m_dir;
};

FERROVANE_TEST_MAIN(TestFfmpegMovieWriter)
#include "tst_ffmpegmoviewriter.moc"
