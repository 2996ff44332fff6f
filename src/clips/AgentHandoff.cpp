#include "clips/AgentHandoff.h"

#include "platform/Clipboard.h"
#include "recorder/ClipExport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <unistd.h>

namespace AgentHandoff {

namespace {

constexpr int pngQuality = 80;

QString reason(int code) {
    return QString::fromLocal8Bit(strerror(code));
}

// A plain write that replaces a file of that name.
Status writeFile(const QString& path, const QByteArray& data) {
    const auto failed = [&](int code) {
        return platformError(QStringLiteral("could not write %1 (%2)").arg(path, reason(code)), code);
    };
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failed(errno);
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return failed(code);
        }
        done += n;
    }
    if (::close(fd) != 0 && errno != EINTR) return failed(errno);
    return Ok{};
}

// A frame taken from the clip whose PNG is being encoded.
struct PendingFrame {
    QString path;
    double seconds = 0;
    QFuture<QByteArray> png;
};

} // namespace

QByteArray encodePng(const QImage& image) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt's PNG writer turns quality q into zlib level (100 - q) * 9 / 91: 80 is level 1, the fastest that
    // still compresses. Against the default level the frames are about a third faster to write and a
    // fifth larger; lossless either way.
    writer.setQuality(pngQuality);
    if (!writer.write(image)) return {};
    return buffer.data();
}

QString framesFolder(const QString& clip) {
    const QFileInfo file(clip);
    return QDir::cleanPath(file.absolutePath() + QLatin1Char('/') + file.completeBaseName() +
                           QStringLiteral("-frames"));
}

QString frameFileName(qint64 number) {
    return QString::asprintf("frame-%02lld.png", static_cast<long long>(number));
}

MediaTime requestedTime(double duration, qint64 index, qint64 count) {
    return MediaTime::fromSeconds(duration * (double(index) + 0.5) / double(count), timescale);
}

QString frameLine(const QString& path, double actualSeconds) {
    // printf's "%.1f" as in the C locale whatever the user's (QCoreApplication adopts it for printf), and
    // with printf's rounding of exact halves (0.25 gives 0.2), which QString::asprintf does not promise.
    char digits[400];
    const auto [end, error] =
        std::to_chars(std::begin(digits), std::end(digits), actualSeconds, std::chars_format::fixed, 1);
    const QString seconds = error == std::errc() ? QString::fromLatin1(digits, end - digits) : QString();
    return QStringLiteral("- ") + path + QStringLiteral("  (at ") + seconds + QStringLiteral("s)");
}

QString composePrompt(double duration, const QStringList& frameLines, const QString& clipPath) {
    return QStringLiteral("I captured a screen replay of a problem (the last ") +
           QString::number(static_cast<qlonglong>(std::llround(duration))) +
           QStringLiteral(" seconds before I hit save). Here are ") + QString::number(frameLines.size()) +
           QStringLiteral(" frames in time order:\n") + frameLines.join(QLatin1Char('\n')) +
           QStringLiteral("\nFull video: ") + clipPath +
           QStringLiteral("\n\nLook at the frames, describe what goes wrong, then find the likely cause in "
                          "this codebase.");
}

Result<QString> makePrompt(MediaAssets& assets, const QString& clipPath, qint64 frameCount) {
    if (frameCount < 0)
        return platformError(QStringLiteral("the frame count %1 is negative").arg(frameCount));
    const QString clip = QDir::cleanPath(QFileInfo(clipPath).absoluteFilePath());

    // 1. The duration; a failed load fails the handoff before anything is written.
    const Result<AssetInfo> info = assets.loadAsset(clip);
    if (!info) return info.error();
    const double duration = info.value().duration.seconds();
    // llround needs a finite value within 64 bits.
    if (!std::isfinite(duration) || std::abs(duration) >= 9.2e18)
        return platformError(QStringLiteral("the duration of %1 is not known").arg(clip));

    // 2. The frames folder; one that exists already is reused.
    const QString folder = framesFolder(clip);
    if (Status made = ClipExport::makeFolder(folder); !made) return made.error();

    // 3 and 4. Frames are extracted one after another on this thread; each one's PNG is encoded on the
    // pool while the next is extracted, and written here in frame order. The outcome is that of doing it
    // one frame at a time: a failed write ends the run at once; a failed extraction ends it after the
    // frames before it are written, unless one of those writes fails first.
    QStringList lines;
    std::deque<PendingFrame> pending;
    const size_t ahead = size_t(std::max(2, QThreadPool::globalInstance()->maxThreadCount()));
    const auto writeOldest = [&]() -> Status {
        PendingFrame frame = std::move(pending.front());
        pending.pop_front();
        const QByteArray png = frame.png.result();
        if (png.isEmpty()) return Ok{}; // nothing to write: no file, no line, the number stays unused
        if (Status written = writeFile(frame.path, png); !written) return written;
        lines << frameLine(frame.path, frame.seconds);
        return Ok{};
    };
    std::optional<Error> extractionFailure;
    for (qint64 i = 0; i < frameCount; ++i) {
        Result<ImageAtTime> frame =
            assets.imageAt(clip, requestedTime(duration, i, frameCount), tolerance, tolerance, maximumSize);
        if (!frame) {
            extractionFailure = frame.error();
            break;
        }
        const double seconds = frame.value().actualTime.seconds();
        pending.push_back({folder + QLatin1Char('/') + frameFileName(i + 1), seconds,
                           QtConcurrent::run(encodePng, std::move(frame.value().image))});
        while (pending.size() > ahead)
            if (Status written = writeOldest(); !written) return written.error();
    }
    while (!pending.empty())
        if (Status written = writeOldest(); !written) return written.error();
    if (extractionFailure) return *extractionFailure;

    // 5. The prompt.
    return composePrompt(duration, lines, clip);
}

QFuture<Result<QString>> prepare(std::shared_ptr<MediaAssets> assets, Clipboard& clipboard,
                                 const QString& clip, qint64 frameCount) {
    QObject* mainThread = QCoreApplication::instance();
    Q_ASSERT_X(mainThread, "AgentHandoff::prepare", "needs a QCoreApplication");
    return QtConcurrent::run([assets = std::move(assets), clip, frameCount] {
               return makePrompt(*assets, clip, frameCount);
           })
        .then(mainThread, [&clipboard](Result<QString> prompt) {
            // 6. Only on success, and only here: the clipboard belongs to the main thread.
            if (prompt.ok()) clipboard.setText(prompt.value());
            return prompt;
        });
}

} // namespace AgentHandoff
