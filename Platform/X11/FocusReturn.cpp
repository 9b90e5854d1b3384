#include "Platform/X11/FocusReturn.h"

namespace ostrel::x11 {

void FocusReturn::remember() {
    if (!windows_) {
        return;
    }
    if (const auto focused = windows_->focusedWindow(); focused && !windows_->isOwn(*focused)) {
        previous_ = focused;
    }
}

void FocusReturn::giveBack(WindowId ours) {
    const auto previous = std::exchange(previous_, std::nullopt);
    // A window that went away meanwhile is not brought back.
    if (previous && windows_ && windows_->exists(*previous)) {
        windows_->handFocusBack(*previous, ours);
    }
}

} // namespace ostrel::x11
