#include "Platform/AtomicFile.h"

#include "Platform/Descriptors.h"
#include "Platform/Log.h"
#include "Platform/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::AtomicFile {

namespace {

Error qtError(const QFileDevice& file, int savedErrno) {
    if (savedErrno != 0) {
        return Error::posix(savedErrno);
    }
    return Error{QStringLiteral("QFileDevice"), static_cast<long>(file.error()),
                 file.errorString()};
}

} // namespace

const QByteArray& temporaryPrefix() {
    // 60 random bits: no other process draws the same mark.
    static const QByteArray prefix =
        ".incoming-" +
        QByteArray::number(QRandomGenerator::system()->generate64() >> 4, 36)
            .rightJustified(12, '0') +
        '-';
    return prefix;
}

bool isOwnTemporary(std::string_view name) {
    const QByteArray& prefix = temporaryPrefix();
    return name.starts_with(std::string_view(prefix.constData(), size_t(prefix.size())));
}

const char* unfit(const struct stat& st, Entry kind) {
    if (S_ISLNK(st.st_mode)) {
        return "a symbolic link";
    }
    if (kind == Entry::folder) {
        // Anything else in its place, a plain file above all, would fail every write into the
        // folder for good.
        if (S_ISREG(st.st_mode)) {
            return "a file";
        }
        if (!S_ISDIR(st.st_mode)) {
            return "not a folder";
        }
    } else if (S_ISDIR(st.st_mode)) {
        return "a folder";
    } else if (S_ISFIFO(st.st_mode)) {
        return "a pipe";
    } else if (!S_ISREG(st.st_mode)) {
        return "not a plain file";
    }
    if (st.st_uid != ::geteuid()) {
        return kind == Entry::folder ? "another user's folder" : "another user's file";
    }
    if (kind == Entry::file && st.st_nlink != 1) {
        return "a second name of another file";
    }
    return nullptr;
}

std::variant<QString, Error> setAside(int folder, const QByteArray& name, dev_t device,
                                      ino_t inode) {
    struct stat now {};
    if (::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != device || now.st_ino != inode) {
        return QString();
    }
    const QString base = QFile::decodeName(name) + QStringLiteral(".unusable-") +
                         QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss");
    for (int n = 0; n < 100; ++n) {
        const QString aside = n == 0 ? base : base + u'-' + QString::number(n);
        const QByteArray target = QFile::encodeName(aside);
        if (::renameat2(folder, name.constData(), folder, target.constData(), RENAME_NOREPLACE) ==
            0) {
            return aside;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return Error::fromErrno();
}

bool clearEntry(const QString& path, Entry kind) {
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    const QByteArray native = QFile::encodeName(path);
    // What stands there may change between the look and the move; another process swapping it
    // on and on is not followed for ever.
    for (int round = 0; round < 8; ++round) {
        struct stat st {};
        if (::lstat(native.constData(), &st) != 0) {
            return errno == ENOENT;
        }
        const char* why = unfit(st, kind);
        if (why == nullptr) {
            return true;
        }
        const int folder = Descriptors::open(QFile::encodeName(info.absolutePath()).constData(),
                                             O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            return false;
        }
        const auto moved = setAside(folder, name, st.st_dev, st.st_ino);
        ::close(folder);
        if (const Error* error = std::get_if<Error>(&moved)) {
            qCWarning(lcPlatform).noquote()
                << QStringLiteral("%1 is %2, not ours to write, and cannot be set aside: %3")
                       .arg(path, QLatin1String(why), error->message);
            errno = int(error->code);
            return false;
        }
        if (const QString& aside = std::get<QString>(moved); !aside.isEmpty()) {
            qCWarning(lcPlatform).noquote()
                << QStringLiteral("%1 was %2, not ours to write: set aside as %3")
                       .arg(path, QLatin1String(why), aside);
            return true;
        }
    }
    errno = EBUSY;
    return false;
}

namespace {

std::optional<Error> writeFollowingLinks(const QString& path, const QByteArray& data, mode_t mode) {
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        Descriptors::note(errno);
        return qtError(file, errno);
    }
    if (::fchmod(file.handle(), mode) != 0) {
        const Error err = Error::fromErrno();
        file.cancelWriting();
        return err;
    }
    errno = 0;
    if (file.write(data) != data.size() || !file.flush()) {
        const Error err = qtError(file, errno);
        file.cancelWriting();
        return err;
    }
    // QSaveFile::commit syncs the data itself (Qt 6.4: fdatasync before the temporary file is
    // linked into place), so a second sync here would only double the cost of every write. Qt
    // does not report a failed sync; a full disk shows up above, at write or flush.
    errno = 0;
    if (!file.commit()) {
        return qtError(file, errno);
    }
    return syncFolder(QFileInfo(path).absolutePath());
}

int writeAll(int fd, QByteArrayView data);

std::atomic<void (*)(int)> beforeClose{nullptr};

} // namespace

void setBeforeClose(void (*hook)(int fd)) {
    beforeClose = hook;
}

std::optional<Error> write(const QString& path, const QByteArray& data, mode_t mode, Links links,
                           std::optional<FileIdentity>* placed) {
    if (placed != nullptr) {
        placed->reset();
    }
    if (links == Links::follow) {
        auto failed = writeFollowingLinks(path, data, mode);
        if (!failed && placed != nullptr) {
            *placed = FileIdentity::at(path);
        }
        return failed;
    }
    if (!clearEntry(path, Entry::file)) {
        return Error::fromErrno();
    }
    // A file of its own, renamed over the name: a link that came there meanwhile is replaced,
    // never written through.
    const QString folder = QFileInfo(path).absolutePath();
    QByteArray temp = QFile::encodeName(folder + u'/') + temporaryPrefix() + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return Error::fromErrno();
    }
    int failed = ::fchmod(fd, mode) != 0 ? errno : 0;
    failed = failed != 0 ? failed : writeAll(fd, data);
    if (failed == 0 && ::fdatasync(fd) != 0 && errno != EINVAL) {
        failed = errno;
    }
    const bool renamed =
        failed == 0 && ::rename(temp.constData(), QFile::encodeName(path).constData()) == 0;
    if (failed == 0 && !renamed) {
        failed = errno;
    }
    // Taken from the file itself, which the name may no longer lead to, once renamed: the rename
    // moves its change time.
    struct stat made {};
    const bool known = renamed && placed != nullptr && ::fstat(fd, &made) == 0;
    if (renamed && placed != nullptr && !known) {
        failed = errno;
    }
    if (const auto hook = beforeClose.load(); renamed && hook != nullptr) {
        hook(fd);
    }
    if (::close(fd) != 0 && failed == 0) {
        failed = errno;
    }
    if (known) {
        *placed = asClosed(path, FileIdentity::of(made));
    }
    if (failed != 0) {
        if (!renamed) {
            ::unlink(temp.constData());
        }
        return Error::posix(failed);
    }
    return syncFolder(folder);
}

FileIdentity asClosed(const QString& path, const FileIdentity& file) {
    struct stat now {};
    if (FileStat::holdsNul(path) || ::lstat(QFile::encodeName(path).constData(), &now) != 0) {
        return file;
    }
    const FileIdentity shown = FileIdentity::of(now);
    return shown.isEntry(file) && shown.size == file.size ? shown : file;
}

std::optional<FileIdentity> holding(const QString& path, qint64 size, QByteArrayView sha256) {
    const QByteArray native = QFile::encodeName(path);
    // Looked at before it is opened: opening a device can do things of its own.
    struct stat before {};
    if (FileStat::holdsNul(path) || ::stat(native.constData(), &before) != 0 ||
        !S_ISREG(before.st_mode) || before.st_size != size) {
        return std::nullopt;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    const auto done = [fd](std::optional<FileIdentity> answer) {
        ::close(fd);
        return answer;
    };
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode) || before.st_size != size) {
        return done(std::nullopt);
    }
    Sha256 hasher;
    QByteArray buffer(static_cast<qsizetype>(std::min<qint64>(size, qint64(1) << 20)),
                      Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        const ssize_t n =
            ::read(fd, buffer.data(), static_cast<size_t>(std::min<qint64>(left, buffer.size())));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return done(std::nullopt);
        }
        hasher.update(QByteArrayView(buffer.constData(), n));
        left -= n;
    }
    // Written to while it was read: what was read may be part old, part new.
    struct stat after {};
    const QByteArray digest = hasher.finish();
    if (::fstat(fd, &after) != 0 || !(FileIdentity::of(after) == FileIdentity::of(before)) ||
        QByteArrayView(digest) != sha256) {
        return done(std::nullopt);
    }
    return done(FileIdentity::of(after));
}

std::optional<Error> overwrite(const QString& path, QByteArrayView data, char fill) {
    if (path.contains(QChar(u'\0'))) {
        return Error::posix(EINVAL);
    }
    const int fd = Descriptors::open(QFile::encodeName(path).constData(),
                                     O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Error::fromErrno();
    }
    const auto fail = [fd](int error) -> std::optional<Error> {
        ::close(fd);
        return Error::posix(error);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return fail(errno);
    }
    if (unfit(st, Entry::file) != nullptr) {
        return fail(EPERM);
    }
    QByteArray whole = data.toByteArray();
    if (st.st_size > whole.size()) {
        whole.append(QByteArray(static_cast<qsizetype>(st.st_size) - whole.size(), fill));
    }
    for (qsizetype done = 0; done < whole.size();) {
        const ssize_t n =
            ::pwrite(fd, whole.constData() + done, static_cast<size_t>(whole.size() - done), done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n < 0 ? errno : EIO);
        }
        done += n;
    }
    if (::fdatasync(fd) != 0 && errno != EINVAL) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        return Error::fromErrno();
    }
    return std::nullopt;
}

namespace {

Error notRegular() {
    Error error = Error::posix(ENODEV);
    error.message = QStringLiteral("not a regular file");
    return error;
}

Error tooLarge(qint64 limit) {
    Error error = Error::posix(EFBIG);
    error.message = QStringLiteral("larger than %1 bytes").arg(limit);
    return error;
}

} // namespace

std::variant<QByteArray, Error> readRegular(const QString& path, qint64 limit) {
    if (path.contains(QChar(u'\0'))) {
        return Error::posix(EINVAL);
    }
    const QByteArray native = QFile::encodeName(path);
    // Looked at before it is opened: opening a device can do things of its own.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        return Error::fromErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return notRegular();
    }
    const int fd = Descriptors::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Error::fromErrno();
    }
    const auto fail = [fd](Error error) {
        ::close(fd);
        return error;
    };
    // Swapped for something else since the look above.
    if (::fstat(fd, &st) != 0) {
        return fail(Error::fromErrno());
    }
    if (!S_ISREG(st.st_mode)) {
        return fail(notRegular());
    }
    if (st.st_size > limit) {
        return fail(tooLarge(limit));
    }
    QByteArray out(static_cast<qsizetype>(st.st_size) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == out.size()) {
            // It grew while it was read.
            if (out.size() > limit) {
                return fail(tooLarge(limit));
            }
            out.resize(std::min<qsizetype>(out.size() * 2, static_cast<qsizetype>(limit) + 1));
        }
        const ssize_t n = ::read(fd, out.data() + filled, static_cast<size_t>(out.size() - filled));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(Error::fromErrno());
        }
        if (n == 0) {
            break;
        }
        filled += n;
    }
    ::close(fd);
    if (filled > limit) {
        return tooLarge(limit);
    }
    out.truncate(filled);
    return out;
}

std::optional<Error> syncFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    const int fd = Descriptors::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Error::fromErrno();
    }
    std::optional<Error> result;
    if (::fsync(fd) != 0 && errno != EINVAL) {
        result = Error::fromErrno();
    }
    ::close(fd);
    return result;
}

std::optional<Error> syncFileSystem(const QString& folder) {
    const int fd = Descriptors::open(QFile::encodeName(folder).constData(),
                                     O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Error::fromErrno();
    }
    std::optional<Error> result;
    if (::syncfs(fd) != 0) {
        result = Error::fromErrno();
    }
    ::close(fd);
    return result;
}

std::optional<Error> syncFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = Descriptors::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Error::fromErrno();
    }
    std::optional<Error> result;
    if (::fdatasync(fd) != 0 && errno != EINVAL) {
        result = Error::fromErrno();
    }
    ::close(fd);
    return result;
}

namespace {

// Writes all of `data`; the error number of a failure, else 0.
int writeAll(int fd, QByteArrayView data) {
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n =
            ::write(fd, data.data() + written, static_cast<size_t>(data.size() - written));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += n;
    }
    return 0;
}

// A file without a name is given one through /proc, as open(2) describes; without /proc the
// named temporary files stand in.
bool canNameDescriptors() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

QByteArray descriptorPath(int fd) {
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

// Links the open file without a name to `target`, which must not exist; the error number of a
// failure, else 0.
int link(int fd, const QByteArray& target) {
    return ::linkat(AT_FDCWD, descriptorPath(fd).constData(), AT_FDCWD, target.constData(),
                    AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
}

} // namespace

std::variant<Staged, Error> stage(const QString& folder, QByteArrayView data, mode_t mode) {
    if (canNameDescriptors()) {
        const int fd = Descriptors::open(QFile::encodeName(folder).constData(),
                                         O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            int failed = mode != 0600 && ::fchmod(fd, mode) != 0 ? errno : 0;
            failed = failed != 0 ? failed : writeAll(fd, data);
            if (failed != 0) {
                ::close(fd); // the file goes with its last descriptor
                return Error::posix(failed);
            }
            return Staged(fd, folder);
        }
        // A file system or kernel without files that have no name: the named way below.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return Error::fromErrno();
        }
    }
    QByteArray temp = QFile::encodeName(folder + u'/') + temporaryPrefix() + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC); // 0600
    if (fd < 0) {
        return Error::fromErrno();
    }
    const auto fail = [&](int savedErrno) {
        ::close(fd);
        ::unlink(temp.constData());
        return Error::posix(savedErrno);
    };
    if (mode != 0600 && ::fchmod(fd, mode) != 0) {
        return fail(errno);
    }
    if (const int failed = writeAll(fd, data); failed != 0) {
        return fail(failed);
    }
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temp.constData());
        return Error::posix(saved);
    }
    return Staged(QFile::decodeName(temp));
}

Staged& Staged::operator=(Staged&& other) noexcept {
    if (this != &other) {
        drop();
        path_ = std::exchange(other.path_, QString());
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

bool Staged::place(const QString& target) {
    if (path_.isEmpty()) {
        return false;
    }
    if (!clearEntry(target, Entry::file)) {
        return false;
    }
    const QByteArray native = QFile::encodeName(target);
    if (descriptor_ < 0) {
        if (::rename(QFile::encodeName(path_).constData(), native.constData()) != 0) {
            return false;
        }
        path_.clear();
        return true;
    }
    int failed = link(descriptor_, native);
    if (failed == EEXIST) {
        // Something is there to replace: a name beside it first, then a rename over it.
        QByteArray temp = QFile::encodeName(path_ + u'/') + temporaryPrefix();
        for (int attempt = 0; attempt < 8 && failed == EEXIST; ++attempt) {
            const QByteArray name =
                temp + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
            failed = link(descriptor_, name);
            if (failed == 0 && ::rename(name.constData(), native.constData()) != 0) {
                failed = errno;
                ::unlink(name.constData());
                errno = failed;
                return false;
            }
        }
    }
    if (failed != 0) {
        errno = failed;
        return false;
    }
    ::close(descriptor_);
    descriptor_ = -1;
    path_.clear();
    return true;
}

void Staged::drop() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    } else if (!path_.isEmpty()) {
        ::unlink(QFile::encodeName(path_).constData());
    }
    path_.clear();
}

std::optional<Error> writeUnsynced(const QString& path, QByteArrayView data, mode_t mode) {
    auto staged = stage(QFileInfo(path).absolutePath(), data, mode);
    if (auto* error = std::get_if<Error>(&staged)) {
        return *error;
    }
    Staged& file = std::get<Staged>(staged);
    if (!file.place(path)) {
        return Error::fromErrno(); // the staged file goes with `file`
    }
    return std::nullopt;
}

bool makeFolder(const QString& path, mode_t mode, bool adjust) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Walk up to the first existing ancestor so that only the folders we create get `mode`.
    QStringList missing;
    QString current = clean;
    while (!current.isEmpty() && !QFileInfo::exists(current)) {
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current) {
            break;
        }
        current = parent;
    }
    for (const QString& folder : missing) {
        const QByteArray native = QFile::encodeName(folder);
        if (::mkdir(native.constData(), mode) != 0 && errno != EEXIST) {
            return false; // errno says why
        }
        ::chmod(native.constData(), mode); // mkdir's mode is cut by the umask
    }
    struct stat st {};
    const QByteArray native = QFile::encodeName(clean);
    if (::stat(native.constData(), &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    if (adjust && (st.st_mode & 07777) != mode && st.st_uid == ::getuid()) {
        ::chmod(native.constData(), mode);
    }
    return true;
}

bool makeOwnFolder(const QString& path, mode_t mode) {
    return clearEntry(path, Entry::folder) && makeFolder(path, mode);
}

} // namespace ostrel::AtomicFile
