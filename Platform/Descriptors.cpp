#include "Platform/Descriptors.h"

#include "Platform/Log.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>

namespace ostrel::Descriptors {

void note(int error) {
    static std::atomic<bool> said{false};
    if ((error != EMFILE && error != ENFILE) || said.exchange(true)) {
        return;
    }
    QString limit;
    struct rlimit rl {};
    if (error == EMFILE && ::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        limit = QStringLiteral(" (at most %1 at once)").arg(rl.rlim_cur);
    }
    qCWarning(lcPlatform).noquote()
        << QStringLiteral("files cannot be opened: %1%2; captures, reads and saves fail until "
                          "some are closed")
               .arg(QString::fromLocal8Bit(std::strerror(error)), limit);
    errno = error;
}

int open(const char* path, int flags, mode_t mode) {
    const int fd = ::open(path, flags, mode);
    if (fd < 0) {
        note(errno);
    }
    return fd;
}

int openAt(int folder, const char* name, int flags, mode_t mode) {
    const int fd = ::openat(folder, name, flags, mode);
    if (fd < 0) {
        note(errno);
    }
    return fd;
}

DIR* openDir(const char* path) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) {
        note(errno);
    }
    return dir;
}

} // namespace ostrel::Descriptors
