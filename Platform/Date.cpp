#include "Platform/Date.h"

#include <chrono>
#include <cmath>

namespace ostrel {

Date Date::now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return fromTimespec(ts);
}

Date Date::fromTimespec(const struct timespec& ts) {
    // Subtract in whole seconds first so the nanoseconds keep their precision.
    const auto whole = static_cast<double>(static_cast<long long>(ts.tv_sec) - 978307200LL);
    return Date(whole + static_cast<double>(ts.tv_nsec) / 1e9);
}

QDateTime Date::toDateTime() const {
    const double ms = std::floor(toUnix() * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::UTC);
}

} // namespace ostrel
