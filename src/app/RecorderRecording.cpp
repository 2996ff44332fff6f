#include "app/RecorderRecording.h"

#include "recorder/ReplayRecorder.h"

#include <QCoreApplication>
#include <QThreadPool>

namespace {

// Hands `action` to the main thread; dropped when the application is already gone.
template <typename F> void onMainThread(F action) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(action), Qt::QueuedConnection);
}

} // namespace

RecorderRecording::RecorderRecording(double bufferSeconds, int fps, double maxWidth,
                                     const MediaPlatform& platform)
    : m_recorder(std::make_shared<ReplayRecorder>(bufferSeconds, fps, maxWidth, platform)) {}

RecorderRecording::~RecorderRecording() = default;

double RecorderRecording::bufferSeconds() const {
    return m_recorder->bufferSeconds;
}

int RecorderRecording::fps() const {
    return m_recorder->fps;
}

double RecorderRecording::maxWidth() const {
    return m_recorder->maxWidth;
}

void RecorderRecording::start(std::function<void(const Status&)> done) {
    // Opening the display and its shared memory blocks for a moment: not on the main thread.
    QThreadPool::globalInstance()->start([recorder = m_recorder, done = std::move(done)] {
        Status started = recorder->start();
        onMainThread([done, started] { done(started); });
    });
}

void RecorderRecording::stop(Done done) {
    QThreadPool::globalInstance()->start([recorder = m_recorder, done = std::move(done)] {
        recorder->stop();
        onMainThread(done);
    });
}

void RecorderRecording::discard() {
    // The last reference must not go on the recorder's own queue, where its destructor would wait for
    // itself: it travels back to the main thread.
    m_recorder->discard(
        [recorder = m_recorder]() mutable { onMainThread([recorder = std::move(recorder)] {}); });
}

void RecorderRecording::discardAndWait() {
    m_recorder->discardAndWait();
}

double RecorderRecording::bufferedSeconds() {
    return m_recorder->bufferedSeconds();
}

void RecorderRecording::setOnStop(std::function<void(const Error&)> callback) {
    m_recorder->setOnStop(std::move(callback));
}

void RecorderRecording::saveLast(double seconds, const QString& folder,
                                 std::function<void(const Result<QString>&)> completion) {
    m_recorder->saveLast(seconds, folder, std::move(completion));
}
