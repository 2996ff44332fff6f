#pragma once

#include <QSize>
#include <QString>

// Real movies for the clip tools' tests.
namespace ClipMovies {

// `frames` frames at `fps`, each showing its own number in CodedFrames' stripes, so the frame a picture
// came from, and so its time, can be read back from any scaled copy. H.264 High without B-frames, a key
// frame every 30 frames as the recorder's clips unless told otherwise. Returns what ffmpeg said when it
// failed, else "".
QString make(const QString& path, int frames, int fps, QSize size, int keyInterval = 30);

} // namespace ClipMovies
