#include "platform/linux/ffmpeg/Mp4Output.h"

#include "platform/linux/ffmpeg/Conversions.h"

#include <QFile>

extern "C" {
#include <libavutil/dict.h>
}

namespace {

// The MP4 muxer would refine a coarse time base the same way; doing it first lets the movie use it too.
AVRational refined(AVRational timeBase) {
    AVRational result{1, timeBase.den / std::max(1, timeBase.num)};
    while (result.den < 10000)
        result.den *= 2;
    return result;
}

} // namespace

Mp4Output::Mp4Output(ffmpeg::OutputFormatPtr format)
    : m_format(std::move(format)) {}

Result<Mp4Output> Mp4Output::open(const QString& path, const AVCodecParameters* parameters,
                                  AVRational timeBase, int64_t maximumSamples) {
    Result<Mp4Output> output = create(path);
    if (!output) return output;
    if (Status added = output.value().addVideoStream(parameters, timeBase); !added) return added.error();
    if (Status begun = output.value().begin(maximumSamples); !begun) return begun.error();
    return output;
}

Result<Mp4Output> Mp4Output::open(const QString& path, const AVCodecContext* encoder) {
    Result<Mp4Output> output = create(path);
    if (!output) return output;
    if (Status added = output.value().addVideoStream(encoder); !added) return added.error();
    if (Status begun = output.value().begin(0); !begun) return begun.error();
    return output;
}

Result<Mp4Output> Mp4Output::create(const QString& path) {
    // +faststart reopens the file by its URL to move the header, so the URL must name the file exactly.
    const QByteArray url = "file:" + QFile::encodeName(path);
    AVFormatContext* raw = nullptr;
    if (int ret = avformat_alloc_output_context2(&raw, nullptr, "mp4", url.constData()); ret < 0)
        return ffmpeg::failure(ret);
    ffmpeg::OutputFormatPtr format(raw);
    if (int ret = avio_open(&format->pb, url.constData(), AVIO_FLAG_WRITE); ret < 0)
        return ffmpeg::failure(ret);
    return Mp4Output(std::move(format));
}

namespace {

// The muxer refused the clip's one track: said in the words the save failure uses.
constexpr const char* noTrack = "could not create a video track";

} // namespace

Status Mp4Output::addVideoStream(const AVCodecParameters* parameters, AVRational timeBase) {
    AVStream* stream = avformat_new_stream(m_format.get(), nullptr);
    if (!stream) return ffmpeg::failure(noTrack);
    if (int ret = avcodec_parameters_copy(stream->codecpar, parameters); ret < 0) return ffmpeg::failure(ret);
    // The source's tag may belong to another container; the muxer picks the MP4 one (avc1).
    stream->codecpar->codec_tag = 0;
    stream->time_base = refined(timeBase);
    return Ok{};
}

Status Mp4Output::addVideoStream(const AVCodecContext* encoder) {
    AVStream* stream = avformat_new_stream(m_format.get(), nullptr);
    if (!stream) return ffmpeg::failure(noTrack);
    if (int ret = avcodec_parameters_from_context(stream->codecpar, encoder); ret < 0)
        return ffmpeg::failure(ret);
    stream->time_base = refined(encoder->time_base);
    return Ok{};
}

Status Mp4Output::begin(int64_t maximumSamples) {
    AVDictionary* options = nullptr;
    if (maximumSamples > 0) {
        // Worst case per sample: its size, decoding and composition offsets, key frame mark and chunk
        // offset (32 bytes); the rest of the header stays under a few kilobytes.
        const int64_t headerBytes =
            8192 + 40 * maximumSamples + m_format->streams[0]->codecpar->extradata_size;
        av_dict_set_int(&options, "moov_size", headerBytes, 0);
    } else {
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    // Edit list durations are in the movie's timescale: the track's own keeps the cut exact (the
    // default of 1000 loses up to a millisecond).
    av_dict_set_int(&options, "movie_timescale", m_format->streams[0]->time_base.den, 0);
    const int ret = avformat_write_header(m_format.get(), &options);
    av_dict_free(&options);
    if (ret < 0) return ffmpeg::failure(ret);
    return Ok{};
}

Status Mp4Output::write(AVPacket* packet) {
    packet->stream_index = 0;
    packet->pos = -1;
    if (int ret = av_write_frame(m_format.get(), packet); ret < 0) return ffmpeg::failure(ret);
    return Ok{};
}

Status Mp4Output::finish() {
    if (int ret = av_write_trailer(m_format.get()); ret < 0) return ffmpeg::failure(ret);
    if (int ret = avio_closep(&m_format->pb); ret < 0) return ffmpeg::failure(ret);
    return Ok{};
}
