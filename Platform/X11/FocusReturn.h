#pragma once

#include "Platform/X11/WindowSystem.h"

#include <QPointer>

#include <optional>

namespace ostrel::x11 {

// The window that had the keyboard before one of our ordinary windows came up (the terminal the
// user works in), given the keyboard back when ours closes, if it still exists. Main thread only.
class FocusReturn {
public:
    // `windows` may be null (no X display of our own): nothing is remembered.
    explicit FocusReturn(WindowSystem* windows) : windows_(windows) {}

    // Our window is coming up: the focused window is remembered, unless it is one of ours, in
    // which case the one remembered earlier stays.
    void remember();
    // Our window `ours` closed: the remembered window gets the keyboard back and is forgotten.
    void giveBack(WindowId ours);
    const std::optional<WindowId>& previous() const { return previous_; }

private:
    QPointer<WindowSystem> windows_;
    std::optional<WindowId> previous_;
};

} // namespace ostrel::x11
