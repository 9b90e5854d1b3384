#include "OstrelCore/Display/StyleChange.h"

namespace ostrel {

StyleChange::Action StyleChange::applyNow(const DisplayStyleChoice& choice, bool arrive) {
    applied_ = choice;
    leaving_ = false;
    ++generation_;
    return Action::apply(choice, arrive, generation_);
}

StyleChange::Action StyleChange::request(const DisplayStyleChoice& choice, bool showsAtRest,
                                         bool animate) {
    target_ = choice;
    if (!animate) {
        if (choice == applied_ && !leaving_) {
            return Action::none();
        }
        return applyNow(choice, false);
    }
    if (leaving_) {
        // The leave under way applies the latest target; asking for the shown style again
        // cancels it, and its completion turns stale.
        return choice == applied_ ? applyNow(choice, true) : Action::none();
    }
    if (choice == applied_) {
        return Action::none();
    }
    if (showsAtRest) {
        leaving_ = true;
        ++generation_;
        return Action::leave(generation_);
    }
    return applyNow(choice, true);
}

StyleChange::Action StyleChange::leaveEnded(int generation) {
    if (!leaving_ || generation != generation_) {
        return Action::none();
    }
    return applyNow(target_, true);
}

StyleChange::Action StyleChange::settle() {
    if (!leaving_) {
        return Action::none();
    }
    return applyNow(target_, false);
}

} // namespace ostrel
