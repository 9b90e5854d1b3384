#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <optional>

namespace ostrel::test {

// Pumps the main thread's events until `done` holds or `seconds` pass; returns whether it held.
// The default is generous: it costs nothing when the condition comes true, and a loaded
// two-core machine running sanitized builds can be many times slower than a quiet one.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 20.0) {
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Pumps the main thread's events for a while.
inline void pump(double seconds) {
    waitUntil([] { return false; }, seconds);
}

// What `look` sees, when it is done within `window` seconds of `since`; none when it ends later.
// For a state that must last a while after an action (the drawer stays shut through its dwell):
// with `since` started just before the action, nothing the action brings about can come before
// the clock says, but on a loaded machine the look itself may come after the state was due to
// change and then tells nothing; the caller sets the scene again and takes another look.
inline std::optional<bool> lookWithin(const QElapsedTimer& since, double window,
                                      const std::function<bool()>& look) {
    const bool seen = look();
    if (since.elapsed() > static_cast<qint64>(window * 1000)) {
        return std::nullopt;
    }
    return seen;
}

} // namespace ostrel::test
