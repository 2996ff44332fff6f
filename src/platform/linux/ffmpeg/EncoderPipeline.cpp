#include "platform/linux/ffmpeg/EncoderPipeline.h"

#include "base/Logging.h"
#include "platform/linux/ffmpeg/H264Encoder.h"
#include "platform/linux/ffmpeg/LibraryLog.h"
#include "platform/linux/ffmpeg/SegmentFile.h"

#include <algorithm>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>

namespace ffmpeg {

PipelineSegment::PipelineSegment(std::unique_ptr<SegmentFile> segmentFile)
    : file(std::move(segmentFile)) {}

PipelineSegment::~PipelineSegment() = default;

Result<std::shared_ptr<EncoderPipeline>> EncoderPipeline::start(const VideoSettings& settings) {
    auto encoder = H264Encoder::open(settings);
    if (!encoder) return encoder.error();
    ParametersPtr parameters(avcodec_parameters_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!parameters || !packet ||
        avcodec_parameters_copy(parameters.get(), encoder.value()->parameters()) < 0)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."), ENOMEM);
    std::shared_ptr<EncoderPipeline> pipeline(
        new EncoderPipeline(encoder.take(), std::move(parameters), std::move(packet)));
    // Attached before the thread runs, so its idle clock cannot end it under a stalled caller.
    pipeline->m_attached = true;
    try {
        // The thread keeps the pipeline alive until it ends on its own.
        std::thread thread([pipeline] {
            logAsEncoderThread();
            pipeline->run();
        });
        pthread_setname_np(thread.native_handle(), "ferrovane.enc");
        thread.detach();
    } catch (const std::system_error& e) {
        return platformError(
            QStringLiteral("Could not start the encoder thread: %1").arg(QString::fromUtf8(e.what())),
            e.code().value());
    }
    return pipeline;
}

EncoderPipeline::EncoderPipeline(std::unique_ptr<H264Encoder> encoder, ParametersPtr parameters,
                                 PacketPtr packet)
    : m_settings(encoder->settings())
    , m_parameters(std::move(parameters))
    , m_encoder(std::move(encoder))
    , m_packet(std::move(packet)) {}

int64_t EncoderPipeline::nominalTicks() const {
    return std::max<int64_t>(1, H264Encoder::timeBase.den / std::max(1, m_settings.expectedSourceFrameRate));
}

EncoderPipeline::~EncoderPipeline() = default;

bool EncoderPipeline::attach() {
    std::lock_guard lock(m_mutex);
    if (m_attached || m_ended) return false;
    m_attached = true;
    return true;
}

void EncoderPipeline::detach() {
    {
        std::lock_guard lock(m_mutex);
        m_attached = false;
    }
    m_wake.notify_one();
}

bool EncoderPipeline::hasRoom(bool startsSegment) const {
    std::lock_guard lock(m_mutex);
    return m_frames < capacityFor(startsSegment);
}

bool EncoderPipeline::tryPush(const std::shared_ptr<PipelineSegment>& segment, PixelBufferRef buffer,
                              int64_t ticks, bool startsSegment) {
    {
        std::lock_guard lock(m_mutex);
        if (m_frames >= capacityFor(startsSegment)) return false;
        m_items.emplace_back(Frame{segment, std::move(buffer), ticks});
        ++m_frames;
    }
    m_wake.notify_one();
    return true;
}

void EncoderPipeline::push(Item item) {
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        m_attached = false;
    }
    m_wake.notify_one();
}

void EncoderPipeline::finish(std::shared_ptr<PipelineSegment> segment, std::optional<int64_t> endTicks,
                             MovieWriter::FinishHandler handler) {
    push(Finish{std::move(segment), endTicks, std::move(handler)});
}

void EncoderPipeline::abandon(const std::shared_ptr<PipelineSegment>& segment) {
    // Queued pictures go back to the capture pool now, outside the lock.
    std::vector<PixelBufferRef> dropped;
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_items.begin(); it != m_items.end();) {
            auto* frame = std::get_if<Frame>(&*it);
            if (frame && frame->segment == segment) {
                dropped.push_back(std::move(frame->buffer));
                it = m_items.erase(it);
                --m_frames;
            } else {
                ++it;
            }
        }
        m_items.push_back(Abandon{segment, std::move(closed)});
        m_attached = false;
    }
    m_wake.notify_one();
    dropped.clear();
    done.wait();
}

std::optional<EncoderPipeline::Item> EncoderPipeline::waitNext() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_items.empty()) {
            Item item = std::move(m_items.front());
            m_items.pop_front();
            if (std::holds_alternative<Frame>(item)) --m_frames;
            return item;
        }
        if (m_attached) {
            m_wake.wait(lock);
        } else if (!m_wake.wait_for(lock, idleLinger, [this] { return !m_items.empty() || m_attached; })) {
            m_ended = true;
            return std::nullopt;
        }
    }
}

void EncoderPipeline::run() {
    while (std::optional<Item> item = waitNext()) {
        if (auto* frame = std::get_if<Frame>(&*item)) {
            encode(*frame);
        } else if (auto* finish = std::get_if<Finish>(&*item)) {
            complete(*finish);
        } else {
            auto& abandon = std::get<Abandon>(*item);
            settle(*abandon.segment);
            abandon.segment->file.reset();
            abandon.closed.set_value();
        }
    }
    m_encoder.reset();
}

void EncoderPipeline::fail(PipelineSegment& segment, const Error& error) {
    if (!segment.error) {
        qCDebug(lcEncoder) << "segment failed:" << error.message;
        segment.error = error;
    }
    segment.failed = true;
    // A broken encoder is replaced for the next segment.
    if (m_encoder && m_encoder->spent()) m_encoder.reset();
}

void EncoderPipeline::encode(Frame& frame) {
    PipelineSegment& segment = *frame.segment;
    if (segment.failed || !segment.file) return;
    if (!m_encoder) {
        auto reopened = H264Encoder::open(m_settings);
        if (!reopened) return fail(segment, reopened.error());
        m_encoder = reopened.take();
    }
    // The encoder's clock runs on across files: a segment's first frame follows the previous segment's
    // last one by one frame time, whatever the gap between them.
    const bool startsFile = !segment.ptsOffset;
    if (startsFile) segment.ptsOffset = m_lastPts ? *m_lastPts + nominalTicks() - frame.ticks : 0;
    const int64_t pts = frame.ticks + *segment.ptsOffset;
    if (Status sent = m_encoder->send(std::move(frame.buffer), pts, startsFile); !sent)
        return fail(segment, sent.error());
    m_lastPts = pts;
    drainInto(segment);
}

void EncoderPipeline::drainInto(PipelineSegment& segment) {
    AVPacket* packet = m_packet.get();
    for (;;) {
        Result<bool> received = m_encoder->receive(packet);
        if (!received) return fail(segment, received.error());
        if (!received.value()) return;
        packet->pts -= *segment.ptsOffset;
        packet->dts -= *segment.ptsOffset;
        if (Status written = segment.file->write(packet); !written) return fail(segment, written.error());
    }
}

void EncoderPipeline::settle(PipelineSegment& segment) {
    // x264 holds nothing back at these settings. Should it ever, the rest belongs to this file, and the
    // next one gets a fresh encoder, so no packet lands in the wrong file.
    if (!m_encoder || m_encoder->pending() == 0) return;
    if (!segment.failed && segment.file) {
        if (Status ended = m_encoder->sendEnd())
            drainInto(segment);
        else
            fail(segment, ended.error());
    }
    m_encoder.reset();
}

void EncoderPipeline::complete(Finish& finish) {
    PipelineSegment& segment = *finish.segment;
    settle(segment);
    Status status = Ok{};
    if (segment.error)
        status = *segment.error;
    else if (!segment.file)
        status = platformError(QStringLiteral("The movie file was closed before it was complete."));
    else
        status = segment.file->finish(finish.endTicks, nominalTicks());
    if (!status) qCDebug(lcEncoder) << "segment not completed:" << status.error().message;
    segment.file.reset(); // the file is closed before anyone hears of it
    if (finish.handler) finish.handler(status);
}

} // namespace ffmpeg
