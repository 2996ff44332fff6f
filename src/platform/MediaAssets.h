#pragma once

#include "base/Error.h"
#include "base/MediaTime.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// What a movie file holds, as far as joining segments needs it.
struct AssetInfo {
    bool hasVideoTrack = false;
    MediaTime duration; // of the file's timeline, time 0 = its first sample's presentation
};

// One range of a file's video track placed on the composition's timeline. Ranges follow each other
// without gaps: each one's `at` is the previous one's `at` + `duration`.
struct CompositionRange {
    QString path;
    MediaTime start; // within the file
    MediaTime duration;
    MediaTime at; // on the composition
};

struct Composition {
    std::vector<CompositionRange> ranges;
    // Frames closer than this are rounded onto one instant by tools that time a video by its frame rate,
    // and rejected as out of order; invalid when not known.
    MediaTime minimumFrameInterval;
};

enum class ExportPreset {
    Passthrough,    // copy the encoded samples; refused when the ranges' codec parameters differ
    HighestQuality, // decode and encode again
};

struct ImageAtTime {
    QImage image;
    MediaTime actualTime;
};

// Reading movie files, joining ranges of them into one MP4, and pulling still frames.
class MediaAssets {
public:
    virtual ~MediaAssets() = default;

    virtual Result<AssetInfo> loadAsset(const QString& path) = 0;

    // Writes the composition as an MP4 (moov first) at outputPath; the clip starts at time 0. A failure
    // carries the backend's description, which may be empty when it has none.
    virtual Status exportComposition(const Composition& composition, ExportPreset preset,
                                     const QString& outputPath) = 0;

    // The frame shown at `time` (or the nearest within the tolerances), scaled to fit maxSize with its
    // aspect ratio kept; an invalid maxSize keeps the frame's size.
    virtual Result<ImageAtTime> imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                                        MediaTime toleranceAfter, QSize maxSize) = 0;
};
