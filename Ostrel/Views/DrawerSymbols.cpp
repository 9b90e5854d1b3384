#include "Ostrel/Views/DrawerSymbols.h"

#include <QtGlobal>

static void registerDrawerSymbols() {
    Q_INIT_RESOURCE(DrawerSymbols);
}

namespace ostrel::DrawerSymbols {

void ensure() {
    static const bool done = [] {
        registerDrawerSymbols();
        return true;
    }();
    (void)done;
}

} // namespace ostrel::DrawerSymbols
