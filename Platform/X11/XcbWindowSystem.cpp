// The connection of our own to the X server: setting it up, reading its events on a thread and
// sorting them out on the main thread, the selections it watches, and reading properties.
#include "Platform/X11/XcbWindowSystem.h"

#include "Platform/HandOff.h"
#include "Platform/Log.h"
#include "Platform/X11/EventReader.h"
#include "Platform/X11/XcbWindowSystemParts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <cstring>

namespace ostrel::x11 {

using xcbParts::reply;

namespace {

// A window we raise again at most this often: another program that keeps raising its own
// window above ours must not lock both into a busy loop.
constexpr int raiseIntervalMs = 50;

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

    // Made before the root's changes are selected: its own creation would wake the reader.
    own_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, own_, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);

    const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY |
                              XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &rootMask);

    if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &xcb_input_id);
        ext && ext->present) {
        auto version = reply(
            xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
        if (version && version->major_version >= 2) {
            xinputOpcode_ = ext->major_opcode;
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
    selectRawEvents();
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
    handlers.moved = [this](QPoint at) {
        motionAt_ = at;
        if (!motionQueued_.exchange(true)) {
            postTo(this, [this] {
                // Cleared before the place is read: a move stored after the read posts anew.
                motionQueued_ = false;
                reportMotion(motionAt_);
            });
        }
    };
    handlers.closed = [this] {
        postTo(this, [this] {
            broken_ = true;
            qCWarning(lcPlatform) << "the X connection closed";
            emit connectionLost();
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
    if (!reader_ || !xinputOpcode_) {
        return;
    }
    quint32 mask =
        XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    if (watchModifiers_) {
        mask |= XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
    }
    // Raw motion is the reader's to select.
    reader_->selectRawEvents(mask);
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
