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

// One export attempt. A failed attempt leaves no file of its own.
Status run(MediaAssets& assets, const Composition& composition, ExportPreset preset, const QString& output);

QString timestamp(const QDateTime& at = QDateTime::currentDateTime());

// folder/replay-<timestamp>.mp4, or with -2, -3 … when that name is taken. The name is claimed with an
// empty file so two saves in the same second never write to one file.
Result<QString> claimClipPath(const QString& folder, const QString& stamp);

} // namespace ClipExport
