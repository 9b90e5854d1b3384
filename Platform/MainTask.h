#pragma once

#include "Platform/MainClock.h"

#include <functional>
#include <memory>

class QObject;

namespace ostrel {

// One kind of delayed step on the main thread, at most one pending at a time: scheduling a new
// step cancels the one still waiting, and destroying the task cancels it too. The step does not
// run once its context object is gone.
class MainTask {
public:
    explicit MainTask(std::shared_ptr<MainClock> clock = MainClock::system())
        : clock_(std::move(clock)) {}
    ~MainTask() { cancel(); }

    MainTask(const MainTask&) = delete;
    MainTask& operator=(const MainTask&) = delete;

    // Runs `step` after `seconds` of uptime.
    void after(double seconds, const QObject* context, std::function<void()> step) {
        cancel();
        handle_ = clock_->after(seconds, context, std::move(step));
    }
    // Waits `seconds` stretched by the motion scale, as every interface pause does.
    void pause(double seconds, double scale, const QObject* context, std::function<void()> step) {
        after(seconds * scale, context, std::move(step));
    }
    void cancel() { handle_.cancel(); }
    bool isPending() const { return handle_.isActive(); }

    const std::shared_ptr<MainClock>& clock() const { return clock_; }

private:
    std::shared_ptr<MainClock> clock_;
    MainClock::Handle handle_;
};

} // namespace ostrel
