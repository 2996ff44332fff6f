#include "clips/Thumbnailer.h"

#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace Thumbnailer {

MediaTime requestedTime(double duration) {
    const double seconds = duration - distanceFromEnd;
    return MediaTime::fromSeconds(seconds > 0 ? seconds : 0.0, timescale);
}

Thumbnail make(MediaAssets& assets, const QString& clip) {
    Thumbnail result;
    // A duration that cannot be loaded, or an unknown one, reads as 0; the frame is still tried (at 0).
    if (const Result<AssetInfo> info = assets.loadAsset(clip); info.ok()) {
        const double seconds = info.value().duration.seconds();
        if (std::isfinite(seconds)) result.duration = seconds;
    }
    Result<ImageAtTime> frame =
        assets.imageAt(clip, requestedTime(result.duration), toleranceBefore, toleranceAfter, maximumSize);
    if (frame.ok()) result.image = std::move(frame.value().image);
    return result;
}

QFuture<Thumbnail> makeAsync(std::shared_ptr<MediaAssets> assets, const QString& clip) {
    return QtConcurrent::run([assets = std::move(assets), clip] { return make(*assets, clip); });
}

} // namespace Thumbnailer
