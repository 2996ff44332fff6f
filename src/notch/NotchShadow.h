#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// A soft drop shadow of a shape: the shape blurred with a Gaussian of the given radius. The blurred
// image is kept while the shape's size stays, so a still panel blurs once.
class NotchShadow {
public:
    explicit NotchShadow(double blurRadius)
        : m_blurRadius(blurRadius) {}

    // Draws the shadow of `path` (whose bounds are `rect`) moved by `offset`, in `color` at `opacity`.
    void draw(QPainter& painter, const QPainterPath& path, const QPointF& offset, const QColor& color,
              double opacity);

private:
    QImage blurred(const QPainterPath& path, const QRectF& bounds, const QColor& color);

    double m_blurRadius;
    QImage m_cache;
    QPainterPath m_cachedPath;
    QColor m_cachedColor;
};
