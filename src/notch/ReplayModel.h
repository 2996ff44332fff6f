#pragma once

#include "notch/NotchGeometry.h"
#include "notch/Phase.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <vector>

// Seconds as minutes, a colon and two-digit seconds ("1:15"); rounded half away from zero, negative
// durations read 0:00 and there is no hour field (3600 s gives "60:00").
QString formatDuration(double seconds);

// The one observable state of the notch interface. The application controller writes it as recording
// starts, stops, fills and saves; the notch controller writes expanded, flash and geometry; the views read
// it and write only saveLength (through the chips). Every published field has a change signal that fires
// only when the value really changes. Main thread only.
class ReplayModel : public QObject {
    Q_OBJECT
public:
    // Initial buffer limit, save length and options come from the settings store.
    explicit ReplayModel(QObject* parent = nullptr);

    const Phase& phase() const { return m_phase; }
    void setPhase(const Phase& phase);
    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    bool flash() const { return m_flash; }
    void setFlash(bool flash);
    const NotchGeometry& geometry() const { return m_geometry; }
    void setGeometry(const NotchGeometry& geometry);
    double buffered() const { return m_buffered; }
    void setBuffered(double seconds);
    double bufferLimit() const { return m_bufferLimit; }
    void setBufferLimit(double seconds);
    double saveLength() const { return m_saveLength; }
    void setSaveLength(double seconds);
    const std::vector<double>& saveOptions() const { return m_saveOptions; }
    void setSaveOptions(const std::vector<double>& seconds);
    // Empty while no clip was saved.
    const QUrl& lastClip() const { return m_lastClip; }
    void setLastClip(const QUrl& clip);
    // Null while the last clip has no thumbnail.
    const QImage& lastThumbnail() const { return m_lastThumbnail; }
    void setLastThumbnail(const QImage& image);
    double lastDuration() const { return m_lastDuration; }
    void setLastDuration(double seconds);
    // Whether Ctrl+Alt+R works on this desktop; the panel shows the key only then.
    bool hotKeyBound() const { return m_hotKeyBound; }
    void setHotKeyBound(bool bound);
    // Why the newest seconds cannot be written to the buffer; empty while they can.
    const QString& writeError() const { return m_writeError; }
    void setWriteError(const QString& text);

    // Not published: changing it redraws nothing.
    bool recording() const { return m_recording; }
    void setRecording(bool recording);

signals:
    void phaseChanged(const Phase& phase);
    void expandedChanged(bool expanded);
    void flashChanged(bool flash);
    void geometryChanged(const NotchGeometry& geometry);
    void bufferedChanged(double seconds);
    void bufferLimitChanged(double seconds);
    void saveLengthChanged(double seconds);
    void saveOptionsChanged(const std::vector<double>& seconds);
    void lastClipChanged(const QUrl& clip);
    void lastThumbnailChanged(const QImage& image);
    void lastDurationChanged(double seconds);
    void writeErrorChanged(const QString& text);
    void hotKeyBoundChanged(bool bound);

private:
    void assertMainThread() const;

    Phase m_phase = Phase::starting();
    bool m_expanded = false;
    bool m_flash = false;
    NotchGeometry m_geometry;
    double m_buffered = 0;
    double m_bufferLimit = 0;
    double m_saveLength = 0;
    std::vector<double> m_saveOptions;
    QUrl m_lastClip;
    QImage m_lastThumbnail;
    double m_lastDuration = 0;
    QString m_writeError;
    bool m_hotKeyBound = true;
    bool m_recording = false;
};
