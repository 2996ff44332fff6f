#pragma once

#include "platform/MovieWriter.h"

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace ffmpeg {
class EncoderPipeline;
struct PipelineSegment;
} // namespace ffmpeg

// H.264 (libx264) in MP4 (libavformat), BGRA converted and scaled by libswscale on an encoder thread.
// Consecutive writers with the same settings share one encoder and its thread: the next segment's writer
// is opened while the previous one finishes, so the encoder lives from the recording's start to its end.
class FfmpegMovieWriterFactory final : public MovieWriterFactory {
public:
    FfmpegMovieWriterFactory();
    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                    const VideoSettings& settings) override;

private:
    std::mutex m_mutex;
    // The pipeline of the last writer opened; it ends by itself once idle.
    std::weak_ptr<ffmpeg::EncoderPipeline> m_pipeline;
};

// One segment file being written. Called on one sequence (the recorder's work queue); frames cross to
// the encoder thread through a bounded queue. Once finishWriting() has been called that thread owns
// everything it still needs, so this object may be destroyed before the file is complete.
class FfmpegMovieWriter final : public MovieWriter {
public:
    FfmpegMovieWriter(std::shared_ptr<ffmpeg::EncoderPipeline> pipeline,
                      std::shared_ptr<ffmpeg::PipelineSegment> segment);
    // Unfinished: drops the queued frames and closes the file (left on disk) after the encoder's current
    // frame. Finishing: lets the encoder thread complete the file on its own.
    ~FfmpegMovieWriter() override;

    void startSession(MediaTime sourceTime) override;
    bool isReadyForMoreMediaData() const override;
    bool append(const PixelBufferRef& buffer, MediaTime presentationTime) override;
    void markAsFinished() override;
    void endSession(MediaTime sourceTime) override;
    void finishWriting(FinishHandler handler) override;

private:
    bool onOwnerSequence() const { return std::this_thread::get_id() == m_owner; }
    std::optional<int64_t> ticksSinceStart(MediaTime time) const;

    // Caller's sequence only.
    const std::thread::id m_owner;
    MediaTime m_sessionStart;
    std::optional<int64_t> m_lastTicks;
    std::optional<int64_t> m_endTicks;
    bool m_markedFinished = false;
    bool m_finishRequested = false;
    // Shared with the encoder thread; internally synchronised.
    std::shared_ptr<ffmpeg::EncoderPipeline> m_pipeline;
    std::shared_ptr<ffmpeg::PipelineSegment> m_segment;
};
