#pragma once

#include <vector>

namespace ostrel::PulseSchedule {

enum class Step { up, down };

// One rise and one fall per pulse, at least one pulse.
inline std::vector<Step> steps(int pulses) {
    std::vector<Step> result;
    for (int i = 0; i < (pulses > 1 ? pulses : 1); ++i) {
        result.push_back(Step::up);
        result.push_back(Step::down);
    }
    return result;
}

// The glow level a step ends at.
constexpr double level(Step after, double rest) {
    return after == Step::up ? 1.0 : rest;
}

} // namespace ostrel::PulseSchedule
