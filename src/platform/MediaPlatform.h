#pragma once

#include "platform/Clock.h"
#include "platform/DiskSpace.h"
#include "platform/MediaAssets.h"
#include "platform/MovieWriter.h"
#include "platform/ScreenCapture.h"

#include <memory>

// The media services the recorder is built on, gathered so tests can hand it fakes.
struct MediaPlatform {
    std::shared_ptr<Clock> clock;
    std::shared_ptr<ScreenCapture> capture;
    std::shared_ptr<MovieWriterFactory> writers;
    std::shared_ptr<MediaAssets> assets;
    std::shared_ptr<DiskSpace> disk;
};
