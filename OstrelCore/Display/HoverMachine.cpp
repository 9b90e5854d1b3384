#include "OstrelCore/Display/HoverMachine.h"

namespace ostrel {

namespace {

// A timer that fires exactly at a deadline counts as having reached it.
constexpr double margin = 1e-6;

} // namespace

HoverMachine::Action HoverMachine::pointer(double now, std::optional<quint32> hot, double dwell,
                                           bool insideOpen, double closeDuration) {
    if (std::holds_alternative<Closed>(phase_)) {
        if (!hot) {
            return Action::none();
        }
        phase_ = Dwelling{*hot, now, dwell};
        if (dwell > 0) {
            return Action::none();
        }
        return pointer(now, hot, dwell, insideOpen, 0);
    }
    if (const auto* d = std::get_if<Dwelling>(&phase_)) {
        if (!hot) {
            phase_ = Closed{};
            return Action::none();
        }
        if (*hot != d->target) {
            phase_ = Dwelling{*hot, now, dwell};
            return Action::none();
        }
        // The dwell stored when the dwelling began counts, not this sample's.
        if (d->since + d->dwell - margin <= now) {
            const quint32 target = d->target;
            phase_ = Open{target, Reason::hover, true, std::nullopt};
            return Action::open(target);
        }
        return Action::none();
    }
    if (auto* o = std::get_if<Open>(&phase_)) {
        if (insideOpen || hot == o->target) {
            o->entered = true;
            o->outsideSince.reset();
            return Action::none();
        }
        if (o->reason != Reason::hover && !o->entered) {
            return Action::none();
        }
        if (!o->outsideSince) {
            o->outsideSince = now;
            return Action::none();
        }
        if (*o->outsideSince + grace_ - margin <= now) {
            if (closeDuration > 0) {
                phase_ = Closing{o->target, now + closeDuration};
            } else {
                phase_ = Closed{};
            }
            return Action::close();
        }
        return Action::none();
    }
    const auto c = std::get<Closing>(phase_);
    if (now < c.until && (insideOpen || hot == c.target)) {
        phase_ = Open{c.target, Reason::hover, true, std::nullopt};
        return Action::open(c.target);
    }
    if (now < c.until && !hot) {
        return Action::none();
    }
    phase_ = Closed{};
    return pointer(now, hot, dwell, false, 0);
}

HoverMachine::Action HoverMachine::hotkey(quint32 target) {
    if (std::holds_alternative<Open>(phase_)) {
        phase_ = Closed{};
        return Action::close();
    }
    phase_ = Open{target, Reason::hotkey, false, std::nullopt};
    return Action::open(target);
}

HoverMachine::Action HoverMachine::click(quint32 target) {
    if (const auto* o = std::get_if<Open>(&phase_); o && o->target == target) {
        return Action::none();
    }
    phase_ = Open{target, Reason::click, false, std::nullopt};
    return Action::open(target);
}

HoverMachine::Action HoverMachine::clickOutside() {
    if (std::holds_alternative<Open>(phase_)) {
        phase_ = Closed{};
        return Action::close();
    }
    return Action::none();
}

std::optional<HoverMachine::ClosingLeft> HoverMachine::closing(double now) const {
    if (const auto* c = std::get_if<Closing>(&phase_); c && now < c->until) {
        return ClosingLeft{c->target, c->until - now};
    }
    return std::nullopt;
}

std::optional<double> HoverMachine::deadline() const {
    if (const auto* d = std::get_if<Dwelling>(&phase_)) {
        return d->since + d->dwell;
    }
    if (const auto* o = std::get_if<Open>(&phase_); o && o->outsideSince) {
        return *o->outsideSince + grace_;
    }
    return std::nullopt;
}

std::optional<quint32> HoverMachine::openTarget() const {
    if (const auto* o = std::get_if<Open>(&phase_)) {
        return o->target;
    }
    return std::nullopt;
}

bool ShelfKeyRule::panelMayBeKey(const HoverMachine::Phase& phase, bool pointerInside,
                                 bool previewShowing) {
    const auto* o = std::get_if<HoverMachine::Open>(&phase);
    return o && (o->reason == HoverMachine::Reason::hotkey || pointerInside || previewShowing);
}

void HoverFreeze::scrolled(const QPointF& pointer) {
    if (!frozenAt_) {
        frozenAt_ = pointer;
    }
}

void HoverFreeze::moved(const QPointF& to) {
    if (frozenAt_ && (frozenAt_->x() != to.x() || frozenAt_->y() != to.y())) {
        frozenAt_.reset();
    }
}

bool operator==(const HoverFreeze& a, const HoverFreeze& b) {
    return a.frozenAt_.has_value() == b.frozenAt_.has_value() &&
           (!a.frozenAt_ ||
            (a.frozenAt_->x() == b.frozenAt_->x() && a.frozenAt_->y() == b.frozenAt_->y()));
}

} // namespace ostrel
