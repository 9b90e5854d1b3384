#include "Ostrel/Shell/SupportFolderLock.h"

#include "Platform/AtomicFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ostrel {

SupportFolderLock::SupportFolderLock(QString folder) : folder_(std::move(folder)) {}

SupportFolderLock::~SupportFolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

QString SupportFolderLock::path() const {
    return folder_ + QStringLiteral("/index.lock");
}

SupportFolderLock::Claim SupportFolderLock::claim(const QString& display) {
    AtomicFile::makeFolder(folder_, 0700, false);
    // Close-on-exec: a program we open (a viewer, the updater's script) must not keep the lock
    // after we end.
    const int fd = ::open(QFile::encodeName(path()).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return Claim::unsupported;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            char text[256] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            holder_ = QString::fromUtf8(text, n > 0 ? n : 0).section(u'\n', 0, 0).trimmed();
            ::close(fd);
            return Claim::taken;
        }
        // A network file system may not lock at all (no lock daemon): better unguarded than no
        // shelf.
        error_ = QString::fromLocal8Bit(std::strerror(error));
        ::close(fd);
        return Claim::unsupported;
    }
    fd_ = fd;
    const QByteArray text = display.toUtf8() + '\n' + QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, text.constData(), text.size(), 0) < 0) {
        // The lock holds all the same; a later launch only cannot say where.
        error_ = QString::fromLocal8Bit(std::strerror(errno));
    }
    return Claim::held;
}

} // namespace ostrel
