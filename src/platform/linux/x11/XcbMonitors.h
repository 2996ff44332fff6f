#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/x11/XcbConnection.h"

#include <QRect>

#include <optional>

// The displays of an X screen: its active RandR monitors, identified by their name atoms. A server without
// RandR 1.5 monitors, or one that reports none, has a single display covering the root window.
namespace XcbMonitors {

// Identifies the whole root window; no atom has this value.
inline constexpr uint32_t rootDisplayId = XCB_ATOM_NONE;

// Negotiates RandR 1.5 on the connection; false when monitors cannot be listed.
bool negotiate(const XcbConnection& connection);

// Needs negotiate() first when monitors is true.
ShareableContent list(const XcbConnection& connection, bool monitors);

// The display's current rectangle in root coordinates, none once it is gone. One round trip and no atom
// names, so the capture thread can call it often.
std::optional<QRect> geometry(const XcbConnection& connection, bool monitors, uint32_t displayId);

} // namespace XcbMonitors
