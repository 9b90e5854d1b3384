#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

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

} // namespace ostrel::test
