#pragma once

#include "Ostrel/Model/ShelfKey.h"

#include <optional>

class QKeyEvent;

namespace ostrel {

// The shelf key a key press stands for: space and escape once per press, arrows with their
// repeats, nothing while Shift, Ctrl, Alt or Super is held.
std::optional<ShelfKey> shelfKey(const QKeyEvent& event);

// Key combinations the open shelf swallows without acting (Ctrl or Super held).
bool swallowsKeyCombination(const QKeyEvent& event);

} // namespace ostrel
