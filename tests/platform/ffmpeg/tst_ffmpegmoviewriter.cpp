#include "platform/linux/FfmpegMovieWriter.h"
#include "support/TestEnvironment.h"

#include <QColor>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <functional>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// On the host clock, neither zero nor on a frame boundary, so the file's timeline must be taken from it.
const MediaTime sessionStart = MediaTime::fromNanoseconds(7'123'456'789);

MediaTime at(double secondsAfterStart) {
    return sessionStart + MediaTime::fromNanoseconds(std::llround(secondsAfterStart * 1e9));
}

// A BGRA picture whose memory the test owns. Row padding is filled with junk, as capture buffers may be.
struct OwnedPixelBuffer : PixelBuffer {
    std::vector<uint8_t> bytes;
};

std::shared_ptr<OwnedPixelBuffer> makePicture(QSize size, int paddingBytes,
                                              const std::function<QRgb(int, int)>& rgb) {
    auto picture = std::make_shared<OwnedPixelBuffer>();
    picture->width = size.width();
    picture->height = size.height();
    picture->bytesPerRow = size.width() * 4 + paddingBytes;
    picture->bytes.assign(size_t(picture->bytesPerRow) * size.height(), 0xEE);
    picture->data = picture->bytes.data();
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const QRgb c = rgb(x, y);
            uint8_t* p = picture->bytes.data() + size_t(y) * picture->bytesPerRow + size_t(x) * 4;
            std::tie(p[0], p[1], p[2], p[3]) = std::tuple(qBlue(c), qGreen(c), qRed(c), 0xFF);
        }
    return picture;
}

// A gradient with a square that moves with `index`, so frames differ.
PixelBufferRef movingPicture(QSize size, int paddingBytes, int index) {
    const int w = size.width(), h = size.height();
    return makePicture(size, paddingBytes, [=](int x, int y) {
        const bool square = std::abs(x - index * 7 % w) < w / 8 && std::abs(y - h / 2) < h / 8;
        return square ? qRgb(255, 0, 0) : qRgb(128, y * 255 / h, x * 255 / w);
    });
}

VideoSettings settingsFor(QSize size, int fps) {
    VideoSettings settings;
    settings.width = size.width();
    settings.height = size.height();
    settings.averageBitRate = int64_t(size.width()) * size.height() * 3;
    settings.maxKeyFrameInterval = fps;
    settings.expectedSourceFrameRate = fps;
    return settings;
}

// Waits for room first: unlike a real-time source, these tests want every frame in the file.
bool appendWhenReady(MovieWriter& writer, const PixelBufferRef& picture, MediaTime time) {
    QElapsedTimer waited;
    waited.start();
    while (!writer.isReadyForMoreMediaData() && waited.elapsed() < 20'000)
        QThread::usleep(500);
    return writer.append(picture, time);
}

struct Outcome {
    std::optional<WriterStatus> status;
    int calls = 0;
    bool onCallerThread = false;
};

// Ends the session, finishes, drops the writer at once as the recorder does, and waits for the handler.
Outcome finish(std::unique_ptr<MovieWriter> writer, MediaTime end) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto reported = std::make_shared<std::promise<std::pair<WriterStatus, bool>>>();
    const std::thread::id caller = std::this_thread::get_id();
    writer->markAsFinished();
    writer->endSession(end);
    writer->finishWriting([=](WriterStatus status) {
        if (calls->fetch_add(1) == 0) reported->set_value({status, std::this_thread::get_id() == caller});
    });
    writer.reset();
    Outcome outcome;
    auto future = reported->get_future();
    if (future.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
        std::tie(outcome.status, outcome.onCallerThread) = future.get();
    outcome.calls = calls->load();
    return outcome;
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode())
        qWarning().noquote() << program << "failed:" << process.readAllStandardError();
    return process.readAllStandardOutput();
}

QJsonObject probe(const QString& path) {
    return QJsonDocument::fromJson(run("ffprobe", {"-v", "error", "-print_format", "json", "-show_format",
                                                   "-show_streams", "-show_frames", path}))
        .object();
}

double number(const QJsonValue& value) {
    return value.toString().toDouble();
}

// Y, Cb, Cr of an 8-bit RGB colour in BT.709, limited range.
std::array<double, 3> bt709Limited(QColor c) {
    const double r = c.redF(), g = c.greenF(), b = c.blueF();
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {16 + 219 * y, 128 + 224 * (b - y) / 1.8556, 128 + 224 * (r - y) / 1.5748};
}

bool heldOpen(const QString& path) {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList entries = fds.entryList(QDir::System | QDir::Files);
    return std::any_of(entries.begin(), entries.end(), [&](const QString& fd) {
        return QFileInfo(fds.filePath(fd)).symLinkTarget() == QFileInfo(path).canonicalFilePath();
    });
}

} // namespace

class TestFfmpegMovieWriter : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir.emplace(TestEnvironment::instance()->runtimeDir() + QStringLiteral("/segments-XXXXXX"));
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    void writesSegmentOnSessionTimeline_data();
    void writesSegmentOnSessionTimeline();
    void convertsWithBt709LimitedRange_data();
    void convertsWithBt709LimitedRange();
    void refusesSettings_data();
    void refusesSettings();
    void refusesPath_data();
    void refusesPath();
    void refusesFramesOffTimeline();
    void fullQueueRefusesFramesAndHoldsFewBuffers();
    void reportsFailureAtFinish_data();
    void reportsFailureAtFinish();
    void unfinishedWriterLetsGoAtOnce();

private:
    QString segmentPath() const { return m_dir->filePath(QStringLiteral("seg.mp4")); }
    std::unique_ptr<MovieWriter> open(QSize size, int fps = 30) {
        auto opened = m_factory.openWriter(segmentPath(), settingsFor(size, fps));
        if (!opened) qWarning().noquote() << opened.error().description;
        return opened ? opened.take() : nullptr;
    }

    FfmpegMovieWriterFactory m_factory;
    std::optional<QTemporaryDir> m_dir;
};

void TestFfmpegMovieWriter::writesSegmentOnSessionTimeline_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("sourceSize");
    QTest::addColumn<int>("paddingBytes");
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("idleEvery");      // every n-th capture tick brings no frame (0: none)
    QTest::addColumn<double>("tailSeconds"); // from the last tick to the session end

    const QSize small(320, 200);
    QTest::newRow("30 fps, every tick") << small << small << 0 << 30 << 75 << 0 << 1.0 / 30;
    // The still tail is longer than a frame: the last frame must last until the session end.
    QTest::newRow("15 fps, idle ticks, still tail")
        << QSize(256, 144) << QSize(256, 144) << 0 << 15 << 40 << 3 << 0.4;
    QTest::newRow("narrow screen scaled up (1512 into 1920)")
        << QSize(1920, 1246) << QSize(1512, 982) << 0 << 30 << 6 << 0 << 1.0 / 30;
    QTest::newRow("wide screen scaled down, padded rows")
        << small << QSize(640, 400) << 64 << 30 << 40 << 4 << 1.0 / 30;
}

void TestFfmpegMovieWriter::writesSegmentOnSessionTimeline() {
    QFETCH(QSize, size);
    QFETCH(QSize, sourceSize);
    QFETCH(int, paddingBytes);
    QFETCH(int, fps);
    QFETCH(int, ticks);
    QFETCH(int, idleEvery);
    QFETCH(double, tailSeconds);

    std::unique_ptr<MovieWriter> writer = open(size, fps);
    QVERIFY(writer);
    writer->startSession(sessionStart);
    QList<double> frameTimes;
    for (int tick = 0; tick < ticks; ++tick) {
        if (idleEvery && tick % idleEvery == idleEvery - 1) continue;
        frameTimes << double(tick) / fps;
        QVERIFY(
            appendWhenReady(*writer, movingPicture(sourceSize, paddingBytes, tick), at(frameTimes.last())));
    }
    const double endSeconds = double(ticks - 1) / fps + tailSeconds;
    const Outcome outcome = finish(std::move(writer), at(endSeconds));
    QCOMPARE(outcome.status, WriterStatus::Completed);
    QCOMPARE(outcome.calls, 1);
    QVERIFY(!outcome.onCallerThread);
    struct stat file {};
    QCOMPARE(::stat(QFile::encodeName(segmentPath()).constData(), &file), 0);
    QCOMPARE(file.st_mode & 07777, mode_t(0600));

    const QJsonObject info = probe(segmentPath());
    QCOMPARE(info["streams"].toArray().size(), 1);
    const QJsonObject video = info["streams"][0].toObject();
    const QJsonObject format = info["format"].toObject();
    QCOMPARE(video["codec_name"].toString(), "h264");
    QCOMPARE(video["profile"].toString(), "High");
    QCOMPARE(video["has_b_frames"].toInt(), 0);
    QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), size);
    QCOMPARE(video["pix_fmt"].toString(), "yuv420p");
    QCOMPARE(video["color_range"].toString(), "tv");
    for (const char* key : {"color_primaries", "color_transfer", "color_space"})
        QCOMPARE(video[key].toString(), "bt709");
    QCOMPARE(number(format["start_time"]), 0.0);
    QCOMPARE(number(video["start_time"]), 0.0);
    QVERIFY2(
        std::abs(number(format["duration"]) - endSeconds) < 0.002,
        qPrintable(QStringLiteral("%1 s, session %2 s").arg(number(format["duration"])).arg(endSeconds)));

    const QJsonArray frames = info["frames"].toArray();
    QCOMPARE(frames.size(), frameTimes.size());
    for (int i = 0, sinceKeyFrame = 0; i < frames.size(); ++i) {
        const QJsonObject frame = frames[i].toObject();
        QVERIFY2(std::abs(number(frame["pts_time"]) - frameTimes[i]) < 1e-4, qPrintable(QString::number(i)));
        QVERIFY(frame["pict_type"].toString() != "B");
        sinceKeyFrame = frame["key_frame"].toInt() ? 0 : sinceKeyFrame + 1;
        QVERIFY2(sinceKeyFrame < fps && (i > 0 || sinceKeyFrame == 0), qPrintable(QString::number(i)));
    }
}

void TestFfmpegMovieWriter::convertsWithBt709LimitedRange_data() {
    QTest::addColumn<QSize>("sourceSize");
    QTest::addColumn<int>("paddingBytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");

    QTest::newRow("red | blue") << QSize(64, 48) << 0 << QSize(64, 48) << QColor(Qt::red) << QColor(Qt::blue);
    QTest::newRow("black | white, scaled down, padded rows")
        << QSize(256, 160) << 32 << QSize(128, 80) << QColor(Qt::black) << QColor(Qt::white);
    QTest::newRow("green | grey, scaled up")
        << QSize(80, 48) << 0 << QSize(160, 96) << QColor(Qt::green) << QColor(90, 90, 90);
}

void TestFfmpegMovieWriter::convertsWithBt709LimitedRange() {
    QFETCH(QSize, sourceSize);
    QFETCH(int, paddingBytes);
    QFETCH(QSize, size);
    QFETCH(QColor, left);
    QFETCH(QColor, right);

    std::unique_ptr<MovieWriter> writer = open(size);
    QVERIFY(writer);
    writer->startSession(sessionStart);
    const int half = sourceSize.width() / 2;
    QVERIFY(writer->append(
        makePicture(sourceSize, paddingBytes, [&](int x, int) { return (x < half ? left : right).rgb(); }),
        sessionStart));
    QCOMPARE(finish(std::move(writer), at(0.1)).status, WriterStatus::Completed);

    const QByteArray yuv = run("ffmpeg", {"-v", "error", "-i", segmentPath(), "-frames:v", "1", "-f",
                                          "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const int w = size.width(), h = size.height(), y = h / 2;
    QCOMPARE(yuv.size(), w * h * 3 / 2);
    for (const auto& [x, color] : {std::pair{w / 4, left}, std::pair{3 * w / 4, right}}) {
        const int chroma = (y / 2) * (w / 2) + x / 2;
        const std::array<int, 3> actual{uint8_t(yuv[y * w + x]), uint8_t(yuv[w * h + chroma]),
                                        uint8_t(yuv[w * h * 5 / 4 + chroma])};
        const std::array<double, 3> expected = bt709Limited(color);
        for (int c = 0; c < 3; ++c)
            QVERIFY2(std::abs(actual[c] - expected[c]) <= 3,
                     qPrintable(QStringLiteral("%1 plane %2: %3, not %4")
                                    .arg(color.name())
                                    .arg(c)
                                    .arg(actual[c])
                                    .arg(expected[c])));
    }
}

void TestFfmpegMovieWriter::refusesSettings_data() {
    QTest::addColumn<VideoSettings>("settings");
    QTest::addColumn<QString>("mentions");

    const auto with = [](auto change) {
        VideoSettings s = settingsFor(QSize(320, 200), 30);
        change(s);
        return s;
    };
    QTest::newRow("zero width") << with([](auto& s) { s.width = 0; }) << "0x200";
    QTest::newRow("negative height") << with([](auto& s) { s.height = -200; }) << "320x-200";
    QTest::newRow("odd width") << with([](auto& s) { s.width = 321; }) << "even";
    QTest::newRow("odd height") << with([](auto& s) { s.height = 201; }) << "even";
    QTest::newRow("no bit rate") << with([](auto& s) { s.averageBitRate = 0; }) << "bit/s";
    QTest::newRow("no key frame interval") << with([](auto& s) { s.maxKeyFrameInterval = 0; }) << "key frame";
    QTest::newRow("no frame rate") << with([](auto& s) { s.expectedSourceFrameRate = 0; }) << "fps";
    QTest::newRow("frame reordering") << with([](auto& s) { s.allowFrameReordering = true; }) << "reordering";
    // Passes the checks above; the encoder itself refuses, after the file was created.
    QTest::newRow("beyond the encoder's size")
        << with([](auto& s) { s.width = s.height = 30000; }) << "30000x30000";
}

void TestFfmpegMovieWriter::refusesSettings() {
    QFETCH(VideoSettings, settings);
    QFETCH(QString, mentions);

    auto opened = m_factory.openWriter(segmentPath(), settings);
    QVERIFY(!opened.ok());
    QVERIFY2(opened.error().description.contains(mentions), qPrintable(opened.error().description));
    QVERIFY(!QFile::exists(segmentPath()));
}

void TestFfmpegMovieWriter::refusesPath_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("file exists") << "existing.mp4";
    QTest::newRow("dangling symlink") << "link.mp4";
    QTest::newRow("missing folder") << "gone/seg.mp4";
    QTest::newRow("folder is a file") << "existing.mp4/seg.mp4";
}

void TestFfmpegMovieWriter::refusesPath() {
    QFETCH(QString, name);
    QFile existing(m_dir->filePath(QStringLiteral("existing.mp4")));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep") == 4);
    existing.close();
    const QString target = m_dir->filePath(QStringLiteral("target.mp4"));
    QVERIFY(QFile::link(target, m_dir->filePath(QStringLiteral("link.mp4"))));

    auto opened = m_factory.openWriter(m_dir->filePath(name), settingsFor(QSize(320, 200), 30));
    QVERIFY(!opened.ok());
    QVERIFY2(opened.error().description.contains(m_dir->filePath(name)),
             qPrintable(opened.error().description));
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList({"existing.mp4", "link.mp4"}));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), "keep");
}

void TestFfmpegMovieWriter::refusesFramesOffTimeline() {
    std::unique_ptr<MovieWriter> writer = open(QSize(64, 48));
    QVERIFY(writer);
    const PixelBufferRef picture = movingPicture(QSize(64, 48), 0, 0);
    auto shortRows = std::make_shared<PixelBuffer>(*picture);
    shortRows->bytesPerRow -= 4;

    QVERIFY2(!writer->append(picture, at(0)), "before the session started");
    writer->startSession(sessionStart);
    QVERIFY2(!writer->append(picture, at(-0.001)), "before the session start");
    QVERIFY2(!writer->append(picture, MediaTime::invalid()), "without a time");
    QVERIFY2(!writer->append(nullptr, at(0)), "without a picture");
    QVERIFY2(!writer->append(shortRows, at(0)), "rows shorter than the width");
    QVERIFY(appendWhenReady(*writer, picture, at(0)));
    QVERIFY2(!writer->append(picture, at(0)), "the same time twice");
    QVERIFY2(!writer->append(picture, at(0.000001)), "the same tick of the file's time base");
    QVERIFY(appendWhenReady(*writer, picture, at(0.05)));
    QVERIFY2(!writer->append(picture, at(0.04)), "back in time");
    writer->markAsFinished();
    QVERIFY(!writer->isReadyForMoreMediaData());
    QVERIFY2(!writer->append(picture, at(0.1)), "after markAsFinished");

    QCOMPARE(finish(std::move(writer), at(0.2)).status, WriterStatus::Completed);
    QCOMPARE(probe(segmentPath())["frames"].toArray().size(), 2);
}

void TestFfmpegMovieWriter::fullQueueRefusesFramesAndHoldsFewBuffers() {
    const QSize size(1280, 800);
    const int offered = 60;
    std::unique_ptr<MovieWriter> writer = open(size);
    QVERIFY(writer);
    writer->startSession(sessionStart);

    // Each offered picture counts itself while alive, as a capture pool would miss its buffers.
    auto alive = std::make_shared<std::atomic<int>>(0);
    int mostAlive = 0, accepted = 0;
    const PixelBufferRef source = movingPicture(size, 0, 0);
    for (int i = 0; i < offered; ++i) {
        ++*alive;
        const PixelBufferRef picture(new PixelBuffer(*source), [alive](const PixelBuffer* p) {
            --*alive;
            delete p;
        });
        accepted += writer->append(picture, at(i / 30.0));
        mostAlive = std::max(mostAlive, alive->load() - 1);
    }
    QVERIFY2(accepted < offered, "a burst faster than the encoder must overflow the queue");
    QVERIFY2(mostAlive <= FfmpegMovieWriter::queueCapacity + 1, qPrintable(QString::number(mostAlive)));
    QCOMPARE(finish(std::move(writer), at(offered / 30.0)).status, WriterStatus::Completed);
    QCOMPARE(alive->load(), 0);
    QCOMPARE(probe(segmentPath())["frames"].toArray().size(), accepted);
}

void TestFfmpegMovieWriter::reportsFailureAtFinish_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("fileSizeLimitBytes"); // 0: none
    QTest::newRow("no frame at all") << 0 << 0;
    // A file size limit makes write(2) fail as a full disk does, without mounting anything; the limit
    // is below the I/O buffer's flushes, so writing fails while frames still come.
    QTest::newRow("disk full mid-segment") << 45 << 512 * 1024;
}

void TestFfmpegMovieWriter::reportsFailureAtFinish() {
    QFETCH(int, frames);
    QFETCH(int, fileSizeLimitBytes);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    });
    const rlimit limited{fileSizeLimitBytes ? rlim_t(fileSizeLimitBytes) : saved.rlim_cur, saved.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

    VideoSettings settings = settingsFor(QSize(320, 200), 30);
    settings.averageBitRate = 40'000'000; // noise at this rate fills the limit within a second
    auto opened = m_factory.openWriter(segmentPath(), settings);
    QVERIFY(opened.ok());
    std::unique_ptr<MovieWriter> writer = opened.take();
    writer->startSession(sessionStart);
    for (int i = 0; i < frames; ++i, QThread::msleep(10))
        writer->append(makePicture(QSize(320, 200), 0, [](int, int) { return QRgb(std::rand()); }),
                       at(i / 30.0));
    if (fileSizeLimitBytes)
        QTRY_VERIFY2(!writer->isReadyForMoreMediaData(), "a writer that cannot write takes no more frames");
    const Outcome outcome = finish(std::move(writer), at(2));
    QCOMPARE(outcome.status, WriterStatus::Failed);
    QCOMPARE(outcome.calls, 1);
    QVERIFY(!outcome.onCallerThread);
}

void TestFfmpegMovieWriter::unfinishedWriterLetsGoAtOnce() {
    std::unique_ptr<MovieWriter> writer = open(QSize(640, 400));
    QVERIFY(writer);
    writer->startSession(sessionStart);
    std::vector<std::weak_ptr<const PixelBuffer>> pictures;
    for (int i = 0; i < 3; ++i) {
        const PixelBufferRef picture = movingPicture(QSize(640, 400), 0, i);
        pictures.push_back(picture);
        writer->append(picture, at(i / 30.0));
    }
    QVERIFY(heldOpen(segmentPath()));
    writer.reset();
    QVERIFY(std::all_of(pictures.begin(), pictures.end(), [](const auto& p) { return p.expired(); }));
    QVERIFY(!heldOpen(segmentPath()));
    QVERIFY2(QFile::exists(segmentPath()), "removing segments is the recorder's business");
}

FERROVANE_TEST_MAIN(TestFfmpegMovieWriter)
#include "tst_ffmpegmoviewriter.moc"
