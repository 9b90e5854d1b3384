#pragma once

#include <optional>

namespace ostrel {

// Measures the undo window of a held command as time the user could see the undo toast: it runs
// only between pauses. Times are seconds of system uptime passed in by the caller.
struct UndoClock {
    double window = 0;
    // Window time spent in earlier running stretches.
    double used = 0;
    // Start of the current running stretch; none while paused.
    std::optional<double> runningSince;

    UndoClock(double window, double now, bool paused)
        : window(window), runningSince(paused ? std::nullopt : std::optional<double>(now)) {}

    bool isPaused() const { return !runningSince.has_value(); }

    // Repeating the current state changes nothing (its time is ignored).
    void setPaused(bool paused, double now) {
        if (paused == isPaused()) {
            return;
        }
        if (paused) {
            used = (now - *runningSince) + used;
            runningSince.reset();
        } else {
            runningSince = now;
        }
    }

    // Seconds left, never below 0.
    double remaining(double now) const {
        double left = window - used;
        if (runningSince) {
            left = left - (now - *runningSince);
        }
        return left > 0 ? left : 0; // a NaN gives 0 too
    }

    friend bool operator==(const UndoClock&, const UndoClock&) = default;
};

// Whether the press in progress on the open shelf may still end in a click: a press that turned
// into a drag must not also act as a click when it ends.
class PressGate {
public:
    bool allowsTap() const { return allowsTap_; }
    void pressBegan() { allowsTap_ = true; }
    void dragged() { allowsTap_ = false; }

private:
    bool allowsTap_ = true;
};

} // namespace ostrel
