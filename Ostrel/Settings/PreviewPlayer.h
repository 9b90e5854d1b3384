#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace ostrel {

// Everything a preview's loop depends on. A different key starts the loop over.
struct PlayKey {
    bool playing = false;
    bool reduceMotion = false;
    QString detail;
    friend bool operator==(const PlayKey&, const PlayKey&) = default;
};

// Runs a preview's looping scene against an interface clock (seconds). A step makes its changes
// as of the moment it is due and returns how long to wait before the next one; every wait is
// stretched by the motion scale. The loop has no end of its own: a new start replaces it, and
// `stop` ends it without applying anything more.
class PreviewPlayer {
public:
    // `at` is the moment the step is due, which its animations start from.
    using Step = std::function<double(double at)>;

    struct Scene {
        // Puts every animated value back at the start, without animation.
        std::function<void()> reset;
        // The frame shown instead of the loop, after the reset, when the preview must not move.
        std::function<void()> still;
        double leadIn = 0;
        std::vector<Step> loop;
    };

    // Starts the scene unless `key` is the running key; returns whether it (re)started.
    bool start(const PlayKey& key, Scene scene, double now, double scale);
    void stop();
    // Runs every step that has come due by `now`.
    void advance(double now);

    bool running() const { return running_; }
    const PlayKey& key() const { return key_; }
    bool hasKey() const { return hasKey_; }
    // When the next step is due; meaningless while not running.
    double nextDue() const { return due_; }

private:
    PlayKey key_;
    bool hasKey_ = false;
    Scene scene_;
    bool running_ = false;
    std::size_t index_ = 0;
    double due_ = 0;
    double scale_ = 1;
};

} // namespace ostrel
