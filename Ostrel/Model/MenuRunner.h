#pragma once

#include "Ostrel/Model/MenuEntry.h"

#include <QList>

class QWidget;

namespace ostrel {

// Shows a menu the model built next to the control that was pressed and returns when it closes.
class MenuRunner {
public:
    virtual ~MenuRunner() = default;
    // Whether there is anywhere to show a menu for this control: its window, else the active one.
    virtual bool canShow(QWidget* control) const = 0;
    // Blocks until the menu closes; the chosen entry's action has run by then.
    virtual void run(const QList<MenuEntry>& entries, QWidget* control) = 0;
};

} // namespace ostrel
