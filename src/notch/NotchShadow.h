#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// A soft drop shadow of a shape: the shape blurred with a Gaussian of the given radius, faded out before
// the edges of the window that holds it so that no edge cuts it off. The finished image is kept while the
// shape stays, so a still panel blurs once.
class NotchShadow {
public:
    explicit NotchShadow(double blurRadius)
        : m_blurRadius(blurRadius) {}

    // Draws the shadow of `path` moved by `offset`, in `color` at `opacity`; it reaches nothing at the left,
    // right and bottom edges of `window`.
    void draw(QPainter& painter, const QPainterPath& path, const QPointF& offset, const QColor& color,
              double opacity, const QRectF& window);

private:
    QImage blurred(const QPainterPath& path, const QRectF& bounds, const QColor& color);
    void fadeBefore(QImage& shadow, const QRectF& target, const QRectF& window) const;

    double m_blurRadius;
    QImage m_cache;
    QPainterPath m_cachedPath;
    QColor m_cachedColor;
    QPointF m_cachedOffset;
    QRectF m_cachedWindow;
    QRectF m_cachedTarget;
};
