#include "clips/ClipTools.h"

#include "clips/AgentHandoff.h"
#include "clips/Thumbnailer.h"

#include <QCoreApplication>

PooledClipTools::PooledClipTools(std::shared_ptr<MediaAssets> assets, Clipboard& clipboard)
    : m_assets(std::move(assets))
    , m_clipboard(clipboard) {}

void PooledClipTools::makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) {
    Thumbnailer::makeAsync(m_assets, clip).then(qApp, [done = std::move(done)](const Thumbnail& thumbnail) {
        done(thumbnail.image, thumbnail.duration);
    });
}

void PooledClipTools::handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) {
    AgentHandoff::prepare(m_assets, m_clipboard, clip, frameCount)
        .then(qApp, [done = std::move(done)](const Result<QString>& prompt) {
            done(prompt ? Status(Ok{}) : Status(prompt.error()));
        });
}
