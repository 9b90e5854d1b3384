#pragma once

#include "Platform/Date.h"

#include <optional>

namespace ostrel::UpdateSchedule {

// The least time between two automatic checks: one day.
inline constexpr double interval = 86400;

// Whether an automatic check is due. A last check in the future counts as due: a clock that was
// once set wrong would otherwise silence the checks until it is reached again.
bool isDue(std::optional<Date> lastCheck, Date now, bool enabled, bool configured);

} // namespace ostrel::UpdateSchedule
