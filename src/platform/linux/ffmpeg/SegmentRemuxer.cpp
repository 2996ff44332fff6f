#include "platform/linux/ffmpeg/SegmentRemuxer.h"

#include "platform/linux/ffmpeg/Conversions.h"
#include "platform/linux/ffmpeg/Mp4Output.h"
#include "platform/linux/ffmpeg/VideoInput.h"

#include <cstring>
#include <limits>
#include <optional>
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

// Where the last frame went on the output's timeline; none before the first.
struct Previous {
    int64_t dts = std::numeric_limits<int64_t>::min(); // keeps decoding order strictly increasing
    std::optional<int64_t> pts;
};

// Copies one range's packets onto the output's timeline. Packets stream through with one held back,
// since a packet's stamps depend on the next: the frame shown at the range's start is restamped to
// start there, and the last frame's duration is stretched to the range's end.
//
// Frames go on one grid of whole frame intervals from the clip's first frame, each within half an interval
// of its own time. The cut and a range closed between two frames (a save) would otherwise put frames off
// the grid of those before them; tools that time a video by its frame rate then guess a rate far off,
// round frames onto one another's instants and reject the file.
class RangeCopier {
public:
    RangeCopier(VideoInput& input, const CompositionRange& range, Mp4Output& output, bool firstRange,
                int64_t interval)
        : m_input(input)
        , m_output(output)
        , m_timeBase(input.timeBase())
        , m_start(ffmpeg::toTicks(range.start, m_timeBase))
        , m_end(ffmpeg::toTicks(range.start + range.duration, m_timeBase))
        , m_at(ffmpeg::toTicks(range.at, output.timeBase()))
        , m_outputEnd(ffmpeg::toTicks(range.at + range.duration, output.timeBase()))
        , m_firstRange(firstRange)
        , m_interval(interval) {}

    Status copy(Previous& previous) {
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
                if (Status written = write(held.get(), previous, LastOfRange::No); !written) return written;
            }
            std::swap(held, packet);
            holding = true;
        }
        if (!holding) return ffmpeg::failure("a segment holds no samples in its range");
        if (held->pts < m_start) showFromStart(held.get());
        return write(held.get(), previous, LastOfRange::Yes);
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

    // The grid point nearest to `pts` at least one interval after the previous frame.
    int64_t onGrid(int64_t pts, const Previous& previous) const {
        if (m_interval <= 0 || !previous.pts) return pts;
        const int64_t steps = std::max<int64_t>(1, (pts - *previous.pts + m_interval / 2) / m_interval);
        return *previous.pts + steps * m_interval;
    }

    int64_t hiddenOnGrid(int64_t pts) const {
        if (m_interval <= 0) return pts;
        const int64_t before = m_at - pts; // > 0
        return m_at - (before + m_interval - 1) / m_interval * m_interval;
    }

    Status write(AVPacket* packet, Previous& previous, LastOfRange last) {
        // The edit list can hide samples before the clip's start only; later ranges cannot hide any.
        if (!m_firstRange && packet->pts < m_start)
            return ffmpeg::failure("a later segment does not start on a key frame");
        const AVRational outputTimeBase = m_output.timeBase();
        int64_t pts = av_rescale_q(packet->pts - m_start, m_timeBase, outputTimeBase) + m_at;
        int64_t dts = av_rescale_q(packet->dts - m_start, m_timeBase, outputTimeBase) + m_at;
        // Samples hidden before the cut go on the grid too, counted back from the clip's start: readers
        // guess the frame rate from them as well. Reordered samples, which we never write, keep their times.
        if (dts == pts) dts = pts = pts >= m_at ? onGrid(pts, previous) : hiddenOnGrid(pts);
        if (dts <= previous.dts) return ffmpeg::failure("the segments overlap in time");
        previous.dts = dts;
        if (pts >= m_at) previous.pts = pts;
        packet->pts = pts;
        packet->dts = dts;
        // The last frame lasts until the range's end: a segment's end is its last sample's end.
        packet->duration = last == LastOfRange::Yes
                               ? std::max<int64_t>(m_outputEnd - pts, 1)
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
    const int64_t m_interval; // in the output's ticks; 0 when not known
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

    int64_t samples = 0;
    for (const VideoInput& input : inputs)
        samples += avformat_index_get_entries_count(input.stream());
    const AVStream* firstStream = inputs.front().stream();
    Result<Mp4Output> created =
        Mp4Output::open(outputPath, firstStream->codecpar, firstStream->time_base, samples);
    if (!created) return created.error();
    Mp4Output& output = created.value();

    const MediaTime interval = composition.minimumFrameInterval;
    const int64_t intervalTicks = interval.isValid() ? ffmpeg::toTicks(interval, output.timeBase()) : 0;
    Previous previous;
    for (size_t k = 0; k < ranges.size(); ++k) {
        RangeCopier copier(inputs[k], ranges[k], output, k == 0, intervalTicks);
        if (Status copied = copier.copy(previous); !copied) return copied;
    }
    return output.finish();
}

} // namespace SegmentRemuxer
