#pragma once

#include <QColor>
#include <QPalette>

namespace ostrel {

// The named system colours the panes tint with, as fixed sRGB values.
enum class SystemColor { gray, blue, orange, indigo, teal, green };

// The Settings window's colours, each with a light and a dark form. Dark or light follows the
// application palette's window lightness, so painting reads it afresh and a palette change
// repaints in the other form without rebuilding anything.
namespace SettingsColors {

bool isDark(const QPalette& palette);
// The application palette's appearance.
bool isDark();
// The application palette is a desktop's high-contrast one: its window black or white, its text
// the other.
bool isHighContrast();

QColor windowBackground(bool dark);
QColor sidebarFill(bool dark);
QColor sidebarStroke(bool dark);
QColor rowSelection(bool dark);
QColor primaryText(bool dark);
QColor secondaryText(bool dark);
QColor tertiaryText(bool dark);
// The rounded boxes of a grouped form and the hairlines between their rows.
QColor groupFill(bool dark);
QColor groupStroke(bool dark);
QColor divider(bool dark);
QColor system(SystemColor color, bool dark);
// Switches and selected segments.
QColor accent(bool dark);

} // namespace SettingsColors

} // namespace ostrel
