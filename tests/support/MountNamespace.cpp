#include "MountNamespace.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel::test {

namespace {

// One request to the holder: mount a tmpfs ('m') or unmount ('u') at a path.
struct Request {
    char what = 0;
    char options[64] = {};
    char at[4096] = {};
};

bool readWhole(int fd, void* data, size_t size) {
    auto* bytes = static_cast<char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// A new network namespace starts with its loopback down.
bool loopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = short(request.ifr_flags | IFF_UP);
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return up;
}

// The holder's life, in a child of a process with threads: system calls only.
[[noreturn]] void hold(int requests, int answers, bool ownNetwork) {
    char ok = ::unshare(CLONE_NEWNS | (ownNetwork ? CLONE_NEWNET : 0)) == 0 &&
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                      (!ownNetwork || loopbackUp())
                  ? 1
                  : 0;
    (void)!::write(answers, &ok, 1);
    Request request;
    while (ok == 1 && readWhole(requests, &request, sizeof request)) {
        const bool done = request.what == 'm'
                              ? ::mount("tmpfs", request.at, "tmpfs", 0, request.options) == 0
                              : ::umount2(request.at, MNT_DETACH) == 0;
        const char answer = done ? 1 : 0;
        (void)!::write(answers, &answer, 1);
    }
    ::_exit(0);
}

} // namespace

MountNamespace::MountNamespace(bool ownNetwork) : ownNetwork_(ownNetwork) {
    int requests[2];
    int answers[2];
    if (::pipe2(requests, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(answers, O_CLOEXEC) != 0) {
        ::close(requests[0]);
        ::close(requests[1]);
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Its ends only: the requests end when this process closes its own.
        ::close(requests[1]);
        ::close(answers[0]);
        hold(requests[0], answers[1], ownNetwork);
    }
    ::close(requests[0]);
    ::close(answers[1]);
    requests_ = requests[1];
    answers_ = answers[0];
    char ok = 0;
    if (pid > 0 && readWhole(answers_, &ok, 1) && ok == 1) {
        holder_ = pid;
    } else if (pid > 0) {
        ::waitpid(pid, nullptr, 0);
    }
}

MountNamespace::~MountNamespace() {
    ::close(requests_); // the holder ends, and the namespace with it
    ::close(answers_);
    if (holder_ > 0) {
        ::waitpid(holder_, nullptr, 0);
    }
}

bool MountNamespace::ask(char what, const QString& at, const QString& options) const {
    Request request;
    request.what = what;
    const QByteArray path = QFile::encodeName(at);
    const QByteArray text = options.toUtf8();
    if (!ok() || path.size() >= qsizetype(sizeof request.at) ||
        text.size() >= qsizetype(sizeof request.options)) {
        return false;
    }
    std::memcpy(request.at, path.constData(), size_t(path.size()));
    std::memcpy(request.options, text.constData(), size_t(text.size()));
    char answer = 0;
    return ::write(requests_, &request, sizeof request) == ssize_t(sizeof request) &&
           readWhole(answers_, &answer, 1) && answer == 1;
}

bool MountNamespace::mountTmpfs(const QString& at, const QString& options) const {
    return ask('m', at, options);
}

bool MountNamespace::unmount(const QString& at) const {
    return ask('u', at, {});
}

QString MountNamespace::inside(const QString& path) const {
    return QStringLiteral("/proc/%1/root%2").arg(holder_).arg(path);
}

QString MountNamespace::mountTable() const {
    return QStringLiteral("/proc/%1/mountinfo").arg(holder_);
}

QStringList MountNamespace::launcher(std::optional<uid_t> uid) const {
    QStringList command{QStringLiteral("nsenter"),
                        QStringLiteral("--mount=/proc/%1/ns/mnt").arg(holder_)};
    if (ownNetwork_) {
        command.append(QStringLiteral("--net=/proc/%1/ns/net").arg(holder_));
    }
    if (uid) {
        // Its group as well, and none of ours beside it.
        command.append(
            {QStringLiteral("--setgid=%1").arg(*uid), QStringLiteral("--setuid=%1").arg(*uid)});
    }
    return command + QStringList{QStringLiteral("--")};
}

int MountNamespace::listen(quint16 port) const {
    if (!ok() || !ownNetwork_) {
        return -1;
    }
    // A socket belongs to the network of the thread that made it: a thread of our own enters the
    // namespace's network to make it and ends there.
    int fd = -1;
    std::thread([&] {
        const int space =
            ::open(QStringLiteral("/proc/%1/ns/net").arg(holder_).toLatin1().constData(),
                   O_RDONLY | O_CLOEXEC);
        if (space < 0 || ::setns(space, CLONE_NEWNET) != 0) {
            ::close(space);
            return;
        }
        ::close(space);
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                        ::listen(fd, 16) != 0)) {
            ::close(fd);
            fd = -1;
        }
    }).join();
    return fd;
}

} // namespace ostrel::test
