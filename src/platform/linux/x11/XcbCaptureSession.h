#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/capture/FramePool.h"
#include "platform/linux/x11/XcbConnection.h"
#include "platform/linux/x11/XcbCursor.h"

#include <QRect>
#include <vector>
#include <xcb/damage.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <memory>
#include <optional>
#include <thread>

// What a capture stream holds of the X server: its own connection, a damage object on the root window,
// the cursor, the display's rectangle and the frame pool. Opened on the caller's thread, then used by the
// capture thread only.
class XcbCaptureSession {
public:
    // Damage inside the windows of `excludedProcessIds` alone (our own panel) makes no frame: X11 cannot
    // leave those windows out of the picture, but their animation need not cost an encode.
    static Result<std::unique_ptr<XcbCaptureSession>> open(const QString& displayName,
                                                           const DisplayInfo& display,
                                                           const std::vector<int64_t>& excludedProcessIds,
                                                           const StreamConfiguration& configuration);

    // One tick stamped `now`: a complete frame when the screen or the cursor changed since the last one (and
    // always first), an idle frame otherwise, none when every buffer is still held downstream, or the error
    // that ends the stream.
    Result<std::optional<CapturedFrame>> capture(MediaTime now);

private:
    XcbCaptureSession(XcbConnection connection, const DisplayInfo& display,
                      std::vector<int64_t> excludedProcessIds, const StreamConfiguration& configuration);
    void findExcludedWindows();
    bool onlyInExcludedWindows(const std::vector<QRect>& damage) const;
    xcb_xfixes_fetch_region_cookie_t fetchDamage(xcb_damage_damage_t damage);
    std::optional<std::vector<QRect>> takeDamage(xcb_xfixes_fetch_region_cookie_t cookie);
    void describeChanges(PixelBuffer& picture, const std::optional<std::vector<QRect>>& taken,
                         std::optional<QRect> cursor);
    Status setUp();
    void readEvents();
    Status makePool(QSize size);
    Status followDisplay(MediaTime now);
    std::optional<QPoint> queryPointer();
    xcb_shm_get_image_cookie_t sendGrab(const FramePool::Lease& lease);
    bool finishGrab(const FramePool::Lease& lease, xcb_shm_get_image_cookie_t sent);
    Error lost() const;
    Error gone() const;

    std::thread::id m_captureThread; // the thread of the first capture(); every later one must match
    XcbConnection m_connection;
    const DisplayInfo m_display;
    const std::vector<int64_t> m_excludedProcessIds;
    const bool m_showsCursor;
    const int m_queueDepth;

    bool m_monitors = false;   // RandR 1.5
    bool m_shm = false;        // MIT-SHM works; once it fails the stream stays on plain GetImage
    uint8_t m_damageEvent = 0; // first event codes; 0 when the extension is missing
    uint8_t m_xfixesEvent = 0;
    uint8_t m_randrEvent = 0;
    xcb_damage_damage_t m_damage = XCB_NONE;  // wakes us: reset before each grab
    xcb_damage_damage_t m_changes = XCB_NONE; // where pictures changed: reset after each grab
    uint32_t m_pidAtom = XCB_NONE;            // _NET_WM_PID
    uint32_t m_damageRegion = XCB_NONE;       // XFixes region the damage is moved into
    std::vector<QRect> m_excludedRects;       // their mapped top-level windows, root coordinates

    QRect m_rect; // the display in root coordinates
    std::shared_ptr<FramePool> m_pool;
    XcbCursor m_cursor;
    std::optional<QPoint> m_lastPointer; // as drawn into the last complete frame
    bool m_damaged = false;
    bool m_grabFailing = false; // the last grab failed
    bool m_needsComplete = true;
    bool m_frameDue = false; // damage outside our windows was taken and is in no picture yet

    // What changed since the last picture, in root coordinates (see describeChanges()).
    uint64_t m_lastSequence = 0;  // the last picture handed on
    std::vector<QRect> m_carried; // changes taken after the last picture's grab (or a failed one since)
    bool m_carriedKnown = true;   // every change since then was read
    std::optional<QRect> m_lastCursor;
    bool m_displayCheckDue = false;
    MediaTime m_lastDisplayCheck;
};
