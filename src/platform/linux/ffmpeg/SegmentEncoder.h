#pragma once

#include "platform/MovieWriter.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"
#include "platform/linux/ffmpeg/FrameConverter.h"
#include "platform/linux/ffmpeg/PrivateFileOutput.h"

#include <memory>
#include <optional>
#include <thread>

namespace ffmpeg {

// One segment file: libx264 H.264 in an MP4 container, fed with captured BGRA pictures. Opened on the
// caller's thread (so refusals are reported at once), then used by the writer's encoder thread only.
// Packets are muxed one behind the encoder so each one's duration is known when it is written; the
// last one lasts until the session end.
class SegmentEncoder {
public:
    // Frame times in the file, in ticks of this base: fine enough for the irregular times of a variable
    // frame rate stream (idle frames are skipped) and the usual MP4 video timescale.
    static constexpr AVRational timeBase{1, 90000};
    // A speed/size trade-off of libx264, named so a benchmark can change it in one place.
    static constexpr const char* encoderPreset = "veryfast";

    // Creates the file, starts the encoder and writes the container header. On refusal nothing is left
    // on disk.
    static Result<std::unique_ptr<SegmentEncoder>> open(const QString& path, const VideoSettings& settings);
    ~SegmentEncoder();

    // Converts `buffer` (released as soon as it is converted) and encodes it at `ptsTicks`, which must
    // grow from frame to frame. After a failure every call returns the first error.
    Status encode(PixelBufferRef buffer, int64_t ptsTicks);
    // Drains the encoder, gives the last frame its duration (until `endTicks`, else one nominal frame),
    // writes the index and closes the file.
    Status finish(std::optional<int64_t> endTicks);

private:
    struct CustomIoFormatDeleter {
        // The I/O context belongs to PrivateFileOutput, so only the format context is freed here.
        void operator()(AVFormatContext* f) const { avformat_free_context(f); }
    };

    SegmentEncoder(const VideoSettings& settings, std::unique_ptr<PrivateFileOutput> output);
    Status start();
    Status startEncoder();
    Status receivePackets();
    Status writeHeld();
    Status fail(Error error);
    Status failWith(int code, const QString& what);
    void assertOnEncoderThread();

    const VideoSettings m_settings;
    // Destroyed after the format context that writes into it.
    std::unique_ptr<PrivateFileOutput> m_output;
    std::unique_ptr<AVFormatContext, CustomIoFormatDeleter> m_format;
    AVStream* m_stream = nullptr; // owned by m_format
    CodecContextPtr m_codec;
    FrameConverter m_converter;
    FramePtr m_frame;   // reused for every picture
    PacketPtr m_packet; // reused for every encoder output
    PacketPtr m_held;   // the newest packet, written once the next one (or the end) gives its duration
    bool m_hasHeld = false;
    std::optional<Error> m_error;
    std::thread::id m_encoderThread; // set by the first encode or finish
};

} // namespace ffmpeg
