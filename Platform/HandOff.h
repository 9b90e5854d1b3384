#pragma once

#include <QObject>

#include <functional>

namespace ostrel {

// Qt's event queues and thread pools synchronise inside Qt, which ThreadSanitizer cannot see.
// Jobs that go to another thread through them are handed over here, so that under TSan the
// hand-off is declared to it: everything the giving thread did before happens before the job,
// and, for a blocking post, everything the job did happens before the return. The job's own
// data stays in view, so a race on it is still reported. Outside TSan these are plain calls.

// Gives the job to `give`, which passes it on (to a QThreadPool, say).
void handOver(std::function<void()> job, const std::function<void(std::function<void()>)>& give);

// Runs the job on the thread of `target`'s event loop: queued, or blocking until it has run.
void postTo(QObject* target, std::function<void()> job,
            Qt::ConnectionType type = Qt::QueuedConnection);

// Runs the job on the main thread's event loop; false when there is no application object, or
// once it has begun to go away. Safe from any thread while the application is destroyed.
bool postToMain(std::function<void()> job);

} // namespace ostrel
