#pragma once

namespace ostrel {

// Sizes of the Settings sidebar, in logical pixels.
namespace SidebarMetrics {

inline constexpr double width = 219;
inline constexpr double outerPadding = 8;
inline constexpr double panelCorner = 14;
inline constexpr double rowHeight = 40;
inline constexpr double iconSize = 36;
inline constexpr double rowInset = 10;
inline constexpr double tileSize = 23;
inline constexpr double tileCorner = 6;
inline constexpr double rowSpacing = 9;
inline constexpr double contentInset = 16;
inline constexpr double selectionHeight = 36;
// The transparent margin inside the 36-pixel application icon (36 × 100 / 1024).
inline constexpr double iconInset = 3.515625;

} // namespace SidebarMetrics

} // namespace ostrel
