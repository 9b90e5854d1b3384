#include "OstrelCore/Display/DrawerLife.h"

namespace ostrel {

bool DrawerLife::warm(double now, bool open) {
    const bool wasBuilt = built_;
    built_ = true;
    coolAt_ = open ? std::nullopt : std::optional<double>(now + keep_);
    return !wasBuilt;
}

void DrawerLife::closed(double now) {
    if (built_) {
        coolAt_ = now + keep_;
    }
}

DrawerLife::Check DrawerLife::check(double now, bool busy) {
    if (!built_ || !coolAt_) {
        return Check::idle();
    }
    if (now < *coolAt_) {
        return Check::wait(*coolAt_);
    }
    if (busy) {
        coolAt_ = now + keep_;
        return Check::wait(*coolAt_);
    }
    built_ = false;
    coolAt_.reset();
    return Check::cool();
}

} // namespace ostrel
