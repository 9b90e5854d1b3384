#pragma once

#include <QRect>
#include <QSize>

#include <optional>

namespace ostrel {

// Where the preview window opens. Where the screen has room it keeps clear of the open drawer at
// the size the user wants; where it has less, it keeps clear at a smaller size, down to
// `smallest`, giving up the margins before it gives up any room; only when even that does not
// fit does it lie over the drawer, and then not over the drawer's header or the selected card
// while the screen holds the smallest frame beside them. Qt coordinates in logical pixels;
// frames are outer frames, a window manager's title bar included.
struct PreviewPlacement {
    // The size the user wants: the default, or the size the user last gave the window.
    QSize wanted;
    // The screen's visible frame.
    QRect visible;
    // The open drawer; none while the shelf is closed.
    std::optional<QRect> drawer;
    // The selected card; none when it is not on screen.
    std::optional<QRect> card;
    // The smallest frame the preview may take: the panel's smallest size within its window frame.
    QSize smallest{240, 180};

    // Room kept from each edge of the visible frame.
    static constexpr int margin = 40;
    // Room kept from the drawer, and from what must stay in view.
    static constexpr int gap = 16;
    // The band at the top of the drawer that holds its header: a pill's header band is 32 deep
    // and lies 8 into its drawer, which lies 10 inside the frame the preview is given.
    static constexpr int headerDepth = 50;

    QRect frame() const;

    // The wanted size, kept within the visible frame less its margins, centred on that frame.
    static QRect centred(QSize wanted, QRect visible);
};

} // namespace ostrel
