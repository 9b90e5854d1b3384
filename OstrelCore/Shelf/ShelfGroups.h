#pragma once

#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "OstrelCore/Records/Snapshot.h"

#include <QList>
#include <QString>

#include <optional>

namespace ostrel {

// The items of one prompt within one session, newest first. Items without a prompt gather in the
// session's "earlier" turn.
struct Turn {
    static inline const QString earlierPrefix = QStringLiteral("earlier:");

    QString id;
    // The prompt with this id, when the snapshot holds one.
    std::optional<Prompt> prompt;
    // Never empty when built from a snapshot.
    QList<ShelfItem> items;

    bool isEarlier() const { return id.startsWith(earlierPrefix); }

    // The item's prompt id when it has one (an empty one included), else "earlier:" and its
    // session id.
    static QString idFor(const ShelfItem& item);

    friend bool operator==(const Turn&, const Turn&) = default;
};

// The block of one session: its turns, prompt turns newest first and the earlier turn last.
struct SessionGroup {
    Session session;
    QList<Turn> turns;
    // The later of the newest item's capture time and the session's last activity.
    Date newest;

    const QString& id() const { return session.id; }
    // Every item, turn by turn.
    QList<ShelfItem> items() const;

    friend bool operator==(const SessionGroup&, const SessionGroup&) = default;
};

namespace ShelfGroups {

// The groups the shelf shows, newest first. Sessions and prompts that no item names yield nothing;
// items whose session the snapshot lacks get a session made from their own times.
QList<SessionGroup> build(const Snapshot& snapshot);

// The order in which the closed shelf announces new items: oldest first, then by capture
// sequence, then by id; items equal on all three keep their order.
QList<ShelfItem> arrivalOrder(const QList<ShelfItem>& items);

// The running number at the end of a capture id ("toolu_x#12" gives 12), 0 when there is none.
qint64 captureSequence(const ShelfItem& item);

} // namespace ShelfGroups

} // namespace ostrel
