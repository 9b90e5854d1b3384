#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel::test {

// Permission tests mean nothing to root, who reads and writes whatever the mode says. Runs `body`
// as an unprivileged user: in a child process that drops to "nobody" when we are root (after
// handing it `ownedPath`, when one is given), directly otherwise. Returns what `body` returned.
inline int runUnprivileged(const QString& ownedPath, const std::function<int()>& body) {
    if (::geteuid() != 0) {
        return body();
    }
    constexpr uid_t nobody = 65534;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if ((!ownedPath.isEmpty() &&
             ::lchown(QFile::encodeName(ownedPath).constData(), nobody, nobody) != 0) ||
            ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// While it lives, the calling thread, and every thread it starts meanwhile, honours file modes
// even as root: the capabilities that override them leave the thread's effective set (Linux keeps
// credentials per thread; new threads copy their creator's). Threads started meanwhile should
// end before it does. Does nothing for an unprivileged user, to whom modes apply anyway.
class ModesApply {
public:
    ModesApply() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~ModesApply() {
        if (active_) {
            ::syscall(SYS_capset, &header_, saved_);
        }
    }
    ModesApply(const ModesApply&) = delete;
    ModesApply& operator=(const ModesApply&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

} // namespace ostrel::test
