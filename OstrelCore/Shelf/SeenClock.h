#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// Decides when an unread item has been in view long enough to count as seen. Times are seconds of
// system uptime passed in by the caller; the clock arms no timer of its own.
struct SeenClock {
    // How long an item must stay in view without a break.
    double delay = 0;
    // Items in view and not yet reported, with the start of their unbroken visibility.
    QHash<QString, double> since;
    // Items reported since creation or the last reset.
    QSet<QString> reported;

    explicit SeenClock(double delay) : delay(delay) {}

    // Takes the ids in view now; returns those that became due, in text order. An id that leaves
    // the view starts its wait again when it returns.
    QStringList update(const QSet<QString>& visible, double now);
    // When the next id becomes due; none while nothing waits. The caller's timer should fire a
    // little after it, since due-ness is judged with a one-microsecond margin.
    std::optional<double> deadline() const;
    // The drawer closed: everything starts afresh, reported ids included.
    void reset() {
        since.clear();
        reported.clear();
    }

    friend bool operator==(const SeenClock&, const SeenClock&) = default;
};

} // namespace ostrel
