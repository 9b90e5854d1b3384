#pragma once

#include <QImage>

namespace ostrel {

// The application's icon, one image for the whole process: the Settings sidebar, the About pane
// and the other windows all draw it, at their own sizes.
namespace AppIcon {

// Made on first use and kept; never null. Its drawing leaves a transparent margin of 100/1024
// of its side around the icon's body.
const QImage& image();

} // namespace AppIcon

} // namespace ostrel
