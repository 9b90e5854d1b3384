#include "Platform/MainClock.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <ctime>

namespace ostrel {

namespace {

class SystemMainClock final : public MainClock {
public:
    double now() const override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    }

    Handle after(double seconds, const QObject* context, std::function<void()> step) override {
        Q_ASSERT(onMainThread());
        auto cancelled = std::make_shared<bool>(false);
        // Rounded up, so a step never runs before its deadline on the uptime clock.
        const double ms = std::ceil(std::max(seconds, 0.0) * 1000.0);
        const int delay = ms > 2e9 ? 2000000000 : int(ms);
        QPointer<const QObject> guard(context);
        const bool hasContext = context != nullptr;
        QTimer::singleShot(delay, Qt::PreciseTimer, QCoreApplication::instance(),
                           [cancelled, guard, hasContext, step = std::move(step)] {
                               if (*cancelled || (hasContext && guard.isNull())) {
                                   return;
                               }
                               *cancelled = true;
                               step();
                           });
        return Handle(cancelled);
    }
};

} // namespace

bool MainClock::onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

std::shared_ptr<MainClock> MainClock::system() {
    static const std::shared_ptr<MainClock> clock = std::make_shared<SystemMainClock>();
    return clock;
}

struct ManualMainClock::Step {
    std::shared_ptr<bool> cancelled;
    QPointer<const QObject> context;
    bool hasContext = false;
    std::function<void()> run;
};

MainClock::Handle ManualMainClock::after(double seconds, const QObject* context,
                                         std::function<void()> step) {
    auto entry = std::make_shared<Step>();
    entry->cancelled = std::make_shared<bool>(false);
    entry->context = context;
    entry->hasContext = context != nullptr;
    entry->run = std::move(step);
    steps_.emplace(std::make_pair(now_ + std::max(seconds, 0.0), sequence_++), entry);
    return Handle(entry->cancelled);
}

int ManualMainClock::advance(double seconds) {
    const double end = now_ + std::max(seconds, 0.0);
    int ran = 0;
    while (!steps_.empty() && steps_.begin()->first.first <= end) {
        auto it = steps_.begin();
        const double at = it->first.first;
        const std::shared_ptr<Step> step = it->second;
        steps_.erase(it);
        now_ = std::max(now_, at);
        if (*step->cancelled || (step->hasContext && step->context.isNull())) {
            continue;
        }
        *step->cancelled = true;
        step->run();
        ++ran;
    }
    now_ = end;
    return ran;
}

int ManualMainClock::pending() const {
    int count = 0;
    for (const auto& [key, step] : steps_) {
        if (!*step->cancelled) {
            ++count;
        }
    }
    return count;
}

} // namespace ostrel
