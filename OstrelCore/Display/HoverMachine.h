#pragma once

#include <QPointF>
#include <QtGlobal>

#include <optional>
#include <variant>

namespace ostrel {

// Decides when the shelf opens and closes, and on which display, from pointer samples, the hot
// key and clicks. It reads no clock: every call gets the time, and `deadline` says when a repeat
// of the last sample would change something.
class HoverMachine {
public:
    enum class Reason { hover, hotkey, click };

    struct Dwelling {
        quint32 target = 0;
        double since = 0;
        double dwell = 0;
        friend bool operator==(const Dwelling&, const Dwelling&) = default;
    };
    struct Open {
        quint32 target = 0;
        Reason reason = Reason::hover;
        // The pointer has been inside the open shelf (or its hot zone) at least once.
        bool entered = false;
        // When the pointer was last seen leaving; none while it is inside.
        std::optional<double> outsideSince;
        friend bool operator==(const Open&, const Open&) = default;
    };
    struct Closing {
        quint32 target = 0;
        double until = 0;
        friend bool operator==(const Closing&, const Closing&) = default;
    };
    struct Closed {
        friend bool operator==(const Closed&, const Closed&) = default;
    };
    using Phase = std::variant<Closed, Dwelling, Open, Closing>;

    struct Action {
        enum class Kind { none, open, close };
        Kind kind = Kind::none;
        quint32 target = 0; // for `open`

        static Action none() { return {}; }
        static Action open(quint32 display) { return {Kind::open, display}; }
        static Action close() { return {Kind::close, 0}; }
        friend bool operator==(const Action&, const Action&) = default;
    };

    // What is left of a running close animation.
    struct ClosingLeft {
        quint32 target = 0;
        double remaining = 0;
        friend bool operator==(const ClosingLeft&, const ClosingLeft&) = default;
    };

    explicit HoverMachine(double grace) : grace_(grace) {}

    const Phase& phase() const { return phase_; }
    double grace() const { return grace_; }

    // One pointer sample. `hot` is the display whose hot zone holds the pointer; `insideOpen` says
    // it is over the open or closing drawer; a `closeDuration` of 0 closes without animation.
    Action pointer(double now, std::optional<quint32> hot, double dwell, bool insideOpen,
                   double closeDuration);
    Action hotkey(quint32 target);
    Action click(quint32 target);
    Action clickOutside();
    void reset() { phase_ = Closed{}; }

    std::optional<ClosingLeft> closing(double now) const;
    std::optional<double> deadline() const;
    std::optional<quint32> openTarget() const;

    friend bool operator==(const HoverMachine&, const HoverMachine&) = default;

private:
    Phase phase_ = Closed{};
    double grace_;
};

// Whether the open shelf's panel may hold keyboard focus: opened by the hot key, or with the
// pointer over it, or while its preview shows.
namespace ShelfKeyRule {
bool panelMayBeKey(const HoverMachine::Phase& phase, bool pointerInside, bool previewShowing);
}

// Keeps the hover highlight still while the user scrolls under a resting pointer: scrolling
// freezes it where the pointer is, a real move elsewhere thaws it.
class HoverFreeze {
public:
    bool isFrozen() const { return frozenAt_.has_value(); }
    const std::optional<QPointF>& frozenAt() const { return frozenAt_; }
    void scrolled(const QPointF& pointer);
    void moved(const QPointF& to);
    void reset() { frozenAt_.reset(); }

    friend bool operator==(const HoverFreeze& a, const HoverFreeze& b);

private:
    std::optional<QPointF> frozenAt_;
};

} // namespace ostrel
