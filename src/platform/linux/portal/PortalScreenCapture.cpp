#include "platform/linux/portal/PortalScreenCapture.h"

#include "platform/linux/pipewire/PipeWireCaptureStream.h"
#include "platform/linux/portal/PortalRequest.h"

#include <unistd.h>

std::unique_ptr<PendingAnswer> PortalScreenCapture::requestContent(QObject*, ContentHandler done) {
    return ScreenCastSession::open(
        m_tokens, [this, done = std::move(done)](Result<std::unique_ptr<ScreenCastSession>> session) {
            m_refused = !session && session.error().category == PortalRequest::cancelledCategory;
            if (!session) return done(session.error());
            const ScreenCastSession::Stream stream = session.value()->stream();
            {
                std::lock_guard lock(m_mutex);
                m_pending = session.take();
            }
            DisplayInfo display;
            display.displayId = stream.node;
            display.name = QStringLiteral("Shared screen");
            display.width = stream.size.width();
            display.height = stream.size.height();
            done(ShareableContent{{display}, stream.node});
        });
}

Result<std::unique_ptr<CaptureStream>>
PortalScreenCapture::createStream(const DisplayInfo& display, const StreamConfiguration& configuration,
                                  QObject* handlerContext, CaptureStream::FrameHandler onFrame,
                                  CaptureStream::StopHandler onStop) {
    std::unique_ptr<ScreenCastSession> session;
    {
        std::lock_guard lock(m_mutex);
        session = std::move(m_pending);
    }
    if (!session || session->stream().node != display.displayId)
        return platformError(QStringLiteral("The shared screen is no longer available."));
    // The portal shows only what the user chose; there is nothing to leave out.
    const int fd = session->takePipeWireRemote();
    return std::unique_ptr<CaptureStream>(std::make_unique<PipeWireCaptureStream>(
        std::move(session), fd, configuration, handlerContext, std::move(onFrame), std::move(onStop)));
}
