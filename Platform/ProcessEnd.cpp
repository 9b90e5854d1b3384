#include "Platform/ProcessEnd.h"

#include "Platform/HandOff.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace ostrel {

struct ProcessEnd::State {
    ProcessEnd::Farewell farewell;
    std::atomic<bool> claimed{false};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false; // guarded by mutex
};

namespace {

using State = ProcessEnd::State;

// Reached from exit() and from the message handler, which may come after main's objects are gone:
// held on the heap and never freed, so that nothing here is destroyed before the last of them.
struct Current {
    std::mutex mutex;
    std::shared_ptr<State> state;
    std::atomic<QtMessageHandler> previous{nullptr};
};

Current& current() {
    static Current* const c = new Current;
    return *c;
}

std::shared_ptr<State> currentState() {
    const std::lock_guard lock(current().mutex);
    return current().state;
}

void finish(State& s, bool late) {
    if (s.claimed.exchange(true)) {
        return; // ran, or runs further up this thread's stack
    }
    s.farewell(late);
    {
        const std::lock_guard lock(s.mutex);
        s.done = true;
    }
    s.finished.notify_all();
}

void runState(const std::shared_ptr<State>& s, bool late) {
    if (!s) {
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        finish(*s, late);
        return;
    }
    // Handed over as every job that crosses threads is, so that what this thread did before is
    // seen to come before the farewell. An application already going away runs no more jobs.
    if (!s->claimed.load() && !postToMain([s, late] { finish(*s, late); })) {
        return;
    }
    std::unique_lock lock(s->mutex);
    s->finished.wait_for(lock, std::chrono::milliseconds(ProcessEnd::handOffLimitMs),
                         [&] { return s->done; });
}

void atExit() {
    runState(currentState(), true);
}

// Qt 6's xcb plugin says this just before it calls exit(1) when the X server has gone (and its
// handler of Xlib's fatal errors before Xlib does): everything is still there.
bool lastWordsOfX(QtMsgType type, const QString& message) {
    return type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke"));
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (const QtMessageHandler previous = current().previous.load()) {
        previous(type, context, message);
    }
    if (type == QtFatalMsg || lastWordsOfX(type, message)) {
        // The process ends once this returns.
        runState(currentState(), false);
    }
}

} // namespace

ProcessEnd::ProcessEnd(Farewell farewell) : state_(std::make_shared<State>()) {
    state_->farewell = std::move(farewell);
    {
        const std::lock_guard lock(current().mutex);
        Q_ASSERT(!current().state);
        current().state = state_;
    }
    // Registered as late as main can: exit() runs its handlers and destroys the statics made
    // before in reverse order, so those the farewell may need are still there.
    static const bool registered = std::atexit(&atExit) == 0;
    Q_UNUSED(registered);
    current().previous.store(qInstallMessageHandler(&onMessage));
}

ProcessEnd::~ProcessEnd() {
    qInstallMessageHandler(current().previous.exchange(nullptr));
    const std::lock_guard lock(current().mutex);
    current().state.reset();
}

void ProcessEnd::run() {
    runState(state_, false);
}

} // namespace ostrel
