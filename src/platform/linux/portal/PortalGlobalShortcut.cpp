#include "platform/linux/portal/PortalGlobalShortcut.h"

#include "platform/linux/dbus/DBusLogging.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QKeySequence>

#include <mutex>

namespace portalshortcuts {

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace portalshortcuts

Q_DECLARE_METATYPE(portalshortcuts::Shortcut)

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr int callTimeoutMs = 25000;
// Binding may wait for the user to confirm the shortcut in a dialog.
constexpr int bindTimeoutMs = 10 * 60 * 1000;

} // namespace

PortalGlobalShortcut::PortalGlobalShortcut(QDBusConnection bus)
    : m_bus(std::move(bus)) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        qDBusRegisterMetaType<portalshortcuts::Shortcut>();
        qDBusRegisterMetaType<QList<portalshortcuts::Shortcut>>();
    });
}

PortalGlobalShortcut::~PortalGlobalShortcut() {
    m_request.reset();
    PortalRequest::closeSession(m_bus, m_session);
}

QString PortalGlobalShortcut::trigger(QKeyCombination combination) {
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier) parts << QStringLiteral("CTRL");
    if (modifiers & Qt::AltModifier) parts << QStringLiteral("ALT");
    if (modifiers & Qt::ShiftModifier) parts << QStringLiteral("SHIFT");
    if (modifiers & Qt::MetaModifier) parts << QStringLiteral("LOGO");
    const Qt::Key key = combination.key();
    // Letters by their keysym name, which is the lower-case letter.
    parts << (key >= Qt::Key_A && key <= Qt::Key_Z ? QString(QChar(u'a' + (key - Qt::Key_A)))
                                                   : QKeySequence(key).toString(QKeySequence::PortableText));
    return parts.join(QLatin1Char('+'));
}

Status PortalGlobalShortcut::registerShortcut(QKeyCombination combination, Handler pressed) {
    const Error missing = platformError(QStringLiteral("the desktop offers no global shortcuts"));
    if (!m_bus.isConnected()) return missing;
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::service), QString::fromLatin1(PortalRequest::objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    // Events keep flowing meanwhile: whatever answers may share this thread (tests play the portal).
    if (m_bus.call(get, QDBus::BlockWithGui, callTimeoutMs).type() != QDBusMessage::ReplyMessage)
        return missing;

    m_pressed = std::move(pressed);
    m_bus.connect(QString::fromLatin1(PortalRequest::service), QString::fromLatin1(PortalRequest::objectPath),
                  shortcutsInterface, QStringLiteral("Activated"), this, SLOT(activated(QDBusMessage)));
    const QList<portalshortcuts::Shortcut> shortcuts{
        {QString::fromLatin1(shortcutId),
         {{QStringLiteral("description"), QStringLiteral("Save replay")},
          {QStringLiteral("preferred_trigger"), trigger(combination)}}}};
    // Binding may wait for the user to confirm the shortcut in a dialog; nothing waits for that here.
    m_request = PortalRequest::call(
        m_bus, shortcutsInterface, QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}}, callTimeoutMs,
        [this, shortcuts](const Result<QVariantMap>& created) {
            if (!created) {
                qCDebug(lcDbus) << "no global shortcut session:" << created.error().message;
                if (m_lost) m_lost(created.error());
                return;
            }
            m_session = created.value().value(QStringLiteral("session_handle")).toString();
            m_request = PortalRequest::call(
                m_bus, shortcutsInterface, QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()},
                {}, bindTimeoutMs, [this](const Result<QVariantMap>& bound) {
                    if (!bound) {
                        if (m_lost) m_lost(bound.error());
                        qCDebug(lcDbus) << "the global shortcut was not bound:" << bound.error().message;
                        return;
                    }
                    m_bound = true;
                    qCDebug(lcDbus) << "global shortcut bound in" << m_session;
                });
        });
    return Ok{};
}

// Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
void PortalGlobalShortcut::activated(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    const QString session = arguments.value(0).value<QDBusObjectPath>().path();
    const QString id = arguments.value(1).toString();
    if (m_bound && session == m_session && id == QLatin1String(shortcutId) && m_pressed) m_pressed();
}
