#pragma once

#include "platform/ScreenCapture.h"

// Stands in when no capture backend fits the session: every request fails with a message the user can act on.
class NullScreenCapture final : public ScreenCapture {
public:
    explicit NullScreenCapture(QString message)
        : m_message(std::move(message)) {}

    std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) override {
        return answerLater(
            context, [message = m_message]() -> Result<ShareableContent> { return platformError(message); },
            std::move(done));
    }
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo&, const StreamConfiguration&,
                                                        QObject*, CaptureStream::FrameHandler,
                                                        CaptureStream::StopHandler) override {
        return platformError(m_message);
    }

private:
    QString m_message;
};
