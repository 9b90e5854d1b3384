#pragma once

#include "OstrelCore/Records/Session.h"
#include "Platform/Date.h"

#include <QString>

#include <map>
#include <optional>

namespace ostrel {

// Which session was seen last, kept in memory only. A value type.
struct ActivityTracker {
    // Session id to the latest date it was seen. Ordered by id, so ties go to the smaller id.
    std::map<QString, Date> lastActive;

    // Records the date unless the id is "unsorted" or a later date is already stored.
    void touch(const QString& sessionID, Date at) {
        if (sessionID == Session::unsortedID) {
            return;
        }
        const auto it = lastActive.find(sessionID);
        if (it == lastActive.end()) {
            lastActive.emplace(sessionID, at);
        } else if (at > it->second) {
            it->second = at;
        }
    }

    // The id with the latest date; on equal dates the first in iteration order.
    std::optional<QString> mostRecent() const {
        std::optional<QString> best;
        Date bestAt;
        for (const auto& [id, at] : lastActive) {
            if (!best || at > bestAt) {
                best = id;
                bestAt = at;
            }
        }
        return best;
    }

    // mostRecent() while it was seen at most `window` seconds before `now` (or after it).
    std::optional<QString> activeSession(Date now, double window) const {
        const auto id = mostRecent();
        if (!id) {
            return std::nullopt;
        }
        if (now.since(lastActive.at(*id)) <= window) {
            return id;
        }
        return std::nullopt;
    }

    friend bool operator==(const ActivityTracker&, const ActivityTracker&) = default;
};

} // namespace ostrel
