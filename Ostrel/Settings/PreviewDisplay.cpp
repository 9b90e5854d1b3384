#include "Ostrel/Settings/PreviewDisplay.h"

#include "Ostrel/Panels/ScreenSpace.h"
#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/NotchGeometry.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

namespace ostrel {

using namespace Geometry;

PreviewDisplay PreviewDisplay::standard() {
    const QRectF frame(0, 0, 1512, 982);
    const QRectF notch(663, 950, 186, 32);
    return PreviewDisplay{DisplayLayout(DisplayStyle::notch(), frame, std::nullopt, notch), notch,
                          QRectF(0, 950, 1512, 32), std::nullopt};
}

DockSide PreviewDisplay::dockSide(const QRectF& frame, const QRectF& visible) {
    const double left = minX(visible) - minX(frame);
    const double bottom = minY(visible) - minY(frame);
    const double right = maxX(frame) - maxX(visible);
    if (left > bottom && left > right) {
        return DockSide::left;
    }
    if (right > bottom && right > left) {
        return DockSide::right;
    }
    return DockSide::bottom;
}

PreviewDisplay PreviewDisplay::make(const DisplayStyleChoice& choice, const QRectF& frame,
                                    const QRectF& visible, const std::optional<QRectF>& notch,
                                    DockSide dockSide) {
    PreviewDisplay d{DisplayLayout::make(choice, NotchGeometry{frame, notch}, visible), notch,
                     std::nullopt, std::nullopt};
    switch (dockSide) {
    case DockSide::left:
        if (minX(frame) < minX(visible)) {
            d.dock = QRectF(minX(frame), midY(frame) - 0.3 * frame.height(),
                            minX(visible) - minX(frame), 0.6 * frame.height());
        }
        break;
    case DockSide::bottom:
        if (minY(frame) < minY(visible)) {
            d.dock = QRectF(midX(frame) - 0.3 * frame.width(), minY(frame), 0.6 * frame.width(),
                            minY(visible) - minY(frame));
        }
        break;
    case DockSide::right:
        if (maxX(visible) < maxX(frame)) {
            d.dock = QRectF(maxX(visible), midY(frame) - 0.3 * frame.height(),
                            maxX(frame) - maxX(visible), 0.6 * frame.height());
        }
        break;
    }
    if (maxY(visible) < maxY(frame)) {
        d.menuBar = QRectF(minX(frame), maxY(visible), frame.width(), maxY(frame) - maxY(visible));
    }
    return d;
}

PreviewDisplay PreviewDisplay::fromScreen(const QScreen& screen, const DisplayStyleChoice& choice) {
    const QRectF frame = ScreenSpace::fromQt(QRectF(screen.geometry()));
    const QRectF visible = ScreenSpace::fromQt(QRectF(screen.availableGeometry()));
    // No screen here reports a camera housing.
    return make(choice, frame, visible, std::nullopt, dockSide(frame, visible));
}

PreviewDisplay PreviewDisplay::fallback(const Preferences& prefs) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty() || screens.front() == nullptr) {
        return standard();
    }
    return fromScreen(*screens.front(), prefs.displayStyle);
}

PreviewDisplay PreviewDisplay::current(const Preferences& prefs) {
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == QStringLiteral("Settings")) {
            if (const QScreen* screen = w->screen()) {
                return fromScreen(*screen, prefs.displayStyle);
            }
            break;
        }
    }
    return fallback(prefs);
}

} // namespace ostrel
