#pragma once

#include <cmath>
#include <optional>

namespace ostrel {

// Holds a scroll view at its very top while its owner says so, and lets go the moment the user
// scrolls it. New turns arrive at the top of the turn grid; while pinned they stay in view however
// the content grows. The rules are plain values; `ScrollArea` applies them to its offset.
struct ScrollTopPin {
    // Off by no more than this counts as at the top, so rounding never makes the pin fight itself.
    static constexpr double slack = 0.5;

    bool pinned = true;
    // Set only while the pin itself moves the view, so that the move does not re-pin recursively.
    bool holding = false;

    // Where the view's origin `y` must go to be at its top (-`topInset`); none when it is there
    // within the slack, when not pinned, or while the pin is already moving it.
    std::optional<double> repin(double y, double topInset) const {
        if (!pinned || holding || std::abs(topInset + y) <= slack) {
            return std::nullopt;
        }
        return -topInset;
    }

    // The owner's wish; returns whether the view must re-pin now (only a change to pinned does).
    bool setPinned(bool on) {
        const bool repinNow = on && !pinned;
        pinned = on;
        return repinNow;
    }

    // A wheel or trackpad event over the view: one that moves vertically, or that begins a
    // gesture, releases the pin. Returns whether it did (the owner is told once).
    bool wheel(double deltaY, bool gestureBegan) {
        if (!pinned || (deltaY == 0 && !gestureBegan)) {
            return false;
        }
        pinned = false;
        return true;
    }

    friend bool operator==(const ScrollTopPin&, const ScrollTopPin&) = default;
};

} // namespace ostrel
