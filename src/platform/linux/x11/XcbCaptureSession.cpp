#include "platform/linux/x11/XcbCaptureSession.h"

#include "base/Logging.h"
#include "platform/linux/x11/XcbMonitors.h"

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// RandR reports output and CRTC changes, but not monitors added or removed by clients; a slow poll catches
// those (one round trip each).
constexpr double displayCheckIntervalSeconds = 1.0;

// GetImage fills the buffers as they are, so only little-endian 32-bit pixels with 8-bit RGB channels
// (24- and 32-bit true colour, nearly every X server today) can be read as BGRA.
bool isBgra(const xcb_setup_t* setup, const xcb_screen_t* screen) {
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it))
        thirtyTwoBits |= it.data->depth == screen->root_depth && it.data->bits_per_pixel == 32;
    if (!thirtyTwoBits) return false;
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem > 0; xcb_depth_next(&depth)) {
        for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem > 0;
             xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == screen->root_visual)
                return visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00 &&
                       visual.data->blue_mask == 0xff;
        }
    }
    return false;
}

} // namespace

XcbCaptureSession::XcbCaptureSession(XcbConnection connection, const DisplayInfo& display,
                                     std::vector<int64_t> excludedProcessIds,
                                     const StreamConfiguration& configuration)
    : m_connection(std::move(connection))
    , m_display(display)
    , m_excludedProcessIds(std::move(excludedProcessIds))
    , m_showsCursor(configuration.showsCursor)
    , m_queueDepth(configuration.queueDepth) {}

Result<std::unique_ptr<XcbCaptureSession>>
XcbCaptureSession::open(const QString& displayName, const DisplayInfo& display,
                        const std::vector<int64_t>& excludedProcessIds,
                        const StreamConfiguration& configuration) {
    Result<XcbConnection> connection = XcbConnection::open(displayName);
    if (!connection) return connection.error();
    std::unique_ptr<XcbCaptureSession> session(
        new XcbCaptureSession(connection.take(), display, excludedProcessIds, configuration));
    if (Status ready = session->setUp(); !ready) return ready.error();
    return Result<std::unique_ptr<XcbCaptureSession>>(std::move(session));
}

Status XcbCaptureSession::setUp() {
    xcb_connection_t* c = m_connection.get();
    const xcb_window_t root = m_connection.root();
    if (!isBgra(xcb_get_setup(c), m_connection.screen())) {
        qCDebug(lcCapture) << "unsupported pixel format: depth" << m_connection.screen()->root_depth
                           << "byte order" << xcb_get_setup(c)->image_byte_order << "root visual"
                           << m_connection.screen()->root_visual;
        return platformError(QStringLiteral("The X display's pixel format cannot be captured."));
    }
    for (xcb_extension_t* id : {&xcb_shm_id, &xcb_damage_id, &xcb_xfixes_id, &xcb_randr_id})
        xcb_prefetch_extension_data(c, id);

    m_monitors = XcbMonitors::negotiate(m_connection);
    const std::optional<QRect> rect = XcbMonitors::geometry(m_connection, m_monitors, m_display.displayId);
    if (!rect || rect->isEmpty()) return m_connection.hasError() ? lost() : gone();
    m_rect = *rect;
    if (m_monitors) {
        m_randrEvent = m_connection.extension(&xcb_randr_id)->first_event;
        xcb_randr_select_input(c, root,
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }

    // Without DAMAGE every tick grabs: correct, only dearer on a still screen.
    if (const auto* damage = m_connection.extension(&xcb_damage_id)) {
        if (xcbReply(c, xcb_damage_query_version_reply, xcb_damage_query_version(c, 1, 1))) {
            m_damage = xcb_generate_id(c);
            xcb_damage_create(c, m_damage, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            m_damageEvent = damage->first_event;
        }
    }
    // Without XFixes the cursor cannot be read, so frames go without it.
    const auto* xfixes = m_showsCursor ? m_connection.extension(&xcb_xfixes_id) : nullptr;
    if (xfixes && xcbReply(c, xcb_xfixes_query_version_reply, xcb_xfixes_query_version(c, 5, 0))) {
        xcb_xfixes_select_cursor_input(c, root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        m_xfixesEvent = xfixes->first_event;
    }

    // With XFixes regions the damage says where a picture changed, and whether only in our windows;
    // without, every picture is new throughout and every damage makes a frame. Where it changed has a
    // damage of its own, reset just after each grab; the one that wakes us is reset just before it, so
    // that whatever is drawn after a grab starts (and so may be missing from it) raises a fresh notify.
    if (m_damage != XCB_NONE && m_connection.extension(&xcb_xfixes_id) &&
        xcbReply(c, xcb_xfixes_query_version_reply, xcb_xfixes_query_version(c, 5, 0))) {
        m_damageRegion = xcb_generate_id(c);
        xcb_xfixes_create_region(c, m_damageRegion, 0, nullptr);
        m_changes = xcb_generate_id(c);
        xcb_damage_create(c, m_changes, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        static constexpr char name[] = "_NET_WM_PID";
        auto atom = m_excludedProcessIds.empty()
                        ? nullptr
                        : xcbReply(c, xcb_intern_atom_reply, xcb_intern_atom(c, 0, sizeof name - 1, name));
        if (atom) {
            m_pidAtom = atom->atom;
            findExcludedWindows();
        }
    }

    m_shm = m_connection.extension(&xcb_shm_id) != nullptr;
    if (Status pool = makePool(m_rect.size()); !pool) return pool;
    xcb_flush(c);
    if (m_connection.hasError()) return lost();
    return Ok{};
}

Status XcbCaptureSession::makePool(QSize size) {
    xcb_connection_t* c = m_connection.get();
    const auto detach = [c](uint32_t segment) { xcb_shm_detach(c, segment); };
    if (m_pool) m_pool->detach(detach);
    m_pool.reset();
    // MIT-SHM GetImage writes straight into segments the server has attached.
    const auto attach = [c](int shmId) -> uint32_t {
        const xcb_shm_seg_t segment = xcb_generate_id(c);
        return xcbSucceeded(c, xcb_shm_attach_checked(c, segment, uint32_t(shmId), 0)) ? segment : 0;
    };
    if (m_shm) m_pool = FramePool::createShared(m_queueDepth, size, attach, detach);
    // Without MIT-SHM (a remote display, a server in another IPC namespace) each picture crosses the socket
    // and is copied once more: slower, but it works on any display.
    if (m_shm && !m_pool) qCDebug(lcCapture) << "no MIT-SHM buffers of" << size << "; reading with GetImage";
    m_shm = m_pool != nullptr;
    if (!m_pool) m_pool = FramePool::createPrivate(m_queueDepth, size);
    if (!m_pool) {
        qCDebug(lcCapture) << "cannot allocate" << m_queueDepth << "frame buffers of" << size;
        return platformError(QStringLiteral("There is not enough memory to capture the display."));
    }
    return Ok{};
}

Result<std::optional<CapturedFrame>> XcbCaptureSession::capture(MediaTime now) {
    if (m_captureThread == std::thread::id()) m_captureThread = std::this_thread::get_id();
    Q_ASSERT(m_captureThread == std::this_thread::get_id());
    // The pointer's query is a round trip, so the events read after it include the damage of everything
    // the server drew before this tick. Read before it, a picture drawn just then waited for the next
    // tick, where a newer one could have replaced it (a player's frame lost).
    std::optional<QPoint> pointer;
    if (m_xfixesEvent) pointer = queryPointer();
    readEvents();
    if (Status display = followDisplay(now); !display) return display.error();
    // Only a cursor over the display is drawn, so moves elsewhere leave the frame idle.
    if (pointer && !m_cursor.bounds(*pointer).intersects(m_rect)) pointer.reset();
    if (m_connection.hasError()) return lost();
    const bool cursorChanged = pointer != m_lastPointer || (pointer && m_cursor.isStale());
    if (m_damaged && !m_needsComplete && !cursorChanged && !m_excludedRects.empty()) {
        const std::optional<std::vector<QRect>> damage = takeDamage(fetchDamage(m_damage));
        m_damaged = false;
        if (!damage || !onlyInExcludedWindows(*damage)) m_frameDue = true;
    }
    if (!m_needsComplete && !m_damaged && !m_frameDue && !cursorChanged && m_damage != XCB_NONE)
        return std::optional(CapturedFrame{now, FrameStatus::Idle, nullptr});

    // With every buffer still downstream the tick is dropped; the change stays pending for the next one.
    std::optional<FramePool::Lease> lease = m_pool->acquire();
    if (!lease) return std::optional<CapturedFrame>();
    if (m_damage != XCB_NONE) xcb_damage_subtract(m_connection.get(), m_damage, XCB_NONE, XCB_NONE);
    // Where it changed is taken in the same round trip, just after the grab: whatever was drawn before
    // the grab is in this damage or the one before.
    const xcb_shm_get_image_cookie_t grabbed = sendGrab(*lease);
    const xcb_xfixes_fetch_region_cookie_t changes = fetchDamage(m_changes);
    const bool complete = finishGrab(*lease, grabbed);
    const std::optional<std::vector<QRect>> taken = takeDamage(changes);
    if (!complete) {
        // What was taken belongs to the next picture.
        if (taken) m_carried.insert(m_carried.end(), taken->begin(), taken->end());
        m_carriedKnown = m_carriedKnown && taken.has_value();
        if (m_connection.hasError()) return lost();
        // Warned once per run of failures: the tick is dropped and the next one tries again.
        if (!m_grabFailing)
            qCDebug(lcCapture) << (m_shm ? "ShmGetImage" : "GetImage") << "of" << m_rect << "on"
                               << m_display.name << "failed";
        m_grabFailing = true;
        m_frameDue = true;
        return std::optional<CapturedFrame>();
    }
    m_grabFailing = false;
    std::optional<QRect> cursor;
    if (pointer) {
        m_cursor.refresh(m_connection.get());
        m_cursor.draw(lease->pixels, m_pool->bytesPerRow(), m_rect, *pointer);
        cursor = m_cursor.bounds(*pointer);
    }
    describeChanges(*lease->description, taken, cursor);
    m_lastPointer = pointer;
    m_damaged = false;
    m_frameDue = false;
    m_needsComplete = false;
    return std::optional(CapturedFrame{now, FrameStatus::Complete, std::move(lease->picture)});
}

// Asks for a damage so far, moved into our region; a null cookie without regions.
xcb_xfixes_fetch_region_cookie_t XcbCaptureSession::fetchDamage(xcb_damage_damage_t damage) {
    if (damage == XCB_NONE || m_damageRegion == XCB_NONE) return {0};
    xcb_connection_t* c = m_connection.get();
    xcb_damage_subtract(c, damage, XCB_NONE, m_damageRegion);
    return xcb_xfixes_fetch_region(c, m_damageRegion);
}

// The rectangles of a damage fetched, in root coordinates; none when unknown.
std::optional<std::vector<QRect>> XcbCaptureSession::takeDamage(xcb_xfixes_fetch_region_cookie_t cookie) {
    auto region =
        cookie.sequence ? xcbReply(m_connection.get(), xcb_xfixes_fetch_region_reply, cookie) : nullptr;
    if (!region) return std::nullopt;
    const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(region.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(region.get());
    std::vector<QRect> damage;
    damage.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        damage.emplace_back(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return damage;
}

// Picture N may differ from N-1 wherever the changes taken just after N-1's grab and just after N's lie
// (the first hold what was drawn after N-1's grab began, the second the rest up to N's), and where the
// cursor was and is.
void XcbCaptureSession::describeChanges(PixelBuffer& picture, const std::optional<std::vector<QRect>>& taken,
                                        std::optional<QRect> cursor) {
    const uint64_t previous = std::exchange(m_lastSequence, picture.sequence);
    const bool known = m_carriedKnown && taken && !m_needsComplete && previous != 0;
    std::vector<QRect> changed = std::move(m_carried);
    if (taken) changed.insert(changed.end(), taken->begin(), taken->end());
    if (m_lastCursor) changed.push_back(*m_lastCursor);
    if (cursor) changed.push_back(*cursor);
    m_carried = taken.value_or(std::vector<QRect>());
    m_carriedKnown = taken.has_value();
    m_lastCursor = cursor;
    if (!known) return;

    setChanged(picture, changed, m_rect.size(), -m_rect.topLeft());
    picture.previous = previous;
}

void XcbCaptureSession::readEvents() {
    while (XcbEvent event{xcb_poll_for_event(m_connection.get())}) {
        const uint8_t type = event->response_type & 0x7f;
        if (m_damageEvent && type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            // The damage of where it changed only describes pictures; it wakes nobody.
            if (reinterpret_cast<xcb_damage_notify_event_t*>(event.get())->damage == m_damage)
                m_damaged = true;
        } else if (m_xfixesEvent && type == m_xfixesEvent + XCB_XFIXES_CURSOR_NOTIFY) {
            m_cursor.noteSerial(
                reinterpret_cast<xcb_xfixes_cursor_notify_event_t*>(event.get())->cursor_serial);
        } else if (m_randrEvent && (type == m_randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                    type == m_randrEvent + XCB_RANDR_NOTIFY)) {
            m_displayCheckDue = true;
        }
    }
}

Status XcbCaptureSession::followDisplay(MediaTime now) {
    if (!m_displayCheckDue && m_lastDisplayCheck.isValid() &&
        (now - m_lastDisplayCheck).seconds() < displayCheckIntervalSeconds)
        return Ok{};
    m_displayCheckDue = false;
    m_lastDisplayCheck = now;
    findExcludedWindows(); // the panel opens, closes and follows the screen
    const std::optional<QRect> rect = XcbMonitors::geometry(m_connection, m_monitors, m_display.displayId);
    if (m_connection.hasError()) return lost();
    if (!rect || rect->isEmpty()) {
        qCDebug(lcCapture) << "display" << m_display.name << "at" << m_rect << "is no longer listed";
        return gone();
    }
    if (*rect == m_rect) return Ok{};
    if (rect->size() != m_rect.size()) {
        // A new mode: the recording is made again at the display's new size, not scaled to the old one.
        qCDebug(lcCapture) << "display" << m_display.name << "changed from" << m_rect << "to" << *rect;
        return displayResized(QStringLiteral("The display \"%1\" changed size.").arg(m_display.name));
    }
    // Moved only: frames follow the display to its new place.
    qCDebug(lcCapture) << "display" << m_display.name << "moved from" << m_rect << "to" << *rect;
    m_rect = *rect;
    m_needsComplete = true;
    return Ok{};
}

// Our windows are the root's children whose _NET_WM_PID names an excluded process. Asked once a second;
// damage outside a window that moved since is simply not filtered for that second.
void XcbCaptureSession::findExcludedWindows() {
    m_excludedRects.clear();
    if (m_pidAtom == XCB_NONE) return;
    xcb_connection_t* c = m_connection.get();
    auto tree = xcbReply(c, xcb_query_tree_reply, xcb_query_tree(c, m_connection.root()));
    if (!tree) return;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_property_cookie_t> pids;
    pids.reserve(count);
    for (int i = 0; i < count; ++i)
        pids.push_back(xcb_get_property(c, 0, children[i], m_pidAtom, XCB_ATOM_CARDINAL, 0, 1));
    std::vector<xcb_get_geometry_cookie_t> geometries;
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    for (int i = 0; i < count; ++i) {
        auto pid = xcbReply(c, xcb_get_property_reply, pids[i]);
        if (!pid || xcb_get_property_value_length(pid.get()) != 4) continue;
        const int64_t owner = *static_cast<const uint32_t*>(xcb_get_property_value(pid.get()));
        if (std::find(m_excludedProcessIds.begin(), m_excludedProcessIds.end(), owner) ==
            m_excludedProcessIds.end())
            continue;
        geometries.push_back(xcb_get_geometry(c, children[i]));
        attributes.push_back(xcb_get_window_attributes(c, children[i]));
    }
    for (size_t i = 0; i < geometries.size(); ++i) {
        auto geometry = xcbReply(c, xcb_get_geometry_reply, geometries[i]);
        auto attribute = xcbReply(c, xcb_get_window_attributes_reply, attributes[i]);
        if (!geometry || !attribute || attribute->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        const int border = geometry->border_width;
        m_excludedRects.emplace_back(geometry->x, geometry->y, geometry->width + 2 * border,
                                     geometry->height + 2 * border);
    }
}

// Whether every rectangle of `damage` on the display lies in one of our own windows.
bool XcbCaptureSession::onlyInExcludedWindows(const std::vector<QRect>& damage) const {
    return std::all_of(damage.begin(), damage.end(), [&](const QRect& damaged) {
        return !damaged.intersects(m_rect) ||
               std::any_of(m_excludedRects.begin(), m_excludedRects.end(),
                           [&](const QRect& window) { return window.contains(damaged); });
    });
}

std::optional<QPoint> XcbCaptureSession::queryPointer() {
    auto reply = xcbReply(m_connection.get(), xcb_query_pointer_reply,
                          xcb_query_pointer(m_connection.get(), m_connection.root()));
    if (!reply || !reply->same_screen) return std::nullopt;
    return QPoint(reply->root_x, reply->root_y);
}

// Only the shared-memory grab is sent ahead; a plain GetImage is read in finishGrab().
xcb_shm_get_image_cookie_t XcbCaptureSession::sendGrab(const FramePool::Lease& lease) {
    if (!lease.segment) return {0};
    return xcb_shm_get_image(m_connection.get(), m_connection.root(), int16_t(m_rect.x()),
                             int16_t(m_rect.y()), uint16_t(m_rect.width()), uint16_t(m_rect.height()), ~0u,
                             XCB_IMAGE_FORMAT_Z_PIXMAP, lease.segment, 0);
}

bool XcbCaptureSession::finishGrab(const FramePool::Lease& lease, xcb_shm_get_image_cookie_t sent) {
    xcb_connection_t* c = m_connection.get();
    const size_t bytes = m_pool->bytesPerBuffer();
    if (lease.segment) {
        auto reply = xcbReply(c, xcb_shm_get_image_reply, sent);
        return reply && reply->size >= bytes;
    }
    auto reply = xcbReply(c, xcb_get_image_reply,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_connection.root(),
                                        int16_t(m_rect.x()), int16_t(m_rect.y()), uint16_t(m_rect.width()),
                                        uint16_t(m_rect.height()), ~0u));
    if (!reply || size_t(xcb_get_image_data_length(reply.get())) < bytes) return false;
    std::memcpy(lease.pixels, xcb_get_image_data(reply.get()), bytes);
    return true;
}

Error XcbCaptureSession::lost() const {
    return platformError(QStringLiteral("The X display connection was lost."));
}

Error XcbCaptureSession::gone() const {
    return platformError(QStringLiteral("The display \"%1\" was disconnected.").arg(m_display.name));
}
