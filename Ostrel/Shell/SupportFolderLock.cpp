#include "Ostrel/Shell/SupportFolderLock.h"

#include "Platform/AtomicFile.h"
#include "Platform/Log.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr char lockName[] = "index.lock";
constexpr char claimName[] = "index.claim";
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

// What flock(2) answers where the file system takes no locks at all.
bool noLocksHere(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

QByteArray readSmall(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char text[1024];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    return QByteArray(text, n > 0 ? n : 0);
}

// Who a process is beyond its number, which the system gives out again: the machine (two may
// share a host name), the boot it runs in and the moment it started in that boot. Empty when
// /proc does not say.
QByteArray processStamp(pid_t pid) {
    const QByteArray machine = readSmall("/etc/machine-id").trimmed();
    const QByteArray boot = readSmall("/proc/sys/kernel/random/boot_id").trimmed();
    const QByteArray line = readSmall("/proc/" + QByteArray::number(pid) + "/stat");
    // The command's name, in parentheses, may hold anything: the fields follow the last ')'.
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    constexpr qsizetype startTime = 19; // the 22nd field, counted from the state (the 3rd)
    if (boot.isEmpty() || close < 0 || fields.size() <= startTime || machine.contains(' ')) {
        return {};
    }
    return (machine.isEmpty() ? "-" : machine) + ' ' + boot + ' ' + fields[startTime];
}

// Whether a claim with this host and stamp was made on another machine: by its machine id where
// both have one, else by its host name.
bool madeElsewhere(const QByteArray& host, const QByteArray& stamp) {
    const QList<QByteArray> theirs = stamp.split(' ');
    const QList<QByteArray> ours = processStamp(::getpid()).split(' ');
    return theirs.size() == 3 && ours.size() == 3 && theirs[0] != "-" && ours[0] != "-"
               ? theirs[0] != ours[0]
               : host != SupportFolderLock::hostName().toUtf8();
}

// Whether no process runs under this number.
bool ended(qint64 pid) {
    return pid <= 0 || pid > std::numeric_limits<pid_t>::max() ||
           (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

// Whether a claim still keeps the folder, answered from its host, process and stamp: made on
// another machine, where whether it runs cannot be seen from here (`elsewhere` is then set), or
// by a process of this machine that still runs.
bool claimHeld(const QByteArray& host, qint64 pid, const QByteArray& stamp, bool& elsewhere) {
    elsewhere = madeElsewhere(host, stamp);
    if (elsewhere) {
        return true;
    }
    if (ended(pid)) {
        return false;
    }
    const bool stamped = stamp.split(' ').size() == 3 && !processStamp(::getpid()).isEmpty();
    // The number given to another process since, or before the last boot, is no holder; where
    // /proc cannot tell, any process with the number is taken for it.
    const QByteArray now = processStamp(pid_t(pid));
    return !stamped || now.isEmpty() || now == stamp;
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

SupportFolderLock::SupportFolderLock(QString folder, LockCall lock, LinkCall link)
    : folder_(std::move(folder)), lock_(lock ? lock : &::flock), link_(link ? link : &::link) {}

SupportFolderLock::~SupportFolderLock() {
    release();
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (ownLock_ >= 0) {
        ::close(ownLock_);
    }
}

QString SupportFolderLock::path() const {
    return folder_ + u'/' + QLatin1String(lockName);
}

QString SupportFolderLock::claimPath() const {
    return folder_ + u'/' + QLatin1String(claimName);
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

bool SupportFolderLock::holdsHere() const {
    struct stat now {};
    if (fd_ >= 0) {
        struct stat held {};
        return ::fstat(fd_, &held) == 0 &&
               ::lstat(QFile::encodeName(path()).constData(), &now) == 0 && sameEntry(held, now);
    }
    return ::lstat(QFile::encodeName(claimPath()).constData(), &now) == 0 &&
           now.st_dev == claimDevice_ && now.st_ino == claimInode_;
}

void SupportFolderLock::keepEarlier() {
    if (fd_ >= 0) {
        const int fd = std::exchange(fd_, -1);
        if (std::exchange(fdOwn_, false)) {
            ownLock_ = fd; // none was kept aside while this one stood at the path
        } else {
            // Covered by another mount, or unmounted and alive only through this descriptor: a
            // folder that comes back to the path is claimed anew.
            ::close(fd);
        }
    }
    if (claimed_.exchange(false)) {
        earlierClaims_.emplace_back(claimDevice_, claimInode_);
    }
}

bool SupportFolderLock::takeEarlierBack() {
    struct stat now {};
    struct stat held {};
    if (ownLock_ >= 0 && ::lstat(QFile::encodeName(path()).constData(), &now) == 0 &&
        ::fstat(ownLock_, &held) == 0 && sameEntry(held, now)) {
        fd_ = std::exchange(ownLock_, -1);
        fdOwn_ = true;
        return true;
    }
    if (::lstat(QFile::encodeName(claimPath()).constData(), &now) == 0) {
        for (auto it = earlierClaims_.begin(); it != earlierClaims_.end(); ++it) {
            if (it->first == now.st_dev && it->second == now.st_ino) {
                claimDevice_ = it->first;
                claimInode_ = it->second;
                claimed_ = true;
                earlierClaims_.erase(it);
                return true;
            }
        }
    }
    return false;
}

SupportFolderLock::Claim SupportFolderLock::claim(const QString& display) {
    if (isHeld()) {
        if (holdsHere()) {
            return Claim::held;
        }
        keepEarlier();
    }
    if (takeEarlierBack()) {
        return Claim::held;
    }
    error_.clear();
    holder_.clear();
    holderHost_.clear();
    fromElsewhere_ = false;
    writable_ = true;
    if (!AtomicFile::makeFolder(folder_, 0700, false)) {
        fail(errno, true);
        return Claim::unguarded;
    }
    // A lock file left from before can be locked in a folder we may not write (a lock needs no
    // write permission): the folder is held all the same, but nothing can be saved there.
    const int unwritable =
        ::faccessat(AT_FDCWD, QFile::encodeName(folder_).constData(), W_OK | X_OK, AT_EACCESS) == 0
            ? 0
            : errno;
    writable_ = unwritable != EACCES && unwritable != EPERM && unwritable != EROFS;
    Claim result = Claim::unguarded;
    for (int round = 0; round < rounds; ++round) {
        switch (attempt(display, result)) {
        case Step::claimed:
        case Step::stop:
            if (result == Claim::held && !writable_) {
                fail(unwritable, false);
            } else if (result == Claim::held) {
                removeLeftClaimFiles();
            }
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
    struct stat folderBefore {};
    const bool sawFolder = ::stat(QFile::encodeName(folder_).constData(), &folderBefore) == 0;
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
            return setAside(lockName, st.st_dev, st.st_ino, kindOf(st)) ? Step::again : Step::stop;
        }
        fail(error, false);
        result = Claim::unguarded;
        return Step::stop;
    }

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        // Nothing is known of what was opened: neither whether it is ours nor, later, whether
        // the name still leads to it.
        fail(errno, false);
        ::close(fd);
        result = Claim::unguarded;
        return Step::stop;
    }
    if (lock_(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            if (!kindOf(st)) {
                readHolder(fd);
            }
            result = Claim::taken;
        } else if (noLocksHere(error)) {
            // Not a holder: no lock can be held here by anyone.
            ::close(fd);
            return attemptByFile(display, result);
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
        const bool moved = setAside(lockName, st.st_dev, st.st_ino, wrong);
        ::close(fd);
        return moved ? Step::again : Step::stop;
    }
    fd_ = fd;
    result = Claim::held;
    // Which folder this lock lies in, as the path showed it before the file was opened and
    // shows it now: where the two differ, a mount came meanwhile, and the lock is taken for no
    // folder's in particular (let go once the path leads elsewhere).
    fdOwn_ = false;
    struct stat folderNow {};
    if (sawFolder && ::stat(QFile::encodeName(folder_).constData(), &folderNow) == 0 &&
        sameEntry(folderNow, folderBefore)) {
        const std::pair here{folderNow.st_dev, folderNow.st_ino};
        if (!ownFolder_) {
            ownFolder_ = here;
        }
        fdOwn_ = here == *ownFolder_;
    }
    if (fdOwn_ && ownLock_ >= 0) {
        // The own folder's lock file kept aside no longer stands at its name (it would have been
        // taken back): this one keeps the folder now.
        ::close(std::exchange(ownLock_, -1));
    }

    const QByteArray text = display.toUtf8() + '\n' + QByteArray::number(::getpid()) + '\n' +
                            hostName().toUtf8() + '\n';
    if (::ftruncate(fd_, 0) != 0 ||
        ::pwrite(fd_, text.constData(), text.size(), 0) != text.size()) {
        // The lock holds all the same; a later launch only cannot say where.
        error_ = QStringLiteral("%1: %2").arg(path(), describe(errno));
    }
    return Step::claimed;
}

SupportFolderLock::Step SupportFolderLock::attemptByFile(const QString& display, Claim& result) {
    const QByteArray name = QFile::encodeName(claimPath());
    const QByteArray host = hostName().toUtf8();
    const QByteArray pid = QByteArray::number(::getpid());
    const QByteArray text =
        display.toUtf8() + '\n' + pid + '\n' + host + '\n' + processStamp(::getpid()) + '\n';
    // Made whole under a name no other process uses, then linked to the claim's name: the link
    // makes the name or finds it taken, over NFS too, and never leads anywhere else.
    const QByteArray own = name + '.' + QByteArray(host).replace('/', '_') + '.' + pid;
    ::unlink(own.constData()); // left by an ended process that had this number
    const int fd =
        ::open(own.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail(errno, false);
        result = Claim::unguarded;
        return Step::stop;
    }
    struct stat made {};
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size() &&
                         ::fstat(fd, &made) == 0;
    int error = errno;
    bool linked = false;
    if (written) {
        linked = link_(own.constData(), name.constData()) == 0;
        error = errno;
        // Over NFS the answer to a link that was made may be lost; the count of names is not.
        struct stat now {};
        linked = linked || (::fstat(fd, &now) == 0 && now.st_nlink == 2);
    }
    ::close(fd);
    ::unlink(own.constData());
    if (linked) {
        claimDevice_ = made.st_dev;
        claimInode_ = made.st_ino;
        claimed_ = true;
        result = Claim::held;
        return Step::claimed;
    }
    if (!written || error != EEXIST) {
        fail(error, false);
        result = Claim::unguarded;
        return Step::stop;
    }
    return judgeClaim(result);
}

SupportFolderLock::Step SupportFolderLock::judgeClaim(Claim& result) {
    const QByteArray name = QFile::encodeName(claimPath());
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno == ENOENT) {
            return Step::again; // its holder ended meanwhile
        }
        fail(errno, false);
        result = Claim::unguarded;
        return Step::stop;
    }
    QByteArray text;
    // A claim is a plain file of ours (with a second name only while it is being made), and is
    // only ever read.
    if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat opened {};
        if (fd >= 0 && ::fstat(fd, &opened) == 0 && sameEntry(opened, st)) {
            char buffer[512];
            const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
            text = QByteArray(buffer, n > 0 ? n : 0);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    const QList<QByteArray> lines = text.split('\n');
    bool numbered = false;
    const qint64 pid = lines.value(1).toLongLong(&numbered);
    if (lines.size() < 4 || !numbered || lines.value(2).isEmpty()) {
        const char* why = kindOf(st);
        if (!setAside(claimName, st.st_dev, st.st_ino, why ? why : "a file naming no holder")) {
            result = Claim::unguarded;
            return Step::stop;
        }
        return Step::again;
    }
    readHolder(text);
    if (!claimHeld(lines.value(2), pid, lines.value(3), fromElsewhere_)) {
        if (!removeEndedClaim(st)) {
            result = Claim::unguarded;
            return Step::stop;
        }
        return Step::again;
    }
    result = Claim::taken;
    return Step::stop;
}

bool SupportFolderLock::removeEndedClaim(const struct stat& st) {
    const QByteArray name = QFile::encodeName(claimPath());
    // Moved to a name of this process before it is removed: a claim that another launch made in
    // its place meanwhile is then put back, not removed.
    const QByteArray moved = name + ".ended." + QByteArray::number(::getpid());
    if (::rename(name.constData(), moved.constData()) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        error_ = QStringLiteral("%1 was left by a shelf that has ended, and cannot be removed: %2")
                     .arg(claimPath(), describe(errno));
        return false;
    }
    struct stat now {};
    if (::lstat(moved.constData(), &now) == 0 && !sameEntry(now, st)) {
        ::link(moved.constData(), name.constData()); // never over a claim made since
    } else {
        qCInfo(lcStore).noquote()
            << QStringLiteral("%1 was left by a shelf that has ended: taken over").arg(claimPath());
    }
    ::unlink(moved.constData());
    return true;
}

void SupportFolderLock::removeLeftClaimFiles() {
    const int folder =
        ::open(QFile::encodeName(folder_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = folder >= 0 ? ::fdopendir(folder) : nullptr;
    if (dir == nullptr) {
        if (folder >= 0) {
            ::close(folder);
        }
        return;
    }
    const QByteArray prefix = QByteArray(claimName) + '.';
    const QByteArray ourHost = hostName().toUtf8().replace('/', '_');
    // The folder holds the store's few files and folders: a listing far longer than that is not
    // ours to look through.
    constexpr int mostEntries = 10000;
    int entries = 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++entries > mostEntries) {
            break;
        }
        // "index.claim.<host>.<pid>" while a claim is made, "index.claim.ended.<pid>" while an
        // ended one is removed.
        const QByteArray name(entry->d_name);
        const QByteArray rest = name.mid(prefix.size());
        const qsizetype dot = rest.lastIndexOf('.');
        const QByteArray number = rest.mid(dot + 1);
        if (!name.startsWith(prefix) || dot <= 0 || number.isEmpty() || number.size() > 10 ||
            !std::all_of(number.begin(), number.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const qint64 pid = number.toLongLong();
        const QByteArray host = rest.left(dot);
        const bool removing = host == "ended";
        if (!removing && host != ourHost) {
            continue; // made on another machine
        }
        struct stat st {};
        if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            continue;
        }
        QByteArray text;
        const int fd =
            ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[512];
            const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
            text = QByteArray(buffer, n > 0 ? n : 0);
            ::close(fd);
        }
        const QList<QByteArray> lines = text.split('\n');
        bool numbered = false;
        const qint64 claimPid = lines.value(1).toLongLong(&numbered);
        const bool whole = lines.size() >= 4 && numbered && !lines.value(2).isEmpty();
        bool left = false;
        if (removing) {
            // Holds the claim that was being removed, which a process of this machine judged
            // ended: the number in the name is the remover's.
            left = whole && !madeElsewhere(lines.value(2), lines.value(3)) &&
                   (pid == ::getpid() || ended(pid));
        } else if (pid == ::getpid()) {
            left = true; // an earlier process's of this number: ours are made and gone in a call
        } else if (whole && claimPid == pid) {
            // Its own stamp says whether the process of that number is still the one that made
            // it, in this boot.
            bool elsewhere = false;
            left = !claimHeld(lines.value(2), pid, lines.value(3), elsewhere);
        } else {
            // Cut short while it was written: only the number is known.
            left = ended(pid);
        }
        struct stat now {};
        if (left && ::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameEntry(now, st) && ::unlinkat(folder, name.constData(), 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    if (removed > 0) {
        qCInfo(lcStore).noquote() << QStringLiteral("%1: removed %2 claim files left by shelves "
                                                    "that ended")
                                         .arg(folder_)
                                         .arg(removed);
    }
}

void SupportFolderLock::release() {
    if (claimed_.exchange(false)) {
        earlierClaims_.emplace_back(claimDevice_, claimInode_);
    }
    const QByteArray name = QFile::encodeName(claimPath());
    struct stat st {};
    // Only while the name is still one of this process's claims, never one made in its place.
    // Those in a folder that the path no longer leads to stay for a later start to take over.
    for (const auto& [device, inode] : std::exchange(earlierClaims_, {})) {
        if (::lstat(name.constData(), &st) == 0 && st.st_dev == device && st.st_ino == inode) {
            ::unlink(name.constData());
        }
    }
}

bool SupportFolderLock::setAside(const char* name, dev_t device, ino_t inode, const char* why) {
    const FolderGuard guard(QFile::encodeName(folder_));
    if (guard.fd() < 0) {
        error_ = QStringLiteral("%1 cannot be opened (%2)").arg(folder_, describe(errno));
        return false;
    }
    const QString path = folder_ + u'/' + QLatin1String(name);
    const auto moved = AtomicFile::setAside(guard.fd(), name, device, inode);
    if (const Error* error = std::get_if<Error>(&moved)) {
        error_ = QStringLiteral("%1 is %2 and cannot be set aside: %3")
                     .arg(path, QLatin1String(why), error->message);
        return false;
    }
    // An empty name: gone, or already replaced by another launch. Look again either way.
    if (const QString& aside = std::get<QString>(moved); !aside.isEmpty()) {
        qCWarning(lcStore).noquote()
            << QStringLiteral("%1 was %2, not a lock file of ours: set aside as %3")
                   .arg(path, QLatin1String(why), aside);
    }
    return true;
}

void SupportFolderLock::readHolder(int fd) {
    char text[512] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    readHolder(QByteArray(text, n > 0 ? n : 0));
}

void SupportFolderLock::readHolder(const QByteArray& text) {
    const QStringList lines = QString::fromUtf8(text).split(u'\n');
    holder_ = lines.value(0).trimmed();
    const QString host = lines.value(2).trimmed();
    holderHost_ = host == hostName() ? QString() : host;
}

} // namespace ostrel
