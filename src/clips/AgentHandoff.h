#pragma once

#include "base/Error.h"
#include "platform/MediaAssets.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class Clipboard;

// Turns a saved clip into material an AI coding assistant can read without watching it:
// still frames spread evenly over the clip, written as PNG files into "<clip name>-frames" beside it,
// and a prompt listing them that goes onto the clipboard as plain text. Stateless; the frames folder and
// its files stay on disk, and a later handoff of the same clip overwrites the files of the same numbers.
namespace AgentHandoff {

inline constexpr QSize maximumSize{1600, 1600};
inline constexpr MediaTime tolerance{240, MediaTime::defaultTimescale}; // 0.4 s, before and after
inline constexpr int32_t timescale = MediaTime::defaultTimescale;       // of the requested times

// The folder beside the clip: the clip's file name without its (last) extension, plus "-frames".
QString framesFolder(const QString& clip);
// "frame-%02d.png" for a 1-based number: frame-01.png, frame-100.png.
QString frameFileName(qint64 number);
// The middle of slice `index` of `count` equal slices of `duration` seconds, D × (i + 0.5) ÷ n (multiplied
// first), at timescale 600.
MediaTime requestedTime(double duration, qint64 index, qint64 count);
// "- " + path + "  (at " + seconds as "%.1f" + "s)".
QString frameLine(const QString& path, double actualSeconds);
// The frame as a PNG file's bytes (Qt's writer, zlib's fastest level); empty when the encoder yields
// nothing, as for a null image.
QByteArray encodePng(const QImage& image);
// The prompt, byte for byte: the duration rounded half away from zero (it must be finite), the number of
// lines, the lines joined by line feeds, and the clip's path. Pure, for tests.
QString composePrompt(double duration, const QStringList& frameLines, const QString& clipPath);

// Steps 1 to 5 of the handoff, without the clipboard: loads the duration, creates the frames folder,
// extracts the frames one after another and writes them, and returns the prompt. PNG encoding runs on
// Qt's global thread pool beside the extraction; files are still written in frame order and each
// failure ends the operation as it would one frame at a time (files written before it stay). Fails with
// the step's error: the media backend's for the duration and the frames, the file system's (with its
// reason) for the folder and the files; a frame whose PNG encoding yields nothing is skipped. Paths are
// absolute (a relative clip path is taken from the current directory). Blocks; call it off the main
// thread. Also fails, before anything is written, on a negative count or a duration that is not finite.
Result<QString> makePrompt(MediaAssets& assets, const QString& clip,
                           qint64 frameCount = Settings::handoffFrames);

// The whole handoff: makePrompt() on Qt's global thread pool (QtConcurrent::run), then, on the main
// thread, the prompt becomes the clipboard's only content. The future finishes after that with the
// prompt, or with the error and the clipboard untouched. Needs a QCoreApplication; `clipboard` must
// outlive the future. Await it from the main thread with QFuture::then(context, …) or a QFutureWatcher:
// blocking the main thread on it never finishes, since the last step runs there.
QFuture<Result<QString>> prepare(std::shared_ptr<MediaAssets> assets, Clipboard& clipboard,
                                 const QString& clip, qint64 frameCount = Settings::handoffFrames);

} // namespace AgentHandoff
