#include "Platform/FileStat.h"

#include "Platform/Log.h"

#include <QFile>
#include <QMutex>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>

namespace ostrel {

namespace {

std::optional<FileStat> statAt(int folder, const char* native, int flags) {
    struct statx sx {};
    if (::statx(folder, native, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return std::nullopt;
    }
    FileStat st;
    const mode_t m = sx.stx_mode;
    if (S_ISREG(m)) {
        st.type = FileStat::Type::regular;
    } else if (S_ISDIR(m)) {
        st.type = FileStat::Type::directory;
    } else if (S_ISLNK(m)) {
        st.type = FileStat::Type::symlink;
    }
    st.size = static_cast<qint64>(sx.stx_size);
    st.owner = sx.stx_uid;
    st.mode = m & 07777;
    const timespec mtime{static_cast<time_t>(sx.stx_mtime.tv_sec),
                         static_cast<long>(sx.stx_mtime.tv_nsec)};
    st.modified = Date::fromTimespec(mtime);
    if (sx.stx_mask & STATX_BTIME) {
        const timespec btime{static_cast<time_t>(sx.stx_btime.tv_sec),
                             static_cast<long>(sx.stx_btime.tv_nsec)};
        st.created = Date::fromTimespec(btime);
    } else {
        st.created = st.modified;
    }
    return st;
}

std::optional<FileStat> statWith(const QString& path, int flags) {
    if (FileStat::holdsNul(path)) {
        errno = EINVAL;
        return std::nullopt;
    }
    return statAt(AT_FDCWD, QFile::encodeName(path).constData(), flags);
}

} // namespace

std::optional<FileStat> FileStat::lstat(const QString& path) {
    return statWith(path, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileStat> FileStat::lstatAt(int folder, const char* name) {
    if (std::strchr(name, '/') != nullptr) {
        errno = EINVAL;
        return std::nullopt;
    }
    return statAt(folder, name, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileStat> FileStat::stat(const QString& path) {
    return statWith(path, 0);
}

namespace {

// Nanoseconds since the epoch; a date beyond what 64 bits hold (another system's, a hostile
// one) is held at the bound.
qint64 nanoseconds(const timespec& at) {
    qint64 out = 0;
    if (__builtin_mul_overflow(static_cast<qint64>(at.tv_sec), qint64(1'000'000'000), &out) ||
        __builtin_add_overflow(out, static_cast<qint64>(at.tv_nsec), &out)) {
        return at.tv_sec < 0 ? std::numeric_limits<qint64>::min()
                             : std::numeric_limits<qint64>::max();
    }
    return out;
}

} // namespace

FileIdentity FileIdentity::of(const struct stat& st) {
    return FileIdentity{st.st_dev, st.st_ino, static_cast<qint64>(st.st_size),
                        nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

std::optional<FileIdentity> FileIdentity::at(const QString& path) {
    struct stat st {};
    if (FileStat::holdsNul(path)) {
        errno = EINVAL;
        return std::nullopt;
    }
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return std::nullopt;
    }
    return of(st);
}

std::optional<QString> FileStat::exactName(const char* name) {
    QString decoded = QFile::decodeName(name);
    if (QFile::encodeName(decoded) != QByteArrayView(name)) {
        return std::nullopt;
    }
    return decoded;
}

void FileStat::notePassedOver(const QString& folder, const char* name) {
    static QMutex mutex;
    static QSet<QString> said;
    {
        const QMutexLocker lock(&mutex);
        // A watched "/" could hold such names in many folders: the log says so for the first
        // ones only.
        constexpr qsizetype most = 100;
        if (said.contains(folder) || said.size() > most) {
            return;
        }
        said.insert(folder);
        if (said.size() > most) {
            qCWarning(lcIngest) << "more names that are not valid UTF-8 passed over; not logged";
            return;
        }
    }
    QString shown;
    for (const char* c = name; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        shown += byte >= 0x20 && byte < 0x7f
                     ? QString(QChar(byte))
                     : QStringLiteral("\\x%1").arg(byte, 2, 16, QChar(u'0'));
    }
    qCWarning(lcIngest).noquote()
        << QStringLiteral("passed over \"%1\" in %2: the name is not valid UTF-8, so it could not "
                          "be opened again by its text")
               .arg(shown, folder);
}

bool FileStat::exists(const QString& path) {
    return lstat(path).has_value();
}

} // namespace ostrel
