#include "platform/linux/ffmpeg/FrameGrabber.h"

#include "platform/linux/ffmpeg/Conversions.h"
#include "platform/linux/ffmpeg/VideoDecoder.h"
#include "platform/linux/ffmpeg/VideoInput.h"

#include <cstdlib>
#include <optional>
#include <utility>

namespace FrameGrabber {

namespace {

// A grab decodes a key frame and perhaps a few more: frame threads only add delay, and slice threads
// were slower than one thread on a busy two-core machine.
constexpr int decoderThreads = 1;

// The last frame is shown until its own end, or the stream's when it has no duration.
int64_t shownUntil(const AVFrame* frame, const VideoInput& input) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    const int64_t duration = frame->duration;
#else
    const int64_t duration = frame->pkt_duration;
#endif
    return duration > 0 ? frame->best_effort_timestamp + duration
                        : ffmpeg::toTicks(input.duration(), input.timeBase());
}

// Scaled to fit the box with its aspect ratio, never enlarged; an empty or invalid box keeps the size.
QSize fittedSize(QSize frame, QSize box) {
    if (box.isEmpty() || (frame.width() <= box.width() && frame.height() <= box.height())) return frame;
    return frame.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

Result<QImage> toImage(const AVFrame* frame, QSize size) {
    // Area averaging suits the large reductions of thumbnails and costs a few milliseconds per frame.
    ffmpeg::SwsPtr scaler(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                                         size.width(), size.height(), AV_PIX_FMT_RGB32, SWS_AREA, nullptr,
                                         nullptr, nullptr));
    if (!scaler) return ffmpeg::failure("the frame's pixel format cannot be converted");
    const int* coefficients = sws_getCoefficients(ffmpeg::swsColorspace(frame->colorspace));
    sws_setColorspaceDetails(scaler.get(), coefficients, frame->color_range == AVCOL_RANGE_JPEG, coefficients,
                             1, 0, 1 << 16, 1 << 16);
    // AV_PIX_FMT_RGB32 is the native-endian 0xAARRGGBB word that QImage::Format_RGB32 stores.
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) return ffmpeg::failure(AVERROR(ENOMEM));
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return image;
}

Result<ImageAtTime> picture(const AVFrame* frame, int64_t pts, AVRational timeBase, QSize maxSize) {
    Result<QImage> image = toImage(frame, fittedSize(QSize(frame->width, frame->height), maxSize));
    if (!image) return image.error();
    return ImageAtTime{image.take(), ffmpeg::fromTicks(pts, timeBase)};
}

int64_t ticksOrZero(MediaTime tolerance, AVRational timeBase) {
    return tolerance.isValid() ? ffmpeg::toTicks(tolerance, timeBase) : 0;
}

} // namespace

Result<ImageAtTime> imageAt(const QString& path, MediaTime time, MediaTime toleranceBefore,
                            MediaTime toleranceAfter, QSize maxSize) {
    if (!time.isValid()) return ffmpeg::failure("no time given");
    Result<VideoInput> opened = VideoInput::open(path);
    if (!opened) return opened.error();
    VideoInput& input = opened.value();
    if (!input.hasVideo()) return ffmpeg::failure("the file has no video track");
    // A decoder of its own: one kept between grabs would hold its frame buffers (14 MB at 1920x1200)
    // for as long as the thread lives.
    Result<VideoDecoder> decoder = VideoDecoder::open(input.stream(), decoderThreads);
    if (!decoder) return decoder.error();

    const AVRational timeBase = input.timeBase();
    const int64_t target = ffmpeg::toTicks(time, timeBase);
    const int64_t earliest = target - ticksOrZero(toleranceBefore, timeBase);
    const int64_t latest = target + ticksOrZero(toleranceAfter, timeBase);
    // Fails only before the first key frame, where decoding from the start is right anyway.
    input.seekBackward(target);

    // The frame nearest `target` among those stamped within the tolerances and the one shown at `target`
    // (stamped before it, the next one after it), which counts whatever the tolerances.
    ffmpeg::FramePtr best(av_frame_alloc());
    ffmpeg::FramePtr previous(av_frame_alloc());
    ffmpeg::FramePtr frame(av_frame_alloc());
    if (!best || !previous || !frame) return ffmpeg::failure(AVERROR(ENOMEM));
    std::optional<int64_t> bestDistance;
    const auto consider = [&](AVFrame* candidate) {
        const int64_t distance = std::abs(candidate->best_effort_timestamp - target);
        if (bestDistance && distance >= *bestDistance) return; // the earlier of two as near
        av_frame_unref(best.get());
        av_frame_ref(best.get(), candidate);
        bestDistance = distance;
    };
    bool havePrevious = false;
    for (;;) {
        Result<bool> decoded = decoder.value().next(input, frame.get());
        if (!decoded) return decoded.error();
        if (!decoded.value()) {
            if (havePrevious && previous->best_effort_timestamp <= target &&
                shownUntil(previous.get(), input) > target)
                consider(previous.get());
            break;
        }
        const int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) continue;
        if (havePrevious && previous->best_effort_timestamp <= target && pts > target)
            consider(previous.get());
        if (pts >= earliest && pts <= latest) consider(frame.get());
        // Later frames are only farther away.
        if (pts > latest || (pts > target && bestDistance && pts - target >= *bestDistance)) break;
        std::swap(previous, frame);
        av_frame_unref(frame.get());
        havePrevious = true;
    }
    if (!bestDistance) return ffmpeg::failure("no frame within the tolerances of the requested time");
    return picture(best.get(), best->best_effort_timestamp, timeBase, maxSize);
}

} // namespace FrameGrabber
