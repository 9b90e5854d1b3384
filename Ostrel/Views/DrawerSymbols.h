#pragma once

namespace ostrel::DrawerSymbols {

// Makes the drawer's own symbol pictures (chevrons, the filter and menu buttons, the chip's
// cross) known to `Symbols`; a static library must register its resources itself.
void ensure();

} // namespace ostrel::DrawerSymbols
