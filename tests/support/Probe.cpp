#include "support/Probe.h"

#include <QJsonDocument>
#include <QProcess>

namespace Probe {

QJsonObject run(const QString& path, const QStringList& extra) {
    QProcess process;
    process.start("ffprobe",
                  QStringList{"-v", "error", "-print_format", "json", "-show_format", "-show_streams"} +
                      extra + QStringList{path});
    process.waitForFinished(60000);
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

QJsonObject videoStream(const QString& path) {
    for (const auto& stream : run(path)["streams"].toArray())
        if (stream.toObject()["codec_type"].toString() == "video") return stream.toObject();
    return {};
}

QSize videoSize(const QString& path) {
    const QJsonObject stream = videoStream(path);
    return QSize(stream["width"].toInt(), stream["height"].toInt());
}

double duration(const QString& path) {
    return run(path)["format"].toObject()["duration"].toString().toDouble();
}

QStringList packetHashes(const QString& path) {
    QStringList hashes;
    const QJsonObject probe =
        run(path, {"-select_streams", "v:0", "-show_packets", "-show_data_hash", "MD5"});
    for (const auto& packet : probe["packets"].toArray())
        hashes << packet.toObject()["data_hash"].toString();
    return hashes;
}

QString ffmpeg(const QStringList& arguments) {
    QProcess process;
    process.start("ffmpeg", QStringList{"-v", "error", "-y"} + arguments);
    const bool finished = process.waitForFinished(120000);
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (!finished || process.exitCode() != 0)
        return QStringLiteral("ffmpeg exited with %1: ").arg(process.exitCode()) + said;
    return said;
}

QString decodeErrors(const QString& path) {
    return ffmpeg({"-i", path, "-f", "null", "-"});
}

} // namespace Probe
