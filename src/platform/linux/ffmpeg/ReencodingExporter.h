#pragma once

#include "platform/MediaAssets.h"

// Decodes a composition's ranges and encodes them again with libx264 into one MP4, every frame scaled
// to the first range's size: the way out when the samples cannot simply be copied.
namespace ReencodingExporter {

Status run(const Composition& composition, const QString& outputPath);

} // namespace ReencodingExporter
