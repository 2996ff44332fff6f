#pragma once

#include "platform/MediaPlatform.h"
#include "recorder/ReplayRecorder.h"

#include <QObject>
#include <QTextStream>

#include <future>
#include <memory>
#include <vector>

// `ferrovane --headless`: records the main display with the stored settings until SIGINT or SIGTERM;
// SIGUSR1 saves the last seconds into the clips folder and prints the clip's path.
class HeadlessRecorder : public QObject {
    Q_OBJECT
public:
    explicit HeadlessRecorder(MediaPlatform platform, QObject* parent = nullptr);

    // With statistics on, shutDown() prints one line of counters on stderr (for benchmarks).
    void setPrintStatistics(bool on) { m_printStatistics = on; }
    ~HeadlessRecorder() override;

    // False (with the message on stderr) when recording cannot start.
    bool start();
    void save();
    // Stops, lets saves in progress finish and report, deletes the buffer and waits until it is gone.
    void shutDown();

signals:
    void failed(int exitCode);

private:
    MediaPlatform m_platform;
    void printStatistics();

    std::unique_ptr<ReplayRecorder> m_recorder;
    std::vector<std::future<void>> m_saves; // each one ready once its result is printed
    bool m_printStatistics = false;
};
