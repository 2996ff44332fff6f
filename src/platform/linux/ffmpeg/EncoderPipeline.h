#pragma once

#include "platform/MovieWriter.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace ffmpeg {

class H264Encoder;
class SegmentFile;

// One segment file fed through the pipeline. The file and the time mapping belong to the encoder thread.
struct PipelineSegment {
    explicit PipelineSegment(std::unique_ptr<SegmentFile> segmentFile);
    ~PipelineSegment();

    std::unique_ptr<SegmentFile> file;
    // Set by the encoder thread when the file cannot be completed; the writer then refuses frames.
    std::atomic<bool> failed = false;
    std::optional<Error> error; // why, encoder thread only
    // Encoder time minus file time, fixed by the segment's first frame.
    std::optional<int64_t> ptsOffset;
};

// An encoder thread with one H.264 encoder that segment files take turns on: the next file attaches
// while the previous one is still finishing, and its frames queue behind that finish. Pushing never
// blocks: a full queue refuses the frame, which is how a slow encoder drops frames instead of stalling
// capture. With no file attached and nothing to do for `idleLinger`, the thread frees the encoder and
// ends, so a paused recorder holds none of its memory.
class EncoderPipeline : public std::enable_shared_from_this<EncoderPipeline> {
public:
    // Two frames ride out 66 ms of encoder hiccups at 30 fps. With the one being converted the pipeline
    // holds at most three of the capture pool's six 9 MB buffers (at 1920x1200): a deeper queue dropped
    // no fewer frames under full motion but kept a fourth buffer resident.
    static constexpr int queueCapacity = 2;
    // Far longer than the gap between one segment's finish and the next one's start.
    static constexpr std::chrono::milliseconds idleLinger{2000};

    // Opens the encoder on the caller's thread, then starts the pipeline's thread; the new pipeline is
    // attached for the caller's segment.
    static Result<std::shared_ptr<EncoderPipeline>> start(const VideoSettings& settings);
    ~EncoderPipeline();

    const VideoSettings& settings() const { return m_settings; }
    // The stream's parameters; the same for every encoder opened with these settings.
    const AVCodecParameters* parameters() const { return m_parameters.get(); }

    // Takes the pipeline for one new segment: false while another segment still feeds it, or once it
    // has ended. Undone by detach(), finish() or abandon().
    bool attach();
    void detach();

    // Room for one more frame. A segment's first frame may exceed the queue by one: the previous segment
    // can still have a full queue at a roll, and a file should not start without a picture.
    bool hasRoom(bool startsSegment) const;
    bool tryPush(const std::shared_ptr<PipelineSegment>& segment, PixelBufferRef buffer, int64_t ticks,
                 bool startsSegment);
    // After the segment's frames: completes its file and reports on the encoder thread.
    void finish(std::shared_ptr<PipelineSegment> segment, std::optional<int64_t> endTicks,
                MovieWriter::FinishHandler handler);
    // Drops the segment's queued frames and closes its file (left as it is) before returning; bounded
    // by the frame being encoded now.
    void abandon(const std::shared_ptr<PipelineSegment>& segment);

private:
    struct Frame {
        std::shared_ptr<PipelineSegment> segment;
        PixelBufferRef buffer;
        int64_t ticks = 0;
    };
    struct Finish {
        std::shared_ptr<PipelineSegment> segment;
        std::optional<int64_t> endTicks;
        MovieWriter::FinishHandler handler;
    };
    struct Abandon {
        std::shared_ptr<PipelineSegment> segment;
        std::promise<void> closed;
    };
    using Item = std::variant<Frame, Finish, Abandon>;

    EncoderPipeline(std::unique_ptr<H264Encoder> encoder, ParametersPtr parameters, PacketPtr packet);
    int64_t nominalTicks() const;
    static int capacityFor(bool startsSegment) { return queueCapacity + (startsSegment ? 1 : 0); }
    void push(Item item);

    // Encoder thread.
    void run();
    std::optional<Item> waitNext();
    void encode(Frame& frame);
    void complete(Finish& finish);
    void settle(PipelineSegment& segment);
    void drainInto(PipelineSegment& segment);
    void fail(PipelineSegment& segment, const Error& error);

    const VideoSettings m_settings;
    ParametersPtr m_parameters;
    std::unique_ptr<H264Encoder> m_encoder; // encoder thread only, once started
    std::optional<int64_t> m_lastPts;       // encoder thread only
    PacketPtr m_packet;                     // encoder thread only, reused for every packet

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Item> m_items;
    int m_frames = 0;
    bool m_attached = false;
    bool m_ended = false;
};

} // namespace ffmpeg
