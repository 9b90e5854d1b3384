#include "Platform/X11/XcbWindowSystem.h"

#include "Platform/HandOff.h"
#include "Platform/Log.h"
#include "Platform/X11/EventReader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>
// xkb.h names a field `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace ostrel::x11 {

namespace {

// Frees an xcb reply when it goes out of scope.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

// A window we raise again at most this often: another program that keeps raising its own
// window above ours must not lock both into a busy loop.
constexpr int raiseIntervalMs = 50;
// How long a window manager gets to say how large its frames are.
constexpr int extentsWaitMs = 50;

// Sends what Qt's own connection holds and waits until the server has dealt with it.
void syncQt() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t* qt = x11 ? x11->connection() : nullptr) {
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
}

} // namespace

XcbWindowSystem::XcbWindowSystem(const QByteArray& display, QObject* parent)
    : WindowSystem(parent) {
    c_ = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber_);
    if (xcb_connection_has_error(c_)) {
        broken_ = true;
        return;
    }
    setUp();
}

XcbWindowSystem::~XcbWindowSystem() {
    reader_.reset();
    if (c_) {
        xcb_disconnect(c_);
    }
}

bool XcbWindowSystem::isConnected() const {
    return c_ && !broken_ && !xcb_connection_has_error(c_);
}

xcb_atom_t XcbWindowSystem::atom(const char* name) {
    const QByteArray key(name);
    if (const auto it = atoms_.constFind(key); it != atoms_.constEnd()) {
        return *it;
    }
    auto r = reply(xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(key.size()), key.constData()), nullptr));
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    atoms_.insert(key, a);
    return a;
}

void XcbWindowSystem::setUp() {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber_ && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    if (!it.rem) {
        broken_ = true;
        return;
    }
    root_ = it.data->root;

    // Windows that Qt creates carry its connection's resource-id base.
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (xcb_connection_t* qt = x11->connection()) {
            const xcb_setup_t* qtSetup = xcb_get_setup(qt);
            qtIdBase_ = qtSetup->resource_id_base;
            qtIdMask_ = qtSetup->resource_id_mask;
        }
    }

    const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY |
                              XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &rootMask);

    own_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, own_, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);

    if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &xcb_input_id);
        ext && ext->present) {
        auto version = reply(
            xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
        if (version && version->major_version >= 2) {
            xinputOpcode_ = ext->major_opcode;
            selectRawEvents();
        }
    }
    if (!xinputOpcode_) {
        qCWarning(lcPlatform) << "no XInput 2: the pointer is followed over our own windows only";
    }

    if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &xcb_xfixes_id);
        ext && ext->present) {
        // XFixes answers nothing else before its version is asked for.
        auto version = reply(xcb_xfixes_query_version_reply(
            c_, xcb_xfixes_query_version(c_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (version && version->major_version >= 2) {
            hasXfixes_ = true;
            xfixesEvent_ = ext->first_event;
            const QByteArray cm = "_NET_WM_CM_S" + QByteArray::number(screenNumber_);
            xcb_xfixes_select_selection_input(
                c_, own_, atom(cm.constData()),
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
    }
    if (!hasXfixes_) {
        qCWarning(lcPlatform) << "no XFixes: clicks beside the shelf do not pass through";
    }

    if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &xcb_randr_id);
        ext && ext->present) {
        auto version =
            reply(xcb_randr_query_version_reply(c_, xcb_randr_query_version(c_, 1, 5), nullptr));
        if (version && (version->major_version > 1 || version->minor_version >= 5)) {
            hasRandr_ = true;
            randrEvent_ = ext->first_event;
            xcb_randr_select_input(c_, root_,
                                   XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE);
        }
    }

    for (const char* name :
         {"_NET_ACTIVE_WINDOW", "_NET_CURRENT_DESKTOP", "_NET_CLIENT_LIST",
          "_NET_CLIENT_LIST_STACKING", "_NET_WM_STATE", "_NET_WM_PID", "_NET_WM_STATE_FULLSCREEN",
          "_NET_WM_STATE_HIDDEN", "_NET_WM_DESKTOP", "_NET_SUPPORTING_WM_CHECK", "EDID"}) {
        atom(name);
    }
    xcb_flush(c_);

    raiseTimer_ = new QTimer(this);
    raiseTimer_->setSingleShot(true);
    raiseTimer_->setInterval(raiseIntervalMs);
    connect(raiseTimer_, &QTimer::timeout, this, &XcbWindowSystem::raiseKept);
    watchClients();
    startReading();
}

void XcbWindowSystem::startReading() {
    EventReader::Handlers handlers;
    handlers.events = [this](std::vector<EventReader::Event> events) {
        auto batch = std::make_shared<std::vector<EventReader::Event>>(std::move(events));
        postTo(this, [this, batch] {
            for (const EventReader::Event& e : *batch) {
                handle(e.get());
                emit event(e.get());
            }
        });
    };
    handlers.moved = [this] {
        if (!motionQueued_.exchange(true)) {
            postTo(this, [this] {
                motionQueued_ = false;
                emit rawMotion();
            });
        }
    };
    handlers.closed = [this] {
        postTo(this, [this] {
            broken_ = true;
            qCWarning(lcPlatform) << "the X connection closed";
        });
    };
    reader_ = std::make_unique<EventReader>(c_, root_, own_, xinputOpcode_, std::move(handlers));
}

void XcbWindowSystem::watchPointer(const PointerWatch& watch) {
    if (reader_) {
        reader_->setWatch(watch);
    }
}

void XcbWindowSystem::handle(const xcb_generic_event_t* e) {
    const quint8 type = e->response_type & 0x7f;
    if (type == XCB_GE_GENERIC) {
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(e);
        if (!xinputOpcode_ || ge->extension != xinputOpcode_) {
            return;
        }
        switch (ge->event_type) {
        case XCB_INPUT_RAW_KEY_PRESS:
        case XCB_INPUT_RAW_KEY_RELEASE: {
            const auto* k = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(e);
            if (watchModifiers_ && modifierKeys_.contains(k->detail)) {
                if (ge->event_type == XCB_INPUT_RAW_KEY_PRESS) {
                    modifiersDown_.insert(k->detail);
                } else {
                    modifiersDown_.remove(k->detail);
                }
                emit modifierKeysChanged(!modifiersDown_.isEmpty());
            }
            break;
        }
        case XCB_INPUT_RAW_BUTTON_PRESS:
        case XCB_INPUT_RAW_BUTTON_RELEASE: {
            const auto* b = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(e);
            const int button = static_cast<int>(b->detail);
            const bool press = ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS;
            if (button >= 1 && button <= 32) {
                const quint32 bit = 1u << (button - 1);
                buttons_ = press ? (buttons_ | bit) : (buttons_ & ~bit);
            }
            if (press) {
                emit rawButtonPress(button);
            } else {
                emit rawButtonRelease(button);
            }
            break;
        }
        default:
            break;
        }
        return;
    }
    if (hasXfixes_ && type == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* n = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(e);
        emit compositorChanged(n->owner != XCB_NONE);
        return;
    }
    if (hasRandr_ && (type == randrEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                      type == randrEvent_ + XCB_RANDR_NOTIFY)) {
        emit monitorsChanged();
        return;
    }
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
        handleKey(e);
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
        if (p->window == root_) {
            if (p->atom == atom("_NET_ACTIVE_WINDOW")) {
                emit activeWindowChanged();
            } else if (p->atom == atom("_NET_CURRENT_DESKTOP")) {
                emit currentDesktopChanged();
            } else if (p->atom == atom("_NET_CLIENT_LIST_STACKING") ||
                       p->atom == atom("_NET_CLIENT_LIST")) {
                watchClients();
                emit clientListChanged();
            }
        } else if (p->atom == atom("_NET_WM_STATE") || p->atom == atom("_NET_WM_DESKTOP")) {
            emit clientListChanged();
        }
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto* m = reinterpret_cast<const xcb_map_notify_event_t*>(e);
        if (m->event == root_ && !isOwn(m->window)) {
            if (!keptAbove_.isEmpty() && !raiseTimer_->isActive()) {
                raiseKept();
                raiseTimer_->start();
            }
            emit windowsRestacked();
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* cfg = reinterpret_cast<const xcb_configure_notify_event_t*>(e);
        if (cfg->event == root_ && cfg->window != root_ && !isOwn(cfg->window)) {
            if (!keptAbove_.isEmpty() && !raiseTimer_->isActive()) {
                raiseKept();
                raiseTimer_->start();
            }
            emit windowsRestacked();
        }
        break;
    }
    default:
        break;
    }
}

void XcbWindowSystem::selectRawEvents() {
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.mask = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    if (watchModifiers_) {
        mask.mask |=
            XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
    }
    xcb_input_xi_select_events(c_, root_, 1, &mask.head);
}

void XcbWindowSystem::watchModifierKeys(bool on) {
    if (on == watchModifiers_ || !isConnected() || !xinputOpcode_) {
        return;
    }
    watchModifiers_ = on;
    modifiersDown_.clear();
    if (on) {
        // Control_L/R, Alt_L/R, Meta_L/R, Super_L/R.
        modifierKeys_ =
            keycodesOf({0xffe3, 0xffe4, 0xffe9, 0xffea, 0xffe7, 0xffe8, 0xffeb, 0xffec});
    }
    selectRawEvents();
    xcb_flush(c_);
}

// Follows _NET_WM_STATE changes of every managed window (a window turning full screen changes
// nothing on the root).
void XcbWindowSystem::watchClients() {
    const QList<quint32> now = cardinals(root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    for (quint32 w : now) {
        if (!watchedClients_.contains(w)) {
            xcb_change_window_attributes(c_, w, XCB_CW_EVENT_MASK, &mask);
        }
    }
    watchedClients_ = now;
    xcb_flush(c_);
}

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

bool XcbWindowSystem::isOwn(WindowId window) const {
    if (window == 0 || qtIdMask_ == 0) {
        return false;
    }
    return (window & ~qtIdMask_) == qtIdBase_;
}

QByteArray XcbWindowSystem::property(xcb_window_t window, xcb_atom_t prop, xcb_atom_t type,
                                     quint32 longLength) {
    if (!isConnected() || prop == XCB_ATOM_NONE) {
        return {};
    }
    auto r = reply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, prop, type, 0, longLength), nullptr));
    if (!r || r->type == XCB_ATOM_NONE) {
        return {};
    }
    const int len = xcb_get_property_value_length(r.get());
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())), len);
}

QList<quint32> XcbWindowSystem::cardinals(xcb_window_t window, xcb_atom_t prop, xcb_atom_t type) {
    const QByteArray bytes = property(window, prop, type);
    QList<quint32> values(bytes.size() / 4);
    if (!values.isEmpty()) {
        std::memcpy(values.data(), bytes.constData(), static_cast<size_t>(values.size()) * 4);
    }
    return values;
}

std::optional<quint32> XcbWindowSystem::cardinal(xcb_window_t window, xcb_atom_t prop,
                                                 xcb_atom_t type) {
    const QList<quint32> values = cardinals(window, prop, type);
    if (values.isEmpty()) {
        return std::nullopt;
    }
    return values.first();
}

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
    QDeadlineTimer deadline(extentsWaitMs);
    do {
        const QList<quint32> v = cardinals(window, extents, XCB_ATOM_CARDINAL);
        if (v.size() == 4) {
            // Left, right, top, bottom on the wire.
            return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
        }
        QThread::usleep(500);
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

bool XcbWindowSystem::offersMaximise(WindowId window) {
    if (!isConnected() || window == 0) {
        return false;
    }
    // The window manager lists what it lets the user do with a window it manages.
    const QList<quint32> actions =
        cardinals(window, atom("_NET_WM_ALLOWED_ACTIONS"), XCB_ATOM_ATOM);
    return actions.contains(atom("_NET_WM_ACTION_MAXIMIZE_HORZ")) ||
           actions.contains(atom("_NET_WM_ACTION_MAXIMIZE_VERT"));
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

std::unique_ptr<WindowSystem> connectWindowSystem(QObject* parent) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        return nullptr;
    }
    auto system = std::make_unique<XcbWindowSystem>(QByteArray(), parent);
    if (!system->isConnected()) {
        return nullptr;
    }
    return system;
}

} // namespace ostrel::x11

namespace ostrel::x11 {

// A held key repeats: with detectable auto-repeat the server sends presses only, otherwise
// release-press pairs with one timestamp. Either way only the first press counts.
void XcbWindowSystem::handleKey(const xcb_generic_event_t* e) {
    const auto* k = reinterpret_cast<const xcb_key_press_event_t*>(e);
    const quint32 keycode = k->detail;
    if ((e->response_type & 0x7f) == XCB_KEY_RELEASE) {
        keysDown_.remove(keycode);
        lastReleaseKey_ = keycode;
        lastReleaseTime_ = k->time;
        return;
    }
    const bool repeatPair =
        !detectableRepeat_ && lastReleaseKey_ == keycode && lastReleaseTime_ == k->time;
    lastReleaseKey_ = 0;
    if (keysDown_.contains(keycode) || repeatPair) {
        keysDown_.insert(keycode);
        return;
    }
    keysDown_.insert(keycode);
    emit grabbedKeyPressed(keycode, k->state);
}

void XcbWindowSystem::useDetectableRepeat() {
    if (repeatChecked_ || !isConnected()) {
        return;
    }
    repeatChecked_ = true;
    auto use = reply(xcb_xkb_use_extension_reply(c_, xcb_xkb_use_extension(c_, 1, 0), nullptr));
    if (!use || !use->supported) {
        qCWarning(lcPlatform) << "no XKB: held keys are told from repeats by their timestamps";
        return;
    }
    const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    auto flags = reply(xcb_xkb_per_client_flags_reply(
        c_, xcb_xkb_per_client_flags(c_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr));
    detectableRepeat_ = flags && (flags->value & flag) != 0;
}

WindowSystem::GrabResult XcbWindowSystem::grabKey(quint32 keycode, quint16 modifiers) {
    if (!isConnected() || keycode > 255) {
        return GrabResult::refused;
    }
    useDetectableRepeat();
    xcb_generic_error_t* error = xcb_request_check(
        c_, xcb_grab_key_checked(c_, 1, root_, modifiers, static_cast<xcb_keycode_t>(keycode),
                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    if (!error) {
        return GrabResult::grabbed;
    }
    const quint8 code = error->error_code;
    std::free(error);
    if (code != XCB_ACCESS) {
        qCWarning(lcPlatform) << "the X server refused a key grab with error" << code;
    }
    return code == XCB_ACCESS ? GrabResult::taken : GrabResult::refused;
}

void XcbWindowSystem::ungrabKey(quint32 keycode, quint16 modifiers) {
    if (!isConnected() || keycode > 255) {
        return;
    }
    // A round trip: once this returns the server has let go, so another client (or our next
    // grab of a changed shortcut) finds the combination free.
    std::free(xcb_request_check(
        c_, xcb_ungrab_key_checked(c_, static_cast<xcb_keycode_t>(keycode), root_, modifiers)));
    keysDown_.remove(keycode);
}

QSet<quint32> XcbWindowSystem::keycodesOf(std::initializer_list<quint32> keysyms) {
    QSet<quint32> codes;
    const xcb_setup_t* setup = xcb_get_setup(c_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto map = reply(xcb_get_keyboard_mapping_reply(
        c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, static_cast<quint8>(count)), nullptr));
    if (!map || map->keysyms_per_keycode == 0) {
        return codes;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int symCount = xcb_get_keyboard_mapping_keysyms_length(map.get());
    for (int i = 0; i < symCount; ++i) {
        if (std::find(keysyms.begin(), keysyms.end(), syms[i]) != keysyms.end()) {
            codes.insert(setup->min_keycode + i / map->keysyms_per_keycode);
        }
    }
    return codes;
}

quint16 XcbWindowSystem::numLockMask() {
    if (!isConnected()) {
        return 0;
    }
    const QSet<quint32> numLockKeys = keycodesOf({0xff7f});
    auto mods = reply(xcb_get_modifier_mapping_reply(c_, xcb_get_modifier_mapping(c_), nullptr));
    if (!mods) {
        return 0;
    }
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(mods.get());
    const int perMod = mods->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod) {
        for (int j = 0; j < perMod; ++j) {
            const xcb_keycode_t key = keys[mod * perMod + j];
            if (key != 0 && numLockKeys.contains(key)) {
                return static_cast<quint16>(1u << mod);
            }
        }
    }
    return 0;
}

bool XcbWindowSystem::hasKey(quint32 keycode) {
    if (!isConnected()) {
        return false;
    }
    const xcb_setup_t* setup = xcb_get_setup(c_);
    if (keycode < setup->min_keycode || keycode > setup->max_keycode) {
        return false;
    }
    auto map = reply(xcb_get_keyboard_mapping_reply(
        c_, xcb_get_keyboard_mapping(c_, static_cast<xcb_keycode_t>(keycode), 1), nullptr));
    if (!map) {
        return false;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int n = xcb_get_keyboard_mapping_keysyms_length(map.get());
    return std::any_of(syms, syms + n, [](xcb_keysym_t s) { return s != 0; });
}

} // namespace ostrel::x11
