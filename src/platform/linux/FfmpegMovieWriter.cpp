#include "platform/linux/FfmpegMovieWriter.h"

Result<std::unique_ptr<MovieWriter>> FfmpegMovieWriterFactory::openWriter(const QString&, const VideoSettings&)
{
    return platformError(QStringLiteral("not implemented"));
}
