#pragma once

#include <QLoggingCategory>

namespace ffmpeg {

// FFmpeg and x264 print to stderr on their own. Route them into the logging category of the subsystem
// whose thread speaks (encoder threads: ferrovane.encoder, the rest: ferrovane.export), at the level those
// categories have enabled; with both silent the libraries are set quiet. Idempotent, any thread.
void routeLibraryLogs();

// Marks the calling thread as an encoder thread for the routing above.
void logAsEncoderThread();

} // namespace ffmpeg
