#pragma once

#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <QList>

namespace ostrel {

// The read-only picture of the shelf that the engine hands to the interface.
struct Snapshot {
    // Newest first, at most the configured number; an item without a prompt carries the last
    // earlier prompt of its session.
    QList<ShelfItem> items;
    // Newest activity first.
    QList<Session> sessions;
    // The prompts of `items`, oldest first.
    QList<Prompt> prompts;
    // Every hidden item, most recently hidden first.
    QList<ShelfItem> hidden;

    static const Snapshot& empty() {
        static const Snapshot snapshot;
        return snapshot;
    }

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

} // namespace ostrel
