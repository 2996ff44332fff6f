#pragma once

#include "platform/MediaAssets.h"

// Copies the encoded samples of a composition's ranges into one MP4, back to back from time 0, without
// decoding. The first range may start between key frames: its samples from the key frame before the
// start are copied and the earlier ones hidden by the MP4 edit list, so the clip still starts exactly
// there. Refuses ranges whose coding differs, and later ranges that do not start on a key frame.
namespace SegmentRemuxer {

Status run(const Composition& composition, const QString& outputPath);

} // namespace SegmentRemuxer
