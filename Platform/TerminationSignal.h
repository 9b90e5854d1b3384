#pragma once

#include <QObject>

#include <functional>
#include <thread>

class QSocketNotifier;

namespace ostrel {

// Delivers SIGTERM, SIGINT and SIGHUP on the main thread, where shutting down is safe. `block()`
// must run in main() before any thread starts: a signal that reaches another thread first never
// reaches the signalfd. SIGINT and SIGHUP ignored from launch are left ignored.
//
// The main thread reads a signal only once it is back in its event loop; `onArrival` runs at
// once, on a thread of its own, the first time one is pending, so that work on other threads can
// wind down meanwhile. It must be safe on any thread and return at once.
class TerminationSignal : public QObject {
public:
    static void block();

    explicit TerminationSignal(std::function<void(int signal)> handler,
                               std::function<void()> onArrival = {}, QObject* parent = nullptr);
    ~TerminationSignal() override;

private:
    int fd_ = -1;
    // Ends the thread that waits for the first arrival.
    int wake_ = -1;
    std::thread arrival_;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(int)> handler_;
};

} // namespace ostrel
