#include "OstrelCore/Shelf/CollapsedSections.h"

#include <algorithm>

namespace ostrel {

namespace {

bool isStrip(ShelfLayoutKind kind) {
    return kind == ShelfLayoutKind::stacks || kind == ShelfLayoutKind::sideStacks;
}

} // namespace

void CollapsedSections::toggle(const QString& id) {
    if (!ids.remove(id)) {
        ids.insert(id);
    }
}

QList<QStringList> CollapsedSections::selectable(const SessionGroup& group) const {
    QList<QStringList> sections;
    for (const Turn& turn : group.turns) {
        if (ids.contains(turn.id)) {
            continue;
        }
        QStringList section;
        section.reserve(turn.items.size());
        for (const ShelfItem& item : turn.items) {
            section.append(item.id);
        }
        sections.append(std::move(section));
    }
    return sections;
}

QStringList CollapsedSections::selectableStrip(const QList<SessionGroup>& groups) const {
    QStringList strip;
    for (const SessionGroup& group : groups) {
        if (ids.contains(group.session.id)) {
            continue;
        }
        for (const Turn& turn : group.turns) {
            for (const ShelfItem& item : turn.items) {
                strip.append(item.id);
            }
        }
    }
    return strip;
}

CollapsedSections::Selection CollapsedSections::selection(ShelfLayoutKind kind,
                                                          const QList<SessionGroup>& groups,
                                                          const SessionGroup* selected) const {
    Selection frame;
    frame.columns = ostrel::columns(kind);
    if (isStrip(kind)) {
        frame.sections = {selectableStrip(groups)};
    } else if (selected) {
        frame.sections = selectable(*selected);
    }
    return frame;
}

bool CollapsedSections::canSelect(const QString& itemID, ShelfLayoutKind kind,
                                  const QList<SessionGroup>& groups,
                                  const SessionGroup* selected) const {
    const auto holds = [&itemID](const Turn& turn) {
        return std::any_of(turn.items.cbegin(), turn.items.cend(),
                           [&itemID](const ShelfItem& item) { return item.id == itemID; });
    };
    if (isStrip(kind)) {
        return std::any_of(groups.cbegin(), groups.cend(), [&](const SessionGroup& group) {
            return !ids.contains(group.session.id) &&
                   std::any_of(group.turns.cbegin(), group.turns.cend(), holds);
        });
    }
    if (!selected) {
        return false;
    }
    return std::any_of(selected->turns.cbegin(), selected->turns.cend(),
                       [&](const Turn& turn) { return !ids.contains(turn.id) && holds(turn); });
}

std::optional<QString> ShelfSelection::move(const std::optional<QString>& selected,
                                            Direction direction,
                                            const QList<QStringList>& allSections, qint64 columns) {
    QList<const QStringList*> sections;
    for (const QStringList& section : allSections) {
        if (!section.isEmpty()) {
            sections.append(&section);
        }
    }
    if (sections.isEmpty()) {
        return std::nullopt;
    }
    const QString& first = sections.front()->front();
    if (!selected) {
        return first;
    }

    qsizetype s = -1;
    qsizetype i = -1;
    qsizetype before = 0; // ids in the sections ahead of section s
    for (qsizetype at = 0; at < sections.size(); ++at) {
        i = sections[at]->indexOf(*selected);
        if (i >= 0) {
            s = at;
            break;
        }
        before += sections[at]->size();
    }
    if (s < 0) {
        return first;
    }
    const QStringList& section = *sections[s];
    const qsizetype length = section.size();

    // Unbounded columns put every section on one row; they are never multiplied, which would
    // overflow.
    const bool unbounded = columns <= 0;
    const qint64 c = unbounded ? unboundedColumns : columns;
    const qint64 row = i / c;
    const qint64 column = i - (unbounded ? 0 : row * c);

    switch (direction) {
    case Direction::left:
    case Direction::right: {
        const qsizetype target = before + i + (direction == Direction::left ? -1 : 1);
        qsizetype offset = 0;
        for (const QStringList* each : sections) {
            if (target >= offset && target < offset + each->size()) {
                return each->at(target - offset);
            }
            offset += each->size();
        }
        return selected;
    }
    case Direction::up: {
        if (row >= 1) {
            return section.at(qsizetype((row - 1) * c + column));
        }
        if (s == 0 || unbounded) {
            return selected;
        }
        const QStringList& previous = *sections[s - 1];
        const qint64 last = previous.size() - 1;
        return previous.at(qsizetype(std::min(last, (last / c) * c + column)));
    }
    case Direction::down: {
        if (unbounded) {
            return selected;
        }
        // The next row starts at (row + 1) * c; compared by subtraction so that a huge column
        // count cannot overflow.
        const qint64 rowStart = row * c;
        if (c < length - rowStart) {
            const qint64 next = rowStart + c;
            return section.at(qsizetype(std::min<qint64>(length - 1, next + column)));
        }
        if (s == sections.size() - 1) {
            return selected;
        }
        const QStringList& following = *sections[s + 1];
        return following.at(qsizetype(std::min<qint64>(following.size() - 1, column)));
    }
    }
    return selected;
}

} // namespace ostrel
