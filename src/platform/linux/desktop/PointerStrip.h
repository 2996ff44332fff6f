#pragma once

#include <QObject>
#include <QSet>

#include <memory>

class QWidget;
class QWindow;

// On a Wayland session the application's X11 windows learn where the pointer is only while it is over
// one of them. A thin transparent strip along the top centre of the primary screen gives the pointer
// something to enter on its way to the panel; the strip and the panel's own window then say whether
// the pointer is over the application at all. Main thread only.
class PointerStrip final : public QObject {
    Q_OBJECT
public:
    static constexpr int widthPx = 240;
    static constexpr int heightPx = 2;

    explicit PointerStrip(QObject* parent = nullptr);
    ~PointerStrip() override;

    // True unless the pointer is over one of the application's windows.
    bool pointerElsewhere() const { return m_under.isEmpty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    std::unique_ptr<QWidget> m_strip;
    QSet<QWindow*> m_under;
};
