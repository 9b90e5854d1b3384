#pragma once

#include <functional>
#include <memory>

namespace ostrel {

// Runs one farewell (saving what must not be lost) before the process ends, whichever way it
// ends: main's own return and the termination signals call run(); so does the warning that Qt's
// xcb plugin (and Xlib) write just before they call exit() on a broken X connection, and a fatal
// Qt message before it aborts. Any other exit() from inside a library runs the farewell on the
// way out, late: exit() has by then destroyed the statics made after this object, so the farewell
// should do no more than save (draw nothing, lay nothing out).
//
// The farewell runs once, on the main thread. Asked from another thread, it is handed to the main
// thread and waited for, but only for `handOffLimitMs`: a main thread that cannot take it (busy,
// or itself waiting on the asking thread) never holds the process up for good, and one whose
// application is already going away is not waited for. One at a time; from construction to
// destruction.
class ProcessEnd {
public:
    static constexpr int handOffLimitMs = 10000;

    // `late`: called from exit().
    using Farewell = std::function<void(bool late)>;

    explicit ProcessEnd(Farewell farewell);
    ~ProcessEnd();
    ProcessEnd(const ProcessEnd&) = delete;
    ProcessEnd& operator=(const ProcessEnd&) = delete;

    // Any thread; runs the farewell unless it ran or is running.
    void run();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace ostrel
