#pragma once

#include "platform/ScreenCapture.h"

// RandR monitors and MIT-SHM grabs of the X display named at construction (empty: $DISPLAY).
class XcbScreenCapture final : public ScreenCapture {
public:
    explicit XcbScreenCapture(QString displayName);

    // The monitors as they are now; blocks for a round trip to the server.
    Result<ShareableContent> shareableContent();
    std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) override;
    Result<std::unique_ptr<CaptureStream>>
    createStream(const DisplayInfo& display, const std::vector<int64_t>& excludedProcessIds,
                 const StreamConfiguration& configuration, QObject* handlerContext,
                 CaptureStream::FrameHandler onFrame, CaptureStream::StopHandler onStop) override;

private:
    QString m_displayName;
};
