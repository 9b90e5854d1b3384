#pragma once

// The wheel turned from outside, for the benchmarks that run the real binary on a private X
// server.
#include <QString>

#include <cmath>
#include <cstdlib>

#include <time.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace ostrel::bench {

// Turns the wheel through XTest from a connection of its own: `perSecond` notches a second, each
// a press and release of button 5 (toward the end) or 4 (toward the start), each at its due time.
inline void turnWheel(const QString& display, double seconds, int perSecond, bool towardEnd) {
    xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), nullptr);
    const uint8_t button = towardEnd ? 5 : 4;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long notches = std::lround(seconds * perSecond);
    for (long i = 1; i <= notches; ++i) {
        const double at = double(i) / perSecond;
        timespec next = start;
        next.tv_sec += time_t(at);
        next.tv_nsec += long((at - std::floor(at)) * 1e9);
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(c);
    }
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

} // namespace ostrel::bench
