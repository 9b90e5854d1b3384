#pragma once

#include "Platform/X11/WindowSystem.h"

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrel::x11 {

// Reads an xcb connection's events on a thread of its own, so that a pointer moving anywhere on
// screen does not wake the main thread. Raw motion is coalesced there: the pointer's place is
// looked up at most once a frame (less often while it is far from the watched zones), and a move
// is passed on only as the watch wants it. Every other event is passed on in batches as it comes
// (within a frame while the pointer moves). The connection stays usable from other threads (xcb
// serialises it).
class EventReader {
public:
    using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;
    struct Handlers {
        // On the reader's thread: events other than raw motion, in the order they came.
        std::function<void(std::vector<Event>)> events;
        // On the reader's thread: the pointer moved as watched.
        std::function<void()> moved;
        // On the reader's thread, once: the connection broke and the reader stopped.
        std::function<void()> closed;
    };

    // `own` is a window of ours on `c`, through which the reader is woken to stop;
    // `xinputOpcode` names the raw events (0: none are selected).
    EventReader(xcb_connection_t* c, xcb_window_t root, xcb_window_t own, quint8 xinputOpcode,
                Handlers handlers);
    // Stops the thread and waits for it; no handler runs afterwards.
    ~EventReader();
    EventReader(const EventReader&) = delete;
    EventReader& operator=(const EventReader&) = delete;

    // Any thread.
    void setWatch(const PointerWatch& watch);

    // Seconds between looks at the pointer while it moves near a zone (or every move is wanted),
    // while it moves elsewhere, and while every move is wanted but none came (a warp makes no raw
    // motion). Each look far away costs two wake-ups: the pause and the pointer's answer.
    static constexpr double frame = 1.0 / 60;
    static constexpr double farFrame = 0.04;
    static constexpr double sampleInterval = 0.03;

private:
    struct Batch {
        std::vector<Event> events;
        bool moved = false;
    };

    void run();
    void take(xcb_generic_event_t* event, Batch& batch) const;
    void drain(Batch& batch) const;
    void deliver(Batch& batch) const;
    // Follows the pointer once a frame for as long as it moves (or every move is wanted).
    void follow(bool moved);
    bool pause(double seconds);
    void wakeUp() const;
    std::optional<QPoint> position() const;
    PointerWatch watch() const;
    bool stopping() const;

    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_window_t own_;
    quint8 xinputOpcode_;
    Handlers handlers_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    PointerWatch watch_; // guarded by mutex_
    bool stop_ = false;  // guarded by mutex_

    // The reader's own.
    bool inZone_ = false;
    std::optional<QPoint> sampled_;
    std::thread thread_;
};

} // namespace ostrel::x11
