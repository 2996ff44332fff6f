#include "app/RecorderRecording.h"

#include "recorder/ReplayRecorder.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace {

// Hands `action` to the main thread; dropped when the application is already gone.
template <typename F> void onMainThread(F action) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(action), Qt::QueuedConnection);
}

// The controller is single-threaded: it calls on the main thread and hears back there, always.
void assertMainThread() {
    Q_ASSERT_X(!QCoreApplication::instance() || QThread::currentThread() == qApp->thread(),
               "RecorderRecording", "off the main thread");
}

// Recorders whose buffers are being deleted, kept on the main thread until that is done. A recorder must
// never be destroyed on its own work queue, so nothing that runs there holds one: the queue only reports
// back, and the main thread lets go.
std::vector<std::shared_ptr<ReplayRecorder>>& discarding() {
    static std::vector<std::shared_ptr<ReplayRecorder>> recorders;
    return recorders;
}

void forget(const ReplayRecorder* recorder) {
    assertMainThread();
    auto& recorders = discarding();
    const auto kept = std::find_if(recorders.begin(), recorders.end(),
                                   [recorder](const auto& held) { return held.get() == recorder; });
    if (kept == recorders.end()) return;
    // Out of the list first: its destructor may run events that come back here.
    const std::shared_ptr<ReplayRecorder> last = std::move(*kept);
    recorders.erase(kept);
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
    assertMainThread();
    m_recorder->start([done = std::move(done)](const Status& started) {
        onMainThread([done, started] {
            assertMainThread();
            done(started);
        });
    });
}

void RecorderRecording::stop(Done done) {
    assertMainThread();
    // Stopping joins the capture thread: not on the main thread.
    QThreadPool::globalInstance()->start([recorder = m_recorder, done = std::move(done)]() mutable {
        recorder->stop();
        onMainThread(std::move(done));
    });
}

void RecorderRecording::discard() {
    assertMainThread();
    discarding().push_back(m_recorder);
    m_recorder->discard([recorder = m_recorder.get()] { onMainThread([recorder] { forget(recorder); }); });
}

void RecorderRecording::discardAndWait() {
    assertMainThread();
    m_recorder->discardAndWait();
    // Recorders replaced before this one may still be finishing a save.
    for (const auto& recorder : std::vector(discarding()))
        recorder->discardAndWait();
    discarding().clear();
}

Recording::Fill RecorderRecording::fill() {
    const ReplayRecorder::Fill fill = m_recorder->fill();
    return Fill{fill.seconds, fill.writeError};
}

void RecorderRecording::setOnStop(std::function<void(const Error&)> callback) {
    assertMainThread();
    // The stop is heard on the capture thread and told here; a callback cleared meanwhile hears nothing.
    m_onStop = callback ? std::make_shared<std::function<void(const Error&)>>(std::move(callback)) : nullptr;
    if (!m_onStop) return m_recorder->setOnStop(nullptr);
    m_recorder->setOnStop([listener = std::weak_ptr(m_onStop)](const Error& error) {
        onMainThread([listener, error] {
            assertMainThread();
            if (const auto callback = listener.lock()) (*callback)(error);
        });
    });
}

void RecorderRecording::saveLast(double seconds, const QString& folder,
                                 std::function<void(const Result<QString>&)> completion) {
    assertMainThread();
    m_recorder->saveLast(seconds, folder,
                         [completion = std::move(completion)](const Result<QString>& result) {
                             onMainThread([completion, result] {
                                 assertMainThread();
                                 completion(result);
                             });
                         });
}
