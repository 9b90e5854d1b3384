#pragma once

#include <QColor>
#include <QFont>
#include <QString>

// The shelf's colours, corner radii and fonts. The increased-contrast variants follow the
// desktop's setting at the moment they are read (Motion::increaseContrast()).
namespace ostrel::ShelfStyle {

QColor accent();
QColor primaryText();
QColor secondaryText();
QColor tertiaryText();
QColor cardFill();
// The drawer's own colour, opaque.
QColor drawerGround();
QColor hairline();
QColor cardHover();
QColor rowFill();
QColor rowSelected();
QColor tipBackground();
QColor tipBorder();
QColor chipFill();
QColor chipStroke(bool emphasized);
QColor thumbLabel();
QColor thumbShade();
QColor thumbShadow();
QColor thumbScrim();
QColor thumbGlyph();

inline constexpr double tipCorner = 8;
inline constexpr double chipCorner = 4;
inline constexpr double thumbCorner = 10;
inline constexpr double badgeFontSize = 11;

// Fonts in the application's family, sized in pixels (the shelf's points).
const QFont& captionFont();
const QFont& headerFont();
const QFont& labelFont();
const QFont& tipFont();
// Unread counts. DejaVu Sans, the pinned family, has digits of one width already.
const QFont& countFont();
QFont badgeFont();

// An unread badge: the number, or "99+" above 99.
QString badgeText(qint64 count);

} // namespace ostrel::ShelfStyle
