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
    if (!m_cache.isNull() && path == m_cachedPath && color == m_cachedColor) return m_cache;
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
    m_cache = tinted;
    m_cachedPath = path;
    m_cachedColor = color;
    return m_cache;
}

void NotchShadow::draw(QPainter& painter, const QPainterPath& path, const QPointF& offset,
                       const QColor& color, double opacity) {
    if (opacity <= 0 || path.isEmpty()) return;
    const QRectF bounds = path.boundingRect();
    const QImage shadow = blurred(path, bounds, color);
    const double margin = (shadow.width() - std::ceil(bounds.width() * scale)) / 2 / scale;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(painter.opacity() * opacity);
    const QRectF target(bounds.left() - margin + offset.x(), bounds.top() - margin + offset.y(),
                        shadow.width() / scale, shadow.height() / scale);
    painter.drawImage(target, shadow);
    painter.restore();
}
