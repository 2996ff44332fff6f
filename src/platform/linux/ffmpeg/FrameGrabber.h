#pragma once

#include "platform/MediaAssets.h"

// One still frame of a movie file, chosen by time and tolerances, as an RGB image.
namespace FrameGrabber {

// Accepts the frame shown at `time` or any frame stamped within [time - before, time + after], and
// returns the first acceptable one in decoding order from the key frame before `time`: with a tolerance
// that is often the key frame itself, so one frame is decoded instead of a second's worth.
Result<ImageAtTime> imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                            MediaTime toleranceAfter, QSize maxSize);

} // namespace FrameGrabber
