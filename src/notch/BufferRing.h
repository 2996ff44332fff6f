#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

// A 13-point ring gauge of the buffer's fill with a dot in its centre that can pulse. Changes of progress
// glide over 0.4 s; the pulse starts when the ring is first shown and runs as long as it lives. Drawn on
// black: it lives on the notch's fill. Main thread only.
class BufferRing final : public QWidget {
    Q_OBJECT
public:
    static constexpr double diameter = 13;
    // The widget is larger than the ring so the centred 2-point stroke is not clipped at its edge.
    static constexpr int bleed = 2;

    explicit BufferRing(QWidget* parent = nullptr);

    double progress() const { return m_progress; }
    void setProgress(double progress);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    bool pulsing() const { return m_pulsing; }
    void setPulsing(bool pulsing);

    // What is drawn now: the arc's end as a fraction of the circle (never below 2 %), the dot's opacity.
    double arcFraction() const;
    double dotOpacity() const;
    // Where the arc ends when the glide is over.
    static double arcFractionFor(double progress);

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // 0 → 1 → 0 over two pulse periods, eased both ways.
    double pulsePhase() const;
    void stepPulse();
    QImage drawRing(double fraction, const QColor& color) const;
    QImage drawDot(const QColor& color) const;

    double m_progress = 0;
    QColor m_color = Qt::white;
    bool m_pulsing = false;
    // View state: set once the ring is on screen; from then the dot's pulse runs.
    bool m_on = false;
    QElapsedTimer m_pulseClock;
    QTimer m_pulseFrames;
    double m_paintedOpacity = -1;
    QVariantAnimation m_glide;
    double m_shownProgress = 0;
    QImage m_cachedRing;
    QImage m_cachedDot;
    double m_cachedFraction = -1;
    QColor m_cachedColor;
};
