#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Records/Preferences.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <limits>
#include <optional>

namespace ostrel {

// How the open drawer lays out its sessions. `column` and `sideStacks` are the tall, narrow forms
// of `rail` and `stacks` for a pill at the left or right edge.
enum class ShelfLayoutKind { rail, stacks, column, sideStacks };

inline constexpr std::array<ShelfLayoutKind, 4> allShelfLayoutKinds{
    ShelfLayoutKind::rail, ShelfLayoutKind::stacks, ShelfLayoutKind::column,
    ShelfLayoutKind::sideStacks};

// Grid columns the keyboard selection and the grid views use; 0 means one horizontal strip.
constexpr qint64 columns(ShelfLayoutKind kind) {
    switch (kind) {
    case ShelfLayoutKind::rail:
        return 3;
    case ShelfLayoutKind::stacks:
        return 0;
    case ShelfLayoutKind::column:
        return 2;
    case ShelfLayoutKind::sideStacks:
        return 1;
    }
    return 0;
}

// What a column count of 0 or less stands for where rows are walked: one row holding everything.
// Test for it before multiplying by it; a product would overflow.
inline constexpr qint64 unboundedColumns = std::numeric_limits<qint64>::max();

inline QString rawValue(ShelfLayoutKind kind) {
    switch (kind) {
    case ShelfLayoutKind::rail:
        return QStringLiteral("rail");
    case ShelfLayoutKind::stacks:
        return QStringLiteral("stacks");
    case ShelfLayoutKind::column:
        return QStringLiteral("column");
    case ShelfLayoutKind::sideStacks:
        return QStringLiteral("sideStacks");
    }
    return {};
}

inline std::optional<ShelfLayoutKind> shelfLayoutKindFromRaw(const QString& raw) {
    for (const auto kind : allShelfLayoutKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

// The layout kind in effect for a style and the user's layout choice: the narrow forms for a pill
// at the left or right edge.
constexpr ShelfLayoutKind resolveShelfLayoutKind(const DisplayStyle& style, LayoutChoice chosen) {
    const bool stacks = chosen == LayoutChoice::stacks;
    if (isSide(style.position())) {
        return stacks ? ShelfLayoutKind::sideStacks : ShelfLayoutKind::column;
    }
    return stacks ? ShelfLayoutKind::stacks : ShelfLayoutKind::rail;
}

} // namespace ostrel
