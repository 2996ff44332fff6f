#pragma once

#include "base/Error.h"
#include "base/MediaTime.h"
#include "platform/CapturePermission.h"
#include "platform/PixelBuffer.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct DisplayInfo {
    uint32_t displayId = 0;
    QString name;
    // Size in points; on X11 a point is a logical pixel.
    double width = 0;
    double height = 0;
    int x = 0;
    int y = 0;
};

struct ShareableContent {
    std::vector<DisplayInfo> displays;
    uint32_t mainDisplayId = 0;
};

enum class FrameStatus { Complete = 0, Idle, Blank, Suspended, Started, Stopped };

struct CapturedFrame {
    MediaTime presentationTime;
    FrameStatus status = FrameStatus::Idle;
    PixelBufferRef image; // null when the frame carries no picture
};

// How a captured picture's pixels lie in memory.
enum class PixelFormat {
    BGRA, // 32 bits, blue first: what X servers and compositors hand out on little-endian machines
};

struct StreamConfiguration {
    int width = 0;
    int height = 0;
    MediaTime minimumFrameInterval;
    PixelFormat pixelFormat = PixelFormat::BGRA;
    bool showsCursor = true;
    int queueDepth = 6;
};

// The error a stream ends with when its display changed size: the capture must be set up again at the new
// size, which is no failure.
inline Error displayResized(const QString& description) {
    return Error{QStringLiteral("capture.resized"), 0, description};
}
inline bool isDisplayResized(const Error& error) {
    return error.category == QLatin1String("capture.resized");
}

// A running capture of one display. Frames reach the handler on the handler context's thread; the stop
// handler is called on the backend's own thread, once, when the stream ends by itself.
class CaptureStream {
public:
    using FrameHandler = std::function<void(const CapturedFrame&)>;
    using StopHandler = std::function<void(const Error&)>;

    virtual ~CaptureStream() = default;
    virtual Status startCapture() = 0;
    // Returns once no more frames will be delivered. Errors are not reported.
    virtual void stopCapture() = 0;
    // Ticks that yielded no frame although one was due: no free buffer, a full delivery queue, or a tick
    // skipped for coming too late. For statistics; any thread.
    virtual int64_t droppedFrames() const { return 0; }
};

// An answer still to come. Dropping it (on the thread that asked) withdraws the question: a desktop's
// dialog closes, and the answer's callback never runs.
class PendingAnswer {
public:
    virtual ~PendingAnswer() = default;
};

class ScreenCapture : public CapturePermission {
public:
    using ContentHandler = std::function<void(const Result<ShareableContent>&)>;

    virtual ~ScreenCapture() = default;

    // Asks for the displays that can be captured; an error when capture is not possible at all. `done`
    // runs once, later, on `context`'s thread. Where the desktop asks the user which screen to share, the
    // question is asked here, and no thread waits for the answer.
    virtual std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) = 0;

    virtual Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo& display,
                                                                const StreamConfiguration& configuration,
                                                                QObject* handlerContext,
                                                                CaptureStream::FrameHandler onFrame,
                                                                CaptureStream::StopHandler onStop) = 0;
};

// Answers on the context's next turn with what `produce` returns then: for backends that know at once.
inline std::unique_ptr<PendingAnswer> answerLater(QObject* context,
                                                  std::function<Result<ShareableContent>()> produce,
                                                  ScreenCapture::ContentHandler done) {
    struct Answer final : PendingAnswer {
        std::shared_ptr<std::atomic<bool>> wanted = std::make_shared<std::atomic<bool>>(true);
        ~Answer() override { *wanted = false; }
    };
    auto answer = std::make_unique<Answer>();
    QMetaObject::invokeMethod(
        context,
        [wanted = answer->wanted, produce = std::move(produce), done = std::move(done)] {
            if (*wanted) done(produce());
        },
        Qt::QueuedConnection);
    return answer;
}
