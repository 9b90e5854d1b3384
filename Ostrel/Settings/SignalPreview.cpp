#include "Ostrel/Settings/SignalPreview.h"

#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/PulseSchedule.h"

namespace ostrel {

using namespace Geometry;

SignalPreview::SignalPreview(const PreviewDisplay& display, const Inputs& inputs, QWidget* parent)
    : PreviewView(display, spaceFor(display), parent), inputs_(inputs),
      radius_(Motion::glowLook(inputs.strength).radius),
      core_(Motion::glowLook(inputs.strength).core) {
    refresh();
}

void SignalPreview::setInputs(const PreviewDisplay& display, const Inputs& inputs) {
    const double before = restLevel();
    inputs_ = inputs;
    setDisplay(display, spaceFor(display));
    // A lit glow moves to the new strength's level; an unlit one stays unlit.
    const double t = now();
    const Motion::GlowLook look = Motion::glowLook(inputs.strength);
    radius_.animate(look.radius, Motion::slowFade(), t);
    core_.animate(look.core, Motion::slowFade(), t);
    if (glow_.target() > 0 && restLevel() != before && glow_.target() == before) {
        glow_.animate(restLevel(), Motion::slowFade(), t);
    }
    refresh();
}

MiniSpace SignalPreview::spaceFor(const PreviewDisplay& display) {
    const DisplayLayout& layout = display.layout;
    const QRectF f = layout.screenFrame();
    const QRectF c = layout.collapsedRect();
    double x = 0;
    double y = 0;
    switch (layout.style().position()) {
    case DisplayStylePosition::top:
        x = midX(c) - width / 2;
        y = maxY(f) - height;
        break;
    case DisplayStylePosition::bottom:
        x = midX(c) - width / 2;
        y = minY(f);
        break;
    case DisplayStylePosition::left:
        x = minX(f);
        y = midY(c) - height / 2;
        break;
    case DisplayStylePosition::right:
        x = maxX(f) - width;
        y = midY(c) - height / 2;
        break;
    }
    x = std::min(std::max(x, minX(f)), std::max(maxX(f) - width, minX(f)));
    y = std::min(std::max(y, minY(f)), std::max(maxY(f) - height, minY(f)));
    return MiniSpace{QRectF(x, y, width, height), zoom};
}

bool SignalPreview::peek() const {
    return display().layout.style().isPill() && inputs_.pillPreview;
}

double SignalPreview::badgeRoom() const {
    return inputs_.signal == ArrivalSignal::count ? Motion::countWidth(3) : 0;
}

double SignalPreview::restLevel() const {
    return Motion::glowOpacity(inputs_.strength);
}

int SignalPreview::count(double now) const {
    return count_ > 0 && countGoneAt_ > 0 && now >= countGoneAt_ ? 0 : count_;
}

QString SignalPreview::detail() const {
    const QString signal =
        inputs_.signal == ArrivalSignal::glow ? QStringLiteral("glow") : QStringLiteral("count");
    return signal + QLatin1Char(' ') + QString::number(inputs_.pulses) + QLatin1Char(' ') +
           styleText(display().layout.style()) + QLatin1Char(' ') +
           (inputs_.pillPreview ? QStringLiteral("true") : QStringLiteral("false"));
}

PreviewPlayer::Scene SignalPreview::makeScene() {
    PreviewPlayer::Scene s;
    s.reset = [this] {
        glow_.set(0);
        trailing_.set(0);
        peeking_.set(0);
        count_ = 0;
        countGoneAt_ = 0;
    };
    s.still = [this] {
        count_ = 3;
        glow_.set(restLevel());
        trailing_.set(badgeRoom());
    };
    s.leadIn = 1.0;

    const bool withPeek = peek();
    const bool counting = inputs_.signal == ArrivalSignal::count;
    s.loop.push_back([this, withPeek](double at) {
        count_ = 3;
        countGoneAt_ = 0;
        trailing_.animate(badgeRoom(), Motion::drawerSpring(), at);
        if (withPeek) {
            peeking_.animate(1, Motion::pulse(), at);
        }
        return 0.0;
    });
    double spent = 0;
    if (counting) {
        s.loop.push_back([this](double at) {
            trailing_.animate(badgeRoom() + Motion::countOvershoot, Motion::drawerSpring(), at);
            glow_.animate(restLevel(), Motion::drawerSpring(), at);
            return 0.22;
        });
        s.loop.push_back([this](double at) {
            glow_.animate(restLevel(), Motion::drawerSpring(), at);
            trailing_.animate(badgeRoom(), Motion::drawerSpring(), at);
            return 0.0;
        });
        spent = 0.22;
    } else {
        if (!withPeek) {
            for (const PulseSchedule::Step step :
                 PulseSchedule::steps(static_cast<int>(inputs_.pulses))) {
                const double length = Motion::pulseStep(step).second;
                s.loop.push_back([this, step](double at) {
                    const auto [curve, stepLength] = Motion::pulseStep(step);
                    glow_.animate(PulseSchedule::level(step, restLevel()), curve, at);
                    return stepLength;
                });
                spent += length;
            }
        }
        s.loop.push_back([this](double at) {
            glow_.animate(restLevel(), Motion::slowFade(), at);
            trailing_.animate(badgeRoom(), Motion::slowFade(), at);
            return 0.0;
        });
    }
    if (withPeek) {
        s.loop.push_back([spent](double) { return Motion::signalHold - spent; });
        s.loop.push_back([this](double at) {
            peeking_.animate(0, Motion::drawerFade(), at);
            return 1.8;
        });
    } else {
        s.loop.push_back([](double) { return 1.8; });
    }
    s.loop.push_back([this](double at) {
        const Motion::Curve fade = Motion::fadeOut();
        glow_.animate(0, fade, at);
        trailing_.animate(0, fade, at);
        countGoneAt_ = at + fade.duration();
        return 1.0;
    });
    return s;
}

void SignalPreview::sync(double now) {
    const DisplayStyle& style = display().layout.style();
    MiniShelf::State state;
    state.progress = 0;
    state.trailing = trailing_.value(now);
    state.kind = resolveShelfLayoutKind(style, inputs_.layout);
    state.glow = glow_.value(now);
    state.restLevel = restLevel();
    state.halo = inputs_.signal == ArrivalSignal::glow;
    state.strength = Motion::GlowLook{radius_.value(now), core_.value(now)};
    state.count = count(now);
    state.peeking = peeking_.value(now);
    state.pile = inputs_.pile;
    state.peekCount = 3;
    shelf()->setState(state);
}

bool SignalPreview::moving(double now) const {
    return radius_.isRunning(now) || core_.isRunning(now) || glow_.isRunning(now) ||
           trailing_.isRunning(now) || peeking_.isRunning(now) ||
           (countGoneAt_ > 0 && now < countGoneAt_);
}

} // namespace ostrel
