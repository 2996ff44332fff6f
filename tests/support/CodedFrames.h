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

struct MovieOptions {
    int fps = 30;
    int keyInterval = 30;
    int first = 0; // the first frame's number
    int every = 1; // keeps only every so many frames, as a quiet screen records
};
// A real movie of `frames` numbered frames, coded as the recorder's segments are: H.264 High without
// B-frames, BT.709. Returns what ffmpeg said when it failed, else "".
QString movie(const QString& path, int frames, QSize size, MovieOptions options = {});

} // namespace CodedFrames
