#include "notch/ReplayModel.h"

#include "settings/Settings.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

QString formatDuration(double seconds) {
    const double rounded = std::round(seconds); // halves away from zero
    // Non-finite or out-of-range durations never come from a movie file; clamp rather than overflow.
    int64_t s = 0;
    if (rounded >= double(std::numeric_limits<int64_t>::max()))
        s = std::numeric_limits<int64_t>::max();
    else if (rounded > 0)
        s = int64_t(rounded);
    return QString::asprintf("%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
}

ReplayModel::ReplayModel(QObject* parent)
    : QObject(parent)
    , m_bufferLimit(Settings::bufferSeconds())
    , m_saveLength(std::min(Settings::bufferSeconds(), 30.0))
    , m_saveOptions(Settings::saveOptions(Settings::bufferSeconds())) {}

void ReplayModel::assertMainThread() const {
    Q_ASSERT(QThread::currentThread() == thread());
}

void ReplayModel::setPhase(const Phase& phase) {
    assertMainThread();
    if (m_phase == phase) return;
    m_phase = phase;
    emit phaseChanged(m_phase);
}

void ReplayModel::setExpanded(bool expanded) {
    assertMainThread();
    if (m_expanded == expanded) return;
    m_expanded = expanded;
    emit expandedChanged(m_expanded);
}

void ReplayModel::setFlash(bool flash) {
    assertMainThread();
    if (m_flash == flash) return;
    m_flash = flash;
    emit flashChanged(m_flash);
}

void ReplayModel::setGeometry(const NotchGeometry& geometry) {
    assertMainThread();
    if (m_geometry == geometry) return;
    m_geometry = geometry;
    emit geometryChanged(m_geometry);
}

void ReplayModel::setBuffered(double seconds) {
    assertMainThread();
    if (m_buffered == seconds) return;
    m_buffered = seconds;
    emit bufferedChanged(m_buffered);
}

void ReplayModel::setBufferLimit(double seconds) {
    assertMainThread();
    if (m_bufferLimit == seconds) return;
    m_bufferLimit = seconds;
    emit bufferLimitChanged(m_bufferLimit);
}

void ReplayModel::setSaveLength(double seconds) {
    assertMainThread();
    if (m_saveLength == seconds) return;
    m_saveLength = seconds;
    emit saveLengthChanged(m_saveLength);
}

void ReplayModel::setSaveOptions(const std::vector<double>& seconds) {
    assertMainThread();
    if (m_saveOptions == seconds) return;
    m_saveOptions = seconds;
    emit saveOptionsChanged(m_saveOptions);
}

void ReplayModel::setLastClip(const QUrl& clip) {
    assertMainThread();
    if (m_lastClip == clip) return;
    m_lastClip = clip;
    emit lastClipChanged(m_lastClip);
}

void ReplayModel::setLastThumbnail(const QImage& image) {
    assertMainThread();
    // Cheap identity check first; a pixel comparison only for distinct images of the same size.
    if (m_lastThumbnail.cacheKey() == image.cacheKey() || m_lastThumbnail == image) return;
    m_lastThumbnail = image;
    emit lastThumbnailChanged(m_lastThumbnail);
}

void ReplayModel::setLastDuration(double seconds) {
    assertMainThread();
    if (m_lastDuration == seconds) return;
    m_lastDuration = seconds;
    emit lastDurationChanged(m_lastDuration);
}

void ReplayModel::setHotKeyBound(bool bound) {
    assertMainThread();
    if (m_hotKeyBound == bound) return;
    m_hotKeyBound = bound;
    emit hotKeyBoundChanged(m_hotKeyBound);
}

void ReplayModel::setWriteError(const QString& text) {
    assertMainThread();
    if (m_writeError == text) return;
    m_writeError = text;
    emit writeErrorChanged(m_writeError);
}

void ReplayModel::setRecording(bool recording) {
    assertMainThread();
    m_recording = recording;
}
