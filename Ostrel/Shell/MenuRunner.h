#pragma once

#include "Ostrel/Shell/MenuEntry.h"

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

// A real QMenu below the control (above it when the screen's usable area ends first), run with
// exec().
class PopupMenuRunner final : public MenuRunner {
public:
    bool canShow(QWidget* control) const override;
    void run(const QList<MenuEntry>& entries, QWidget* control) override;
};

} // namespace ostrel
