// How long the clip tools take on a 30 s, 1920x1200, 30 fps clip of screen-like content (ffmpeg's
// testsrc2, a key frame every 30 frames, as the recorder writes them): the thumbnail the panel shows after
// a save (target: median at most 30 ms) and the assistant handoff's six 1600-pixel PNG frames (target:
// median at most 0.6 s). For the handoff, the extraction alone and a one-at-a-time PNG encoding of the
// same frames show where the time goes. The clipboard step is left out: it needs a display and costs
// nothing measurable.
//
// Usage: clip_tools_bench [RUNS]   (default 10)

#include "clips/AgentHandoff.h"
#include "clips/Thumbnailer.h"
#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr int width = 1920, height = 1200, fps = 30, seconds = 30;
constexpr double thumbnailTargetMs = 30, handoffTargetMs = 600;

struct Figures {
    double median, min, max;
};

Figures measure(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    return {n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2, ms.front(), ms.back()};
}

void print(const char* what, Figures f, double target = 0) {
    std::printf("%-40s median %8.1f ms   min %8.1f   max %8.1f", what, f.median, f.min, f.max);
    if (target > 0) std::printf("   target <= %.0f ms: %s", target, f.median <= target ? "met" : "MISSED");
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    QTemporaryDir dir;
    const QString clip = dir.filePath("replay-2026-12-04_16-23-22.mp4");
    std::printf("making a %d s %dx%d %d fps clip (testsrc2, libx264, key frame every 30 frames)…\n", seconds,
                width, height, fps);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedChannels);
    ffmpeg.start("ffmpeg", QString("-v error -y -f lavfi -i testsrc2=s=%1x%2:r=%3 -t %4 -c:v libx264 -preset "
                                   "veryfast -profile:v high -bf 0 -g 30 -sc_threshold 0 -pix_fmt yuv420p")
                                   .arg(width)
                                   .arg(height)
                                   .arg(fps)
                                   .arg(seconds)
                                   .split(' ') +
                               QStringList{clip});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }

    FfmpegMediaAssets assets;
    // Other work on the machine shows in every figure; the load says how much there was.
    QFile loadavg("/proc/loadavg");
    const QByteArray load = loadavg.open(QIODevice::ReadOnly)
                                ? loadavg.readLine().split(' ').mid(0, 3).join(' ')
                                : QByteArray("unknown");
    std::printf("%d runs each, %d-thread pool, load average %s\n", runs,
                QThreadPool::globalInstance()->maxThreadCount(), load.constData());

    Thumbnail thumbnail;
    print("thumbnail (360 px, 0.3 s before the end)",
          measure(runs, [&] { thumbnail = Thumbnailer::make(assets, clip); }), thumbnailTargetMs);
    std::printf("  %dx%d, duration %.3f s\n", thumbnail.image.width(), thumbnail.image.height(),
                thumbnail.duration);

    Result<QString> prompt = QString();
    print("handoff (6 frames, 1600 px PNG)",
          measure(runs, [&] { prompt = AgentHandoff::makePrompt(assets, clip, 6); }), handoffTargetMs);
    if (!prompt) {
        std::fprintf(stderr, "handoff failed: %s\n", qPrintable(prompt.error().message));
        return 1;
    }
    qint64 bytes = 0;
    const QDir frames(AgentHandoff::framesFolder(clip));
    for (const QFileInfo& file : frames.entryInfoList({"frame-*.png"}, QDir::Files))
        bytes += file.size();
    std::printf("  %lld PNG files, %.1f MB in all\n",
                static_cast<long long>(frames.entryList({"frame-*.png"}).size()), bytes / 1e6);

    // Where the time goes: the six extractions one after another, and the six encodings one at a time.
    std::vector<QImage> images;
    print("  of which: extraction of the 6 frames", measure(runs, [&] {
              images.clear();
              for (int i = 0; i < 6; ++i)
                  images.push_back(assets
                                       .imageAt(clip, AgentHandoff::requestedTime(30.0, i, 6),
                                                AgentHandoff::tolerance, AgentHandoff::tolerance,
                                                AgentHandoff::maximumSize)
                                       .value()
                                       .image);
          }));
    std::printf("  %dx%d frames\n", images.front().width(), images.front().height());
    print("  PNG encoding of the 6, one at a time", measure(runs, [&] {
              for (const QImage& image : images)
                  AgentHandoff::encodePng(image);
          }));
    return 0;
}
