#pragma once

#include "platform/MediaAssets.h"

// Movie files through FFmpeg: libavformat reads and remuxes, libavcodec decodes and re-encodes (libx264),
// libswscale scales. Stateless: every call opens its own contexts, so calls may run on any threads at once.
class FfmpegMediaAssets final : public MediaAssets {
public:
    FfmpegMediaAssets();

    Result<AssetInfo> loadAsset(const QString& path) override;
    Status exportComposition(const Composition& composition, ExportPreset preset,
                             const QString& outputPath) override;
    Result<ImageAtTime> imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                                MediaTime toleranceAfter, QSize maxSize) override;
};
