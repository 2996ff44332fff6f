#include "platform/linux/dbus/PortalGlobalShortcut.h"

#include "platform/linux/dbus/DBusLogging.h"
#include "platform/linux/dbus/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QKeySequence>
#include <QPointer>
#include <QThreadPool>

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

void closeSession(QDBusConnection bus, const QString& session) {
    bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::service), session,
                                            QStringLiteral("org.freedesktop.portal.Session"),
                                            QStringLiteral("Close")));
}

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
    if (!m_session.isEmpty()) closeSession(m_bus, m_session);
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
    const Error missing = platformError(
        QStringLiteral("The desktop offers no global shortcuts; bind \"ferrovane --save\" to a key in its "
                       "keyboard settings."));
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
    QThreadPool::globalInstance()->start(
        [bus = m_bus, shortcuts, self = QPointer<PortalGlobalShortcut>(this)] {
            const Result<QVariantMap> created = PortalRequest::call(
                bus, shortcutsInterface, QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}}, callTimeoutMs);
            if (!created) {
                qCWarning(lcDbus) << "no global shortcut session:" << created.error().description;
                return;
            }
            const QString session = created.value().value(QStringLiteral("session_handle")).toString();
            const Result<QVariantMap> bound = PortalRequest::call(
                bus, shortcutsInterface, QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString()},
                {}, bindTimeoutMs);
            if (!bound) {
                qCWarning(lcDbus) << "the global shortcut was not bound:" << bound.error().description;
                closeSession(bus, session);
                return;
            }
            QMetaObject::invokeMethod(QCoreApplication::instance(), [self, bus, session] {
                if (self)
                    self->bound(session);
                else
                    closeSession(bus, session);
            });
        });
    return Ok{};
}

void PortalGlobalShortcut::bound(const QString& session) {
    m_session = session;
    qCDebug(lcDbus) << "global shortcut bound in" << session;
}

// Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
void PortalGlobalShortcut::activated(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    const QString session = arguments.value(0).value<QDBusObjectPath>().path();
    const QString id = arguments.value(1).toString();
    if (!m_session.isEmpty() && session == m_session && id == QLatin1String(shortcutId) && m_pressed)
        m_pressed();
}
