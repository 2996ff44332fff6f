#pragma once

#include "platform/MediaAssets.h"
#include "recorder/Segment.h"

#include <QDateTime>
#include <QString>

#include <vector>

// Joins the segments of a save into one clip, cut at the cut time: copied sample for sample, re-encoded
// only when copying is refused.
namespace ClipExport {

Result<QString> exportSegments(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff,
                               const QString& folder);

// The ranges of the segments that lie after the cut, back to back from time 0; skips files without video.
Result<Composition> compose(MediaAssets& assets, const std::vector<Segment>& segments, MediaTime cutoff);

// One export attempt into `output`; a failure says why, or "unknown error".
Status run(MediaAssets& assets, const Composition& composition, ExportPreset preset, const QString& output);

// A failure of the file system underneath (full, read only, refused, broken): another attempt at the same
// output would only fail again.
bool cannotWrite(const Error& error);

QString timestamp(const QDateTime& at = QDateTime::currentDateTime());

// Creates the clips folder with its parents; the error says which folder and why.
Status makeFolder(const QString& folder);

} // namespace ClipExport
