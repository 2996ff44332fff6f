#pragma once

#include "app/Recording.h"

#include <memory>

class ReplayRecorder;
struct MediaPlatform;

// The application's recorder: a ReplayRecorder whose start runs on its own queue and whose blocking stop runs
// on the thread pool, with results back on the main thread. The recorder outlives this handle until its
// buffer is deleted; main thread only.
class RecorderRecording final : public Recording {
public:
    RecorderRecording(double bufferSeconds, int fps, double maxWidth, const MediaPlatform& platform);
    ~RecorderRecording() override;

    double bufferSeconds() const override;
    int fps() const override;
    double maxWidth() const override;
    void start(std::function<void(const Status&)> done) override;
    void stop(Done done) override;
    void discard() override;
    void discardAndWait() override;
    Fill fill() override;
    void setOnStop(std::function<void(const Error&)> callback) override;
    void saveLast(double seconds, const QString& folder,
                  std::function<void(const Result<QString>&)> completion) override;

    // The recorder itself, for its counters.
    ReplayRecorder& replayRecorder() { return *m_recorder; }

private:
    std::shared_ptr<ReplayRecorder> m_recorder;
    std::shared_ptr<std::function<void(const Error&)>> m_onStop; // main thread
};
