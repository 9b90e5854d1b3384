#pragma once

#include <QPointF>
#include <QtGlobal>

#include <functional>

namespace ostrel {

// The hover tips of cut-short labels as the shelf model drives them. This base shows nothing;
// the tip view derives from it.
class TipCenter {
public:
    virtual ~TipCenter() = default;

    // The pointer moved (Qt global coordinates, y downwards); `inside` is whether it is in an
    // open, shown drawer.
    virtual void pointerMoved(const QPointF& location, bool inside) {
        (void)location, (void)inside;
    }
    // Finds the anchor under the last pointer position again (content moved under it).
    virtual void refreshAnchor() {}
    // The shelf closed: stops the rest check and resets the tip timer.
    virtual void reset() {}

    // Asked before a tip shows on a display; set by the model.
    std::function<bool(quint32 display)> canShow = [](quint32) { return false; };
};

} // namespace ostrel
