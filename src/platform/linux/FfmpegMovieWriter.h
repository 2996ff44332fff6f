#pragma once

#include "platform/MovieWriter.h"

// H.264 (libx264) in MP4 (libavformat), BGRA converted and scaled by libswscale on the writer's thread.
class FfmpegMovieWriterFactory final : public MovieWriterFactory {
public:
    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path, const VideoSettings& settings) override;
};
