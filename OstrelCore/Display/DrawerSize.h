#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QRectF>
#include <QSizeF>

#include <optional>

namespace ostrel::DrawerSize {

// Height of the message band (where the undo toast shows) that every drawer and panel reserves.
inline constexpr double messageRoom = 40;
inline constexpr double sideStacksWidth = 204;

// The open drawer's size for a layout kind; the visible frame narrows the height (pills only).
// A screen smaller than its margins gives 0 in that direction.
QSizeF expanded(ShelfLayoutKind kind, const QRectF& screen, const std::optional<QRectF>& visible);

// What the shelf panel reserves for a style: room for every layout kind the style can show, plus
// the message band.
QSizeF panel(const DisplayStyle& style, const QRectF& screen, const std::optional<QRectF>& visible);

// A 4:3 card filling a column less what shows behind it.
QSizeF fillingCard(double column, double behind);

} // namespace ostrel::DrawerSize
