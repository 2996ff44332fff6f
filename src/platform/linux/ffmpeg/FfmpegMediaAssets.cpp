#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"

#include "platform/linux/ffmpeg/FrameGrabber.h"
#include "platform/linux/ffmpeg/LibraryLog.h"
#include "platform/linux/ffmpeg/ReencodingExporter.h"
#include "platform/linux/ffmpeg/SegmentRemuxer.h"
#include "platform/linux/ffmpeg/VideoInput.h"

FfmpegMediaAssets::FfmpegMediaAssets() {
    // Failures come back as values; the libraries' own messages only reach a category turned on.
    ffmpeg::routeLibraryLogs();
}

Result<AssetInfo> FfmpegMediaAssets::loadAsset(const QString& path) {
    Result<VideoInput> input = VideoInput::open(path);
    if (!input) return input.error();
    return AssetInfo{input.value().hasVideo(), input.value().duration()};
}

Status FfmpegMediaAssets::exportComposition(const Composition& composition, ExportPreset preset,
                                            const QString& outputPath) {
    switch (preset) {
    case ExportPreset::Passthrough:
        return SegmentRemuxer::run(composition, outputPath);
    case ExportPreset::HighestQuality:
        return ReencodingExporter::run(composition, outputPath);
    }
    return platformError(QString());
}

Result<ImageAtTime> FfmpegMediaAssets::imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                                               MediaTime toleranceAfter, QSize maxSize) {
    return FrameGrabber::imageAt(path, time, toleranceBefore, toleranceAfter, maxSize);
}
