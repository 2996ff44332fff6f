#include "recorder/ClipExport.h"

#include "base/Logging.h"
#include "recorder/PartialClip.h"
#include "recorder/ReplayError.h"
#include "recorder/ShownPath.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace ClipExport {

namespace {

// Less than this is not worth a clip.
constexpr double minimumClipSeconds = 0.2;

Error exportFailure(const Error& cause) {
    const QString message = cause.message;
    return ReplayError::exportFailed(message.isEmpty() ? QStringLiteral("unknown error") : message).toError();
}

} // namespace

Result<Composition> compose(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff) {
    Composition composition;
    MediaTime insertion = MediaTime::zero();
    std::optional<Error> unreadable;
    for (const Segment& segment : segments) {
        Result<AssetInfo> info = assets.loadAsset(segment.url);
        // A segment deleted or damaged behind the recorder's back leaves a gap, not a lost save.
        if (!info) {
            qCInfo(lcExport) << "skipping" << segment.url << ":" << info.error().message;
            unreadable = info.error();
            continue;
        }
        if (!info.value().hasVideoTrack) continue;
        const MediaTime duration = info.value().duration;
        const MediaTime offset = segment.start < cutoff ? cutoff - segment.start : MediaTime::zero();
        if (!(offset < duration)) continue;
        const MediaTime length = duration - offset;
        composition.ranges.push_back(CompositionRange{segment.url, offset, length, insertion});
        if (segment.frameInterval.isValid()) composition.minimumFrameInterval = segment.frameInterval;
        insertion = insertion + length;
    }
    if (!(insertion.seconds() > minimumClipSeconds)) {
        if (unreadable && composition.ranges.empty()) return ReplayError::exportFailed(*unreadable).toError();
        return ReplayError::nothingRecorded().toError();
    }
    return composition;
}

Result<QString> exportSegments(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff,
                               const QString& folder) {
    QElapsedTimer timer;
    timer.start();
    Result<Composition> composition = compose(assets, segments, cutoff);
    if (!composition) return composition.error();
    if (Status made = makeFolder(folder); !made) return ReplayError::exportFailed(made.error()).toError();

    // Written under a hidden name and renamed once complete: a crash never leaves half a clip behind.
    Result<std::unique_ptr<PartialClip>> partial = PartialClip::create(folder, timestamp());
    if (!partial) return ReplayError::exportFailed(partial.error()).toError();
    PartialClip& clip = *partial.value();
    const qint64 composed = timer.nsecsElapsed();
    const Status copied =
        assets.exportComposition(composition.value(), ExportPreset::Passthrough, clip.path());
    Status done = copied ? copied : exportFailure(copied.error());
    if (!copied && cannotWrite(copied.error())) {
        // Encoding again would write as much and meet the same end; say so at once.
        qCDebug(lcExport) << "export failed:" << copied.error().message;
        return done.error();
    }
    if (!done) {
        // Copying was refused (segments of different sizes, say): encode again.
        qCDebug(lcExport) << "passthrough refused:" << done.error().message << "- encoding again";
        clip.truncate();
        done = run(assets, composition.value(), ExportPreset::HighestQuality, clip.path());
    }
    if (!done) {
        qCDebug(lcExport) << "export failed:" << done.error().message;
        return done.error();
    }
    const qint64 written = timer.nsecsElapsed();
    Result<QString> published = clip.publish();
    if (!published) return ReplayError::exportFailed(published.error()).toError();
    qCDebug(lcExport).nospace() << "saved " << published.value() << ": composed in " << composed / 1e6
                                << " ms, written in " << (written - composed) / 1e6 << " ms, on disk in "
                                << (timer.nsecsElapsed() - written) / 1e6 << " ms";
    return published.value();
}

Status run(MediaAssets& assets, const Composition& composition, ExportPreset preset, const QString& output) {
    Status status = assets.exportComposition(composition, preset, output);
    if (status) return status;
    return exportFailure(status.error());
}

bool cannotWrite(const Error& error) {
    if (error.category != platformError(QString()).category) return false;
    switch (error.code) {
    case ENOSPC:
    case EDQUOT:
    case EROFS:
    case EACCES:
    case EIO:
    case EFBIG:
        return true;
    default:
        return false;
    }
}

QString timestamp(const QDateTime& at) {
    return at.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

Status makeFolder(const QString& folder) {
    std::error_code code;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), code);
    if (!code) return Ok{};
    return platformError(QStringLiteral("could not create the folder %1 (%2)")
                             .arg(shownPath(folder), QString::fromLocal8Bit(code.message().c_str())),
                         code.value());
}

} // namespace ClipExport
