#include "Ostrel/Shell/SupportFolderLock.h"

#include "Platform/AtomicFile.h"
#include "Platform/Log.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr char lockName[] = "index.lock";
// Each round either holds the lock, finds it taken, or moves one wrong entry aside; more rounds
// than this mean the name keeps changing under us.
constexpr int rounds = 4;

QString describe(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

const char* kindOf(const struct stat& st) {
    return AtomicFile::unfit(st, AtomicFile::Entry::file);
}

bool sameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder's own lock, for the moment it takes to move a wrong entry aside: without it two
// launches could each move the other's fresh lock file away and both hold one.
class FolderGuard {
public:
    explicit FolderGuard(const QByteArray& folder)
        : fd_(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0) {
            return;
        }
        // Held only for a rename by another launch; never wait on a stranger for long.
        for (int i = 0; i < 200; ++i) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
                return;
            }
            QThread::msleep(10);
        }
    }
    ~FolderGuard() {
        if (fd_ >= 0) {
            ::close(fd_); // drops the lock
        }
    }
    FolderGuard(const FolderGuard&) = delete;
    FolderGuard& operator=(const FolderGuard&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

} // namespace

SupportFolderLock::SupportFolderLock(QString folder) : folder_(std::move(folder)) {}

SupportFolderLock::~SupportFolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

QString SupportFolderLock::path() const {
    return folder_ + u'/' + QLatin1String(lockName);
}

QString SupportFolderLock::hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return QString::fromLocal8Bit(name);
}

void SupportFolderLock::fail(int error, bool ofFolder) {
    QString what;
    switch (ofFolder && error != ENOTDIR ? 0 : error) {
    case 0:
        what = QStringLiteral("cannot be made");
        break;
    case ENOTDIR:
        what = ofFolder ? QStringLiteral("is not a folder, or lies in what is not one")
                        : QStringLiteral("is not a folder");
        break;
    case EACCES:
    case EPERM:
        what = QStringLiteral("is not writable");
        break;
    case ENOSPC:
    case EDQUOT:
        what = QStringLiteral("is full");
        break;
    case EROFS:
        what = QStringLiteral("is read-only");
        break;
    case ENOLCK:
    case EOPNOTSUPP:
    case ENOSYS:
    case EINVAL:
        what = QStringLiteral("cannot be locked");
        break;
    default:
        what = QStringLiteral("cannot be used");
        break;
    }
    error_ = QStringLiteral("%1 %2 (%3)").arg(folder_, what, describe(error));
}

SupportFolderLock::Claim SupportFolderLock::claim(const QString& display) {
    if (!AtomicFile::makeFolder(folder_, 0700, false)) {
        fail(errno, true);
        return Claim::unguarded;
    }
    Claim result = Claim::unguarded;
    for (int round = 0; round < rounds; ++round) {
        switch (attempt(display, result)) {
        case Step::claimed:
        case Step::stop:
            return result;
        case Step::again:
            break;
        }
    }
    error_ = QStringLiteral("%1 keeps changing").arg(path());
    return Claim::unguarded;
}

SupportFolderLock::Step SupportFolderLock::attempt(const QString& display, Claim& result) {
    const QByteArray name = QFile::encodeName(path());
    // Never through a link (it could lead anywhere, or create a file where it points); never
    // waiting on a pipe; close-on-exec, so that a program we open (a viewer, the updater's
    // script) does not keep the lock after we end.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | flags, 0600);
    if (fd < 0 && errno == EROFS) {
        // A lock needs no write permission: on a read-only file system, a file we may only read
        // still says whether it is held.
        fd = ::open(name.constData(), O_RDONLY | flags);
        if (fd < 0 && errno == ENOENT) {
            errno = EROFS;
        }
    }
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        const bool exists = ::lstat(name.constData(), &st) == 0;
        if (exists && (error == EACCES || error == EPERM) && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && st.st_nlink == 1) {
            // Our own lock file with its permissions taken away: it may still be held, so it
            // gets them back rather than being replaced.
            if (::fchmodat(AT_FDCWD, name.constData(), 0600, AT_SYMLINK_NOFOLLOW) == 0) {
                return Step::again;
            }
        } else if (exists && kindOf(st) &&
                   (error == ELOOP || error == EISDIR || error == ENXIO || error == EACCES ||
                    error == EPERM)) {
            // Nothing that cannot be opened can be held: move it aside.
            return setAside(st.st_dev, st.st_ino, kindOf(st)) ? Step::again : Step::stop;
        }
        fail(error, false);
        result = Claim::unguarded;
        return Step::stop;
    }

    struct stat st {};
    ::fstat(fd, &st);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            if (!kindOf(st)) {
                readHolder(fd);
            }
            result = Claim::taken;
        } else {
            fail(error, false);
            result = Claim::unguarded;
        }
        ::close(fd);
        return Step::stop;
    }
    // Held. The name may have been given to another file since it was opened (a launch that
    // moved this one aside): then this lock keeps nothing.
    struct stat now {};
    if (::lstat(name.constData(), &now) != 0 || !sameEntry(now, st)) {
        ::close(fd);
        return Step::again;
    }
    if (const char* wrong = kindOf(st)) {
        // Not ours to write (another name of a user's file, a pipe): moved aside while held, so
        // that no other launch can take it meanwhile.
        const bool moved = setAside(st.st_dev, st.st_ino, wrong);
        ::close(fd);
        return moved ? Step::again : Step::stop;
    }
    fd_ = fd;
    result = Claim::held;

    const QByteArray text = display.toUtf8() + '\n' + QByteArray::number(::getpid()) + '\n' +
                            hostName().toUtf8() + '\n';
    if (::ftruncate(fd_, 0) != 0 ||
        ::pwrite(fd_, text.constData(), text.size(), 0) != text.size()) {
        // The lock holds all the same; a later launch only cannot say where.
        error_ = QStringLiteral("%1: %2").arg(path(), describe(errno));
    }
    return Step::claimed;
}

bool SupportFolderLock::setAside(dev_t device, ino_t inode, const char* why) {
    const FolderGuard guard(QFile::encodeName(folder_));
    if (guard.fd() < 0) {
        error_ = QStringLiteral("%1 cannot be opened (%2)").arg(folder_, describe(errno));
        return false;
    }
    const auto moved = AtomicFile::setAside(guard.fd(), lockName, device, inode);
    if (const Error* error = std::get_if<Error>(&moved)) {
        error_ = QStringLiteral("%1 is %2 and cannot be set aside: %3")
                     .arg(path(), QLatin1String(why), error->message);
        return false;
    }
    // An empty name: gone, or already replaced by another launch. Look again either way.
    if (const QString& aside = std::get<QString>(moved); !aside.isEmpty()) {
        qCWarning(lcStore).noquote()
            << QStringLiteral("%1 was %2, not a lock file of ours: set aside as %3")
                   .arg(path(), QLatin1String(why), aside);
    }
    return true;
}

void SupportFolderLock::readHolder(int fd) {
    char text[512] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    const QStringList lines = QString::fromUtf8(text, n > 0 ? n : 0).split(u'\n');
    holder_ = lines.value(0).trimmed();
    const QString host = lines.value(2).trimmed();
    holderHost_ = host == hostName() ? QString() : host;
}

} // namespace ostrel
