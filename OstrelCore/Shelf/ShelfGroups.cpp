#include "OstrelCore/Shelf/ShelfGroups.h"

#include "OstrelCore/Shelf/TextOrder.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ostrel {

namespace {

// Exact date order. A NaN (the store never writes one, but the type allows it) counts as older
// than every date and equal to another NaN, so the sorts below stay strict weak orders.
std::weak_ordering compareDates(Date a, Date b) {
    if (a.seconds < b.seconds) {
        return std::weak_ordering::less;
    }
    if (b.seconds < a.seconds) {
        return std::weak_ordering::greater;
    }
    const bool aNaN = std::isnan(a.seconds);
    const bool bNaN = std::isnan(b.seconds);
    if (aNaN == bNaN) {
        return std::weak_ordering::equivalent;
    }
    return aNaN ? std::weak_ordering::less : std::weak_ordering::greater;
}

// Newest first, equal dates by ascending id.
bool newerFirst(Date dateA, const QString& idA, Date dateB, const QString& idB) {
    const auto byDate = compareDates(dateA, dateB);
    if (byDate != 0) {
        return byDate > 0;
    }
    return TextOrder::less(idA, idB);
}

struct TurnPart {
    QString id;
    bool isEarlier = false;
    std::vector<const ShelfItem*> items;
    Date date;
};

struct SessionPart {
    QString sessionID;
    std::vector<const ShelfItem*> items;
};

SessionGroup makeGroup(const SessionPart& part, const QHash<QString, const Session*>& sessions,
                       const QHash<QString, const Prompt*>& prompts) {
    std::vector<TurnPart> turns;
    QHash<QString, size_t> turnIndex;
    for (const ShelfItem* item : part.items) {
        const QString turnID = Turn::idFor(*item);
        auto found = turnIndex.constFind(turnID);
        if (found == turnIndex.constEnd()) {
            found = turnIndex.insert(turnID, turns.size());
            turns.push_back({turnID, turnID.startsWith(Turn::earlierPrefix), {}, Date()});
        }
        turns[found.value()].items.push_back(item);
    }

    std::vector<const Prompt*> turnPrompts(turns.size(), nullptr);
    for (size_t i = 0; i < turns.size(); ++i) {
        TurnPart& turn = turns[i];
        turnPrompts[i] = prompts.value(turn.id, nullptr);
        turn.date = turnPrompts[i] ? turnPrompts[i]->at : turn.items.front()->createdAt;
    }

    std::vector<size_t> order(turns.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&turns](size_t a, size_t b) {
        const TurnPart& ta = turns[a];
        const TurnPart& tb = turns[b];
        if (ta.isEarlier != tb.isEarlier) {
            return tb.isEarlier;
        }
        return newerFirst(ta.date, ta.id, tb.date, tb.id);
    });

    SessionGroup group;
    group.turns.reserve(qsizetype(turns.size()));
    for (const size_t i : order) {
        Turn turn;
        turn.id = turns[i].id;
        if (turnPrompts[i]) {
            turn.prompt = *turnPrompts[i];
        }
        turn.items.reserve(qsizetype(turns[i].items.size()));
        for (const ShelfItem* item : turns[i].items) {
            turn.items.append(*item);
        }
        group.turns.append(std::move(turn));
    }

    const Date newestItem = part.items.front()->createdAt;
    if (const Session* session = sessions.value(part.sessionID, nullptr)) {
        group.session = *session;
    } else {
        group.session = Session(part.sessionID, std::nullopt, std::nullopt, std::nullopt,
                                part.items.back()->createdAt, newestItem);
    }
    group.newest = newestItem >= group.session.lastActive ? newestItem : group.session.lastActive;
    return group;
}

} // namespace

QString Turn::idFor(const ShelfItem& item) {
    if (item.promptID) {
        return *item.promptID;
    }
    return earlierPrefix + item.sessionID;
}

QList<ShelfItem> SessionGroup::items() const {
    QList<ShelfItem> all;
    for (const Turn& turn : turns) {
        all.append(turn.items);
    }
    return all;
}

QList<SessionGroup> ShelfGroups::build(const Snapshot& snapshot) {
    if (snapshot.items.isEmpty()) {
        return {};
    }

    // Of records sharing an id, the first listed counts.
    QHash<QString, const Session*> sessions;
    sessions.reserve(snapshot.sessions.size());
    for (const Session& session : snapshot.sessions) {
        if (!sessions.contains(session.id)) {
            sessions.insert(session.id, &session);
        }
    }
    QHash<QString, const Prompt*> prompts;
    prompts.reserve(snapshot.prompts.size());
    for (const Prompt& prompt : snapshot.prompts) {
        if (!prompts.contains(prompt.id)) {
            prompts.insert(prompt.id, &prompt);
        }
    }

    std::vector<const ShelfItem*> sorted;
    sorted.reserve(size_t(snapshot.items.size()));
    for (const ShelfItem& item : snapshot.items) {
        sorted.push_back(&item);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const ShelfItem* a, const ShelfItem* b) {
        return newerFirst(a->createdAt, a->id, b->createdAt, b->id);
    });

    std::vector<SessionPart> parts;
    QHash<QString, size_t> partIndex;
    for (const ShelfItem* item : sorted) {
        auto found = partIndex.constFind(item->sessionID);
        if (found == partIndex.constEnd()) {
            found = partIndex.insert(item->sessionID, parts.size());
            parts.push_back({item->sessionID, {}});
        }
        parts[found.value()].items.push_back(item);
    }

    std::vector<SessionGroup> groups;
    groups.reserve(parts.size());
    for (const SessionPart& part : parts) {
        groups.push_back(makeGroup(part, sessions, prompts));
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const SessionGroup& a, const SessionGroup& b) {
                         return newerFirst(a.newest, a.session.id, b.newest, b.session.id);
                     });

    QList<SessionGroup> result;
    result.reserve(qsizetype(groups.size()));
    for (SessionGroup& group : groups) {
        result.append(std::move(group));
    }
    return result;
}

QList<ShelfItem> ShelfGroups::arrivalOrder(const QList<ShelfItem>& items) {
    struct Entry {
        const ShelfItem* item;
        qint64 sequence;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(items.size()));
    for (const ShelfItem& item : items) {
        entries.push_back({&item, captureSequence(item)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const auto byDate = compareDates(a.item->createdAt, b.item->createdAt);
        if (byDate != 0) {
            return byDate < 0;
        }
        if (a.sequence != b.sequence) {
            return a.sequence < b.sequence;
        }
        return TextOrder::less(a.item->id, b.item->id);
    });
    QList<ShelfItem> ordered;
    ordered.reserve(items.size());
    for (const Entry& entry : entries) {
        ordered.append(*entry.item);
    }
    return ordered;
}

qint64 ShelfGroups::captureSequence(const ShelfItem& item) {
    if (!item.captureID) {
        return 0;
    }
    const QStringList pieces = item.captureID->split(u'#', Qt::SkipEmptyParts);
    if (pieces.isEmpty()) {
        return 0;
    }
    const QString& last = pieces.last();
    qsizetype at = 0;
    bool negative = false;
    if (at < last.size() && (last[at] == u'+' || last[at] == u'-')) {
        negative = last[at] == u'-';
        ++at;
    }
    if (at == last.size()) {
        return 0;
    }
    // The magnitude may reach 2^63 only for a negative number.
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    for (; at < last.size(); ++at) {
        const char16_t c = last[at].unicode();
        if (c < u'0' || c > u'9') {
            return 0;
        }
        const quint64 digit = quint64(c - u'0');
        if (magnitude > (limit - digit) / 10) {
            return 0;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative) {
        return magnitude == quint64(std::numeric_limits<qint64>::max()) + 1
                   ? std::numeric_limits<qint64>::min()
                   : -qint64(magnitude);
    }
    return qint64(magnitude);
}

} // namespace ostrel
