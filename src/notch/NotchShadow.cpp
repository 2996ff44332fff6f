#include "notch/NotchShadow.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The blur runs at half resolution: a shadow has no detail to lose, and it is four times cheaper.
constexpr double scale = 0.5;

// One horizontal pass of a box blur of radius r over an 8-bit alpha image, in place.
void boxBlurRows(QImage& image, int r) {
    const int w = image.width();
    std::vector<int> line(w);
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        std::copy(row, row + w, line.begin());
        int sum = 0;
        for (int x = -r; x <= r; ++x)
            sum += (x >= 0 && x < w) ? line[x] : 0;
        for (int x = 0; x < w; ++x) {
            row[x] = uchar(sum / (2 * r + 1));
            const int out = x - r;
            const int in = x + r + 1;
            sum += (in < w ? line[in] : 0) - (out >= 0 ? line[out] : 0);
        }
    }
}

QImage transposed(const QImage& image) {
    QImage result(image.height(), image.width(), QImage::Format_Alpha8);
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            result.scanLine(x)[y] = row[x];
    }
    return result;
}

// Three box passes approximate a Gaussian of standard deviation sigma.
void gaussian(QImage& image, double sigma) {
    const int r = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    for (int pass = 0; pass < 3; ++pass)
        boxBlurRows(image, r);
    image = transposed(image);
    for (int pass = 0; pass < 3; ++pass)
        boxBlurRows(image, r);
    image = transposed(image);
}

} // namespace

QImage NotchShadow::blurred(const QPainterPath& path, const QRectF& bounds, const QColor& color) {
    // The blur radius is taken as two standard deviations, as the platform shadows these views imitate.
    const double sigma = m_blurRadius / 2 * scale;
    const int margin = int(std::ceil(3 * sigma)) + 1;
    const QSize size(int(std::ceil(bounds.width() * scale)) + 2 * margin,
                     int(std::ceil(bounds.height() * scale)) + 2 * margin);
    QImage image(size, QImage::Format_Alpha8);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(margin, margin);
        painter.scale(scale, scale);
        painter.translate(-bounds.topLeft());
        painter.fillPath(path, Qt::black);
    }
    gaussian(image, sigma);
    QImage tinted(image.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(color);
    {
        QPainter painter(&tinted);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, image);
    }
    return tinted;
}

// The last few pixels before the window's left, right and bottom edges take the shadow down to nothing
// (the top is the screen's edge, where the shape itself begins).
void NotchShadow::fadeBefore(QImage& shadow, const QRectF& target, const QRectF& window) const {
    constexpr double fade = 6;
    const double sx = target.width() / shadow.width();
    const double sy = target.height() / shadow.height();
    // Distances count from the far side of each pixel's neighbour: smooth scaling blends the two.
    for (int y = 0; y < shadow.height(); ++y) {
        const double wy = target.top() + (y + 2) * sy;
        const double fy = std::clamp((window.bottom() - wy) / fade, 0.0, 1.0);
        auto* row = reinterpret_cast<QRgb*>(shadow.scanLine(y));
        for (int x = 0; x < shadow.width(); ++x) {
            const double left = target.left() + (x - 1) * sx;
            const double right = target.left() + (x + 2) * sx;
            const double f =
                fy * std::clamp(std::min(left - window.left(), window.right() - right) / fade, 0.0, 1.0);
            if (f >= 1) continue;
            const QRgb p = row[x];
            row[x] = qRgba(int(qRed(p) * f), int(qGreen(p) * f), int(qBlue(p) * f), int(qAlpha(p) * f));
        }
    }
}

void NotchShadow::draw(QPainter& painter, const QPainterPath& path, const QPointF& offset,
                       const QColor& color, double opacity, const QRectF& window) {
    if (opacity <= 0 || path.isEmpty()) return;
    const QRectF bounds = path.boundingRect();
    if (m_cache.isNull() || path != m_cachedPath || color != m_cachedColor || offset != m_cachedOffset ||
        window != m_cachedWindow) {
        m_cache = blurred(path, bounds, color);
        const double margin = (m_cache.width() - std::ceil(bounds.width() * scale)) / 2 / scale;
        m_cachedTarget = QRectF(bounds.left() - margin + offset.x(), bounds.top() - margin + offset.y(),
                                m_cache.width() / scale, m_cache.height() / scale);
        fadeBefore(m_cache, m_cachedTarget, window);
        m_cachedPath = path;
        m_cachedColor = color;
        m_cachedOffset = offset;
        m_cachedWindow = window;
    }
    painter.save();
    // Scaled up smoothly from half size; the fade is in the image, so sampling stays inside the window.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawImage(m_cachedTarget, m_cache);
    painter.restore();
}
