#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace ostrel {

// Delivers SIGTERM, SIGINT and SIGHUP on the main thread, where shutting down is safe. `block()`
// must run in main() before any thread starts: a signal that reaches another thread first (or is
// ignored) never reaches the signalfd.
class TerminationSignal : public QObject {
public:
    static void block();

    explicit TerminationSignal(std::function<void(int signal)> handler, QObject* parent = nullptr);
    ~TerminationSignal() override;

private:
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(int)> handler_;
};

} // namespace ostrel
