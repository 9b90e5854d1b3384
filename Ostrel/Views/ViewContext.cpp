#include "Ostrel/Views/ViewContext.h"

#include "Ostrel/Model/ShelfModel.h"

namespace ostrel {

bool ViewContext::isOpenHere() const {
    return model && model->openScreen() == display;
}

} // namespace ostrel
