#include "app/HeadlessRecorder.h"

#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <cstdio>
#include <future>

namespace {

// The save length when nothing else chose one: the model's default.
constexpr double defaultSaveSeconds = 30;

void printLine(FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

HeadlessRecorder::HeadlessRecorder(MediaPlatform platform, QObject* parent)
    : QObject(parent)
    , m_platform(std::move(platform)) {}

HeadlessRecorder::~HeadlessRecorder() {
    shutDown();
}

bool HeadlessRecorder::start() {
    m_recorder = std::make_unique<ReplayRecorder>(Settings::bufferSeconds(), Settings::fps(),
                                                  Settings::maxWidth(), m_platform);
    QPointer<HeadlessRecorder> self(this);
    m_recorder->setOnStop([self](const Error& error) {
        QMetaObject::invokeMethod(qApp, [self, error] {
            printLine(stderr, error.localizedDescription());
            if (self) emit self->failed(1);
        });
    });
    const Status started = m_recorder->start();
    if (!started) {
        printLine(stderr, started.error().localizedDescription());
        m_recorder->discardAndWait();
        m_recorder.reset();
        return false;
    }
    return true;
}

void HeadlessRecorder::save() {
    if (!m_recorder) return;
    const double seconds = std::min(m_recorder->bufferSeconds, defaultSaveSeconds);
    auto printed = std::make_shared<std::promise<void>>();
    std::erase_if(m_saves, [](const std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    m_saves.push_back(printed->get_future());
    // Printed from the completion's own thread: the event loop may already have ended for a quit.
    m_recorder->saveLast(seconds, Settings::folder(), [printed](const Result<QString>& result) {
        if (result)
            printLine(stdout, result.value());
        else
            printLine(stderr, result.error().localizedDescription());
        printed->set_value();
    });
}

void HeadlessRecorder::printStatistics() {
    // The segment closed by stop() is still being finalised; its numbers belong in the totals.
    ReplayRecorder::Snapshot state = m_recorder->snapshot();
    for (int i = 0; i < 500 && state.inFlight > 0; ++i) {
        QThread::msleep(10);
        state = m_recorder->snapshot();
    }
    qint64 bytes = 0;
    double seconds = 0;
    for (const Segment& segment : state.segments) {
        bytes += QFileInfo(segment.url).size();
        seconds += (segment.end - segment.start).seconds();
    }
    printLine(stderr,
              QStringLiteral("statistics: accepted=%1 written=%2 dropped=%3 segments=%4 bytes=%5 seconds=%6")
                  .arg(state.framesAccepted)
                  .arg(state.framesWritten)
                  .arg(state.framesDropped)
                  .arg(state.segments.size())
                  .arg(bytes)
                  .arg(seconds, 0, 'f', 3));
}

void HeadlessRecorder::shutDown() {
    if (!m_recorder) return;
    m_recorder->setOnStop(nullptr);
    m_recorder->stop();
    if (m_printStatistics) printStatistics();
    // The discard waits for exports in progress; their results are printed right after.
    m_recorder->discardAndWait();
    for (std::future<void>& printed : m_saves)
        printed.wait_for(std::chrono::seconds(5));
    m_saves.clear();
    m_recorder.reset();
}
