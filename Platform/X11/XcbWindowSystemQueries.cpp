// What the server tells about the desktop: monitors, the window manager and its client windows,
// the active window and desktop, the pointer, and whether a compositor runs.
#include "Platform/X11/XcbWindowSystem.h"
#include "Platform/X11/XcbWindowSystemParts.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace ostrel::x11 {

using xcbParts::reply;

QList<Monitor> XcbWindowSystem::monitors() {
    QList<Monitor> result;
    if (!isConnected() || !hasRandr_) {
        return result;
    }
    auto resources = reply(xcb_randr_get_screen_resources_current_reply(
        c_, xcb_randr_get_screen_resources_current(c_, root_), nullptr));
    auto list =
        reply(xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root_, 1), nullptr));
    if (!list) {
        return result;
    }
    auto modeSize = [&](xcb_randr_mode_t id) -> std::optional<QSize> {
        if (!resources) {
            return std::nullopt;
        }
        const xcb_randr_mode_info_t* modes =
            xcb_randr_get_screen_resources_current_modes(resources.get());
        const int n = xcb_randr_get_screen_resources_current_modes_length(resources.get());
        for (int i = 0; i < n; ++i) {
            if (modes[i].id == id) {
                return QSize(modes[i].width, modes[i].height);
            }
        }
        return std::nullopt;
    };
    const xcb_timestamp_t stamp = resources ? resources->config_timestamp : XCB_CURRENT_TIME;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(list.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* info = it.data;
        Monitor m;
        auto name = reply(xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, info->name), nullptr));
        if (name) {
            m.name = QString::fromUtf8(xcb_get_atom_name_name(name.get()),
                                       xcb_get_atom_name_name_length(name.get()));
        }
        m.geometry = QRect(info->x, info->y, info->width, info->height);
        m.primary = info->primary != 0;
        if (xcb_randr_monitor_info_outputs_length(info) > 0) {
            const xcb_randr_output_t output = xcb_randr_monitor_info_outputs(info)[0];
            m.output = output;
            auto out = reply(xcb_randr_get_output_info_reply(
                c_, xcb_randr_get_output_info(c_, output, stamp), nullptr));
            if (out) {
                if (out->num_preferred > 0 &&
                    xcb_randr_get_output_info_modes_length(out.get()) > 0) {
                    m.preferredMode = modeSize(xcb_randr_get_output_info_modes(out.get())[0]);
                }
                if (out->crtc != XCB_NONE) {
                    auto crtc = reply(xcb_randr_get_crtc_info_reply(
                        c_, xcb_randr_get_crtc_info(c_, out->crtc, stamp), nullptr));
                    if (crtc && crtc->mode != XCB_NONE) {
                        m.currentMode = modeSize(crtc->mode);
                    }
                }
            }
            if (const xcb_atom_t edid = atom("EDID"); edid != XCB_ATOM_NONE) {
                auto prop = reply(xcb_randr_get_output_property_reply(
                    c_, xcb_randr_get_output_property(c_, output, edid, XCB_ATOM_ANY, 0, 256, 0, 0),
                    nullptr));
                if (prop && prop->format == 8) {
                    m.edid = QByteArray(reinterpret_cast<const char*>(
                                            xcb_randr_get_output_property_data(prop.get())),
                                        xcb_randr_get_output_property_data_length(prop.get()));
                }
            }
        }
        result.append(m);
    }
    return result;
}

bool XcbWindowSystem::hasWindowManager() {
    const auto check = cardinal(root_, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (!check || *check == 0) {
        return false;
    }
    // A stale property left by a window manager that exited names a window that is gone.
    const auto self = cardinal(*check, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    return self && *self == *check;
}

QList<ClientWindow> XcbWindowSystem::clientWindows() {
    QList<ClientWindow> result;
    if (!isConnected()) {
        return result;
    }
    QList<quint32> ids = cardinals(root_, atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (ids.isEmpty()) {
        ids = cardinals(root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    }
    const auto desktop = currentDesktop();
    const xcb_atom_t fullscreen = atom("_NET_WM_STATE_FULLSCREEN");
    const xcb_atom_t hidden = atom("_NET_WM_STATE_HIDDEN");
    // Bottom to top on the wire; front first here.
    for (auto it = ids.crbegin(); it != ids.crend(); ++it) {
        const xcb_window_t w = *it;
        auto geometry = reply(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
        if (!geometry) {
            continue; // gone meanwhile
        }
        auto origin = reply(xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
        ClientWindow client;
        client.id = w;
        client.bounds =
            QRect(origin ? origin->dst_x : geometry->x, origin ? origin->dst_y : geometry->y,
                  geometry->width, geometry->height);
        if (const auto pid = cardinal(w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL)) {
            client.pid = static_cast<qint32>(*pid);
        }
        const QList<quint32> state = cardinals(w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
        client.fullscreen = state.contains(fullscreen);
        client.hidden = state.contains(hidden);
        if (const auto onDesktop = cardinal(w, atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL);
            onDesktop && desktop && *onDesktop != 0xFFFFFFFFu && *onDesktop != *desktop) {
            client.hidden = true;
        }
        result.append(client);
    }
    return result;
}

std::optional<WindowId> XcbWindowSystem::activeWindow() {
    const auto w = cardinal(root_, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!w || *w == 0) {
        return std::nullopt;
    }
    return *w;
}

std::optional<qint32> XcbWindowSystem::activeWindowPid() {
    const auto w = activeWindow();
    if (!w) {
        return std::nullopt;
    }
    const auto pid = cardinal(*w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (!pid) {
        return std::nullopt;
    }
    return static_cast<qint32>(*pid);
}

std::optional<quint32> XcbWindowSystem::currentDesktop() {
    return cardinal(root_, atom("_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
}

PointerSample XcbWindowSystem::pointer() {
    PointerSample sample;
    if (!isConnected()) {
        return sample;
    }
    auto p = reply(xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr));
    if (!p) {
        return sample;
    }
    sample.position = QPoint(p->root_x, p->root_y);
    sample.window = p->child;
    sample.overOwnWindow = isOwn(p->child);
    if (!sample.overOwnWindow && p->child != XCB_NONE) {
        // A window manager's frame holds the client one level down.
        auto inner = reply(xcb_query_pointer_reply(c_, xcb_query_pointer(c_, p->child), nullptr));
        sample.overOwnWindow = inner && isOwn(inner->child);
    }
    return sample;
}

bool XcbWindowSystem::exists(WindowId window) {
    if (!isConnected() || window == 0) {
        return false;
    }
    auto attributes =
        reply(xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr));
    if (!attributes) {
        return false;
    }
    // A window manager brings back a minimised window it is asked to activate; without one an
    // unmapped window cannot take the focus.
    return attributes->map_state == XCB_MAP_STATE_VIEWABLE || hasWindowManager();
}

bool XcbWindowSystem::compositorRunning() {
    if (!isConnected()) {
        return false;
    }
    const QByteArray cm = "_NET_WM_CM_S" + QByteArray::number(screenNumber_);
    auto owner = reply(xcb_get_selection_owner_reply(
        c_, xcb_get_selection_owner(c_, atom(cm.constData())), nullptr));
    return owner && owner->owner != XCB_NONE;
}

} // namespace ostrel::x11
