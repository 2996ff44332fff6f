#pragma once

#include "platform/MediaAssets.h"

#include <QFuture>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

// The picture and length the notch panel shows for a saved clip.
struct Thumbnail {
    QImage image;        // null when no frame could be made
    double duration = 0; // seconds; 0 when the clip's duration cannot be read
};

// A frame near the end of a clip, scaled to fit 360 × 360, and the clip's duration. Stateless: each call
// opens the file afresh.
namespace Thumbnailer {

inline constexpr QSize maximumSize{360, 360};
inline constexpr double distanceFromEnd = 0.3;                                // seconds
inline constexpr MediaTime toleranceBefore{600, MediaTime::defaultTimescale}; // 1.0 s
inline constexpr MediaTime toleranceAfter{0, MediaTime::defaultTimescale};
inline constexpr int32_t timescale = MediaTime::defaultTimescale; // of the requested time

// The requested time for a clip of `duration` seconds: duration − 0.3 s, or 0 when that is negative.
MediaTime requestedTime(double duration);

// Never fails: a clip that cannot be read gives (null, 0), one whose frame cannot be made (null,
// duration). Blocks while the file is read; call it off the main thread (makeAsync does).
Thumbnail make(MediaAssets& assets, const QString& clip);

// make() on Qt's global thread pool (QtConcurrent::run). The future never fails; await it from the main
// thread with QFuture::then(context, …) or a QFutureWatcher rather than by blocking.
QFuture<Thumbnail> makeAsync(std::shared_ptr<MediaAssets> assets, const QString& clip);

} // namespace Thumbnailer
