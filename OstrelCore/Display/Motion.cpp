#include "OstrelCore/Display/Motion.h"

namespace ostrel::Motion {

namespace {

AccessibilityHook& hook() {
    static AccessibilityHook stored;
    return stored;
}

Accessibility accessibility() {
    const auto& h = hook();
    return h ? h() : Accessibility{};
}

// The stand-in for every softened curve under reduce motion.
Curve softened(const Context& m, Curve curve) {
    return m.reduceMotion ? Curve::easeOut(0.2 * m.scale) : curve;
}

bool pillLike(const std::optional<DisplayStyle>& style) {
    return style && (style->isPill() || style->isHoverNotch());
}

} // namespace

double scaleFrom(const Environment& env) {
    return Env::decimal(QStringLiteral("OSTREL_MOTION_SCALE"), 1.0, ClosedRange<double>{0.05, 20.0},
                        env);
}

double scale() {
    static const double value = scaleFrom(Env::process());
    return value;
}

void setAccessibilityHook(AccessibilityHook h) {
    hook() = std::move(h);
}

bool reduceMotion() {
    return accessibility().reduceMotion;
}

bool increaseContrast() {
    return accessibility().increaseContrast;
}

Context current() {
    const auto a = accessibility();
    return Context{scale(), a.reduceMotion, a.increaseContrast};
}

Curve drawerOpen(std::optional<DisplayStyle> style, const Context& m) {
    return softened(m, pillLike(style) ? Curve::spring(0.42 * m.scale, 0.8)
                                       : Curve::spring(0.45 * m.scale, 0.9));
}

Curve drawerClose(std::optional<DisplayStyle> style, const Context& m) {
    return softened(m, pillLike(style) ? Curve::spring(0.45 * m.scale, 1.0)
                                       : Curve::spring(0.32 * m.scale, 1.0));
}

Curve onboardingStep(const Context& m) {
    return softened(m, Curve::spring(0.3 * m.scale, 0.85));
}
Curve pulse(const Context& m) {
    return softened(m, Curve::spring(0.45 * m.scale, 0.8));
}
Curve drawerFade(const Context& m) {
    return softened(m, Curve::easeIn(0.3 * m.scale));
}
Curve styleLeave(const Context& m) {
    return softened(m, Curve::easeIn(0.28 * m.scale));
}
Curve pulseUp(const Context& m) {
    return Curve::easeOut(0.36 * m.scale);
}
Curve pulseDown(const Context& m) {
    return Curve::easeInOut(0.48 * m.scale);
}
Curve slowFade(const Context& m) {
    return Curve::easeInOut(0.72 * m.scale);
}
Curve fadeOut(const Context& m) {
    return Curve::easeOut(0.3 * m.scale);
}
Curve drawerSpring(const Context& m) {
    return softened(m, Curve::spring(0.4 * m.scale, 0.8));
}
Curve previewEase(const Context& m) {
    return Curve::easeInOut(0.5 * m.scale);
}
Curve settingsChange(const Context& m) {
    return softened(m, Curve::easeInOut(0.18 * m.scale));
}
Curve modelChange(const Context& m) {
    return Curve::easeInOut(0.18 * m.scale);
}
Curve standard(const Context& m) {
    return softened(m, Curve::spring(0.35 * m.scale, 0.85));
}
Curve rowChange(bool animated, const Context& m) {
    return animated ? standard(m) : Curve::none();
}
Curve quickEase(const Context& m) {
    return Curve::easeInOut(0.12 * m.scale);
}
Curve deckSpring(const Context& m) {
    return softened(m, Curve::spring(0.25 * m.scale, 1.0));
}
Curve undoSpring(const Context& m) {
    return softened(m, Curve::spring(0.28 * m.scale, 1.0));
}
Curve tipFade(const Context& m) {
    return Curve::easeOut(0.12 * m.scale);
}

std::pair<Curve, double> pulseStep(PulseSchedule::Step step, const Context& m) {
    if (step == PulseSchedule::Step::up) {
        return {pulseUp(m), 0.36};
    }
    return {pulseDown(m), 0.48};
}

Transition dropIn(const Context& m) {
    return Transition{m.reduceMotion ? 0.0 : -12.0, true};
}

Transition slide(bool up, const Context& m) {
    if (m.reduceMotion) {
        return Transition{0, true};
    }
    return Transition{up ? -8.0 : 8.0, true};
}

double drawerCloseDuration(std::optional<DisplayStyle> style, const Context& m) {
    const double unscaled = m.reduceMotion ? 0.2 : pillLike(style) ? 0.45 : 0.32;
    return unscaled * m.scale;
}

double hoverDwell(const DisplayStyle& style, qint64 ms) {
    const double base = static_cast<double>(ms) / 1000;
    if (style.isPill()) {
        return std::max(base + 0.15, 0.35);
    }
    if (style.isHoverNotch()) {
        return std::max(base + 0.08, 0.2);
    }
    return base;
}

double standardDuration(const Context& m) {
    return (m.reduceMotion ? 0.2 : 0.35) * m.scale;
}
double settleDuration(const Context& m) {
    return 0.5 * m.scale;
}
double tipShowDelay(const Context& m) {
    return 0.24 * m.scale;
}
double tipHideDelay(const Context& m) {
    return 0.76 * m.scale;
}

double glowOpacity(GlowStrength strength, const Context& m) {
    if (m.increaseContrast) {
        return 1.0;
    }
    switch (strength) {
    case GlowStrength::subtle:
        return 0.6;
    case GlowStrength::balanced:
        return 0.75;
    case GlowStrength::strong:
        return 0.85;
    }
    return 0.75;
}

GlowLook glowLook(GlowStrength strength) {
    switch (strength) {
    case GlowStrength::subtle:
        return GlowLook{12, 28};
    case GlowStrength::balanced:
        return GlowLook{16, 28};
    case GlowStrength::strong:
        return GlowLook{22, 40};
    }
    return GlowLook{16, 28};
}

} // namespace ostrel::Motion
