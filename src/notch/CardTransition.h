#pragma once

#include <QGraphicsEffect>
#include <QPainterPath>

// How the card enters and leaves: it fades and scales from 0.96 about an anchor at its top centre, clipped
// to the notch shape that grows or shrinks around it. Enabled only while a transition runs.
class CardTransition final : public QGraphicsEffect {
    Q_OBJECT
public:
    static constexpr double startScale = 0.96;

    using QGraphicsEffect::QGraphicsEffect;

    // 0 = gone, 1 = fully in; values past 1 (the spring's overshoot) count as 1.
    void setProgress(double progress);
    double opacity() const;
    double scale() const;
    // In the card's coordinates.
    void setAnchor(const QPointF& anchor) { m_anchor = anchor; }
    void setClip(const QPainterPath& clip) { m_clip = clip; }

protected:
    void draw(QPainter* painter) override;

private:
    double m_progress = 1;
    QPointF m_anchor;
    QPainterPath m_clip;
};
