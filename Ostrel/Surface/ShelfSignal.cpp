#include "Ostrel/Surface/ShelfSignal.h"

#include "OstrelCore/Display/PulseSchedule.h"
#include "OstrelCore/Display/StripScroll.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace ostrel {

namespace {

// The direction a pill's peek card leaves the screen by (y down).
QPointF outward(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
        return {-1, 0};
    case DisplayStylePosition::top:
        return {0, -1};
    case DisplayStylePosition::right:
        return {1, 0};
    case DisplayStylePosition::bottom:
        return {0, 1};
    }
    return {};
}

} // namespace

ShelfSignal::ShelfSignal(quint32 display, Hooks hooks)
    : display_(display), hooks_(std::move(hooks)) {}

double ShelfSignal::restOpacity(const Inputs& in) const {
    return Motion::glowOpacity(in.glowStrength, motion());
}

void ShelfSignal::refresh(bool animated, double now) {
    const Inputs s = in();
    const auto m = motion();
    const bool lit = s.signalUnread > 0;
    const Motion::Curve curve = !lit                               ? Motion::fadeOut(m)
                                : s.signal == ArrivalSignal::count ? Motion::drawerSpring(m)
                                                                   : Motion::slowFade(m);
    const double glow = lit ? restOpacity(s) : 0;
    if (animated) {
        glow_.animate(glow, curve, now);
        trailing_.animate(s.countWidth, curve, now);
    } else {
        glow_.set(glow);
        trailing_.set(s.countWidth);
    }
}

void ShelfSignal::arrivalChanged(double now) {
    const Inputs s = in();
    if (s.signalUnread < 1) {
        return;
    }
    if (s.style && s.style->isPill() && s.pillPreview) {
        startPeek(now);
    } else {
        signalArrival(now);
    }
}

void ShelfSignal::cancelFlash() {
    if (flash_.active()) {
        flash_.cancel();
        pulsing_ = false;
    }
}

void ShelfSignal::signalArrival(double now) {
    const Inputs s = in();
    const auto m = motion();
    if (s.signalUnread < 1 || pulsing_ || stylePulsing_) {
        return;
    }
    cancelFlash();
    if (m.reduceMotion) {
        refresh(true, now);
        return;
    }
    const bool count = s.signal == ArrivalSignal::count;
    if (count) {
        trailing_.animate(s.countWidth + Motion::countOvershoot, Motion::drawerSpring(m), now);
        glow_.animate(restOpacity(s), Motion::drawerSpring(m), now);
    }
    pulsing_ = true;
    flash_.cancel();
    double at = now;
    if (count) {
        at += hold(Motion::pulseRest);
    } else {
        const double rest = restOpacity(s);
        for (const auto step : PulseSchedule::steps(std::clamp(s.glowPulses, 1, 3))) {
            const auto [curve, seconds] = Motion::pulseStep(step, m);
            flash_.steps.push_back({at, [this, step, curve, rest](double due) {
                                        glow_.animate(PulseSchedule::level(step, rest), curve, due);
                                    }});
            at += hold(seconds);
        }
    }
    flash_.steps.push_back({at, [this](double due) { settlePulse(due); }});
    advance(now);
}

void ShelfSignal::settlePulse(double at) {
    const Inputs s = in();
    const auto m = motion();
    const Motion::Curve curve =
        s.signal == ArrivalSignal::count ? Motion::drawerSpring(m) : Motion::slowFade(m);
    glow_.animate(s.signalUnread >= 1 ? restOpacity(s) : 0, curve, at);
    trailing_.animate(s.countWidth, curve, at);
    pulsing_ = false;
}

void ShelfSignal::unreadChanged(int unread, double now) {
    if (unread == 0) {
        flash_.cancel();
        pulsing_ = false;
        refresh(true, now);
        return;
    }
    const Inputs s = in();
    const auto m = motion();
    // A running flash owns the badge's room: its overshoot would otherwise be replaced by the
    // plain width in the same update that announced the arrival.
    if (!pulsing_) {
        trailing_.animate(s.countWidth, Motion::drawerSpring(m), now);
    }
    if (!pulsing_ && glow_.target() == 0) {
        glow_.animate(restOpacity(s), Motion::slowFade(m), now);
    }
}

void ShelfSignal::startPeek(double now) {
    const Inputs s = in();
    constexpr int n = Motion::peekBehindMax + 1;
    std::vector<std::optional<QImage>> images =
        hooks_.arrivalImages ? hooks_.arrivalImages(n) : std::vector<std::optional<QImage>>{};
    if (static_cast<int>(images.size()) > n) {
        images.resize(n);
    }
    if (peeking_) {
        images.insert(images.end(), peekImages_.begin(), peekImages_.end());
    }
    if (images.size() > static_cast<size_t>(n)) {
        images.resize(n);
    }
    peekImages_ = std::move(images);
    peekCount_ = (peeking_ ? peekCount_ : 0) + (hooks_.arrivalCount ? hooks_.arrivalCount() : 0);
    peek_.cancel();
    peekShown_.animate(1, Motion::pulse(motion()), now);
    peeking_ = true;
    if (hooks_.setPeeking) {
        hooks_.setPeeking(true);
    }
    if (s.peekHovered != display_) {
        restartPeekTimer(Motion::signalHold, now);
    }
}

void ShelfSignal::restartPeekTimer(double seconds, double now) {
    peek_.cancel();
    peek_.steps.push_back({now + hold(seconds), [this](double due) { endPeek(due); }});
}

void ShelfSignal::endPeek(double now) {
    peek_.cancel();
    const auto fade = Motion::drawerFade(motion());
    peekShown_.animate(0, fade, now);
    cardDrag_.animate(0, fade, now);
    peeking_ = false;
    if (hooks_.setPeeking) {
        hooks_.setPeeking(false);
    }
    refresh(true, now);
}

void ShelfSignal::peekHoverChanged(std::optional<quint32> hovered, double now) {
    if (!peeking_) {
        return;
    }
    if (hovered != display_) {
        restartPeekTimer(1.5, now);
    } else {
        peek_.cancel();
    }
}

void ShelfSignal::openChanged(std::optional<quint32> open, double now) {
    if (open == display_ && peeking_) {
        endPeek(now);
    }
}

void ShelfSignal::cardDragged(QPointF translation, QPointF predicted, bool ended, double now) {
    const Inputs s = in();
    if (!s.style) {
        return;
    }
    const DisplayStylePosition position = s.style->position();
    const QPointF axis = outward(position);
    const double d = translation.x() * axis.x() + translation.y() * axis.y();
    if (!ended) {
        double shown = d;
        if (d < 0) {
            const double size = isSide(position) ? s.peekCard.width() : s.peekCard.height();
            shown = -RubberBand::band(-d, size, Motion::rubberBand);
        }
        cardDrag_.set(shown);
        return;
    }
    const double end = predicted.x() * axis.x() + predicted.y() * axis.y();
    if (std::max(end, d) <= Motion::peekTossDistance) {
        cardDrag_.animate(0, Motion::pulse(motion()), now);
    } else {
        endPeek(now);
    }
}

void ShelfSignal::restartStylePulse(double now) {
    style_.cancel();
    const double up = now + hold(Motion::pulseRest);
    const double down = up + hold(0.36);
    const double done = down + hold(0.48);
    auto lit = std::make_shared<bool>(false);
    style_.steps.push_back({up, [this, lit](double at) {
                                const Inputs s = in();
                                *lit = s.signalUnread >= 1 && s.signal == ArrivalSignal::glow;
                                cancelFlash();
                                stylePulsing_ = true;
                                const auto curve = Motion::pulseUp(motion());
                                if (*lit) {
                                    glow_.animate(1.0, curve, at);
                                } else {
                                    highlight_.animate(1.0, curve, at);
                                }
                            }});
    style_.steps.push_back({down, [this, lit](double at) {
                                const auto curve = Motion::pulseDown(motion());
                                if (*lit) {
                                    glow_.animate(restOpacity(in()), curve, at);
                                } else {
                                    highlight_.animate(0, curve, at);
                                }
                            }});
    style_.steps.push_back({done, [this](double at) {
                                stylePulsing_ = false;
                                refresh(true, at);
                            }});
}

void ShelfSignal::sunkChanged(bool sunk, double now) {
    if (!sunk) {
        refresh(true, now);
        return;
    }
    style_.cancel();
    flash_.cancel();
    pulsing_ = false;
    stylePulsing_ = false;
    if (peeking_) {
        endPeek(now);
    }
    const auto leave = Motion::styleLeave(motion());
    glow_.animate(0, leave, now);
    highlight_.animate(0, leave, now);
}

void ShelfSignal::advance(double now) {
    for (;;) {
        Task* soonest = nullptr;
        for (Task* task : {&flash_, &peek_, &style_}) {
            if (task->active() && task->steps[task->next].due <= now &&
                (!soonest || task->steps[task->next].due < soonest->steps[soonest->next].due)) {
                soonest = task;
            }
        }
        if (!soonest) {
            return;
        }
        // Copied out first: the step may cancel or restart its own task.
        const auto step = soonest->steps[soonest->next++];
        step.run(step.due);
    }
}

std::optional<double> ShelfSignal::nextDue() const {
    std::optional<double> due;
    for (const Task* task : {&flash_, &peek_, &style_}) {
        if (task->active()) {
            const double d = task->steps[task->next].due;
            due = due ? std::min(*due, d) : d;
        }
    }
    return due;
}

bool ShelfSignal::isBusy(double now) const {
    return nextDue().has_value() || glow_.isRunning(now) || trailing_.isRunning(now) ||
           highlight_.isRunning(now) || cardDrag_.isRunning(now) || peekShown_.isRunning(now);
}

} // namespace ostrel
