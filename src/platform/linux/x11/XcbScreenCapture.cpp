#include "platform/linux/x11/XcbScreenCapture.h"

#include "base/Logging.h"
#include "platform/linux/x11/XcbCaptureStream.h"
#include "platform/linux/x11/XcbConnection.h"
#include "platform/linux/x11/XcbMonitors.h"

XcbScreenCapture::XcbScreenCapture(QString displayName, std::vector<int64_t> quietProcessIds)
    : m_displayName(std::move(displayName))
    , m_quietProcessIds(std::move(quietProcessIds)) {}

// A connection per call: the recorder asks once per start, and a fresh one sees the monitors as they are.
Result<ShareableContent> XcbScreenCapture::shareableContent() {
    Result<XcbConnection> connection = XcbConnection::open(m_displayName);
    if (!connection) return connection.error();
    const bool monitors = XcbMonitors::negotiate(connection.value());
    ShareableContent content = XcbMonitors::list(connection.value(), monitors);
    if (connection.value().hasError()) {
        qCDebug(lcCapture) << "connection to" << m_displayName << "lost while listing its monitors";
        return platformError(QStringLiteral("The X display connection was lost."));
    }
    return content;
}

// Nobody is asked on X11: the answer is the server's monitor list, read on the asker's thread.
std::unique_ptr<PendingAnswer> XcbScreenCapture::requestContent(QObject* context, ContentHandler done) {
    return answerLater(
        context, [this] { return shareableContent(); }, std::move(done));
}

// Width and height are ignored: frames keep the display's own size and the encoder scales them.
Result<std::unique_ptr<CaptureStream>>
XcbScreenCapture::createStream(const DisplayInfo& display, const StreamConfiguration& configuration,
                               QObject* handlerContext, CaptureStream::FrameHandler onFrame,
                               CaptureStream::StopHandler onStop) {
    Q_ASSERT(handlerContext && onFrame);
    if (configuration.pixelFormat != PixelFormat::BGRA) {
        qCDebug(lcCapture) << "pixel format" << int(configuration.pixelFormat) << "requested";
        return platformError(QStringLiteral("Only BGRA frames can be captured."));
    }
    const MediaTime interval = configuration.minimumFrameInterval;
    if (!interval.isValid() || interval.value() <= 0 || configuration.queueDepth < 1) {
        qCDebug(lcCapture) << "frame interval" << interval << "queue depth" << configuration.queueDepth;
        return platformError(QStringLiteral("The capture needs a frame interval and a queue depth."));
    }
    return Result<std::unique_ptr<CaptureStream>>(
        std::make_unique<XcbCaptureStream>(m_displayName, display, m_quietProcessIds, configuration,
                                           handlerContext, std::move(onFrame), std::move(onStop)));
}
