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

QWidget* hostOf(QWidget* control) {
    if (control != nullptr && control->window() != nullptr && control->isVisible()) {
        return control;
    }
    return QApplication::activeWindow();
}

} // namespace

bool PopupMenuRunner::canShow(QWidget* control) const {
    return hostOf(control) != nullptr;
}

void PopupMenuRunner::run(const QList<MenuEntry>& entries, QWidget* control) {
    QWidget* host = hostOf(control);
    if (host == nullptr) {
        return;
    }
    QMenu menu(host);
    MenuAction::fill(menu, entries);
    if (host != control) {
        menu.exec(QCursor::pos());
        return;
    }
    // Below the control when the menu fits above the bottom of the screen's usable area, else
    // above it. The placement rule works with y growing upwards, so flip about the screen.
    const QRect global(control->mapToGlobal(QPoint(0, 0)), control->size());
    const QScreen* screen = control->screen();
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
