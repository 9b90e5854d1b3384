#pragma once

#include "OstrelCore/Records/DisplayStyleChoice.h"

namespace ostrel {

// Sequences a change of display style so that the old shape leaves before the new one arrives.
// Every applied step raises the generation, so a completion that arrives late is recognised.
class StyleChange {
public:
    struct Action {
        enum class Kind { none, leave, apply };
        Kind kind = Kind::none;
        DisplayStyleChoice choice = DisplayStyleChoice::notch(); // for `apply`
        bool arrive = false;                                     // for `apply`
        int generation = 0;

        static Action none() { return {}; }
        static Action leave(int generation) {
            return {Kind::leave, DisplayStyleChoice::notch(), false, generation};
        }
        static Action apply(const DisplayStyleChoice& choice, bool arrive, int generation) {
            return {Kind::apply, choice, arrive, generation};
        }
        friend bool operator==(const Action&, const Action&) = default;
    };

    explicit StyleChange(const DisplayStyleChoice& choice) : applied_(choice), target_(choice) {}

    Action request(const DisplayStyleChoice& choice, bool showsAtRest, bool animate);
    Action leaveEnded(int generation);
    // Finishes a leave at once (before a drawer opens).
    Action settle();
    // Whether the arriving style is announced with glow pulses.
    static bool pulses(bool quiet, bool reduceMotion) { return !quiet && !reduceMotion; }

    const DisplayStyleChoice& applied() const { return applied_; }
    const DisplayStyleChoice& target() const { return target_; }
    bool isLeaving() const { return leaving_; }
    int generation() const { return generation_; }

    friend bool operator==(const StyleChange&, const StyleChange&) = default;

private:
    Action applyNow(const DisplayStyleChoice& choice, bool arrive);

    DisplayStyleChoice applied_;
    DisplayStyleChoice target_;
    bool leaving_ = false;
    int generation_ = 0;
};

} // namespace ostrel
