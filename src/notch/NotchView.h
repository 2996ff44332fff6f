#pragma once

#include "notch/NotchActions.h"
#include "notch/NotchShadow.h"

#include <QPainterPath>
#include <QVariantAnimation>
#include <QWidget>

class BufferRing;
class CardTransition;
class NotchCard;
class NotchText;
class ReplayModel;
class SymbolView;

// The root view of the notch panel: a black shape hanging from the top edge that continues the notch
// downward. Collapsed it is a pill with a status icon and the buffer ring; expanded, a card with the
// phase's content. It draws only from the model and redraws on every published change; opening, closing
// and the flash are animated with the notch's curves. Main thread only.
class NotchView final : public QWidget {
    Q_OBJECT
public:
    NotchView(ReplayModel& model, const NotchActions& actions, QWidget* parent = nullptr);
    ~NotchView() override;

    // A shadow needs a compositing manager; a shaped window would only show its cut-off edge.
    void setShadowEnabled(bool enabled);
    bool shadowEnabled() const { return m_shadowEnabled; }

    // The notch shape as drawn now, in the view's coordinates.
    QPainterPath shapePath() const;
    // 0 collapsed, 1 expanded; the spring overshoots a little on the way.
    double openness() const { return m_openness; }
    double flashOpacity() const { return m_flashOpacity; }
    bool isAnimating() const;
    // Jumps every running animation to its end, as if it had played.
    void finishAnimations();
    // Shows every running animation `ms` after its start, as one of its frames does; for drawing the
    // frames (the gallery, tests).
    void seekAnimations(int ms);

    // The panel's size for the model's geometry.
    QSize sizeHint() const override;

signals:
    // The shape moved or changed size: an animation frame, or new geometry.
    void shapeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class FlashLayer;

    void refresh();
    void animateOpen(bool open);
    void animateFlash(bool on);
    void applyOpenness(double openness);
    void applyFlash(double opacity);
    void layoutFrame();
    QRectF frameRect() const;
    double radius() const;

    ReplayModel& m_model; // shared; outlives the view
    SymbolView* m_statusSymbol;
    NotchText* m_replayLabel;
    BufferRing* m_ring;
    NotchCard* m_card;
    CardTransition* m_transition; // owned by m_card
    FlashLayer* m_flash;

    QVariantAnimation m_openAnimation;
    QVariantAnimation m_flashAnimation;
    double m_openness = 0;
    double m_flashOpacity = 0;
    bool m_shadowEnabled = true;
    NotchShadow m_shadow;
};
