#include "platform/linux/pipewire/PipeWireCaptureStream.h"

#include "base/Logging.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <time.h>
#include <utility>

namespace {

using std::chrono::nanoseconds;

nanoseconds monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + nanoseconds(now.tv_nsec);
}

void initialisePipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// BGRx first: what compositors produce natively, so no conversion on their side.
const spa_pod* formatParameter(spa_pod_builder& builder, const StreamConfiguration& configuration) {
    const int fps = int(std::lround(1.0 / configuration.minimumFrameInterval.seconds()));
    spa_rectangle size = SPA_RECTANGLE(uint32_t(configuration.width), uint32_t(configuration.height));
    spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    spa_fraction rate = SPA_FRACTION(uint32_t(fps), 1);
    spa_fraction minRate = SPA_FRACTION(0, 1);
    spa_fraction maxRate = SPA_FRACTION(1000, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate),
        // Capped at our rate: the compositor then sends no pictures we would copy only to drop.
        SPA_FORMAT_VIDEO_maxFramerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &rate)));
}

} // namespace

struct PipeWireCaptureStream::Hooks {
    pw_stream_events events{};
    spa_hook listener{};
    // The shared node's removal (the producer went away) and the daemon's errors end the stream.
    pw_registry_events registryEvents{};
    spa_hook registryListener{};
    pw_core_events coreEvents{};
    spa_hook coreListener{};
    // The session's end is heard on the main thread; it reaches the stream only while the stream runs.
    std::mutex mutex;
    PipeWireCaptureStream* stream = nullptr; // guarded by mutex
};

PipeWireCaptureStream::PipeWireCaptureStream(std::unique_ptr<ScreenCastSession> session, int pipeWireFd,
                                             const StreamConfiguration& configuration,
                                             QObject* handlerContext, FrameHandler onFrame,
                                             StopHandler onStop)
    : m_session(std::move(session))
    , m_fd(pipeWireFd)
    , m_configuration(configuration)
    , m_onStop(std::move(onStop))
    , m_delivery(handlerContext, std::move(onFrame), configuration.queueDepth)
    , m_hooks(std::make_shared<Hooks>())
    , m_gate(nanoseconds(int64_t(configuration.minimumFrameInterval.seconds() * 1e9))) {}

PipeWireCaptureStream::~PipeWireCaptureStream() {
    stopCapture();
    if (m_fd >= 0) close(m_fd);
}

Status PipeWireCaptureStream::startCapture() {
    initialisePipeWire();
    m_loop = pw_thread_loop_new("ferrovane-pw", nullptr);
    if (!m_loop) return platformError(QStringLiteral("Cannot start the screen stream's thread."));
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    if (!m_context || pw_thread_loop_start(m_loop) < 0)
        return platformError(QStringLiteral("Cannot start the screen stream's thread."));

    pw_thread_loop_lock(m_loop);
    // PipeWire owns the descriptor from here on.
    m_core = pw_context_connect_fd(m_context, m_fd, nullptr, 0);
    m_fd = -1;
    if (!m_core) {
        pw_thread_loop_unlock(m_loop);
        return platformError(QStringLiteral("Cannot connect to PipeWire for the shared screen."), errno);
    }
    m_hooks->coreEvents.version = PW_VERSION_CORE_EVENTS;
    m_hooks->coreEvents.error = &onCoreError;
    pw_core_add_listener(m_core, &m_hooks->coreListener, &m_hooks->coreEvents, this);
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    m_hooks->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    m_hooks->registryEvents.global_remove = &onGlobalRemoved;
    pw_registry_add_listener(m_registry, &m_hooks->registryListener, &m_hooks->registryEvents, this);
    m_stream = pw_stream_new(m_core, "Ferrovane",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                               PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    m_hooks->events.version = PW_VERSION_STREAM_EVENTS;
    m_hooks->events.state_changed = &onStateChanged;
    m_hooks->events.param_changed = &onParamChanged;
    m_hooks->events.process = &onProcess;
    pw_stream_add_listener(m_stream, &m_hooks->listener, &m_hooks->events, this);
    m_heldTimer = pw_loop_add_timer(pw_thread_loop_get_loop(m_loop), &onHeldFrameDue, this);

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[] = {formatParameter(builder, m_configuration)};
    const int connected = pw_stream_connect(
        m_stream, PW_DIRECTION_INPUT, m_session->stream().node,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (connected < 0) {
        pw_thread_loop_unlock(m_loop);
        return platformError(
            QStringLiteral("Cannot open the shared screen's stream: %1").arg(strerror(-connected)),
            -connected);
    }
    // The link to the producer is made on the loop thread; wait for it, or for its failure.
    for (int second = 0; second < 10 && !m_connected && m_startError.isEmpty(); ++second)
        pw_thread_loop_timed_wait(m_loop, 1);
    const QString failure = m_connected ? QString()
                            : m_startError.isEmpty()
                                ? QStringLiteral("The shared screen's stream did not start.")
                                : m_startError;
    pw_thread_loop_unlock(m_loop);
    if (!failure.isEmpty()) return platformError(failure);

    {
        std::lock_guard lock(m_hooks->mutex);
        m_hooks->stream = this;
    }
    m_session->setOnClosed([hooks = m_hooks] {
        std::lock_guard lock(hooks->mutex);
        PipeWireCaptureStream* stream = hooks->stream;
        if (!stream) return;
        pw_thread_loop_lock(stream->m_loop);
        stream->endWithError(QStringLiteral("Screen sharing was stopped from the desktop."));
        pw_thread_loop_unlock(stream->m_loop);
    });
    return Ok{};
}

void PipeWireCaptureStream::stopCapture() {
    {
        std::lock_guard lock(m_hooks->mutex);
        m_hooks->stream = nullptr;
    }
    if (m_loop) {
        pw_thread_loop_lock(m_loop);
        m_ended = true; // asked to stop: not an ending to report
        if (m_stream) pw_stream_disconnect(m_stream);
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
        if (m_stream) pw_stream_destroy(m_stream);
        if (m_registry) {
            spa_hook_remove(&m_hooks->registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
        }
        if (m_core) spa_hook_remove(&m_hooks->coreListener);
        if (m_heldTimer) pw_loop_destroy_source(pw_thread_loop_get_loop(m_loop), m_heldTimer);
        if (m_core) pw_core_disconnect(m_core);
        if (m_context) pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
        m_stream = nullptr;
        m_registry = nullptr;
        m_heldTimer = nullptr;
        m_core = nullptr;
        m_context = nullptr;
        m_loop = nullptr;
    }
    m_held.reset();
    m_last.reset();
    m_delivery.close();
    m_session.reset();
}

void PipeWireCaptureStream::endWithError(const QString& text) {
    endWith(platformError(text));
}

void PipeWireCaptureStream::endWith(const Error& error) {
    if (m_ended) return;
    m_ended = true;
    qCDebug(lcCapture) << "the shared screen's stream ended:" << error.message;
    if (m_onStop) m_onStop(error);
}

void PipeWireCaptureStream::onStateChanged(void* data, pw_stream_state, pw_stream_state state,
                                           const char* error) {
    auto* self = static_cast<PipeWireCaptureStream*>(data);
    qCDebug(lcCapture) << "stream state" << pw_stream_state_as_string(state) << (error ? error : "");
    switch (state) {
    case PW_STREAM_STATE_ERROR:
        if (!self->m_connected)
            self->m_startError =
                QStringLiteral("The shared screen's stream failed: %1").arg(QString::fromUtf8(error));
        else
            self->endWithError(
                QStringLiteral("The shared screen's stream failed: %1").arg(QString::fromUtf8(error)));
        break;
    case PW_STREAM_STATE_PAUSED:
    case PW_STREAM_STATE_STREAMING:
        self->m_connected = true;
        break;
    case PW_STREAM_STATE_UNCONNECTED:
        if (self->m_connected) self->endWithError(QStringLiteral("The shared screen's stream ended."));
        break;
    case PW_STREAM_STATE_CONNECTING:
        break;
    }
    pw_thread_loop_signal(self->m_loop, false);
}

void PipeWireCaptureStream::onGlobalRemoved(void* data, uint32_t id) {
    auto* self = static_cast<PipeWireCaptureStream*>(data);
    if (id == self->m_session->stream().node)
        self->endWithError(QStringLiteral("The shared screen went away."));
}

void PipeWireCaptureStream::onCoreError(void* data, uint32_t id, int, int result, const char* message) {
    auto* self = static_cast<PipeWireCaptureStream*>(data);
    if (id != PW_ID_CORE) return;
    const QString text = QStringLiteral("PipeWire stopped the shared screen's stream: %1")
                             .arg(QString::fromUtf8(message ? message : strerror(-result)));
    if (!self->m_connected)
        self->m_startError = text;
    else
        self->endWithError(text);
    pw_thread_loop_signal(self->m_loop, false);
}

void PipeWireCaptureStream::onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<PipeWireCaptureStream*>(data);
    if (!param || id != SPA_PARAM_Format) return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0)
        return self->endWithError(
            QStringLiteral("The shared screen's stream offers no usable picture format."));
    const std::optional<PixelOrder> order = PipeWireFrames::orderOf(info.format);
    if (!order)
        return self->endWithError(
            QStringLiteral("The shared screen's stream offers no usable picture format."));
    self->m_changes.reset(); // buffers of a new format say nothing about the old ones
    const QSize size(int(info.size.width), int(info.size.height));
    if (self->m_size.isValid() && size != self->m_size)
        return self->endWith(displayResized(QStringLiteral("The shared screen changed size.")));
    if (!self->m_pool) {
        self->m_size = size;
        self->m_order = *order;
        self->m_pool = FramePool::createPrivate(self->m_configuration.queueDepth, size, *order);
        if (!self->m_pool)
            return self->endWithError(QStringLiteral("Not enough memory for the shared screen's pictures."));
    }

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    constexpr int damageAreas = 32;
    constexpr int streamBuffers = 3;
    // Room for a pointer image up to 256 pixels square beside each picture.
    const auto cursorBytes = [](int side) {
        return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4;
    };
    const spa_pod* params[] = {
        // Each buffer is a whole screen, resident here once read (mutter offers sixteen: 140 MB at
        // 1920x1200). One is held only while it is copied, so three (one drawn, one waiting, one copied)
        // leave the compositor room to draw: on full motion mutter never lacked a buffer, even with two,
        // and a fourth only added 9 MB.
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(streamBuffers, 2, streamBuffers), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header)))),
        // Where each picture changed, so that only that is converted; a few dozen areas, after which the
        // compositor sends their bounds.
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(int(sizeof(spa_meta_region)) * damageAreas, int(sizeof(spa_meta_region)),
                                     int(sizeof(spa_meta_region)) * damageAreas))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(cursorBytes(64), cursorBytes(1), cursorBytes(256)))),
    };
    pw_stream_update_params(self->m_stream, params, self->m_session->cursorAsMetadata() ? 4 : 3);
}

namespace {

// Copies `area`'s rows of 32-bit pixels from one layout to another.
void copyRows(uint8_t* to, int toStride, const uint8_t* from, int fromStride, QRect area) {
    if (area.isEmpty()) return;
    for (int row = 0; row < area.height(); ++row)
        std::memcpy(to + size_t(row) * size_t(toStride), from + size_t(row) * size_t(fromStride),
                    size_t(area.width()) * 4);
}

// The damage a buffer carries: none when it says nothing, and nothing new for a buffer without pixels
// (the compositor keeps what changed for the next picture it sends).
std::optional<std::vector<QRect>> damageOf(spa_buffer* buffer) {
    if (buffer->n_datas == 0 || buffer->datas[0].chunk->size == 0) return std::vector<QRect>();
    if (buffer->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) return std::nullopt;
    spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_VideoDamage);
    if (!meta) return std::nullopt;
    std::vector<QRect> damage;
    spa_meta_region* region;
    spa_meta_for_each(region, meta) {
        if (!spa_meta_region_is_valid(region)) break;
        damage.emplace_back(region->region.position.x, region->region.position.y,
                            int(region->region.size.width), int(region->region.size.height));
    }
    // A picture said to change nowhere is not believed.
    if (damage.empty()) return std::nullopt;
    return damage;
}

} // namespace

void PipeWireCaptureStream::onProcess(void* data) {
    static_cast<PipeWireCaptureStream*>(data)->process();
}

void PipeWireCaptureStream::process() {
    // Only the newest picture counts; older ones still queued go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(m_stream)) {
        if (newest) pw_stream_queue_buffer(m_stream, newest);
        newest = next;
        const std::optional<std::vector<QRect>> damage = damageOf(next->buffer);
        if (damage && !damage->empty() && !std::exchange(m_damageSeen, true))
            qCDebug(lcCapture) << "the compositor says where pictures change";
        m_changes.addBuffer(damage);
    }
    if (!newest || m_ended) {
        if (newest) pw_stream_queue_buffer(m_stream, newest);
        return;
    }
    const nanoseconds now = monotonicNow();
    spa_buffer* buffer = newest->buffer;
    const spa_data& plane = buffer->datas[0];
    const auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    const PipeWireFrames::BufferFacts facts{
        .corrupted = (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) ||
                     (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED),
        .mapped = plane.data != nullptr,
        .chunkSize = plane.chunk->size,
    };
    const PipeWireFrames::Kind kind = PipeWireFrames::classify(facts);
    const bool cursorMoved = m_session->cursorAsMetadata() && readCursor(buffer);
    std::optional<FramePool::Lease> lease;
    if (kind != PipeWireFrames::Kind::Complete && cursorMoved && m_last && m_pool) {
        // Only the pointer moved (some compositors flag such buffers corrupted): the last picture again,
        // without the pointer where it was and with it in its new place.
        lease = m_pool->acquire();
        if (lease) {
            std::memcpy(lease->pixels, m_last->data, m_pool->bytesPerBuffer());
            copyRows(lease->pixels + offsetOf(m_lastCursorArea), m_pool->bytesPerRow(), m_underCursor.data(),
                     m_lastCursorArea.width() * 4, m_lastCursorArea);
            m_changes.describeRedraw(*lease->description, m_size, cursorArea());
        } else {
            ++m_dropped;
        }
    } else if (kind == PipeWireFrames::Kind::Complete && m_pool) {
        const int stride = plane.chunk->stride > 0 ? plane.chunk->stride : m_size.width() * 4;
        const uint32_t offset = plane.chunk->offset % std::max<uint32_t>(plane.maxsize, 1);
        if (PipeWireFrames::fits(m_size.width(), m_size.height(), stride, offset, plane.maxsize)) {
            lease = m_pool->acquire();
            if (lease) {
                const auto* source = static_cast<const uint8_t*>(plane.data) + offset;
                const int rowBytes = m_size.width() * 4;
                for (int row = 0; row < m_size.height(); ++row)
                    std::memcpy(lease->pixels + size_t(row) * size_t(m_pool->bytesPerRow()),
                                source + size_t(row) * size_t(stride), size_t(rowBytes));
                m_changes.describeCopy(*lease->description, m_size, cursorArea());
            }
        }
        if (!lease) ++m_dropped;
    } else if (kind == PipeWireFrames::Kind::Dropped) {
        ++m_dropped;
    }
    pw_stream_queue_buffer(m_stream, newest);
    if (!lease) return;
    if (m_session->cursorAsMetadata()) {
        // What the pointer covers is kept, so that a picture where only the pointer moved can be made
        // from this one.
        m_lastCursorArea = cursorArea() & QRect(QPoint(0, 0), m_size);
        m_underCursor.resize(size_t(m_lastCursorArea.width()) * size_t(m_lastCursorArea.height()) * 4);
        copyRows(m_underCursor.data(), m_lastCursorArea.width() * 4,
                 lease->pixels + offsetOf(m_lastCursorArea), m_pool->bytesPerRow(), m_lastCursorArea);
        if (m_cursor.pixels)
            PipeWireFrames::drawCursor(lease->pixels, m_size, m_pool->bytesPerRow(), m_order, m_cursor,
                                       m_cursorTopLeft);
        m_last = lease->picture;
    }

    // A held picture this one replaces is never handed on.
    if (m_held) PipeWireFrames::absorb(*lease->description, *m_held->description);
    if (m_gate.admit(now)) {
        m_held.reset();
        deliver(std::move(*lease), now);
        return;
    }
    m_held = std::move(*lease);
    const nanoseconds due = m_gate.next();
    timespec at{time_t(due.count() / 1'000'000'000), long(due.count() % 1'000'000'000)};
    pw_loop_update_timer(pw_thread_loop_get_loop(m_loop), m_heldTimer, &at, nullptr, true);
}

// Where `area`'s top left pixel lies in a picture of the pool.
size_t PipeWireCaptureStream::offsetOf(QRect area) const {
    return size_t(area.y()) * size_t(m_pool->bytesPerRow()) + size_t(area.x()) * 4;
}

// Where the pointer is drawn over the picture; empty when it is not.
QRect PipeWireCaptureStream::cursorArea() const {
    return m_cursor.pixels ? QRect(m_cursorTopLeft, m_cursor.size) : QRect();
}

// Reads the pointer sent beside the picture; true when it moved or changed.
bool PipeWireCaptureStream::readCursor(spa_buffer* buffer) {
    const auto* cursor = static_cast<const spa_meta_cursor*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    // Id 0: nothing new about the pointer.
    if (!cursor || !spa_meta_cursor_is_valid(cursor)) return false;
    if (cursor->bitmap_offset >= sizeof(spa_meta_cursor)) {
        const auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, const spa_meta_bitmap);
        const std::optional<PixelOrder> order = PipeWireFrames::orderOf(bitmap->format);
        const int width = int(bitmap->size.width), height = int(bitmap->size.height);
        if (order && width > 0 && height > 0 && bitmap->stride >= width * 4) {
            const auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, const uint8_t);
            m_cursorPixels.assign(pixels, pixels + size_t(bitmap->stride) * size_t(height));
            m_cursor = {QSize(width, height), int(bitmap->stride), *order, m_cursorPixels.data()};
        }
    }
    m_cursorTopLeft = QPoint(cursor->position.x - cursor->hotspot.x, cursor->position.y - cursor->hotspot.y);
    return true;
}

void PipeWireCaptureStream::onHeldFrameDue(void* data, uint64_t) {
    auto* self = static_cast<PipeWireCaptureStream*>(data);
    if (!self->m_held || self->m_ended) return;
    const nanoseconds now = monotonicNow();
    FramePool::Lease held = std::move(*self->m_held);
    self->m_held.reset();
    self->m_gate.admit(now);
    self->deliver(std::move(held), now);
}

void PipeWireCaptureStream::deliver(FramePool::Lease lease, nanoseconds time) {
    CapturedFrame frame;
    frame.presentationTime = MediaTime(time.count(), MediaTime::nanosecondTimescale);
    frame.status = FrameStatus::Complete;
    frame.image = std::move(lease.picture);
    if (!m_delivery.post(std::move(frame))) ++m_dropped;
}
