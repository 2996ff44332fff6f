#include "platform/linux/x11/XcbMonitors.h"

#include <xcb/randr.h>

#include <vector>

namespace {

std::optional<QRect> rootGeometry(const XcbConnection& connection) {
    // The setup data keeps the size from connection time; RandR may have resized the screen since.
    auto reply = xcbReply(connection.get(), xcb_get_geometry_reply,
                          xcb_get_geometry(connection.get(), connection.root()));
    if (!reply) return std::nullopt;
    return QRect(0, 0, reply->width, reply->height);
}

XcbReply<xcb_randr_get_monitors_reply_t> activeMonitors(const XcbConnection& connection) {
    return xcbReply(connection.get(), xcb_randr_get_monitors_reply,
                    xcb_randr_get_monitors(connection.get(), connection.root(), 1));
}

QString atomName(const XcbConnection& connection, xcb_get_atom_name_cookie_t cookie) {
    auto reply = xcbReply(connection.get(), xcb_get_atom_name_reply, cookie);
    if (!reply) return QString();
    return QString::fromUtf8(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

} // namespace

bool XcbMonitors::negotiate(const XcbConnection& connection) {
    if (!connection.extension(&xcb_randr_id)) return false;
    auto version = xcbReply(connection.get(), xcb_randr_query_version_reply,
                            xcb_randr_query_version(connection.get(), 1, 5));
    return version && (version->major_version > 1 || version->minor_version >= 5);
}

ShareableContent XcbMonitors::list(const XcbConnection& connection, bool monitors) {
    ShareableContent content;
    XcbReply<xcb_randr_get_monitors_reply_t> reply;
    if (monitors) reply = activeMonitors(connection);
    if (reply && reply->nMonitors > 0) {
        std::vector<xcb_get_atom_name_cookie_t> names;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it))
            names.push_back(xcb_get_atom_name(connection.get(), it.data->name));
        size_t index = 0;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it), ++index) {
            const xcb_randr_monitor_info_t& m = *it.data;
            content.displays.push_back(DisplayInfo{m.name, atomName(connection, names[index]),
                                                   double(m.width), double(m.height), m.x, m.y});
            if (m.primary && content.mainDisplayId == rootDisplayId) content.mainDisplayId = m.name;
        }
        if (content.mainDisplayId == rootDisplayId)
            content.mainDisplayId = content.displays.front().displayId;
        return content;
    }
    if (const auto root = rootGeometry(connection)) {
        content.displays.push_back(DisplayInfo{rootDisplayId, QStringLiteral("screen"), double(root->width()),
                                               double(root->height()), 0, 0});
        content.mainDisplayId = rootDisplayId;
    }
    return content;
}

std::optional<QRect> XcbMonitors::geometry(const XcbConnection& connection, bool monitors,
                                           uint32_t displayId) {
    if (displayId == rootDisplayId) return rootGeometry(connection);
    if (!monitors) return std::nullopt;
    auto reply = activeMonitors(connection);
    if (!reply) return std::nullopt;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        if (it.data->name == displayId) return QRect(it.data->x, it.data->y, it.data->width, it.data->height);
    }
    return std::nullopt;
}
