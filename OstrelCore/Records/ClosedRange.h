#pragma once

#include <algorithm>

namespace ostrel {

// A range that includes both of its ends, as the settings' allowed values are given.
template <typename T> struct ClosedRange {
    T lower;
    T upper;

    constexpr bool contains(T value) const { return value >= lower && value <= upper; }
    constexpr T clamp(T value) const { return std::clamp(value, lower, upper); }
    friend constexpr bool operator==(const ClosedRange&, const ClosedRange&) = default;
};

} // namespace ostrel
