#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/portal/RestoreTokenFile.h"
#include "platform/linux/portal/ScreenCastSession.h"

#include <atomic>
#include <memory>
#include <mutex>

// Screen capture on a Wayland session: the desktop's ScreenCast portal picks the monitor (asking the user
// once; the restore token spares later starts the dialog) and PipeWire carries its pictures. The display
// is the monitor the user shared, so each recorder start opens a session and its stream takes it over.
// Requests are answered on the asker's thread; that thread also makes the stream.
class PortalScreenCapture final : public ScreenCapture {
public:
    explicit PortalScreenCapture(RestoreTokenFile tokens)
        : m_tokens(std::move(tokens)) {}

    std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) override;
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo& display,
                                                        const StreamConfiguration& configuration,
                                                        QObject* handlerContext,
                                                        CaptureStream::FrameHandler onFrame,
                                                        CaptureStream::StopHandler onStop) override;

    // False once the user turned the desktop's dialog down, until a later start succeeds.
    bool captureAllowed() const override { return !m_refused.load(); }
    void forgetChoice() override { m_tokens.forget(); }

private:
    RestoreTokenFile m_tokens;
    std::atomic<bool> m_refused{false};
    std::mutex m_mutex;
    std::unique_ptr<ScreenCastSession> m_pending; // opened, not yet streaming; guarded by m_mutex
};
