#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <sys/stat.h>
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

} // namespace ostrel::test
