#include "Ostrel/Model/PopupMenuRunner.h"

#include "Ostrel/Model/MenuAction.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/ShelfMetrics.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QWidget>

namespace ostrel {

namespace {

// A control stands for itself while its window is on screen, shown or not: the header's
// stand-in widgets only mark where a control lies and are never shown themselves.
bool placesMenu(const QWidget* control) {
    return control != nullptr && control->window() != nullptr && control->window()->isVisible();
}

} // namespace

bool PopupMenuRunner::canShow(QWidget* control) const {
    return placesMenu(control) || QApplication::activeWindow() != nullptr;
}

void PopupMenuRunner::run(const QList<MenuEntry>& entries, QWidget* control) {
    if (!canShow(control)) {
        return;
    }
    // No parent: a menu parented into the shelf panel would take on the panel's transparent
    // style sheet and draw as a black box where no compositor blends it.
    QMenu menu;
    MenuAction::fill(menu, entries);
    if (!placesMenu(control)) {
        menu.exec(QCursor::pos());
        return;
    }
    // Below the control when the menu fits above the bottom of the screen's usable area, else
    // above it. The placement rule works with y growing upwards, so flip about the screen.
    const QRect global(control->mapToGlobal(QPoint(0, 0)), control->size());
    const QScreen* screen = control->window()->screen();
    const QRect usable = screen ? screen->availableGeometry() : QRect();
    const double height = menu.sizeHint().height();
    const double top = screen ? screen->geometry().bottom() + 1 : 0;
    const QRectF flipped(global.x(), top - (global.y() + global.height()), global.width(),
                         global.height());
    const double floor = screen ? top - (usable.y() + usable.height()) : 0;
    const double originY = MenuPlacement::originY(flipped, height, floor, ShelfMetrics::menuGap);
    // originY is the menu's top edge measured upwards from the control's bottom edge.
    const int y = int(global.height() - originY + 0.5);
    menu.exec(control->mapToGlobal(QPoint(0, y)));
}

} // namespace ostrel
