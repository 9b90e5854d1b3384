#include "Ostrel/Panels/ShelfKeyEvent.h"

#include <QKeyEvent>

namespace ostrel {

std::optional<ShelfKey> shelfKey(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) {
        return std::nullopt;
    }
    // The keypad flag rides along with arrow keys on some keyboards; it is no modifier here.
    constexpr Qt::KeyboardModifiers held =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event.modifiers() & held) {
        return std::nullopt;
    }
    switch (event.key()) {
    case Qt::Key_Space:
        return event.isAutoRepeat() ? std::nullopt : std::optional(ShelfKey::space);
    case Qt::Key_Escape:
        return event.isAutoRepeat() ? std::nullopt : std::optional(ShelfKey::escape);
    case Qt::Key_Left:
        return ShelfKey::left;
    case Qt::Key_Right:
        return ShelfKey::right;
    case Qt::Key_Down:
        return ShelfKey::down;
    case Qt::Key_Up:
        return ShelfKey::up;
    default:
        return std::nullopt;
    }
}

bool swallowsKeyCombination(const QKeyEvent& event) {
    return (event.type() == QEvent::KeyPress || event.type() == QEvent::ShortcutOverride) &&
           (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

} // namespace ostrel
