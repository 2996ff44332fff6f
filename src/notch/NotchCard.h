#pragma once

#include "notch/NotchActions.h"

#include <QWidget>

#include <vector>

class ClipThumb;
class IconButton;
class IconTile;
class KeyCap;
class LengthChips;
class NotchText;
class PillButton;
class ReplayModel;
class Spinner;

// The expanded card's content under the notch: a leading visual, a title and subtitle, the hot-key cap
// while live, and a row of controls that depends on the phase. The widgets live as long as the card and
// are shown or hidden per phase, so a button keeps its hover state across redraws. Main thread only.
class NotchCard final : public QWidget {
    Q_OBJECT
public:
    // Between the card's edges and its content.
    static constexpr int insetX = 16;
    static constexpr int insetTop = 8;

    NotchCard(ReplayModel& model, const NotchActions& actions, QWidget* parent = nullptr);

    // Redraws everything from the model.
    void refresh();
    // The controls row, its items in order; nullptr stands for a flexible space.
    QWidget* controls() const { return m_controls; }
    const std::vector<QWidget*>& controlItems() const { return m_items; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Visual { Spinner, Thumb, Tile };
    void setVisual(Visual visual);
    void setControls(std::vector<QWidget*> items);
    void layoutContent();
    // Lays the controls out in `width`; returns the row's height.
    int layoutControls(int width);

    ReplayModel& m_model; // shared; outlives the view
    NotchActions m_actions;

    Spinner* m_spinner;
    ClipThumb* m_thumb;
    IconTile* m_tile;
    QWidget* m_visual = nullptr;
    NotchText* m_title;
    NotchText* m_subtitle;
    KeyCap* m_keyCap;
    bool m_showsKeyCap = false;

    QWidget* m_controls;
    LengthChips* m_chips;
    IconButton* m_pause;
    IconButton* m_settings;
    PillButton* m_save;
    PillButton* m_copy;
    PillButton* m_claude;
    IconButton* m_play;
    IconButton* m_reveal;
    PillButton* m_resume;
    PillButton* m_retry;
    PillButton* m_privacy;
    std::vector<QWidget*> m_items;
};
