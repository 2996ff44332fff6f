#include "platform/linux/ffmpeg/VideoInput.h"

#include "platform/linux/ffmpeg/Conversions.h"

#include <QFile>

namespace {

// A file cut short still opens when its header comes first, and then reads as if the missing samples
// had never been there.
bool holdsAllSamples(AVFormatContext* format, AVStream* stream) {
    const int64_t fileBytes = avio_size(format->pb);
    if (fileBytes < 0) return true;
    int64_t samplesEnd = 0;
    for (int i = 0, count = avformat_index_get_entries_count(stream); i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        samplesEnd = std::max(samplesEnd, entry->pos + entry->size);
    }
    return samplesEnd <= fileBytes;
}

} // namespace

VideoInput::VideoInput(ffmpeg::InputFormatPtr format, int streamIndex)
    : m_format(std::move(format))
    , m_streamIndex(streamIndex) {}

Result<VideoInput> VideoInput::open(const QString& path) {
    // The file protocol named explicitly, so a path holding a colon is never read as a URL.
    const QByteArray url = "file:" + QFile::encodeName(path);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return ffmpeg::failure(AVERROR(ENOMEM));
    // MP4 stores every time stamp, duration and key frame flag: re-parsing each sample for them (as
    // libavformat does for H.264 by default) only costs time, a third of a passthrough save's.
    raw->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    // Every file read here is an MP4 this program wrote. Probing would try each demuxer in turn, some of
    // which (libopenmpt's) cost more than the opening itself.
    static const AVInputFormat* const mp4 = av_find_input_format("mp4");
    if (int ret = avformat_open_input(&raw, url.constData(), mp4, nullptr); ret < 0)
        return ffmpeg::failure(ret);
    ffmpeg::InputFormatPtr format(raw);

    // MP4 describes its streams fully in the movie header, so no packet is probed
    // (avformat_find_stream_info would read and parse some): opening stays cheap.
    int index = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            index = int(i);
            break;
        }
    }
    if (index >= 0 && !holdsAllSamples(format.get(), format->streams[index]))
        return ffmpeg::failure(AVERROR_INVALIDDATA);
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return VideoInput(std::move(format), index);
}

MediaTime VideoInput::duration() const {
    if (const AVStream* video = stream(); video && video->duration > 0 && video->duration != AV_NOPTS_VALUE)
        return ffmpeg::fromTicks(video->duration, video->time_base);
    if (m_format->duration > 0 && m_format->duration != AV_NOPTS_VALUE)
        return ffmpeg::fromTicks(m_format->duration, AV_TIME_BASE_Q);
    return MediaTime::zero();
}

int VideoInput::readPacket(AVPacket* packet) {
    for (;;) {
        if (int ret = av_read_frame(m_format.get(), packet); ret < 0) return ret;
        if (packet->stream_index == m_streamIndex) return 0;
        av_packet_unref(packet);
    }
}

int VideoInput::seekBackward(int64_t ticks) {
    return av_seek_frame(m_format.get(), m_streamIndex, ticks, AVSEEK_FLAG_BACKWARD);
}

Result<std::vector<VideoInput>> VideoInput::openAll(const Composition& composition) {
    if (composition.ranges.empty()) return ffmpeg::failure("nothing to export");
    std::vector<VideoInput> inputs;
    inputs.reserve(composition.ranges.size());
    for (const CompositionRange& range : composition.ranges) {
        Result<VideoInput> input = open(range.path);
        if (!input) return input.error();
        if (!input.value().hasVideo()) return ffmpeg::failure("a segment has no video track");
        inputs.push_back(input.take());
    }
    return inputs;
}
