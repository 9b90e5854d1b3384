#pragma once

#include "OstrelCore/Records/ShelfItem.h"

#include <QImage>

#include <functional>

namespace ostrel {

// Dragging an item out of the shelf as a file, as the shelf model drives it. This base never
// starts a drag; the drag source of the item views derives from it.
class DragOut {
public:
    virtual ~DragOut() = default;

    // Starts a drag of the item's file (a link file for a remote item) with the icon (may be
    // null); false while a drag runs or when none can start.
    virtual bool begin(const ShelfItem& item, const QImage& icon) {
        (void)item, (void)icon;
        return false;
    }

    // Run when the drag ends; set by the model.
    std::function<void()> onEnd;
};

} // namespace ostrel
