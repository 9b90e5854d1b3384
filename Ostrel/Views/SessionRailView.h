#pragma once

#include "Ostrel/Views/SessionSplit.h"

namespace ostrel {

// The rail layout: the session split with a 180-point sidebar and the selected session's turns as
// captioned grids of 160 x 120 cards in three columns.
class SessionRailView final : public SessionSplit {
    Q_OBJECT
public:
    static inline const QSizeF thumb{160, 120};
    static constexpr qsizetype columns = 3;

    explicit SessionRailView(const ViewContext& context, QGraphicsItem* parent = nullptr);

    static Arrangement railArrangement();
};

} // namespace ostrel
