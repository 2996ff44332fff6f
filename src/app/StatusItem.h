#pragma once

#include "app/StatusMenu.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

// The tray icon (StatusNotifierItem where the desktop hosts it, XEmbed otherwise) and its menu, which is
// rebuilt from `build` every time it is about to open. Without a tray host the icon stays hidden and the
// application runs on without it. Main thread only.
class StatusItem final : public QObject {
    Q_OBJECT
public:
    using Build = std::function<std::vector<StatusMenu::Entry>()>;
    using Choose = std::function<void(const StatusMenu::Entry&)>;

    StatusItem(Build build, Choose choose, QObject* parent = nullptr);

    QMenu& menu() { return m_menu; }

    // A circle with a counter-clockwise arrow: a dark badge with a light ring and arrow, readable on
    // light and dark panels alike.
    static QIcon icon();

private:
    void rebuild();

    Build m_build;
    Choose m_choose;
    QMenu m_menu;
    QSystemTrayIcon m_tray;
};
