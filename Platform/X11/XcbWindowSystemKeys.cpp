// Keys: grabs of the hot key in each lock variant, a held key told from its repeats, the
// modifier keys followed through raw events, and key codes looked up from key symbols.
#include "Platform/X11/XcbWindowSystem.h"

#include "Platform/Log.h"
#include "Platform/X11/XcbWindowSystemParts.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>
// xkb.h names a field `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>

namespace ostrel::x11 {

using xcbParts::reply;

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
