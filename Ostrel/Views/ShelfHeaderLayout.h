#pragma once

#include <QRectF>

#include <optional>

namespace ostrel {

// Where the header's controls lie in its band, from measured text widths: the project switcher at
// the leading inset, then a flexible gap, and at the trailing end the filter chip, the unread
// label, the filter button and the shelf menu button. The switcher gives way first when the band
// is too narrow.
struct ShelfHeaderLayout {
    static constexpr double buttonSide = 28;
    static constexpr double chipHeight = 20;
    static constexpr double chipPadding = 7;
    static constexpr double xmarkWidth = 7;
    static constexpr double chevronWidth = 8;
    static constexpr double switcherCap = 180;
    static constexpr double switcherPadding = 4; // above and below its label
    static constexpr double unreadDot = 6;

    struct Input {
        double width = 0;
        double height = 0;
        bool compact = false;
        double leading = 0;
        bool capped = true;
        // Widths of the texts as the fonts measure them.
        double projectText = 0;
        double textHeight = 0;
        std::optional<double> chipText;   // the filter chip shows
        std::optional<double> unreadText; // the unread label shows
    };

    QRectF switcher;
    // The project name's room inside the switcher (the chevron follows it).
    double projectTextWidth = 0;
    std::optional<QRectF> chip;
    std::optional<QRectF> unread;
    QRectF filterButton;
    QRectF menuButton;

    static ShelfHeaderLayout make(const Input& in);
};

} // namespace ostrel
