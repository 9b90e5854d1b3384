#include "OstrelCore/Update/UpdateSchedule.h"

namespace ostrel::UpdateSchedule {

bool isDue(std::optional<Date> lastCheck, Date now, bool enabled, bool configured) {
    if (!enabled || !configured) {
        return false;
    }
    if (!lastCheck || *lastCheck > now) {
        return true;
    }
    return now.since(*lastCheck) >= interval;
}

} // namespace ostrel::UpdateSchedule
