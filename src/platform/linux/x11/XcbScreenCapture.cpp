#include "platform/linux/x11/XcbScreenCapture.h"

XcbScreenCapture::XcbScreenCapture(QString displayName) : m_displayName(std::move(displayName)) {}

Result<ShareableContent> XcbScreenCapture::shareableContent()
{
    return platformError(QStringLiteral("not implemented"));
}

Result<std::unique_ptr<CaptureStream>> XcbScreenCapture::createStream(const DisplayInfo&, const std::vector<int64_t>&,
                                                                      const StreamConfiguration&, QObject*,
                                                                      CaptureStream::FrameHandler,
                                                                      CaptureStream::StopHandler)
{
    return platformError(QStringLiteral("not implemented"));
}
