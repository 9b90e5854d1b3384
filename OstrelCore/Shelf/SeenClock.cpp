#include "OstrelCore/Shelf/SeenClock.h"

#include "OstrelCore/Shelf/TextOrder.h"

namespace ostrel {

namespace {
// Uptimes and delays do not add up exactly in binary; without a margin a timer armed for the
// deadline could find the item a hair short of due and have to be armed again.
constexpr double dueMargin = -0.000001;
} // namespace

QStringList SeenClock::update(const QSet<QString>& visible, double now) {
    for (auto it = since.begin(); it != since.end();) {
        if (!visible.contains(it.key())) {
            it = since.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& id : visible) {
        if (!since.contains(id) && !reported.contains(id)) {
            since.insert(id, now);
        }
    }
    QStringList due;
    for (auto it = since.cbegin(); it != since.cend(); ++it) {
        if (it.value() + delay + dueMargin <= now) {
            due.append(it.key());
        }
    }
    TextOrder::sort(due);
    for (const QString& id : due) {
        since.remove(id);
        reported.insert(id);
    }
    return due;
}

std::optional<double> SeenClock::deadline() const {
    std::optional<double> earliest;
    for (const double start : since) {
        const double due = start + delay;
        if (!earliest || due < *earliest) {
            earliest = due;
        }
    }
    return earliest;
}

} // namespace ostrel
