#pragma once

#include "base/Error.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

class Clipboard;
class MediaAssets;

// The work done on a saved clip: its thumbnail and the assistant handoff. Main thread only; the work runs
// on the thread pool and answers on the main thread.
class ClipTools {
public:
    virtual ~ClipTools() = default;

    // A frame near the clip's end and its length; a null image and 0 when unreadable.
    virtual void makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) = 0;
    // Writes still frames beside the clip and puts the prompt listing them on the clipboard.
    virtual void handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) = 0;
};

// Thumbnailer and AgentHandoff on the thread pool; the prompt goes on `clipboard`, which outlives this.
class PooledClipTools final : public ClipTools {
public:
    PooledClipTools(std::shared_ptr<MediaAssets> assets, Clipboard& clipboard);

    void makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) override;
    void handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) override;

private:
    std::shared_ptr<MediaAssets> m_assets;
    Clipboard& m_clipboard;
};
