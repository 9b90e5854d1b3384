#pragma once

#include <QDateTime>
#include <QString>

#include <compare>
#include <ctime>
#include <functional>

namespace ostrel {

// A point in time as seconds since 2001-01-01 00:00:00 UTC, kept as the exact double the records
// store. Compared exactly; converted to wall-clock time only for formatting.
struct Date {
    double seconds = 0;

    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
    static constexpr double unixOffset = 978307200.0;

    constexpr Date() = default;
    constexpr explicit Date(double secondsSinceReference) : seconds(secondsSinceReference) {}

    static Date now();
    static constexpr Date fromUnix(double unixSeconds) { return Date(unixSeconds - unixOffset); }
    // File times with their nanoseconds, the one conversion used for every file date.
    static Date fromTimespec(const struct timespec& ts);

    constexpr double toUnix() const { return seconds + unixOffset; }
    constexpr Date adding(double delta) const { return Date(seconds + delta); }
    constexpr double since(Date other) const { return seconds - other.seconds; }

    // Wall-clock form in UTC, millisecond precision: for formatting only.
    QDateTime toDateTime() const;

    friend constexpr bool operator==(Date a, Date b) { return a.seconds == b.seconds; }
    friend constexpr auto operator<=>(Date a, Date b) { return a.seconds <=> b.seconds; }
};

// Returns the current date; injected wherever a rule needs "now".
using Clock = std::function<Date()>;

} // namespace ostrel
