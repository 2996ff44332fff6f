#pragma once

#include "platform/PixelBuffer.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

// Synthetic screens that carry their own frame number as wide black and white stripes, coarse enough to
// survive H.264 and scaling, so a test can tell which captured frame a movie shows.
namespace CodedFrames {

constexpr int bits = 12;

PixelBufferRef make(int number, int width, int height);
std::optional<int> read(const QImage& image);

// Any BGRA picture, pixel by pixel. Row padding is filled with junk, as capture buffers may be.
PixelBufferRef paint(QSize size, int paddingBytes, const std::function<QRgb(int x, int y)>& rgb);

// Decodes the frame shown at `seconds` of a movie with the ffmpeg tool (an independent reader).
QImage frameAt(const QString& movie, double seconds);
QImage lastFrame(const QString& movie);

} // namespace CodedFrames
