#pragma once

#include "Ostrel/Model/MenuRunner.h"

namespace ostrel {

// A real QMenu below the control (above it when the screen's usable area ends first), run with
// exec().
class PopupMenuRunner final : public MenuRunner {
public:
    bool canShow(QWidget* control) const override;
    void run(const QList<MenuEntry>& entries, QWidget* control) override;
};

} // namespace ostrel
