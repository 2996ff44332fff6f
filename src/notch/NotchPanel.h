#pragma once

#include <QWidget>

class NotchView;

// The window that carries the notch view: frameless, never focused, above other windows (full-screen
// ones included), on every workspace and without a taskbar entry. On X11 it bypasses the window manager
// (override-redirect), which gives all of that and keeps it exactly where it is put, over any top panel.
// It lets clicks through while it ignores the mouse, and is translucent where a compositing manager
// blends it; without one it is shaped to the notch outline so no black box shows. Main thread only.
class NotchPanel final : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of the view.
    explicit NotchPanel(NotchView* view);

    NotchView& view() const { return *m_view; }

    // Places the window at a rectangle of the window system's coordinates and redraws it.
    void setFrame(const QRect& frame);
    // Shows the window on top without activating anything.
    void orderFrontRegardless();
    // While true, clicks pass through to the windows below.
    void setIgnoresMouseEvents(bool ignores);
    bool ignoresMouseEvents() const { return m_ignoresMouse; }
    // With a compositing manager the window is translucent and the view casts its shadow; without one
    // the window is cut to the notch outline.
    void setCompositing(bool compositing);
    bool compositing() const { return m_compositing; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateShape();

    NotchView* m_view; // child
    bool m_ignoresMouse = true;
    bool m_compositing = false;
};
