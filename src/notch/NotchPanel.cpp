#include "notch/NotchPanel.h"

#include "notch/NotchView.h"

#include <QThread>
#include <QWindow>

NotchPanel::NotchPanel(NotchView* view)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint | Qt::WindowTransparentForInput)
    , m_view(view) {
    setObjectName(QStringLiteral("notchPanel"));
    // Must precede the native window: it selects a visual with alpha.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    // The window is never active, and tooltips are otherwise shown only for active windows.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    m_view->setParent(this);
    m_view->setShadowEnabled(m_compositing);
    connect(m_view, &NotchView::shapeChanged, this, &NotchPanel::updateShape);
    setGeometry(0, 0, 400, 160);
    create();
    updateShape();
}

void NotchPanel::setFrame(const QRect& frame) {
    Q_ASSERT(QThread::currentThread() == thread());
    setGeometry(frame);
    update();
}

void NotchPanel::orderFrontRegardless() {
    show();
    raise();
}

void NotchPanel::setIgnoresMouseEvents(bool ignores) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (ignores == m_ignoresMouse) return;
    m_ignoresMouse = ignores;
    // Through the QWindow: changing the widget's flags would recreate and hide the window. On X11 this
    // sets an empty input shape.
    if (QWindow* window = windowHandle()) window->setFlag(Qt::WindowTransparentForInput, ignores);
}

void NotchPanel::setCompositing(bool compositing) {
    if (compositing == m_compositing) return;
    m_compositing = compositing;
    m_view->setShadowEnabled(compositing);
    updateShape();
}

void NotchPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_view->setGeometry(rect());
    updateShape();
}

void NotchPanel::updateShape() {
    if (m_compositing) {
        clearMask();
        return;
    }
    setMask(QRegion(m_view->shapePath().toFillPolygon().toPolygon(), Qt::WindingFill));
}
