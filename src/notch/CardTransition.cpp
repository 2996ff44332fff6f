#include "notch/CardTransition.h"

#include <QPainter>

#include <algorithm>

void CardTransition::setProgress(double progress) {
    m_progress = std::clamp(progress, 0.0, 1.0);
    update();
}

double CardTransition::opacity() const {
    return m_progress;
}
double CardTransition::scale() const {
    return startScale + (1 - startScale) * m_progress;
}

void CardTransition::draw(QPainter* painter) {
    if (m_progress <= 0) return;
    QPoint offset;
    const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_clip.isEmpty()) painter->setClipPath(m_clip, Qt::IntersectClip);
    painter->setOpacity(painter->opacity() * opacity());
    painter->translate(m_anchor);
    painter->scale(scale(), scale());
    painter->translate(-m_anchor);
    painter->drawPixmap(offset, pixmap);
    painter->restore();
}
