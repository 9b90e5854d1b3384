#pragma once

#include "Ostrel/Views/ScrollExtent.h"

#include <QRectF>
#include <QtGlobal>

namespace ostrel {

// Where the rows of the session sidebar lie in its scrolled content: rows of one height, 2 points
// apart, with 2 points above the first and below the last. Everything is arithmetic, so a list of
// thousands of sessions costs nothing to place and only the rows in view get built.
struct SidebarLayout {
    static constexpr double padding = 2;
    static constexpr double spacing = 2;

    qsizetype count = 0;
    double rowHeight = 0;
    double width = 0;

    double contentHeight() const;
    QRectF rowRect(qsizetype index) const;
    // The half-open range [first, last) of rows that intersect the viewport at `offset`.
    struct Range {
        qsizetype first = 0;
        qsizetype last = 0;
        bool isEmpty() const { return first >= last; }
        friend bool operator==(const Range&, const Range&) = default;
    };
    Range visible(double offset, double viewport) const;
    // The row under a content point; -1 in the gaps and outside.
    qsizetype rowAt(double y) const;

    ScrollExtent extent(double viewport) const { return {contentHeight(), viewport}; }
};

} // namespace ostrel
