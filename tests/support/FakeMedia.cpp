#include "support/FakeMedia.h"

#include <QFile>
#include <QTest>

class FakeMovieWriter final : public MovieWriter {
public:
    FakeMovieWriter(FakeMovieWriterFactory& factory, size_t index)
        : m_factory(factory)
        , m_index(index) {}
    void startSession(MediaTime t) override {
        with([&](auto& r) { r.sessionStart = t; });
    }
    bool isReadyForMoreMediaData() const override { return m_factory.ready; }
    bool append(const PixelBufferRef&, MediaTime pts) override {
        with([&](auto& r) { r.frames.push_back(pts); });
        return true;
    }
    void markAsFinished() override {}
    void endSession(MediaTime t) override {
        with([&](auto& r) { r.sessionEnd = t; });
    }
    void finishWriting(FinishHandler handler) override {
        with([&](auto& r) { r.finish = std::move(handler); });
        if (m_factory.autoComplete)
            m_factory.complete(m_index,
                               m_factory.finishError ? Status(*m_factory.finishError) : Status(Ok{}));
    }

private:
    template <typename F> void with(F f) {
        std::lock_guard lock(m_factory.m_mutex);
        f(m_factory.m_records[m_index]);
    }
    FakeMovieWriterFactory& m_factory;
    size_t m_index;
};

Result<std::unique_ptr<MovieWriter>> FakeMovieWriterFactory::openWriter(const QString& path,
                                                                        const VideoSettings& settings) {
    if (openError) return *openError;
    if (QFile file(path); !file.open(QIODevice::WriteOnly)) return platformError("cannot create " + path);
    std::lock_guard lock(m_mutex);
    m_records.push_back(Record{path, settings, {}, {}, {}, {}});
    return std::unique_ptr<MovieWriter>(std::make_unique<FakeMovieWriter>(*this, m_records.size() - 1));
}

void FakeMovieWriterFactory::complete(size_t index, const Status& status) {
    const auto [handler, path] = [&] {
        std::lock_guard lock(m_mutex);
        return std::pair(std::exchange(m_records[index].finish, nullptr), m_records[index].path);
    }();
    if (!handler) return;
    if (QFile file(path); status && segmentBytes > 0 && file.open(QIODevice::WriteOnly))
        file.write(QByteArray(segmentBytes, 'x'));
    std::thread([handler, status] { handler(status); }).join();
}

Result<AssetInfo> FakeMediaAssets::loadAsset(const QString& path) {
    std::lock_guard lock(mutex);
    if (auto error = loadErrors.find(path); error != loadErrors.end()) return error->second;
    if (auto info = infos.find(path); info != infos.end()) return info->second;
    return AssetInfo{true, MediaTime::fromSeconds(5)};
}

Status FakeMediaAssets::exportComposition(const Composition& composition, ExportPreset preset,
                                          const QString& output) {
    if (duringExport) duringExport();
    std::lock_guard lock(mutex);
    exports.emplace_back(composition, preset);
    if (QFile file(output); file.open(QIODevice::WriteOnly)) file.write("partial");
    const auto& error = preset == ExportPreset::Passthrough ? passthroughError : fallbackError;
    return error ? Status(*error) : Status(Ok{});
}

Result<QString> RecorderRig::save(double seconds, double now) {
    clock->set(now);
    std::optional<Result<QString>> result;
    std::atomic<bool> done = false; // the completion runs on an export thread
    recorder->saveLast(seconds, folder, [&](const Result<QString>& r) {
        result = r;
        done = true;
    });
    // Long enough for a real export of a few seconds on a busy machine.
    if (!QTest::qWaitFor([&] { return done.load(); }, 30000)) return platformError("no completion");
    return *result;
}
