#pragma once

#include <QtGlobal>

#include <limits>

// Arithmetic for sizes and costs that a file declares: a result beyond what qint64 holds stays at
// its largest (or smallest), so that a cost too large to compute is never taken for a small one,
// or a negative one, and charged as such.
namespace ostrel::Saturating {

inline constexpr qint64 largest = std::numeric_limits<qint64>::max();
inline constexpr qint64 smallest = std::numeric_limits<qint64>::min();

constexpr qint64 add(qint64 a, qint64 b) {
    qint64 out = 0;
    if (__builtin_add_overflow(a, b, &out)) {
        return a > 0 ? largest : smallest;
    }
    return out;
}

template <typename... More> constexpr qint64 add(qint64 a, qint64 b, More... more) {
    return add(add(a, b), qint64(more)...);
}

constexpr qint64 multiply(qint64 a, qint64 b) {
    qint64 out = 0;
    if (__builtin_mul_overflow(a, b, &out)) {
        return (a < 0) == (b < 0) ? largest : smallest;
    }
    return out;
}

template <typename... More> constexpr qint64 multiply(qint64 a, qint64 b, More... more) {
    return multiply(multiply(a, b), qint64(more)...);
}

} // namespace ostrel::Saturating
