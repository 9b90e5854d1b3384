// The retention purge and the snapshots handed to the interface.
#include "OstrelCore/Records/Store.h"

#include "Platform/FileStat.h"

#include <algorithm>

namespace ostrel {

namespace {

// Items a purge takes between two looks at whether the process is about to end.
constexpr qsizetype purgeBatch = 256;

} // namespace

std::array<qsizetype, 7> Store::counts() const {
    return {items_.size(),    hiddenItems_.size(), deleted_.size(),    deletedPaths_.size(),
            sessions_.size(), prompts_.size(),     titleChecks_.size()};
}

QStringList Store::purge(Date cutoff) {
    const auto before = counts();

    QStringList expired;
    for (auto it = items_.constBegin(); it != items_.constEnd(); ++it) {
        if (it->createdAt < cutoff) {
            expired.append(it.key());
        }
    }
    // A quit ends the purge within a batch: what it has not reached expires at the next start.
    const auto halting = [this](qsizetype done) {
        return done > 0 && done % purgeBatch == 0 && halted();
    };
    for (qsizetype i = 0; i < expired.size(); ++i) {
        if (halting(i)) {
            expired.resize(i);
            break;
        }
        if (const auto item = takeItem(expired.at(i))) {
            removeFiles(*item);
        }
    }

    QStringList expiredHidden;
    for (auto it = hiddenItems_.constBegin(); it != hiddenItems_.constEnd(); ++it) {
        if (it->hiddenAt < cutoff) {
            expiredHidden.append(it.key());
        }
    }
    for (qsizetype i = 0; i < expiredHidden.size() && !halting(i); ++i) {
        // The id stays in `hidden`: the same content stays hidden if it turns up again.
        if (const auto record = takeHiddenRecord(expiredHidden.at(i))) {
            removeFiles(record->item);
        }
    }

    const auto dropOld = [cutoff](QHash<QString, Date>& stamps) {
        stamps.removeIf([cutoff](const auto& entry) { return entry.value() < cutoff; });
    };
    dropOld(deleted_);
    dropOld(deletedPaths_);

    QSet<QString> referenced;
    for (const ShelfItem& item : std::as_const(items_)) {
        referenced.insert(item.sessionID);
    }
    sessions_.removeIf([&](const auto& entry) {
        return !referenced.contains(entry.key()) && entry.value().lastActive < cutoff;
    });
    prompts_.removeIf([&](const auto& entry) {
        return !referenced.contains(entry.value().sessionID) && entry.value().at < cutoff;
    });
    titleChecks_.removeIf([&](const auto& entry) { return !sessions_.contains(entry.key()); });
    // Checks of items gone since are of no use: dropped here, and from the next index written.
    sourceChecks_.removeIf([&](const auto& entry) {
        return !items_.contains(entry.value().id) && !hiddenItems_.contains(entry.value().id);
    });

    if (counts() != before) {
        markDirty(true);
    }

    const qsizetype offsetsBefore = offsets_.size();
    offsets_.removeIf([](const auto& entry) { return !FileStat::exists(entry.key()); });
    if (offsets_.size() < offsetsBefore) {
        scheduleOffsetsSave();
    }
    return expired;
}

Snapshot Store::snapshot(std::optional<qint64> limit) {
    if (cachedSnapshot_ && cachedSnapshot_->revision == revision_ &&
        cachedSnapshot_->limit == limit) {
        return cachedSnapshot_->snapshot;
    }
    ++snapshotBuilds_;
    Snapshot snap;

    // Newest first; equal dates by ascending id so that every snapshot has one order.
    QList<const ShelfItem*> sorted;
    sorted.reserve(items_.size());
    for (const ShelfItem& item : std::as_const(items_)) {
        sorted.append(&item);
    }
    const auto newestFirst = [](const ShelfItem* a, const ShelfItem* b) {
        if (a->createdAt != b->createdAt) {
            return a->createdAt > b->createdAt;
        }
        return a->id < b->id;
    };
    const qsizetype keep = limit ? std::clamp<qint64>(*limit, 0, sorted.size()) : sorted.size();
    std::partial_sort(sorted.begin(), sorted.begin() + keep, sorted.end(), newestFirst);
    snap.items.reserve(keep);
    for (qsizetype i = 0; i < keep; ++i) {
        snap.items.append(*sorted[i]);
    }

    // An item without a prompt belongs to the last prompt of its session given before it.
    if (!prompts_.isEmpty()) {
        QHash<QString, QList<const Prompt*>> bySession;
        for (const Prompt& prompt : std::as_const(prompts_)) {
            bySession[prompt.sessionID].append(&prompt);
        }
        for (auto& group : bySession) {
            std::sort(group.begin(), group.end(), [](const Prompt* a, const Prompt* b) {
                if (a->at != b->at) {
                    return a->at < b->at;
                }
                return a->id < b->id;
            });
        }
        for (ShelfItem& item : snap.items) {
            if (item.promptID) {
                continue;
            }
            const auto group = bySession.constFind(item.sessionID);
            if (group == bySession.constEnd()) {
                continue;
            }
            const auto after =
                std::upper_bound(group->begin(), group->end(), item.createdAt,
                                 [](Date at, const Prompt* prompt) { return at < prompt->at; });
            if (after != group->begin()) {
                item.promptID = (*(after - 1))->id;
            }
        }
    }

    QSet<QString> promptIDs;
    for (const ShelfItem& item : std::as_const(snap.items)) {
        if (item.promptID && !promptIDs.contains(*item.promptID)) {
            promptIDs.insert(*item.promptID);
            if (const auto it = prompts_.constFind(*item.promptID); it != prompts_.constEnd()) {
                snap.prompts.append(*it);
            }
        }
    }
    std::sort(snap.prompts.begin(), snap.prompts.end(), [](const Prompt& a, const Prompt& b) {
        if (a.at != b.at) {
            return a.at < b.at;
        }
        return a.id < b.id;
    });

    snap.sessions = sessions_.values();
    std::sort(snap.sessions.begin(), snap.sessions.end(), [](const Session& a, const Session& b) {
        if (a.lastActive != b.lastActive) {
            return a.lastActive > b.lastActive;
        }
        return a.id < b.id;
    });

    QList<const HiddenRecord*> records;
    records.reserve(hiddenItems_.size());
    for (const HiddenRecord& record : std::as_const(hiddenItems_)) {
        records.append(&record);
    }
    std::sort(records.begin(), records.end(), [](const HiddenRecord* a, const HiddenRecord* b) {
        if (a->hiddenAt != b->hiddenAt) {
            return a->hiddenAt > b->hiddenAt;
        }
        return a->item.id < b->item.id;
    });
    snap.hidden.reserve(records.size());
    for (const HiddenRecord* record : records) {
        snap.hidden.append(record->item);
    }

    cachedSnapshot_ = CachedSnapshot{revision_, limit, snap};
    return snap;
}

} // namespace ostrel
