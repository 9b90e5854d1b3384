#pragma once

#include "OstrelCore/Display/ShelfLayoutKind.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// The sections the user folded on the open shelf: turn ids (rail and column layouts) and session
// ids (stacks layouts) in one set, told apart only by where they are looked up.
struct CollapsedSections {
    QSet<QString> ids;

    // The keyboard's frame: sections of item ids, walked in rows of `columns` (0 or less: one row).
    struct Selection {
        QList<QStringList> sections;
        qint64 columns = 0;
        friend bool operator==(const Selection&, const Selection&) = default;
    };

    bool contains(const QString& id) const { return ids.contains(id); }
    void toggle(const QString& id);
    // Keeps only the ids in `keeping`.
    void prune(const QSet<QString>& keeping) { ids.intersect(keeping); }

    // One section per open turn of the group.
    QList<QStringList> selectable(const SessionGroup& group) const;
    // The items of every open session as one strip; folded turns do not count here.
    QStringList selectableStrip(const QList<SessionGroup>& groups) const;
    // What the arrow keys walk for a layout kind; `selected` is the selected session's group.
    Selection selection(ShelfLayoutKind kind, const QList<SessionGroup>& groups,
                        const SessionGroup* selected) const;
    // Whether the item stands in one of the sections `selection` gives.
    bool canSelect(const QString& itemID, ShelfLayoutKind kind, const QList<SessionGroup>& groups,
                   const SessionGroup* selected) const;

    friend bool operator==(const CollapsedSections&, const CollapsedSections&) = default;
};

namespace ShelfSelection {

enum class Direction { left, right, up, down };

// One arrow-key step. Left and right walk all sections as one list; up and down keep the column
// across rows and sections. Never wraps around: at an end the selection stays. With nothing (or
// nothing known) selected, the first id. None only when there is nothing to select.
std::optional<QString> move(const std::optional<QString>& selected, Direction direction,
                            const QList<QStringList>& sections, qint64 columns);

} // namespace ShelfSelection

} // namespace ostrel
