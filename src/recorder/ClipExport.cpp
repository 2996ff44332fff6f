#include "recorder/ClipExport.h"

#include "recorder/ReplayError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ClipExport {

namespace {

// Less than this is not worth a clip.
constexpr double minimumClipSeconds = 0.2;

bool claim(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

} // namespace

Result<Composition> compose(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff) {
    Composition composition;
    MediaTime insertion = MediaTime::zero();
    for (const Segment& segment : segments) {
        Result<AssetInfo> info = assets.loadAsset(segment.url);
        if (!info) return info.error();
        if (!info.value().hasVideoTrack) continue;
        const MediaTime duration = info.value().duration;
        const MediaTime offset = segment.start < cutoff ? cutoff - segment.start : MediaTime::zero();
        if (!(offset < duration)) continue;
        const MediaTime length = duration - offset;
        composition.ranges.push_back(CompositionRange{segment.url, offset, length, insertion});
        insertion = insertion + length;
    }
    if (!(insertion.seconds() > minimumClipSeconds)) return ReplayError::nothingRecorded().toError();
    return composition;
}

Result<QString> exportSegments(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff,
                               const QString& folder) {
    Result<Composition> composition = compose(assets, segments, cutoff);
    if (!composition) return composition.error();
    if (!QDir().mkpath(folder))
        return platformError(QStringLiteral("Could not create the folder %1.").arg(folder));

    Result<QString> output = claimClipPath(folder, timestamp());
    if (!output) return output.error();
    if (run(assets, composition.value(), ExportPreset::Passthrough, output.value())) return output.value();

    // Copying was refused (segments of different sizes, say): encode again under a name claimed anew.
    QFile::remove(output.value());
    output = claimClipPath(folder, timestamp());
    if (!output) return output.error();
    if (Status second = run(assets, composition.value(), ExportPreset::HighestQuality, output.value());
        !second)
        return second.error();
    return output.value();
}

Status run(MediaAssets& assets, const Composition& composition, ExportPreset preset, const QString& output) {
    Status status = assets.exportComposition(composition, preset, output);
    if (status) return status;
    QFile::remove(output);
    const QString message = status.error().description;
    return ReplayError::exportFailed(message.isEmpty() ? QStringLiteral("unknown error") : message).toError();
}

QString timestamp(const QDateTime& at) {
    return at.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

Result<QString> claimClipPath(const QString& folder, const QString& stamp) {
    const QString base = QDir(folder).filePath(QStringLiteral("replay-") + stamp);
    QString path = base + QStringLiteral(".mp4");
    for (int n = 2; !claim(path); ++n) {
        if (errno != EEXIST || n > 1000)
            return platformError(
                QStringLiteral("Could not create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        path = base + QStringLiteral("-%1.mp4").arg(n);
    }
    return path;
}

} // namespace ClipExport
