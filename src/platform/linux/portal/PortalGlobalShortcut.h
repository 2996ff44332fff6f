#pragma once

#include "platform/GlobalShortcut.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>

#include <memory>

// The desktop's GlobalShortcuts portal (KDE Plasma, GNOME 48 and later, Hyprland): one shortcut, "Save
// replay", with the combination offered as its preferred trigger; the desktop may ask the user first and
// lets them change it in its own settings. Binding runs in the background, so registration only checks
// that the portal exists.
class PortalGlobalShortcut final : public QObject, public GlobalShortcut {
    Q_OBJECT
public:
    static constexpr const char* shortcutId = "save-replay";

    explicit PortalGlobalShortcut(QDBusConnection bus);
    ~PortalGlobalShortcut() override;

    Status registerShortcut(QKeyCombination combination, Handler pressed) override;
    void setOnLost(std::function<void(const Error&)> lost) override { m_lost = std::move(lost); }

    // The XDG shortcut notation of a combination: "CTRL+ALT+r".
    static QString trigger(QKeyCombination combination);

private slots:
    void activated(const QDBusMessage& signal);

private:
    QDBusConnection m_bus;
    Handler m_pressed;
    std::function<void(const Error&)> m_lost;
    std::unique_ptr<PortalRequest::Pending> m_request;
    QString m_session; // empty until created
    bool m_bound = false;
};
