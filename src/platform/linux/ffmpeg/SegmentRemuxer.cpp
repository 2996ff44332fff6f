#include "platform/linux/ffmpeg/SegmentRemuxer.h"

#include "platform/linux/ffmpeg/Conversions.h"
#include "platform/linux/ffmpeg/Mp4Output.h"
#include "platform/linux/ffmpeg/VideoInput.h"

#include <cstring>
#include <limits>
#include <vector>

namespace SegmentRemuxer {

namespace {

bool sameCoding(const AVCodecParameters* a, const AVCodecParameters* b) {
    if (a->codec_id != b->codec_id || a->width != b->width || a->height != b->height) return false;
    // Unprobed MP4 leaves the pixel format unset; the parameter sets in the extradata carry it then.
    if (a->format >= 0 && b->format >= 0 && a->format != b->format) return false;
    return a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || std::memcmp(a->extradata, b->extradata, a->extradata_size) == 0);
}

// Copies one range's packets onto the output's timeline. Packets stream through with one held back,
// since a packet's stamps depend on the next: the frame shown at the range's start is restamped to
// start there, and the last frame's duration is stretched to the range's end.
class RangeCopier {
public:
    RangeCopier(VideoInput& input, const CompositionRange& range, Mp4Output& output, bool firstRange)
        : m_input(input)
        , m_output(output)
        , m_timeBase(input.timeBase())
        , m_start(ffmpeg::toTicks(range.start, m_timeBase))
        , m_end(ffmpeg::toTicks(range.start + range.duration, m_timeBase))
        , m_at(ffmpeg::toTicks(range.at, output.timeBase()))
        , m_outputEnd(ffmpeg::toTicks(range.at + range.duration, output.timeBase()))
        , m_firstRange(firstRange) {}

    // `lastDts` keeps decoding order strictly increasing across ranges.
    Status copy(int64_t& lastDts) {
        if (m_start > 0) {
            if (int ret = m_input.seekBackward(m_start); ret < 0) return ffmpeg::failure(ret);
        }
        ffmpeg::PacketPtr held(av_packet_alloc());
        ffmpeg::PacketPtr packet(av_packet_alloc());
        if (!held || !packet) return ffmpeg::failure(AVERROR(ENOMEM));
        bool holding = false;
        for (;;) {
            const int ret = m_input.readPacket(packet.get());
            if (ret == AVERROR_EOF) break;
            if (ret < 0) return ffmpeg::failure(ret);
            if (packet->pts == AV_NOPTS_VALUE || packet->dts == AV_NOPTS_VALUE)
                return ffmpeg::failure("a sample has no time stamp");
            // Presentation never precedes decoding, so nothing from here on is shown before the end.
            if (packet->dts >= m_end) break;
            if (packet->pts >= m_end) {
                av_packet_unref(packet.get());
                continue;
            }
            if (holding) {
                if (held->pts < m_start && packet->pts > m_start) showFromStart(held.get());
                if (Status written = write(held.get(), lastDts, LastOfRange::No); !written) return written;
            }
            std::swap(held, packet);
            holding = true;
        }
        if (!holding) return ffmpeg::failure("a segment holds no samples in its range");
        if (held->pts < m_start) showFromStart(held.get());
        return write(held.get(), lastDts, LastOfRange::Yes);
    }

private:
    // Restamps the frame shown at the cut to begin exactly there, keeping the end of its interval.
    // Players that drop every frame stamped before the edit list's start (FFmpeg's do) would otherwise
    // open on the frame after it.
    void showFromStart(AVPacket* packet) const {
        const int64_t hidden = m_start - packet->pts;
        if (packet->dts == packet->pts) packet->dts = m_start;
        packet->pts = m_start;
        packet->duration = std::max<int64_t>(packet->duration - hidden, 0);
    }

    enum class LastOfRange { No, Yes };

    Status write(AVPacket* packet, int64_t& lastDts, LastOfRange last) {
        // The edit list can hide samples before the clip's start only; later ranges cannot hide any.
        if (!m_firstRange && packet->pts < m_start)
            return ffmpeg::failure("a later segment does not start on a key frame");
        const AVRational outputTimeBase = m_output.timeBase();
        const int64_t pts = av_rescale_q(packet->pts - m_start, m_timeBase, outputTimeBase) + m_at;
        const int64_t dts = av_rescale_q(packet->dts - m_start, m_timeBase, outputTimeBase) + m_at;
        if (dts <= lastDts) return ffmpeg::failure("the segments overlap in time");
        lastDts = dts;
        packet->pts = pts;
        packet->dts = dts;
        // The last frame lasts until the range's end: a segment's end is its last sample's end.
        packet->duration = last == LastOfRange::Yes
                               ? m_outputEnd - pts
                               : av_rescale_q(packet->duration, m_timeBase, outputTimeBase);
        packet->flags &= ~AV_PKT_FLAG_DISCARD;
        Status written = m_output.write(packet);
        av_packet_unref(packet);
        return written;
    }

    VideoInput& m_input;
    Mp4Output& m_output;
    const AVRational m_timeBase;
    const int64_t m_start; // in the input's ticks, like m_end
    const int64_t m_end;
    const int64_t m_at; // in the output's ticks, like m_outputEnd
    const int64_t m_outputEnd;
    const bool m_firstRange;
};

} // namespace

Status run(const Composition& composition, const QString& outputPath) {
    const std::vector<CompositionRange>& ranges = composition.ranges;
    Result<std::vector<VideoInput>> opened = VideoInput::openAll(composition);
    if (!opened) return opened.error();
    std::vector<VideoInput>& inputs = opened.value();
    // One track has one sample description: copied samples must all fit the first one's.
    for (const VideoInput& input : inputs)
        if (!sameCoding(inputs.front().stream()->codecpar, input.stream()->codecpar))
            return ffmpeg::failure("the segments are coded differently");

    Result<Mp4Output> created = Mp4Output::create(outputPath);
    if (!created) return created.error();
    Mp4Output& output = created.value();
    const AVStream* firstStream = inputs.front().stream();
    if (Status added = output.addVideoStream(firstStream->codecpar, firstStream->time_base); !added)
        return added;
    int64_t samples = 0;
    for (const VideoInput& input : inputs)
        samples += avformat_index_get_entries_count(input.stream());
    if (Status begun = output.begin(samples); !begun) return begun;

    int64_t lastDts = std::numeric_limits<int64_t>::min();
    for (size_t k = 0; k < ranges.size(); ++k) {
        if (Status copied = RangeCopier(inputs[k], ranges[k], output, k == 0).copy(lastDts); !copied)
            return copied;
    }
    return output.finish();
}

} // namespace SegmentRemuxer
