#include "Ostrel/Panels/FullscreenWatcher.h"

#include "OstrelCore/Display/ActiveDisplay.h"
#include "OstrelCore/Display/Motion.h"

namespace ostrel {

FullscreenWatcher::FullscreenWatcher(x11::WindowSystem* windows,
                                     std::function<std::map<quint32, QRectF>()> bounds,
                                     std::function<void()> onSpaceChange,
                                     std::function<void(const QSet<quint32>&)> onChange,
                                     QObject* parent)
    : QObject(parent), windows_(windows), bounds_(std::move(bounds)),
      onSpaceChange_(std::move(onSpaceChange)), onChange_(std::move(onChange)) {}

void FullscreenWatcher::start() {
    if (windows_) {
        connect(windows_, &x11::WindowSystem::currentDesktopChanged, this, [this] {
            onSpaceChange_();
            checkTwice();
        });
        connect(windows_, &x11::WindowSystem::activeWindowChanged, this,
                &FullscreenWatcher::checkTwice);
        // A window turning full screen changes its state flags and its size.
        connect(windows_, &x11::WindowSystem::clientListChanged, this,
                &FullscreenWatcher::checkTwice);
        connect(windows_, &x11::WindowSystem::windowsRestacked, this,
                &FullscreenWatcher::checkTwice);
    }
    check();
}

void FullscreenWatcher::checkTwice() {
    check();
    recheck_.after(Motion::fullscreenRecheck, this, [this] { check(); });
}

void FullscreenWatcher::check() {
    std::vector<FullscreenCheck::Window> list;
    if (windows_) {
        for (const x11::ClientWindow& w : windows_->clientWindows()) {
            list.push_back(FullscreenCheck::Window{QRectF(w.bounds), w.fullscreen, w.hidden});
        }
    }
    onChange_(FullscreenCheck::displays(list, bounds_()));
}

} // namespace ostrel
