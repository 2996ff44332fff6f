#include "platform/linux/portal/ScreenCastSession.h"

#include "base/Logging.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QPointer>

#include <optional>
#include <unistd.h>

namespace {

const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
// The dialog waits for the user; this only bounds a portal that never answers at all.
constexpr int dialogTimeoutMs = 10 * 60 * 1000;
constexpr int callTimeoutMs = 25000;
constexpr uint monitorSource = 1;
constexpr uint cursorHidden = 1, cursorEmbedded = 2, cursorMetadata = 4;
constexpr uint persistUntilRevoked = 2;

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

// The steps of opening a session, each answered on this object's thread. Owns the session until it is
// handed over; dropped before that, the session closes with it.
class ScreenCastSession::Opening final : public QObject {
public:
    Opening(RestoreTokenFile tokens, Opened done)
        : m_tokens(std::move(tokens))
        , m_done(std::move(done))
        , m_session(new ScreenCastSession(QDBusConnection::sessionBus())) {}

    void createSession() {
        m_request = PortalRequest::call(
            bus(), screenCast, QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), PortalRequest::newToken()}}, callTimeoutMs,
            [this](const Result<QVariantMap>& created) {
                if (!created) return fail(created.error());
                m_session->m_handle = created.value().value(QStringLiteral("session_handle")).toString();
                if (m_session->m_handle.isEmpty())
                    return fail(
                        platformError(QStringLiteral("The desktop's screen sharing gave no session.")));
                askCursorModes();
            });
    }

private:
    QDBusConnection& bus() { return m_session->m_bus; }

    void askCursorModes() {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QString::fromLatin1(PortalRequest::service), QString::fromLatin1(PortalRequest::objectPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << screenCast << QStringLiteral("AvailableCursorModes");
        whenAnswered(get, [this](const QDBusMessage& reply) {
            // A portal without the property offers no cursor modes: the pointer stays out of the picture.
            m_session->m_cursorMode =
                cursorMode(reply.arguments().value(0).value<QDBusVariant>().variant().toUInt());
            selectSources();
        });
    }

    void selectSources() {
        QVariantMap sources{
            {QStringLiteral("types"), monitorSource},
            {QStringLiteral("multiple"), false},
            {QStringLiteral("cursor_mode"), m_session->m_cursorMode},
            {QStringLiteral("persist_mode"), persistUntilRevoked},
        };
        if (const std::optional<QString> token = m_tokens.read())
            sources.insert(QStringLiteral("restore_token"), *token);
        m_request = PortalRequest::call(bus(), screenCast, QStringLiteral("SelectSources"), {handle()},
                                        sources, callTimeoutMs, [this](const Result<QVariantMap>& selected) {
                                            if (!selected) return fail(selected.error());
                                            start();
                                        });
    }

    void start() {
        m_request = PortalRequest::call(
            bus(), screenCast, QStringLiteral("Start"), {handle(), QString()}, {}, dialogTimeoutMs,
            [this](const Result<QVariantMap>& started) {
                if (!started) return fail(started.error());
                // Every start hands out a new token; the old one is spent.
                const QString token = started.value().value(QStringLiteral("restore_token")).toString();
                if (!token.isEmpty()) m_tokens.write(token);
                const std::optional<Stream> stream =
                    firstStream(started.value().value(QStringLiteral("streams")));
                if (!stream) return fail(platformError(QStringLiteral("The desktop shared no screen.")));
                m_session->m_stream = *stream;
                openPipeWireRemote();
            });
    }

    void openPipeWireRemote() {
        QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::service),
                                                           QString::fromLatin1(PortalRequest::objectPath),
                                                           screenCast, QStringLiteral("OpenPipeWireRemote"));
        call << handle() << QVariantMap();
        whenAnswered(call, [this](const QDBusMessage& reply) {
            const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
            if (reply.type() != QDBusMessage::ReplyMessage || !fd.isValid())
                return fail(platformError(
                    QStringLiteral("Cannot reach the shared screen's stream: %1").arg(reply.errorMessage())));
            // The message's descriptor closes with it.
            m_session->m_pipeWireFd = dup(fd.fileDescriptor());
            if (m_session->m_pipeWireFd < 0)
                return fail(platformError(QStringLiteral("Cannot reach the shared screen's stream."), errno));
            m_session->listen(m_tokens);
            qCDebug(lcCapture) << "portal session" << m_session->m_handle << "node"
                               << m_session->m_stream.node << m_session->m_stream.size;
            finish(std::move(m_session));
        });
    }

    QVariant handle() const { return QVariant::fromValue(QDBusObjectPath(m_session->m_handle)); }

    void whenAnswered(const QDBusMessage& message, std::function<void(const QDBusMessage&)> then) {
        auto* watcher = new QDBusPendingCallWatcher(bus().asyncCall(message, callTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, then = std::move(then)](QDBusPendingCallWatcher* answered) {
                    answered->deleteLater();
                    if (m_done) then(answered->reply());
                });
    }

    void fail(const Error& error) { finish(error); }

public:
    // The answer is not wanted any more: the request in flight and the half-opened session close now.
    void abandon() {
        m_done = nullptr;
        m_request.reset();
        m_session.reset();
        deleteLater();
    }

private:
    void finish(Result<std::unique_ptr<ScreenCastSession>> result) {
        m_request.reset();
        Opened done = std::exchange(m_done, nullptr);
        deleteLater();
        if (done) done(std::move(result));
    }

    RestoreTokenFile m_tokens;
    Opened m_done; // empty once answered or abandoned
    std::unique_ptr<ScreenCastSession> m_session;
    std::unique_ptr<PortalRequest::Pending> m_request;
};

std::unique_ptr<PendingAnswer> ScreenCastSession::open(const RestoreTokenFile& tokens, Opened done) {
    struct Answer final : PendingAnswer {
        QPointer<Opening> opening;
        ~Answer() override {
            if (opening) opening->abandon();
        }
    };
    auto* opening = new Opening(tokens, std::move(done));
    auto answer = std::make_unique<Answer>();
    answer->opening = opening;
    opening->createSession();
    return answer;
}

void ScreenCastSession::listen(const RestoreTokenFile& tokens) {
    m_listener = new Listener(tokens);
    m_listener->moveToThread(QCoreApplication::instance()->thread());
    m_bus.connect(QString::fromLatin1(PortalRequest::service), m_handle,
                  QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"), m_listener,
                  SLOT(sessionClosed()));
}

ScreenCastSession::~ScreenCastSession() {
    // The last recorder may go with an event the application discards as it ends, while it holds the lock
    // that posting takes: nothing may be posted then. The bus closes the session with the process anyway.
    if (m_pipeWireFd >= 0) ::close(m_pipeWireFd);
    if (QCoreApplication::closingDown()) return;
    if (m_listener) {
        m_bus.disconnect(QString::fromLatin1(PortalRequest::service), m_handle,
                         QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"),
                         m_listener, SLOT(sessionClosed()));
        m_listener->deleteLater();
    }
    PortalRequest::closeSession(m_bus, m_handle);
}

void ScreenCastSession::setOnClosed(std::function<void()> onClosed) {
    QMetaObject::invokeMethod(m_listener, [listener = m_listener, onClosed = std::move(onClosed)] {
        listener->onClosed = onClosed;
        if (listener->closed && onClosed) onClosed();
    });
}

#include "ScreenCastSession.moc"
