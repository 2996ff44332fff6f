#pragma once

#include "platform/Appearance.h"

#include <QDBusConnection>
#include <QDBusVariant>

// The color-scheme of org.freedesktop.appearance, through the settings portal on the session bus: read
// once, asynchronously, then followed through SettingChanged. Without a portal (or a bus) it stays light.
class PortalAppearance final : public Appearance {
    Q_OBJECT
public:
    explicit PortalAppearance(const QDBusConnection& sessionBus, QObject* parent = nullptr);

    bool prefersDark() const override { return m_dark; }

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void setScheme(const QVariant& value);

    bool m_dark = false;
    // A change announced before the first read's answer is newer than that answer.
    bool m_announced = false;
};
