#include "platform/linux/ffmpeg/FrameConverter.h"

#include "platform/linux/ffmpeg/Yuv420.h"

#include <utility>

namespace ffmpeg {

namespace {

// Growing or keeping the size, bilinear is the cheaper of the two. Shrinking (a 3840-wide screen into
// 1920) it costs half as much again as the fast variant, whose two-tap horizontal pass at 2:1 already
// averages each pixel pair; the vertical pass stays a proper filter either way.
int scaleFlags(int sourceWidth, int width) {
    return sourceWidth > width ? SWS_FAST_BILINEAR : SWS_BILINEAR;
}

} // namespace

Status FrameConverter::prepare(int sourceWidth, int sourceHeight, PixelOrder order) {
    if (m_sws && sourceWidth == m_sourceWidth && sourceHeight == m_sourceHeight && order == m_sourceOrder)
        return Ok{};
    // Alpha never reaches YUV, so the padding byte of BGRx and RGBx pictures is harmless here.
    const AVPixelFormat format = order == PixelOrder::RGBA ? AV_PIX_FMT_RGBA : AV_PIX_FMT_BGRA;
    m_sws.reset(sws_getContext(sourceWidth, sourceHeight, format, m_width, m_height, AV_PIX_FMT_YUV420P,
                               scaleFlags(sourceWidth, m_width), nullptr, nullptr, nullptr));
    if (!m_sws)
        return platformError(QStringLiteral("Cannot convert a %1x%2 picture to %3x%4.")
                                 .arg(sourceWidth)
                                 .arg(sourceHeight)
                                 .arg(m_width)
                                 .arg(m_height));
    // For RGB input only the destination table counts: it is the RGB to YUV matrix.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    constexpr int fullRange = 1, limitedRange = 0, brightness = 0, unity = 1 << 16;
    if (sws_setColorspaceDetails(m_sws.get(), bt709, fullRange, bt709, limitedRange, brightness, unity,
                                 unity) < 0) {
        m_sws.reset();
        return platformError(QStringLiteral("The scaler refused BT.709 colour conversion."));
    }
    m_sourceWidth = sourceWidth;
    m_sourceHeight = sourceHeight;
    m_sourceOrder = order;
    return Ok{};
}

Status FrameConverter::convert(const PixelBuffer& source, AVFrame& frame) {
    const uint64_t previous = std::exchange(m_lastSequence, source.sequence);
    m_changesOnly = false;
    if (source.width == m_width && source.height == m_height) {
        const Yuv420Planes planes{frame.data[0],     frame.data[1],     frame.data[2],
                                  frame.linesize[0], frame.linesize[1], frame.linesize[2]};
        // The frame holds the picture before this one only when it was the last one converted here.
        if (source.previous != 0 && source.previous == previous) {
            m_changesOnly = true;
            for (const QRect& area : source.changed)
                convertToYuv420(source, planes, area);
        } else {
            convertToYuv420(source, planes, QRect(0, 0, source.width, source.height));
        }
        return Ok{};
    }
    m_lastSequence = 0; // scaled pictures are converted whole
    if (Status prepared = prepare(source.width, source.height, source.order); !prepared) return prepared;
    const uint8_t* const planes[4] = {source.data, nullptr, nullptr, nullptr};
    const int strides[4] = {source.bytesPerRow, 0, 0, 0};
    const int rows = sws_scale(m_sws.get(), planes, strides, 0, source.height, frame.data, frame.linesize);
    if (rows != m_height) return platformError(QStringLiteral("Converting a captured picture failed."), rows);
    return Ok{};
}

} // namespace ffmpeg
