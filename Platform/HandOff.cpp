#include "Platform/HandOff.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ostrel {

bool postToMain(std::function<void()> job) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    QMetaObject::invokeMethod(app, handOff(std::move(job)), Qt::QueuedConnection);
    return true;
}

} // namespace ostrel
