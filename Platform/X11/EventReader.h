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
// looked up at most once a frame (less often while it is far from the watched zones, or on its
// way to one), and a move is passed on, with that place, only as the watch wants it. While the
// place keeps changing from look to look it tells all there is to know, and raw motion is not
// selected: reading every move of a fast mouse costs more than the looks. Every other event is
// passed on in batches as it comes (within a frame while the pointer moves). The connection
// stays usable from other threads (xcb serialises it).
class EventReader {
public:
    using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;
    struct Handlers {
        // On the reader's thread: events other than raw motion, in the order they came.
        std::function<void(std::vector<Event>)> events;
        // On the reader's thread: the pointer moved as watched, to `at` (root pixels).
        std::function<void(QPoint at)> moved;
        // On the reader's thread, once: the connection broke and the reader stopped.
        std::function<void()> closed;
    };

    // `own` is a window of ours on `c`, through which the reader is woken to stop;
    // `xinputOpcode` names the raw events (0: none are selected).
    EventReader(xcb_connection_t* c, xcb_window_t root, xcb_window_t own, quint8 xinputOpcode,
                Handlers handlers);
    // Stops the thread and waits for it; no handler runs afterwards. exit(), which Qt's xcb
    // plugin calls as the X server goes (or as only its own connection breaks), with no owner
    // destroyed, stops every reader and waits for it too, without waiting on the server.
    ~EventReader();
    EventReader(const EventReader&) = delete;
    EventReader& operator=(const EventReader&) = delete;

    // Any thread.
    void setWatch(const PointerWatch& watch);
    // Any thread: the raw events to select on the root besides motion, which the reader selects
    // and drops itself.
    void selectRawEvents(quint32 mask);

    // Seconds between looks at the pointer while it moves in a zone (or every move is wanted),
    // on its way to a zone, elsewhere, and while every move is wanted but none came (a warp makes
    // no raw motion). Each look costs two wake-ups, the pause and the pointer's answer: on the
    // way to a zone a look every other frame keeps that to one a frame.
    static constexpr double frame = 1.0 / 60;
    static constexpr double approachFrame = 2 * frame;
    static constexpr double farFrame = 0.05;
    static constexpr double sampleInterval = 0.03;

private:
    static void stopAtExit();

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
    void selectMotion(bool on);
    void sendSelection();

    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_window_t own_;
    quint8 xinputOpcode_;
    Handlers handlers_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    PointerWatch watch_; // guarded by mutex_
    bool stop_ = false;  // guarded by mutex_
    // Guarded by mutex_, which is held while a selection is sent: the last one sent is the whole
    // of both.
    quint32 rawMask_ = 0;
    bool motionSelected_ = true;

    // The reader's own.
    bool inZone_ = false;
    bool near_ = false;  // at the last look, in a zone or its approach
    bool motion_ = true; // motionSelected_, as the reader (its only writer) last set it
    std::optional<QPoint> sampled_;
    std::thread thread_;
};

} // namespace ostrel::x11
