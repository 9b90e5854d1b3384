#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <variant>

namespace ostrel {

// When a hover tip for a cut-short label shows, for which anchor, and when it goes. After a tip
// closes the timer stays warm for a while, so the next tip comes sooner. Times are seconds of
// system uptime passed in by the caller, who arms its own rest timer with `rest`. `T` keys an
// anchor.
template <typename T> struct TipTimer {
    struct Showing {
        T key;
        friend bool operator==(const Showing&, const Showing&) = default;
    };
    // No tip shows; until `until` the next one comes after the quick delay.
    struct Warm {
        double until = 0;
        friend bool operator==(const Warm&, const Warm&) = default;
    };
    // The user dismissed this anchor's tip; it stays away while the pointer stays.
    struct Held {
        T key;
        friend bool operator==(const Held&, const Held&) = default;
    };
    struct Idle {
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    using Phase = std::variant<Showing, Warm, Held, Idle>;

    double delay = 0;
    double quickDelay = 0;
    double warmFor = 0;
    Phase phase = Idle{};

    TipTimer(double delay, double quickDelay, double warmFor)
        : delay(delay), quickDelay(quickDelay), warmFor(warmFor) {}

    std::optional<T> shown() const {
        if (const auto* showing = std::get_if<Showing>(&phase)) {
            return showing->key;
        }
        return std::nullopt;
    }

    std::optional<T> current() const {
        if (const auto* held = std::get_if<Held>(&phase)) {
            return held->key;
        }
        return shown();
    }

    // The wait before a pointer that comes to rest now should show a tip.
    double rest(double now) const {
        if (std::holds_alternative<Showing>(phase)) {
            return quickDelay;
        }
        if (const auto* warm = std::get_if<Warm>(&phase); warm && now < warm->until) {
            return quickDelay;
        }
        return delay;
    }

    void tick(double now) {
        if (const auto* warm = std::get_if<Warm>(&phase); warm && warm->until <= now) {
            phase = Idle{};
        }
    }

    void moved(bool stillOn, double now) {
        tick(now);
        if (stillOn) {
            return;
        }
        if (std::holds_alternative<Showing>(phase)) {
            phase = Warm{now + warmFor};
        } else if (std::holds_alternative<Held>(phase)) {
            phase = Idle{};
        }
    }

    // The pointer rested for the wait, on the anchor `key` (none: on no anchor). A dismissed tip
    // does not come back while the pointer rests on its anchor.
    void rested(const std::optional<T>& key, double now) {
        tick(now);
        if (!key || key == current()) {
            return;
        }
        phase = Showing{*key};
    }

    // `key`: the anchor under the pointer, if any.
    void dismiss(const std::optional<T>& key) {
        if (const auto* showing = std::get_if<Showing>(&phase)) {
            phase = Held{showing->key};
        } else if (key) {
            phase = Held{*key};
        } else if (std::holds_alternative<Warm>(phase)) {
            phase = Idle{};
        }
    }

    void reset() { phase = Idle{}; }

    friend bool operator==(const TipTimer&, const TipTimer&) = default;
};

namespace TipPlacement {

// Which edge of the tip meets the anchor text's origin.
enum class Edge { top, bottom };

// The tip's rectangle, in the tip layer's coordinates (y down): as large as wanted within
// `bounds`, at the text origin less the padding (width: horizontal, height: vertical), pushed
// inside the bounds, and moved below `avoid` when it would cover it.
QRectF frame(QSizeF size, QPointF textOrigin, Edge edge, QSizeF padding, QRectF bounds,
             std::optional<QRectF> avoid);

} // namespace TipPlacement

} // namespace ostrel
