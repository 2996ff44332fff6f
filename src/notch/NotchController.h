#pragma once

#include "base/MediaTime.h"
#include "notch/NotchActions.h"
#include "notch/Panel.h"

#include <QObject>
#include <QRectF>
#include <QTimer>

#include <memory>
#include <optional>

class Clock;
class NotchPanel;
class ReplayModel;
class Screens;
struct NotchGeometry;

// Puts the notch view on screen and decides when the card is open: the pointer resting on the pill opens
// it, leaving the card's area closes it, and `peek` holds it open for a while. Writes only the model's
// geometry, expanded and flash. Main thread only.
class NotchController final : public QObject, public Panel {
    Q_OBJECT
public:
    static constexpr int pollIntervalMs = 50;

    // Builds and shows the panel and starts the pointer poll. The model, screens and clock outlive it.
    NotchController(ReplayModel& model, const NotchActions& actions, Screens& screens, const Clock& clock,
                    QObject* parent = nullptr);
    ~NotchController() override;

    void reposition() override;
    void peek(double seconds) override;
    void flash() override;

    NotchPanel& panel() const { return *m_panel; }

    // In y-up global coordinates. Over the pill (grown 6 left and right, 4 below) the card opens; outside
    // the card's area (grown 10 left, right and below, up to the screen's top) it closes.
    static QRectF openRect(const NotchGeometry& g);
    static QRectF keepOpenRect(const NotchGeometry& g);
    // The panel hangs from the screen's top edge, centred on it.
    static QRectF panelFrame(const NotchGeometry& g);

private:
    void trackMouse();
    void setExpanded(bool on);
    void assertMainThread() const;

    std::unique_ptr<NotchPanel> m_panel;
    ReplayModel& m_model;
    Screens& m_screens;
    const Clock& m_clock;
    QTimer m_timer;
    // While the clock is before it the card stays open whatever the pointer does; never cleared.
    std::optional<MediaTime> m_pinnedUntil;
};
