#include "Ostrel/Settings/PreviewPlayer.h"

#include <algorithm>

namespace ostrel {

bool PreviewPlayer::start(const PlayKey& key, Scene scene, double now, double scale) {
    if (hasKey_ && key == key_) {
        return false;
    }
    key_ = key;
    hasKey_ = true;
    scene_ = std::move(scene);
    running_ = false;
    index_ = 0;
    scale_ = scale;
    if (scene_.reset) {
        scene_.reset();
    }
    if (!key.playing || key.reduceMotion || scene_.loop.empty()) {
        if (scene_.still) {
            scene_.still();
        }
        return true;
    }
    running_ = true;
    due_ = now + std::max(scene_.leadIn, 0.0) * scale_;
    return true;
}

void PreviewPlayer::stop() {
    running_ = false;
    hasKey_ = false;
}

void PreviewPlayer::advance(double now) {
    // A preview that was not drawn for a long while (a suspended machine) picks up from now
    // instead of replaying every missed step.
    constexpr double catchUpLimit = 10.0;
    if (running_ && now - due_ > catchUpLimit) {
        due_ = now;
    }
    std::size_t idle = 0;
    while (running_ && now >= due_) {
        const double at = due_;
        // A loop whose every step has no wait would never let time pass.
        if (++idle > 4 * scene_.loop.size() + 4) {
            due_ = now + 1.0 / 60.0;
            break;
        }
        const double wait = scene_.loop[index_](at);
        index_ = (index_ + 1) % scene_.loop.size();
        // A step without a wait shares its moment with the next one.
        due_ = at + std::max(wait, 0.0) * scale_;
        if (due_ > at) {
            idle = 0;
        }
    }
}

} // namespace ostrel
