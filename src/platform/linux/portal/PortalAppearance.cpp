#include "platform/linux/portal/PortalAppearance.h"

#include "platform/linux/dbus/DBusLogging.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {

const QString portal = QString::fromLatin1(PortalRequest::service);
const QString portalPath = QString::fromLatin1(PortalRequest::objectPath);
const QString settings = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorScheme = QStringLiteral("color-scheme");

// color-scheme: 0 no preference, 1 prefer dark, 2 prefer light.
constexpr uint preferDark = 1;

} // namespace

PortalAppearance::PortalAppearance(const QDBusConnection& sessionBus, QObject* parent)
    : Appearance(parent) {
    if (!sessionBus.isConnected()) return;
    QDBusConnection bus = sessionBus;
    bus.connect(portal, portalPath, settings, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(portal, portalPath, settings, QStringLiteral("Read"));
    read << appearance << colorScheme;
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            if (!m_announced) setScheme(reply.arguments().constFirst());
        } else {
            qCInfo(lcDbus) << "no color scheme from the settings portal:" << reply.errorMessage();
        }
    });
}

void PortalAppearance::settingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
    if (group != appearance || key != colorScheme) return;
    m_announced = true;
    setScheme(value.variant());
}

void PortalAppearance::setScheme(const QVariant& value) {
    // Read answers a variant inside a variant (the portal's reply wraps the setting's own); unwrap them all.
    QVariant scheme = value;
    while (scheme.metaType() == QMetaType::fromType<QDBusVariant>())
        scheme = qvariant_cast<QDBusVariant>(scheme).variant();
    bool isNumber = false;
    const bool dark = scheme.toUInt(&isNumber) == preferDark && isNumber;
    if (dark == m_dark) return;
    m_dark = dark;
    emit changed();
}
