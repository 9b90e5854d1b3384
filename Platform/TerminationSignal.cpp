#include "Platform/TerminationSignal.h"

#include "Platform/Log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace ostrel {

namespace {

// SIGINT and SIGHUP that the launcher set to be ignored stay ignored (`nohup ostrel &` outlives
// its terminal): blocked, they would wait for the descriptor, since the kernel keeps a blocked
// signal even where it is ignored. SIGTERM, the ask to quit, is always heard.
sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    for (const int signal : {SIGINT, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler != SIG_IGN) {
            sigaddset(&set, signal);
        }
    }
    return set;
}

} // namespace

void TerminationSignal::block() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignal::TerminationSignal(std::function<void(int)> handler,
                                     std::function<void()> onArrival, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    const sigset_t set = terminationSignals();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        qCWarning(lcPlatform) << "no signalfd; termination signals keep their default action";
        return;
    }
    if (onArrival) {
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    if (wake_ >= 0) {
        // A signal sent to the process stays pending while every thread blocks it, and the
        // descriptor shows it to any thread that polls: this one only looks, the main thread
        // reads it.
        arrival_ = std::thread([fd = fd_, wake = wake_, onArrival = std::move(onArrival)] {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
            }
            if ((fds[0].revents & POLLIN) != 0 && (fds[1].revents & POLLIN) == 0) {
                onArrival();
            }
        });
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (handler_) {
                handler_(static_cast<int>(info.ssi_signo));
            }
        }
    });
}

TerminationSignal::~TerminationSignal() {
    if (arrival_.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
        arrival_.join();
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace ostrel
