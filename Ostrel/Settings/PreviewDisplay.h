#pragma once

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Records/Preferences.h"

#include <QRectF>

#include <optional>

class QScreen;

namespace ostrel {

// The screen a preview draws in miniature: the shelf's layout on it, and where its camera
// housing, top bar and panel are. Rectangles are in screen coordinates (y up).
struct PreviewDisplay {
    DisplayLayout layout;
    std::optional<QRectF> notch;
    std::optional<QRectF> menuBar;
    std::optional<QRectF> dock;

    // A 1512 × 982 screen with a camera housing, always in the notch style: what the previews
    // show when the system reports no screen.
    static PreviewDisplay standard();
    // One screen from its frame, visible frame and housing, for the user's style choice. The
    // panel is drawn on `dockSide` when the visible frame leaves room there.
    static PreviewDisplay make(const DisplayStyleChoice& choice, const QRectF& frame,
                               const QRectF& visible, const std::optional<QRectF>& notch,
                               DockSide dockSide);
    // The side of the largest gap left, below or right of the visible frame; bottom when none.
    static DockSide dockSide(const QRectF& frame, const QRectF& visible);
    static PreviewDisplay fromScreen(const QScreen& screen, const DisplayStyleChoice& choice);
    // The first screen of the system, or the standard screen without one.
    static PreviewDisplay fallback(const Preferences& prefs);
    // The screen the Settings window stands on, else the fallback.
    static PreviewDisplay current(const Preferences& prefs);
};

} // namespace ostrel
