#pragma once

#include "Platform/Date.h"

#include <QString>

#include <optional>
#include <sys/types.h>

namespace ostrel {

// What the capture side asks of a path. `lstat` never follows a symbolic link, so a link is
// never mistaken for the regular file or folder it points at.
struct FileStat {
    enum class Type { regular, directory, symlink, other };

    Type type = Type::other;
    qint64 size = 0;
    Date modified;
    // The birth time where the file system records one, else the modification time.
    Date created;
    uid_t owner = 0;
    mode_t mode = 0;

    bool isRegular() const { return type == Type::regular; }
    bool isDirectory() const { return type == Type::directory; }
    bool isSymlink() const { return type == Type::symlink; }

    // The path itself (links not followed); nothing when it cannot be read.
    static std::optional<FileStat> lstat(const QString& path);
    // The file a path leads to (links followed); nothing when it cannot be read.
    static std::optional<FileStat> stat(const QString& path);
    // True when anything, even a dangling link, stands at the path.
    static bool exists(const QString& path);
};

} // namespace ostrel
