#include "ClipMovies.h"
#include "XClip.h"
#include "clips/AgentHandoff.h"
#include "platform/Pasteboard.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/FfmpegMediaAssets.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <cstdio>

namespace {

const QString tail =
    "\n\nLook at the frames, describe what goes wrong, then find the likely cause in this codebase.";

// The real clipboard, noting whether every call came on the main thread.
class WatchedPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override {
        note();
        m_real->setText(text);
    }
    void setFile(const QString& path) override {
        note();
        m_real->setFile(path);
    }
    QString text() const override { return m_real->text(); }

    int calls = 0;
    bool offMainThread = false;

private:
    void note() {
        ++calls;
        offMainThread |= QThread::currentThread() != qApp->thread();
    }
    std::unique_ptr<Pasteboard> m_real = createPasteboard();
};

// Waits for the handoff as the application does: the main thread's event loop keeps running.
Result<QString> await(QFuture<Result<QString>> future) {
    const QDeadlineTimer deadline(60000);
    while (!future.isFinished() && !deadline.hasExpired())
        QTest::qWait(5);
    if (!future.isFinished()) return platformError("the handoff did not finish within a minute");
    return future.result();
}

QStringList frameFiles(const QString& folder) {
    return QDir(folder).entryList({"frame-*"}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class AgentHandoffTest : public QObject {
    Q_OBJECT

private:
    QString file(const QString& name) const { return m_dir.filePath("Movies/Ferrovane/" + name); }

    // A copy of the 30 s clip under another name, so each test has its own frames folder.
    QString clipCopy(const QString& name) {
        const QString path = file(name);
        QFile::remove(path);
        QFile::copy(m_clip, path);
        return path;
    }

    Result<QString> handoff(std::shared_ptr<MediaAssets> assets, const QString& clip, qint64 count) {
        return await(AgentHandoff::prepare(std::move(assets), m_pasteboard, clip, count));
    }

    // The clipboard holds exactly `text`, as plain text only, to this process and to another program.
    void checkClipboardHolds(const QString& text) {
        QCOMPARE(m_pasteboard.text(), text);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{"text/plain"});
        QCOMPARE(QString::fromUtf8(XClip::read({})), text);
        QCOMPARE(QString::fromUtf8(XClip::content("text/plain")), text);
        const QStringList targets = XClip::targets();
        QVERIFY2(targets.contains("UTF8_STRING"), qPrintable(targets.join(' ')));
        for (const QString& target : targets)
            QVERIFY2(!target.contains("uri") && !target.startsWith("image/") &&
                         !target.startsWith("x-special"),
                     qPrintable(targets.join(' ')));
    }

    QTemporaryDir m_dir;
    QString m_clip;
    std::shared_ptr<FfmpegMediaAssets> m_ffmpeg = std::make_shared<FfmpegMediaAssets>();
    WatchedPasteboard m_pasteboard;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath("Movies/Ferrovane")));
        m_clip = file("replay-2026-12-04_16-23-22.mp4");
        const QString error = ClipMovies::make(m_clip, 900, 30, QSize(384, 240));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void init() {
        m_pasteboard.setText("what the user copied before");
        m_pasteboard.calls = 0;
    }

    void thirtySecondClipGivesSixFramesAndThePrompt() {
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg);
        const Result<QString> prompt = handoff(assets, m_clip, 6);
        QVERIFY2(prompt.ok(), qPrintable(prompt ? QString() : prompt.error().description));

        const std::vector<RecordingAssets::Request> requests = assets->requests();
        QCOMPARE(requests.size(), size_t(6));
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(requests[i].path, m_clip);
            QCOMPARE(requests[i].time, MediaTime(1500 + 3000 * i, 600)); // 2.5, 7.5 … 27.5 s
            QCOMPARE(requests[i].time.timescale(), 600);
            QCOMPARE(requests[i].toleranceBefore, MediaTime(240, 600));
            QCOMPARE(requests[i].toleranceAfter, MediaTime(240, 600));
            QCOMPARE(requests[i].maxSize, QSize(1600, 1600));
        }

        const QString folder = file("replay-2026-12-04_16-23-22-frames");
        QCOMPARE(frameFiles(folder), (QStringList{"frame-01.png", "frame-02.png", "frame-03.png",
                                                  "frame-04.png", "frame-05.png", "frame-06.png"}));
        QStringList lines;
        for (int i = 0; i < 6; ++i) {
            const QString path = folder + QString("/frame-0%1.png").arg(i + 1);
            QImageReader reader(path);
            QCOMPARE(reader.format(), QByteArray("png"));
            const QImage image = reader.read();
            QCOMPARE(image.size(), QSize(384, 240));
            // The frame's own number tells its time; the line shows that time, not the one asked for.
            const int number = ClipMovies::frameNumber(image);
            const double seconds = number / 30.0;
            QVERIFY2(std::abs(seconds - (2.5 + 5 * i)) <= 0.4 + 1e-9, qPrintable(QString::number(seconds)));
            lines << "- " + path + "  (at " + QString::number(seconds, 'f', 1) + "s)";
        }
        const QString expected = "I captured a screen replay of a problem (the last 30 seconds before I hit "
                                 "save). Here are 6 frames in time order:\n" +
                                 lines.join('\n') + "\nFull video: " + m_clip + tail;
        QCOMPARE(prompt.value(), expected);
        QCOMPARE(prompt.value().count('\n'), 9); // ten lines

        QCOMPARE(m_pasteboard.calls, 1);
        QVERIFY(!m_pasteboard.offMainThread);
        checkClipboardHolds(expected);
    }

    // The same folder again: the files of the same numbers are replaced, higher ones stay.
    void secondHandoffReplacesTheFiles() {
        const QString clip = clipCopy("again.mp4");
        const QString folder = file("again-frames");
        QVERIFY(handoff(m_ffmpeg, clip, 6).ok());
        for (const char* name : {"frame-01.png", "frame-07.png"}) {
            QFile stale(folder + '/' + name);
            QVERIFY(stale.open(QIODevice::WriteOnly | QIODevice::Truncate));
            stale.write("stale");
        }

        m_pasteboard.setText("between");
        const Result<QString> prompt = handoff(m_ffmpeg, clip, 6);
        QVERIFY(prompt.ok());
        QCOMPARE(frameFiles(folder).size(), 7);
        QCOMPARE(QImage(folder + "/frame-01.png").size(), QSize(384, 240));
        QFile seventh(folder + "/frame-07.png");
        QVERIFY(seventh.open(QIODevice::ReadOnly));
        QCOMPARE(seventh.readAll(), QByteArray("stale"));
        QVERIFY(prompt.value().contains("Here are 6 frames"));
        checkClipboardHolds(prompt.value());
    }

    void defaultCountIsTheSettingsCount() {
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg);
        const Result<QString> prompt =
            await(AgentHandoff::prepare(assets, m_pasteboard, clipCopy("default.mp4")));
        QVERIFY(prompt.ok());
        QCOMPARE(assets->requests().size(), size_t(Settings::handoffFrames));
        QCOMPARE(frameFiles(file("default-frames")).size(), 6);
    }

    // No frame is asked for, the folder is still made, and the list is one empty line.
    void zeroFrames() {
        const QString clip = clipCopy("zero.mp4");
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg);
        const Result<QString> prompt = handoff(assets, clip, 0);
        QVERIFY(prompt.ok());
        QVERIFY(assets->requests().empty());
        QVERIFY(QFileInfo(file("zero-frames")).isDir());
        QVERIFY(frameFiles(file("zero-frames")).isEmpty());
        QCOMPARE(prompt.value(),
                 "I captured a screen replay of a problem (the last 30 seconds before I hit save). "
                 "Here are 0 frames in time order:\n\nFull video: " +
                     clip + tail);
        checkClipboardHolds(prompt.value());
    }

    // A frame the encoder yields nothing for leaves its number unused and K one less.
    void frameWithoutPngIsSkipped() {
        const QString clip = clipCopy("gap.mp4");
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg, [](int request) {
            return request == 2
                       ? std::optional<Result<ImageAtTime>>(ImageAtTime{QImage(), MediaTime(7500, 600)})
                       : std::nullopt;
        });
        const Result<QString> prompt = handoff(assets, clip, 6);
        QVERIFY2(prompt.ok(), qPrintable(prompt ? QString() : prompt.error().description));
        QCOMPARE(frameFiles(file("gap-frames")), (QStringList{"frame-01.png", "frame-02.png", "frame-04.png",
                                                              "frame-05.png", "frame-06.png"}));
        const QStringList lines = prompt.value().split('\n');
        QVERIFY(lines[0].endsWith("Here are 5 frames in time order:"));
        QVERIFY(lines[1].startsWith("- " + file("gap-frames/frame-01.png") + "  (at "));
        QVERIFY(lines[2].startsWith("- " + file("gap-frames/frame-02.png") + "  (at "));
        QVERIFY(lines[3].startsWith("- " + file("gap-frames/frame-04.png") + "  (at "));
        QVERIFY(lines[5].startsWith("- " + file("gap-frames/frame-06.png") + "  (at "));
        QVERIFY(lines[6].startsWith("Full video: "));
        checkClipboardHolds(prompt.value());
    }

    void missingClipFailsAndLeavesTheClipboard() {
        const Result<QString> prompt = handoff(m_ffmpeg, file("none.mp4"), 6);
        QVERIFY(!prompt.ok());
        QVERIFY(!prompt.error().description.isEmpty());
        QVERIFY(!QFileInfo::exists(file("none-frames")));
        QCOMPARE(m_pasteboard.calls, 0);
        QCOMPARE(QString::fromUtf8(XClip::read({})), "what the user copied before");
        QCOMPARE(QGuiApplication::clipboard()->text(), "what the user copied before");
    }

    void folderThatCannotBeMadeFails() {
        const QString clip = clipCopy("blocked.mp4");
        QFile blocker(file("blocked-frames"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg);
        const Result<QString> prompt = handoff(assets, clip, 6);
        QVERIFY(!prompt.ok());
        QVERIFY2(prompt.error().description.contains(file("blocked-frames")),
                 qPrintable(prompt.error().description));
        QVERIFY(assets->requests().empty());
        QCOMPARE(m_pasteboard.calls, 0);
        QCOMPARE(QString::fromUtf8(XClip::read({})), "what the user copied before");
    }

    // Frames before the failed extraction are written; none after it; the extraction's error comes back.
    void failedExtractionKeepsTheFramesBefore() {
        const QString clip = clipCopy("broken.mp4");
        const Error broken = platformError("the decoder gave up", 42);
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg, [broken](int request) {
            return request == 2 ? std::optional<Result<ImageAtTime>>(broken) : std::nullopt;
        });
        const Result<QString> prompt = handoff(assets, clip, 6);
        QVERIFY(!prompt.ok());
        QCOMPARE(prompt.error(), broken);
        QCOMPARE(assets->requests().size(), size_t(3));
        QCOMPARE(frameFiles(file("broken-frames")), (QStringList{"frame-01.png", "frame-02.png"}));
        QCOMPARE(QImage(file("broken-frames/frame-02.png")).size(), QSize(384, 240));
        QCOMPARE(m_pasteboard.calls, 0);
        QCOMPARE(QString::fromUtf8(XClip::read({})), "what the user copied before");
    }

    // A write that fails ends the handoff with the file system's reason, even when extraction had gone on
    // ahead (and failed later): the outcome is that of one frame at a time.
    void failedWriteEndsTheHandoff() {
        const QString clip = clipCopy("unwritable.mp4");
        QVERIFY(QDir().mkpath(file("unwritable-frames/frame-02.png")));
        auto assets = std::make_shared<RecordingAssets>(m_ffmpeg, [](int request) {
            return request == 3 ? std::optional<Result<ImageAtTime>>(platformError("later")) : std::nullopt;
        });
        const Result<QString> prompt = handoff(assets, clip, 6);
        QVERIFY(!prompt.ok());
        QVERIFY2(prompt.error().description.contains(file("unwritable-frames/frame-02.png")) &&
                     prompt.error().description.contains(QString::fromLocal8Bit(strerror(EISDIR))),
                 qPrintable(prompt.error().description));
        QCOMPARE(frameFiles(file("unwritable-frames")), (QStringList{"frame-01.png", "frame-02.png"}));
        QVERIFY(QFileInfo(file("unwritable-frames/frame-02.png")).isDir());
        QCOMPARE(m_pasteboard.calls, 0);
        QCOMPARE(QString::fromUtf8(XClip::read({})), "what the user copied before");
    }

    // The synchronous core leaves the clipboard alone; a relative path comes out absolute.
    void makePromptTouchesNoClipboard() {
        clipCopy("core.mp4");
        const QString before = QDir::currentPath();
        QDir::setCurrent(file(""));
        const Result<QString> prompt = AgentHandoff::makePrompt(*m_ffmpeg, "core.mp4", 2);
        QDir::setCurrent(before);
        QVERIFY(prompt.ok());
        QVERIFY(prompt.value().contains("\n- " + file("core-frames/frame-01.png") + "  (at "));
        QVERIFY(prompt.value().contains("\nFull video: " + file("core.mp4") + "\n\n"));
        QCOMPARE(m_pasteboard.calls, 0);
        QCOMPARE(m_pasteboard.text(), "what the user copied before");
    }
};

// The clipboard needs a real X server: start a private one before the application connects.
int main(int argc, char** argv) {
    TestEnvironment environment;
    Xvfb xvfb;
    if (!xvfb.start(QSize(640, 480))) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    AgentHandoffTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_agenthandoff.moc"
