#include "platform/linux/desktop/PointerStrip.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

PointerStrip::PointerStrip(QObject* parent)
    : QObject(parent)
    , m_strip(std::make_unique<QWidget>(nullptr,
                                        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus)) {
    // Fully transparent: the compositor blends XWayland's windows, so nothing of it shows.
    m_strip->setAttribute(Qt::WA_TranslucentBackground);
    m_strip->setAttribute(Qt::WA_ShowWithoutActivating);
    m_strip->setWindowTitle(QStringLiteral("Ferrovane pointer strip"));
    qApp->installEventFilter(this);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &PointerStrip::place);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::geometryChanged, this, &PointerStrip::place);
    place();
    m_strip->show();
}

PointerStrip::~PointerStrip() {
    qApp->removeEventFilter(this);
}

void PointerStrip::place() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect g = screen->geometry();
    m_strip->setGeometry(g.x() + (g.width() - widthPx) / 2, g.y(), widthPx, heightPx);
}

bool PointerStrip::eventFilter(QObject* watched, QEvent* event) {
    // Every window of the application counts, the panel's as much as the strip.
    if (auto* window = qobject_cast<QWindow*>(watched)) {
        switch (event->type()) {
        case QEvent::Enter:
            m_under.insert(window);
            break;
        case QEvent::Leave:
        case QEvent::Hide:
            m_under.remove(window);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
