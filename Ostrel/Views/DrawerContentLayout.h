#pragma once

#include <QMarginsF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace ostrel {

// How the open drawer splits its rectangle: the header band at the top (lower by `bandTop`), the
// layout's content below it, and the message band kept free for the undo toast below the content
// (above it for the bottom pill).
struct DrawerContentLayout {
    struct Input {
        QSizeF size;
        double band = 0;
        double bandTop = 0;
        double message = 0;
        bool messageOnTop = false;
    };

    std::optional<QRectF> header;
    QRectF content;

    static DrawerContentLayout make(const Input& in);

    // The toast: at most 320 wide, 14 in from the sides, 10 from the drawer's bottom edge (its top
    // edge when on top), centred. `wanted` is its width with the whole text.
    static QRectF toast(QSizeF drawer, double wanted, bool onTop);
    static constexpr double toastHeight = 28;
    static constexpr double toastMaxWidth = 320;

    // The empty state's text column: at most 180 wide with 20 on each side, centred in `content`
    // with its stack of `height`.
    static QRectF emptyStack(const QRectF& content, double width, double height);
    static double emptyTextWidth(const QRectF& content);
};

// The session split inside its area: the session sidebar, the hairline divider and the content area
// where the selected session's turn grid sits. The rail pads it by its own margins; the edge
// column pads the header and the split together, so its split has none.
struct RailLayout {
    static constexpr double sidebarWidth = 180;
    static constexpr double topPadding = 4;
    static constexpr double sidePadding = 14;
    static constexpr double bottomPadding = 12;
    static constexpr double contentLeading = 12;
    static constexpr double dividerInset = 2;
    static inline const QMarginsF padding{sidePadding, topPadding, sidePadding, bottomPadding};

    QRectF sidebar;
    QRectF divider;
    QRectF content;

    static RailLayout make(const QRectF& area, double sidebar = sidebarWidth,
                           const QMarginsF& margins = padding);
};

} // namespace ostrel
