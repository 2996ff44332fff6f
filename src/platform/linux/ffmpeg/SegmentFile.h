#pragma once

#include "base/Error.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"
#include "platform/linux/ffmpeg/PrivateFileOutput.h"

#include <memory>
#include <optional>

namespace ffmpeg {

// One segment: an MP4 file with one H.264 track whose packets come from a shared encoder. Packets are
// written one behind, so each one's duration is known when it is written; the last one lasts until the
// session end. Started on the caller's thread, then used by the encoder thread only.
class SegmentFile {
public:
    // Writes the container header into `output`. On refusal the file is removed.
    static Result<std::unique_ptr<SegmentFile>> start(std::unique_ptr<PrivateFileOutput> output,
                                                      const AVCodecParameters* parameters,
                                                      AVRational timeBase);
    ~SegmentFile();

    // A packet stamped in the time base on the file's timeline; its data is taken.
    Status write(AVPacket* packet);
    // Gives the last packet its duration (until `endTicks`, else `nominalTicks`), writes the index and
    // closes the file.
    Status finish(std::optional<int64_t> endTicks, int64_t nominalTicks);

private:
    struct CustomIoFormatDeleter {
        // The I/O context belongs to PrivateFileOutput, so only the format context is freed here.
        void operator()(AVFormatContext* f) const { avformat_free_context(f); }
    };

    SegmentFile(std::unique_ptr<PrivateFileOutput> output, AVRational timeBase)
        : m_output(std::move(output))
        , m_timeBase(timeBase) {}
    Status begin(const AVCodecParameters* parameters);
    Status writeHeld();

    // Destroyed after the format context that writes into it.
    std::unique_ptr<PrivateFileOutput> m_output;
    std::unique_ptr<AVFormatContext, CustomIoFormatDeleter> m_format;
    AVStream* m_stream = nullptr; // owned by m_format
    const AVRational m_timeBase;
    PacketPtr m_held; // the newest packet, written once the next one (or the end) gives its duration
    bool m_hasHeld = false;
};

} // namespace ffmpeg
