#include "Platform/TerminationSignal.h"

#include "Platform/Log.h"

#include <QSocketNotifier>

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace ostrel {

namespace {

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void TerminationSignal::block() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignal::TerminationSignal(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    const sigset_t set = terminationSignals();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        qCWarning(lcPlatform) << "no signalfd; termination signals keep their default action";
        return;
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
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace ostrel
