#include "OstrelCore/Update/PrivateFolder.h"

#include "Platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::PrivateFolder {

namespace {

// Empties the folder open at `fd` (which it closes), never leaving it through a link.
bool emptyFolder(int fd) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child =
                openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            // A folder we cannot enter may still be one we own but locked ourselves out of.
            if (child < 0 && fchmodat(dirfd(dir), name, 0700, 0) == 0) {
                const int again =
                    openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                ok = again >= 0 && emptyFolder(again) && ok;
            } else {
                ok = child >= 0 && emptyFolder(child) && ok;
            }
            ok = unlinkat(dirfd(dir), name, AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = unlinkat(dirfd(dir), name, 0) == 0 && ok;
        }
    }
    closedir(dir);
    return ok;
}

bool isOurPrivateFolder(const QByteArray& native) {
    struct stat st {};
    return ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

} // namespace

bool remove(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return ::unlink(native.constData()) == 0;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !emptyFolder(fd)) {
        return false;
    }
    return ::rmdir(native.constData()) == 0;
}

bool ensure(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        const QString parent = QFileInfo(path).path();
        if (!AtomicFile::makeFolder(parent, 0700)) {
            return false;
        }
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (::lstat(native.constData(), &st) != 0) {
            return false;
        }
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        return false;
    }
    return isOurPrivateFolder(native);
}

bool makeFresh(const QString& path) {
    if (!remove(path)) {
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    // mkdir never follows a link at the last component: a link planted meanwhile makes it fail.
    if (::mkdir(native.constData(), 0700) != 0) {
        return false;
    }
    return isOurPrivateFolder(native);
}

} // namespace ostrel::PrivateFolder
