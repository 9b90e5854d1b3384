#include "Platform/X11/EventReader.h"

#include <xcb/xinput.h>

#include <chrono>
#include <cstdlib>
#include <set>

#include <pthread.h>
#include <sys/socket.h>

namespace ostrel::x11 {

namespace {

// The readers alive, for exit() to find. Reached from exit(), after main's objects may be gone:
// held on the heap and never freed.
struct Live {
    std::mutex mutex;
    std::set<EventReader*> readers;
};

Live& live() {
    static Live* const l = new Live;
    return *l;
}

} // namespace

EventReader::EventReader(xcb_connection_t* c, xcb_window_t root, xcb_window_t own,
                         quint8 xinputOpcode, Handlers handlers)
    : c_(c), root_(root), own_(own), xinputOpcode_(xinputOpcode), handlers_(std::move(handlers)) {
    static const bool registered = std::atexit(&EventReader::stopAtExit) == 0;
    Q_UNUSED(registered);
    const std::lock_guard lock(live().mutex);
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "app.ostrel.x11");
        run();
    });
    live().readers.insert(this);
}

EventReader::~EventReader() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    wakeUp();
    const std::lock_guard lock(live().mutex);
    live().readers.erase(this);
    if (thread_.joinable()) {
        thread_.join();
    }
}

// exit() destroys what a reader's handlers may still reach, so every reader ends first. Its
// connection may have broken (the X server went, and Qt's connection noticed before ours), or
// still be whole (only Qt's was cut): either way its socket is shut here, so that no wait of the
// reader's (for an event, for the pointer's answer) outlasts the call, and it stops without a
// handler running.
void EventReader::stopAtExit() {
    const std::lock_guard lock(live().mutex);
    for (EventReader* reader : live().readers) {
        if (!reader->thread_.joinable() || reader->thread_.get_id() == std::this_thread::get_id()) {
            continue;
        }
        {
            const std::lock_guard stopping(reader->mutex_);
            reader->stop_ = true;
        }
        reader->wake_.notify_all();
        if (!xcb_connection_has_error(reader->c_)) {
            ::shutdown(xcb_get_file_descriptor(reader->c_), SHUT_RDWR);
        }
        reader->thread_.join();
    }
}

// Waiting for an event has no timeout: a message to our own window ends the wait.
void EventReader::wakeUp() const {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = own_;
    xcb_send_event(c_, 0, own_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c_);
}

void EventReader::setWatch(const PointerWatch& watch) {
    bool startsSampling = false;
    {
        const std::lock_guard lock(mutex_);
        startsSampling = watch.everyMove && !watch_.everyMove;
        watch_ = watch;
    }
    if (startsSampling) {
        // A reader waiting for events must start looking at the pointer now, moved or not.
        wakeUp();
    }
}

void EventReader::selectRawEvents(quint32 mask) {
    const std::lock_guard lock(mutex_);
    rawMask_ = mask;
    sendSelection();
}

void EventReader::selectMotion(bool on) {
    if (xinputOpcode_ == 0 || motion_ == on) {
        return;
    }
    motion_ = on;
    const std::lock_guard lock(mutex_);
    motionSelected_ = on;
    sendSelection();
}

void EventReader::sendSelection() {
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{};
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = rawMask_ | (motionSelected_ ? XCB_INPUT_XI_EVENT_MASK_RAW_MOTION : 0);
    xcb_input_xi_select_events(c_, root_, 1, &selection.head);
    xcb_flush(c_);
}

PointerWatch EventReader::watch() const {
    const std::lock_guard lock(mutex_);
    return watch_;
}

bool EventReader::stopping() const {
    const std::lock_guard lock(mutex_);
    return stop_;
}

bool EventReader::pause(double seconds) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stop_; });
}

void EventReader::run() {
    // The flag is set before the wake-up call is sent: a call swallowed by follow()'s draining
    // is seen here, before waiting for an event that may never come.
    while (!stopping()) {
        xcb_generic_event_t* first = xcb_wait_for_event(c_);
        if (first == nullptr) {
            if (!stopping() && handlers_.closed) {
                handlers_.closed();
            }
            return;
        }
        Batch batch;
        take(first, batch);
        drain(batch);
        if (stopping()) {
            return;
        }
        deliver(batch);
        follow(batch.moved);
    }
}

void EventReader::take(xcb_generic_event_t* event, Batch& batch) const {
    Event owned(event, &std::free);
    const quint8 type = event->response_type & 0x7f;
    if (type == XCB_GE_GENERIC && xinputOpcode_ != 0) {
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (ge->extension == xinputOpcode_ && ge->event_type == XCB_INPUT_RAW_MOTION) {
            batch.moved = true;
            return;
        }
    }
    if (type == XCB_CLIENT_MESSAGE &&
        reinterpret_cast<const xcb_client_message_event_t*>(event)->window == own_) {
        return; // our own wake-up call
    }
    batch.events.push_back(std::move(owned));
}

void EventReader::drain(Batch& batch) const {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        take(event, batch);
    }
}

void EventReader::deliver(Batch& batch) const {
    if (!batch.events.empty() && handlers_.events) {
        handlers_.events(std::move(batch.events));
    }
    batch.events.clear();
}

std::optional<QPoint> EventReader::position() const {
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr);
    if (reply == nullptr) {
        return std::nullopt;
    }
    const QPoint at(reply->root_x, reply->root_y);
    std::free(reply);
    return at;
}

// A move after a quiet spell is looked at at once, so hover answers without delay; the moves that
// follow pile up in the socket and are looked at together once a frame (less often away from the
// zones), each time with the pointer's place asked for after them. While that place changes from
// one look to the next, raw motion is dropped; once it stays put, raw motion is selected again
// and one more look, after the selection, decides whether the pointer came to rest (a pointer
// pushed against a screen edge keeps sending motion without moving).
void EventReader::follow(bool moved) {
    // Raw motion was selected from before the last look on: its absence since means rest.
    bool heard = true;
    for (;;) {
        const PointerWatch watch = this->watch();
        if (xcb_connection_has_error(c_)) {
            return;
        }
        if (!moved && !watch.everyMove && heard) {
            return;
        }
        const bool selectedAtLook = motion_;
        bool changed = false;
        if (const auto at = position()) {
            // The first look is no move: there is nothing to compare it with.
            changed = sampled_ && at != sampled_;
            sampled_ = at;
            near_ = watch.near(*at);
            const bool wanted = watch.reports(*at, inZone_);
            // A warp makes no raw motion: while every move is wanted, the place itself tells.
            if ((wanted && (moved || changed)) || (watch.everyMove && changed)) {
                handlers_.moved(*at);
            }
        }
        moved = moved || changed;
        selectMotion(!changed);
        heard = selectedAtLook && !changed;
        const double wait = !moved                         ? sampleInterval
                            : (watch.everyMove || inZone_) ? frame
                            : near_                        ? approachFrame
                                                           : farFrame;
        if (!pause(wait)) {
            return;
        }
        Batch batch;
        drain(batch);
        deliver(batch);
        moved = batch.moved;
    }
}

} // namespace ostrel::x11
