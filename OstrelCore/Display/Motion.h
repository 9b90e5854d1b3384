#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Display/PulseSchedule.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/Preferences.h"

#include <QRectF>
#include <QSizeF>
#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace ostrel {

// The desktop's accessibility switches that change how the interface moves and glows.
struct Accessibility {
    bool reduceMotion = false;
    bool increaseContrast = false;
    friend bool operator==(const Accessibility&, const Accessibility&) = default;
};

// How fast everything on screen moves and how long the interface waits. One factor, the motion
// scale, stretches every animation and the scaled delays; reduce motion swaps the marked curves
// for a short ease-out.
namespace Motion {

// The moment's settings the curves are built from. Curves built once keep their variant.
struct Context {
    double scale = 1.0;
    bool reduceMotion = false;
    bool increaseContrast = false;
    friend bool operator==(const Context&, const Context&) = default;
};

// "OSTREL_MOTION_SCALE", 0.05 to 20, else 1.
double scaleFrom(const Environment& env);
// Read from the process environment on first use; it never changes afterwards.
double scale();

// Where the accessibility switches come from; asked afresh at every use. Without a hook (the
// default) both are off. Main thread only.
using AccessibilityHook = std::function<Accessibility()>;
void setAccessibilityHook(AccessibilityHook hook);
bool reduceMotion();
bool increaseContrast();

Context current();

// Curves. Those marked "softened" become an ease-out of 0.2 s (times the scale) under reduce
// motion. A missing style means the notch's values.
Curve drawerOpen(std::optional<DisplayStyle> style, const Context& m = current());  // softened
Curve drawerClose(std::optional<DisplayStyle> style, const Context& m = current()); // softened
Curve onboardingStep(const Context& m = current());                                 // softened
Curve pulse(const Context& m = current());                                          // softened
Curve drawerFade(const Context& m = current());                                     // softened
Curve styleLeave(const Context& m = current());                                     // softened
Curve pulseUp(const Context& m = current());
Curve pulseDown(const Context& m = current());
Curve slowFade(const Context& m = current());
Curve fadeOut(const Context& m = current());
Curve drawerSpring(const Context& m = current()); // softened
Curve previewEase(const Context& m = current());
Curve settingsChange(const Context& m = current()); // softened
Curve modelChange(const Context& m = current());
Curve standard(const Context& m = current()); // softened
// No animation when `animated` is false, else `standard`.
Curve rowChange(bool animated, const Context& m = current());
Curve quickEase(const Context& m = current());
Curve deckSpring(const Context& m = current()); // softened
Curve undoSpring(const Context& m = current()); // softened
Curve tipFade(const Context& m = current());
// A glow pulse step's curve and its unscaled length.
std::pair<Curve, double> pulseStep(PulseSchedule::Step step, const Context& m = current());
// Applies a change without animating it.
constexpr Curve noAnimation() {
    return Curve::none();
}

// How rows and the drawer's message slide in: a vertical offset (0 under reduce motion) with a
// fade.
struct Transition {
    double offsetY = 0;
    bool fades = true;
    friend bool operator==(const Transition&, const Transition&) = default;
};
Transition dropIn(const Context& m = current());
Transition slide(bool up, const Context& m = current());

// Durations and delays in seconds. Those taking a context are multiplied by the scale here.
double drawerCloseDuration(std::optional<DisplayStyle> style, const Context& m = current());
// Hover dwell for the dwell preference in milliseconds; never scaled.
double hoverDwell(const DisplayStyle& style, qint64 ms);
double standardDuration(const Context& m = current());
double settleDuration(const Context& m = current());
double tipShowDelay(const Context& m = current());
double tipHideDelay(const Context& m = current());

inline constexpr double hoverGrace = 0.2;
inline constexpr double seenDelay = 0.5;
inline constexpr double undoWindow = 4.0;
inline constexpr double drawerKeep = 30.0;
inline constexpr double tidyDelay = 0.1;
inline constexpr double frame = 1.0 / 60.0;
inline constexpr double displaySettle = 0.35;
inline constexpr double styleLeaveDuration = 0.28;
inline constexpr double fullscreenRecheck = 0.4;
inline constexpr double burstInterval = 0.1;
inline constexpr double burstLength = 0.6;
inline constexpr double previewPause = 0.5;
inline constexpr double previewShort = 0.3;
inline constexpr double signalHold = 4.0;
// The arrival signal's count badge takes this much more room while an arrival is announced.
inline constexpr double countOvershoot = 6.0;
// A peek card released further out than this is tossed away instead of springing back.
inline constexpr double peekTossDistance = 24.0;
// How far the closed shelf slides towards its edge while a style change sinks it.
inline constexpr double sinkOffset = 10.0;

// Shapes and small distances (points, degrees, fractions).
inline constexpr double cardCorner = 10.0;
inline constexpr double cornerAtRest = 14.0;
inline constexpr double cornerOpen = 24.0;
inline constexpr double flareAtRest = 7.0;
inline constexpr double flareOpen = 12.0;
// A notch drawer's contents fade in between these shares of its progress.
inline constexpr double revealStart = 0.6;
inline constexpr double revealEnd = 0.95;
// A growing drawer's surface fades in between these shares of its progress.
inline constexpr double surfaceStart = 0.02;
inline constexpr double surfaceEnd = 0.1;
// The line a hover notch grows from while no count shows.
inline constexpr double edgeLineLength = 160.0;
inline constexpr double edgeLineThickness = 3.0;
inline const QSizeF pillLineSize{48, 4};
inline constexpr double tuckShare = 0.8;
inline constexpr int peekBehindMax = 1;
inline constexpr double pileTilt = 6.0;
inline constexpr double pileOffset = 8.0;
inline constexpr double haloWidth = 1.5;
inline constexpr double edgeScrollThreshold = 24.0;
inline constexpr double glowRest = 0.22;
inline constexpr double pulseRest = 0.22;
inline constexpr double dropLift = 6.0;
inline constexpr double fanLift = 3.0;
inline constexpr double fanAngle = 1.5;
inline constexpr double fanShrink = 0.06;
inline constexpr double dragMinimum = 3.0;
inline constexpr double dragOutMargin = 8.0;
inline constexpr double wheelLine = 24.0;
inline constexpr double rubberBand = 0.55;
inline constexpr double edgeFadeLength = 18.0;

// Width of the unread-count badge.
constexpr double countWidth(qint64 count) {
    return count < 10 ? 24 : count < 100 ? 30 : 38;
}

struct GlowLook {
    double radius = 0;
    double core = 0;
    friend bool operator==(const GlowLook&, const GlowLook&) = default;
};
double glowOpacity(GlowStrength strength, const Context& m = current());
GlowLook glowLook(GlowStrength strength);

// How much larger than its size a card shows past the start `s` of progress `x`.
constexpr double swell(double x, double s) {
    if (s < 0.999 && x > s) {
        return 1 + 0.35 * std::min((x - s) / (1 - s), 1.0);
    }
    return 1.0;
}

constexpr double clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}
constexpr double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}
inline QRectF lerpRect(const QRectF& a, const QRectF& b, double t) {
    return QRectF(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t), lerp(a.width(), b.width(), t),
                  lerp(a.height(), b.height(), t));
}

} // namespace Motion

} // namespace ostrel
