#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QSize>
#include <QString>
#include <QStringList>

// ffprobe, the independent reader every media test checks against.
namespace Probe {

// ffprobe -print_format json -show_format -show_streams [extra] FILE; empty on failure.
QJsonObject run(const QString& path, const QStringList& extra = {});
QJsonObject videoStream(const QString& path);
QSize videoSize(const QString& path);
double duration(const QString& path);
// MD5 of every video packet's data, in file order.
QStringList packetHashes(const QString& path);
// What `ffmpeg -v error -y ARGUMENTS` says, with the exit code when it fails; empty when all went well.
QString ffmpeg(const QStringList& arguments);
// What ffmpeg says while decoding the whole file; empty when it decodes cleanly.
QString decodeErrors(const QString& path);

} // namespace Probe
