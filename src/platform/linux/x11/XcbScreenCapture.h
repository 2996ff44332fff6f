#pragma once

#include "platform/ScreenCapture.h"

#include <unistd.h>

// RandR monitors and MIT-SHM grabs of the X display named at construction (empty: $DISPLAY).
class XcbScreenCapture final : public ScreenCapture {
public:
    // Damage inside the windows of `quietProcessIds` alone makes no frame (by default: our own panel,
    // which X11 cannot leave out of the picture itself).
    explicit XcbScreenCapture(QString displayName, std::vector<int64_t> quietProcessIds = {getpid()});

    // The monitors as they are now; blocks for a round trip to the server.
    Result<ShareableContent> shareableContent();
    std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) override;
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo& display,
                                                        const StreamConfiguration& configuration,
                                                        QObject* handlerContext,
                                                        CaptureStream::FrameHandler onFrame,
                                                        CaptureStream::StopHandler onStop) override;

private:
    QString m_displayName;
    std::vector<int64_t> m_quietProcessIds;
};
