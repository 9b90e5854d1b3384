// Our own windows among the others: kept above newly mapped windows, clicks let through by input
// shapes, the focus handed back to the window that had it, and the frames a manager puts around.
#include "Platform/X11/XcbWindowSystem.h"
#include "Platform/X11/XcbWindowSystemParts.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace ostrel::x11 {

using xcbParts::reply;

namespace {

// How long a window manager gets to say how large its frames are. A manager that offers to say
// does answer, but on a busy machine it may not run for a while: an answer missed places a
// window as if it had no frame, and the title bar then lands where the window was kept from.
constexpr int extentsWaitMs = 500;

// Sends what Qt's own connection holds and waits until the server has dealt with it.
void syncQt() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t* qt = x11 ? x11->connection() : nullptr) {
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
}

} // namespace

void XcbWindowSystem::raiseKept() {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    for (WindowId w : std::as_const(keptAbove_)) {
        xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    if (keptOnTop_) {
        // Qt may still hold the window's geometry or mapping unsent: stacking it first would have
        // the server report the old geometry back, which Qt would take for a change by the user.
        syncQt();
        const xcb_window_t top = topLevel(*keptOnTop_);
        if (top == *keptOnTop_) {
            xcb_configure_window(c_, top, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        } else {
            // A window manager's frame is the manager's to stack (and it keeps its frames below
            // windows it does not manage): the kept windows go just beneath it instead.
            const uint32_t beneath[] = {top, XCB_STACK_MODE_BELOW};
            for (WindowId w : std::as_const(keptAbove_)) {
                xcb_configure_window(
                    c_, w, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, beneath);
            }
        }
    }
    xcb_flush(c_);
}

// The child of the root that holds `window`: the window manager's frame, or the window itself.
xcb_window_t XcbWindowSystem::topLevel(xcb_window_t window) {
    xcb_window_t w = window;
    for (int depth = 0; depth < 8; ++depth) {
        auto tree = reply(xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr));
        if (!tree || tree->parent == root_ || tree->parent == XCB_NONE) {
            break;
        }
        w = tree->parent;
    }
    return w;
}

void XcbWindowSystem::setInputShape(WindowId window, const QList<QRect>& rects) {
    if (!isConnected() || !hasXfixes_) {
        return;
    }
    std::vector<xcb_rectangle_t> xr;
    xr.reserve(static_cast<size_t>(rects.size()));
    for (const QRect& r : rects) {
        if (r.width() > 0 && r.height() > 0) {
            xr.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()),
                          static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())});
        }
    }
    const xcb_xfixes_region_t region = xcb_generate_id(c_);
    xcb_xfixes_create_region(c_, region, static_cast<uint32_t>(xr.size()), xr.data());
    xcb_xfixes_set_window_shape_region(c_, window, XCB_SHAPE_SK_INPUT, 0, 0, region);
    xcb_xfixes_destroy_region(c_, region);
    xcb_flush(c_);
}

void XcbWindowSystem::clearInputShape(WindowId window) {
    if (!isConnected() || !hasXfixes_) {
        return;
    }
    xcb_xfixes_set_window_shape_region(c_, window, XCB_SHAPE_SK_INPUT, 0, 0, XCB_NONE);
    xcb_flush(c_);
}

void XcbWindowSystem::setKeptAbove(const QList<WindowId>& windows) {
    keptAbove_ = windows;
}

void XcbWindowSystem::setKeptOnTop(std::optional<WindowId> window) {
    keptOnTop_ = window;
    if (isConnected() && window) {
        raiseKept();
    }
}

std::optional<QMargins> XcbWindowSystem::frameExtents(WindowId window) {
    if (!isConnected()) {
        return std::nullopt;
    }
    if (!hasWindowManager()) {
        return QMargins();
    }
    const xcb_atom_t extents = atom("_NET_FRAME_EXTENTS");
    const xcb_atom_t request = atom("_NET_REQUEST_FRAME_EXTENTS");
    if (!cardinals(root_, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM).contains(request)) {
        return std::nullopt;
    }
    // A manager that let the window go may have left zeros: only a fresh answer counts.
    xcb_delete_property(c_, window, extents);
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = window;
    m.type = request;
    xcb_send_event(c_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&m));
    xcb_flush(c_);
    // The manager answers within a round trip or two of its own; one that does not is not
    // waited for long.
    // Asked often at first, then less: a busy manager is not kept busier by our questions.
    QDeadlineTimer deadline(extentsWaitMs);
    unsigned long pause = 500;
    do {
        const QList<quint32> v = cardinals(window, extents, XCB_ATOM_CARDINAL);
        if (v.size() == 4) {
            // Left, right, top, bottom on the wire.
            return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
        }
        QThread::usleep(pause);
        pause = std::min(pause * 2, 16'000ul);
    } while (!deadline.hasExpired());
    return std::nullopt;
}

void XcbWindowSystem::raise(WindowId window) {
    if (!isConnected()) {
        return;
    }
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c_);
}

std::optional<WindowId> XcbWindowSystem::focusedWindow() {
    if (!isConnected()) {
        return std::nullopt;
    }
    if (hasWindowManager()) {
        if (const auto w = activeWindow()) {
            return w;
        }
    }
    auto f = reply(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    if (!f || f->focus == XCB_NONE || f->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        f->focus == root_) {
        return std::nullopt;
    }
    return f->focus;
}

void XcbWindowSystem::handFocusBack(WindowId window, WindowId ours) {
    if (!isConnected() || window == 0) {
        return;
    }
    if (hasWindowManager()) {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = window;
        m.type = atom("_NET_ACTIVE_WINDOW");
        m.data.data32[0] = 2; // from a pager: the window manager obeys without second thoughts
        m.data.data32[1] = XCB_CURRENT_TIME;
        m.data.data32[2] = ours;
        xcb_send_event(c_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&m));
    } else {
        xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    }
    xcb_flush(c_);
}

} // namespace ostrel::x11
