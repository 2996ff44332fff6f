#pragma once

#include "platform/MediaAssets.h"

#include <QMutex>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Real movies for the clip tools' tests, and a way to watch and bend what the tools ask of the backend.
namespace ClipMovies {

// `frames` frames at `fps`, each showing its own number (0, 1, …) in CodedFrames' stripes, so the frame
// a picture came from, and so its time (number ÷ fps), can be read back from any scaled copy. H.264 High
// without B-frames, a key frame every 30 frames, as the recorder's clips. Returns what ffmpeg said when
// it failed, else an empty string.
QString make(const QString& path, int frames, int fps, QSize size);

// The frame number a picture shows; -1 when it shows none.
int frameNumber(const QImage& image);

} // namespace ClipMovies

// Passes every call on to a real backend and records the imageAt requests. `bend` may replace the answer
// of the n-th request (counted from 0) with its own, for failures the real backend cannot be made to
// produce on cue. Thread-safe.
class RecordingAssets final : public MediaAssets {
public:
    struct Request {
        QString path;
        MediaTime time;
        MediaTime toleranceBefore;
        MediaTime toleranceAfter;
        QSize maxSize;
    };
    using Bend = std::function<std::optional<Result<ImageAtTime>>(int request)>;

    explicit RecordingAssets(std::shared_ptr<MediaAssets> real, Bend bend = {})
        : m_real(std::move(real))
        , m_bend(std::move(bend)) {}

    Result<AssetInfo> loadAsset(const QString& path) override { return m_real->loadAsset(path); }
    Status exportComposition(const Composition& composition, ExportPreset preset,
                             const QString& outputPath) override {
        return m_real->exportComposition(composition, preset, outputPath);
    }
    Result<ImageAtTime> imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                                MediaTime toleranceAfter, QSize maxSize) override;

    std::vector<Request> requests() const;

private:
    std::shared_ptr<MediaAssets> m_real;
    Bend m_bend;
    mutable QMutex m_mutex;
    std::vector<Request> m_requests;
};
