#include "platform/linux/wayland/PortalScreenCapture.h"

#include "platform/linux/dbus/PortalRequest.h"
#include "platform/linux/wayland/PipeWireCaptureStream.h"

#include <unistd.h>

Result<ShareableContent> PortalScreenCapture::shareableContent() {
    Result<std::unique_ptr<ScreenCastSession>> session = ScreenCastSession::open(m_tokens);
    m_refused = !session && session.error().domain == PortalRequest::cancelledDomain;
    if (!session) return session.error();
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
    return ShareableContent{{display}, stream.node};
}

Result<std::unique_ptr<CaptureStream>>
PortalScreenCapture::createStream(const DisplayInfo& display, const std::vector<int64_t>&,
                                  const StreamConfiguration& configuration, QObject* handlerContext,
                                  CaptureStream::FrameHandler onFrame, CaptureStream::StopHandler onStop) {
    std::unique_ptr<ScreenCastSession> session;
    {
        std::lock_guard lock(m_mutex);
        session = std::move(m_pending);
    }
    if (!session || session->stream().node != display.displayId)
        return platformError(QStringLiteral("The shared screen is no longer available."));
    // The portal shows only what the user chose; there is nothing to leave out.
    Result<int> fd = session->openPipeWireRemote();
    if (!fd) return fd.error();
    return std::unique_ptr<CaptureStream>(
        std::make_unique<PipeWireCaptureStream>(std::move(session), fd.value(), configuration, handlerContext,
                                                std::move(onFrame), std::move(onStop)));
}
