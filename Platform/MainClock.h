#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <utility>

class QObject;

namespace ostrel {

// Interface time on the main thread: seconds of system uptime, and single-shot steps after a
// delay. Behind an interface so that tests run timers on a clock they move by hand.
class MainClock {
public:
    // Cancels one scheduled step; cancelling after it ran, or twice, does nothing.
    class Handle {
    public:
        Handle() = default;
        explicit Handle(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
        void cancel() {
            if (cancelled_) {
                *cancelled_ = true;
            }
            cancelled_.reset();
        }
        bool isActive() const { return cancelled_ && !*cancelled_; }

    private:
        std::shared_ptr<bool> cancelled_;
    };

    virtual ~MainClock() = default;

    // Seconds of uptime (CLOCK_MONOTONIC).
    virtual double now() const = 0;
    // Runs `step` on the main thread after `seconds` (0 or less: on the next turn of the event
    // loop), unless it was cancelled or `context` is gone by then.
    virtual Handle after(double seconds, const QObject* context, std::function<void()> step) = 0;

    // The system's clock and Qt's timers; one instance for the process.
    static std::shared_ptr<MainClock> system();
    // Whether the caller runs on the application's main thread (true before the application
    // object exists).
    static bool onMainThread();
};

// A clock moved by hand: steps run only inside `advance()` and `runDue()`, in deadline order.
class ManualMainClock final : public MainClock {
public:
    double now() const override { return now_; }
    Handle after(double seconds, const QObject* context, std::function<void()> step) override;

    // Moves the clock forward, running each step at its own deadline (steps scheduled on the way
    // run too when they fall due). Returns how many ran.
    int advance(double seconds);
    // Runs what is due now.
    int runDue() { return advance(0); }
    // Moves the clock forward without running what falls due meanwhile: a loaded machine, where a
    // paint comes after the time a timer was due and before the timer. advance() runs them late.
    void lag(double seconds) { now_ += std::max(seconds, 0.0); }
    // Steps waiting and not cancelled.
    int pending() const;

private:
    struct Step;
    double now_ = 0;
    unsigned long long sequence_ = 0;
    std::multimap<std::pair<double, unsigned long long>, std::shared_ptr<Step>> steps_;
};

} // namespace ostrel
