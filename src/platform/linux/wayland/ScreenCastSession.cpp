#include "platform/linux/wayland/ScreenCastSession.h"

#include "platform/Logging.h"
#include "platform/linux/dbus/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

#include <unistd.h>

namespace {

const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
// The dialog waits for the user; this only bounds a portal that never answers at all.
constexpr int dialogTimeoutMs = 10 * 60 * 1000;
constexpr int callTimeoutMs = 25000;
constexpr uint monitorSource = 1;
constexpr uint cursorHidden = 1, cursorEmbedded = 2, cursorMetadata = 4;
constexpr uint persistUntilRevoked = 2;

uint availableCursorModes(QDBusConnection& bus) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::service), QString::fromLatin1(PortalRequest::objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << screenCast << QStringLiteral("AvailableCursorModes");
    const QDBusMessage reply = bus.call(get, QDBus::Block, callTimeoutMs);
    return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

// The first stream of a Start response: a(ua{sv}).
std::optional<ScreenCastSession::Stream> firstStream(const QVariant& streams) {
    const QDBusArgument argument = streams.value<QDBusArgument>();
    std::optional<ScreenCastSession::Stream> first;
    argument.beginArray();
    while (!argument.atEnd()) {
        uint node = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> node >> properties;
        argument.endStructure();
        if (first) continue;
        QSize size;
        const QDBusArgument sizeArgument = properties.value(QStringLiteral("size")).value<QDBusArgument>();
        if (sizeArgument.currentType() == QDBusArgument::StructureType) {
            int w = 0, h = 0;
            sizeArgument.beginStructure();
            sizeArgument >> w >> h;
            sizeArgument.endStructure();
            size = QSize(w, h);
        }
        first = ScreenCastSession::Stream{node, size};
    }
    argument.endArray();
    return first;
}

} // namespace

// Hears the session's Closed signal on the main thread.
class ScreenCastSession::Listener final : public QObject {
    Q_OBJECT
public:
    explicit Listener(RestoreTokenFile tokens)
        : tokens(std::move(tokens)) {}
    const RestoreTokenFile tokens;
    std::function<void()> onClosed; // main thread
    bool closed = false;            // main thread

public slots:
    void sessionClosed() {
        closed = true;
        qCDebug(lcCapture) << "the desktop closed the screen sharing session";
        // The user stopped sharing: the next start asks again rather than quietly sharing once more.
        tokens.forget();
        if (onClosed) onClosed();
    }
};

uint ScreenCastSession::cursorMode(uint available) {
    if (available & cursorEmbedded) return cursorEmbedded;
    if (available & cursorMetadata) return cursorMetadata;
    return cursorHidden;
}

ScreenCastSession::ScreenCastSession(QDBusConnection bus)
    : m_bus(std::move(bus)) {}

Result<std::unique_ptr<ScreenCastSession>> ScreenCastSession::open(const RestoreTokenFile& tokens) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::unique_ptr<ScreenCastSession> session(new ScreenCastSession(bus));

    const Result<QVariantMap> created = PortalRequest::call(
        bus, screenCast, QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}}, callTimeoutMs);
    if (!created) return created.error();
    session->m_handle = created.value().value(QStringLiteral("session_handle")).toString();
    if (session->m_handle.isEmpty())
        return platformError(QStringLiteral("The desktop's screen sharing gave no session."));

    session->m_cursorMode = cursorMode(availableCursorModes(bus));
    QVariantMap sources{
        {QStringLiteral("types"), monitorSource},
        {QStringLiteral("multiple"), false},
        {QStringLiteral("cursor_mode"), session->m_cursorMode},
        {QStringLiteral("persist_mode"), persistUntilRevoked},
    };
    if (const std::optional<QString> token = tokens.read())
        sources.insert(QStringLiteral("restore_token"), *token);
    const QDBusObjectPath handle(session->m_handle);
    const Result<QVariantMap> selected =
        PortalRequest::call(bus, screenCast, QStringLiteral("SelectSources"), {QVariant::fromValue(handle)},
                            sources, callTimeoutMs);
    if (!selected) return selected.error();

    const Result<QVariantMap> started =
        PortalRequest::call(bus, screenCast, QStringLiteral("Start"),
                            {QVariant::fromValue(handle), QString()}, {}, dialogTimeoutMs);
    if (!started) return started.error();
    // Every start hands out a new token; the old one is spent.
    const QString token = started.value().value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) tokens.write(token);
    const std::optional<Stream> stream = firstStream(started.value().value(QStringLiteral("streams")));
    if (!stream) return platformError(QStringLiteral("The desktop shared no screen."));
    session->m_stream = *stream;

    session->m_listener = new Listener(tokens);
    session->m_listener->moveToThread(QCoreApplication::instance()->thread());
    bus.connect(QString::fromLatin1(PortalRequest::service), session->m_handle,
                QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"),
                session->m_listener, SLOT(sessionClosed()));
    qCDebug(lcCapture) << "portal session" << session->m_handle << "node" << stream->node << stream->size;
    return session;
}

ScreenCastSession::~ScreenCastSession() {
    // The last recorder may go with an event the application discards as it ends, while it holds the lock
    // that posting takes: nothing may be posted then. The bus closes the session with the process anyway.
    if (QCoreApplication::closingDown()) return;
    if (m_listener) {
        m_bus.disconnect(QString::fromLatin1(PortalRequest::service), m_handle,
                         QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"),
                         m_listener, SLOT(sessionClosed()));
        m_listener->deleteLater();
    }
    if (m_handle.isEmpty()) return;
    m_bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::service), m_handle,
                                              QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")));
}

Result<int> ScreenCastSession::openPipeWireRemote() {
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::service),
                                                       QString::fromLatin1(PortalRequest::objectPath),
                                                       screenCast, QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_handle)) << QVariantMap();
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, callTimeoutMs);
    const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (reply.type() != QDBusMessage::ReplyMessage || !fd.isValid())
        return platformError(
            QStringLiteral("Cannot reach the shared screen's stream: %1").arg(reply.errorMessage()));
    // The message's descriptor closes with it.
    const int own = dup(fd.fileDescriptor());
    if (own < 0) return platformError(QStringLiteral("Cannot reach the shared screen's stream."), errno);
    return own;
}

void ScreenCastSession::setOnClosed(std::function<void()> onClosed) {
    QMetaObject::invokeMethod(m_listener, [listener = m_listener, onClosed = std::move(onClosed)] {
        listener->onClosed = onClosed;
        if (listener->closed && onClosed) onClosed();
    });
}

#include "ScreenCastSession.moc"
