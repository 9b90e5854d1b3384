#include "Platform/FileStat.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace ostrel {

namespace {

std::optional<FileStat> statWith(const QString& path, int flags) {
    const QByteArray native = QFile::encodeName(path);
    struct statx sx {};
    if (::statx(AT_FDCWD, native.constData(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
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

} // namespace

std::optional<FileStat> FileStat::lstat(const QString& path) {
    return statWith(path, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileStat> FileStat::stat(const QString& path) {
    return statWith(path, 0);
}

bool FileStat::exists(const QString& path) {
    return lstat(path).has_value();
}

} // namespace ostrel
