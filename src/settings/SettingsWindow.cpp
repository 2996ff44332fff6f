#include "settings/SettingsWindow.h"

#include "platform/LoginItem.h"
#include "settings/SettingsView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

SettingsWindow::SettingsWindow(std::unique_ptr<LoginItem> loginItem)
    : m_loginItem(std::move(loginItem)) {}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::setShortcutBound(bool bound) {
    m_shortcutBound = bound;
    if (m_view) m_view->setShortcutBound(bound);
}

void SettingsWindow::show(std::function<void()> openFolder) {
    if (!m_window) {
        // Titled and closable only: no minimise or maximise button, and a fixed size the window manager
        // will not let the user change.
        m_window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint |
                                                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        m_window->setWindowTitle(QStringLiteral("Ferrovane Settings"));
        // Closing only hides it, and hiding the last window must not end an application that lives in
        // the tray.
        m_window->setAttribute(Qt::WA_QuitOnClose, false);
        auto* layout = new QVBoxLayout(m_window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        // As tall as the form needs, and that again when the login error appears or goes.
        layout->setSizeConstraint(QLayout::SetFixedSize);
        m_view = new SettingsView(*m_loginItem, std::move(openFolder));
        m_view->setShortcutBound(m_shortcutBound);
        layout->addWidget(m_view);
        layout->activate();

        // Centred once, on the screen the user is looking at; later shows keep wherever they moved it.
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(), m_window->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    if (m_window->isMinimized())
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
