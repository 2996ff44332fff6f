#pragma once

#include "platform/MovieWriter.h"

#include <memory>
#include <optional>
#include <thread>

namespace ffmpeg {
class FrameQueue;
class SegmentEncoder;
} // namespace ffmpeg

// H.264 (libx264) in MP4 (libavformat), BGRA converted and scaled by libswscale on the writer's thread.
class FfmpegMovieWriterFactory final : public MovieWriterFactory {
public:
    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                    const VideoSettings& settings) override;
};

// One segment file being written. Called on one sequence (the recorder's work queue); frames cross to
// the writer's own encoder thread through a bounded queue. Once finishWriting() has been called that
// thread owns everything it still needs, so this object may be destroyed before the file is complete.
class FfmpegMovieWriter final : public MovieWriter {
public:
    // Two frames ride out 66 ms of encoder hiccups at 30 fps. With the one being converted the writer holds
    // at most three of the capture pool's six 9 MB buffers (at 1920x1200): a deeper queue dropped no fewer
    // frames under full motion but kept a fourth buffer resident.
    static constexpr int queueCapacity = 2;

    FfmpegMovieWriter(std::shared_ptr<ffmpeg::FrameQueue> queue, std::thread encoderThread);
    // Unfinished: stops the encoder thread after its current frame and closes the file (left on disk).
    // Finishing: lets the thread complete the file on its own.
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
    std::shared_ptr<ffmpeg::FrameQueue> m_queue;
    std::thread m_encoderThread;
};
