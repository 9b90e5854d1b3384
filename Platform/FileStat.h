#pragma once

#include "Platform/Date.h"

#include <QString>

#include <optional>
#include <sys/types.h>

struct stat;

namespace ostrel {

// Which file or folder a name led to: its device and inode, its size (an inode freed is given to
// a file made later), and its modification and change times in nanoseconds since the epoch (a
// file rewritten in place, as `cp` does, keeps its inode and may keep its size). Taken from the
// file itself once written and renamed into place, since a rename moves the change time, and
// again once closed, since some network file systems date a file anew then.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    qint64 modified = 0;
    qint64 changed = 0;

    // The same entry, whatever became of its content (a folder changes with every file in it).
    bool isEntry(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    // The same entry with the same bytes as far as a look can tell: its size and modification
    // time too, not its change time, which a second name made for it and removed again (a backup
    // by hard links) or a mode set moves.
    bool isSameFile(const FileIdentity& other) const {
        return isEntry(other) && size == other.size && modified == other.modified;
    }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;

    static FileIdentity of(const struct stat& st);
    // What `path` leads to now, links followed; none when nothing can be found there (errno says
    // why).
    static std::optional<FileIdentity> at(const QString& path);
};

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
    // An entry of the open folder `folder` by its name as the listing gave it (a name, not a
    // path), link not followed: a listing of many files is not walked down from "/" for each.
    static std::optional<FileStat> lstatAt(int folder, const char* name);
    // The file a path leads to (links followed); nothing when it cannot be read.
    static std::optional<FileStat> stat(const QString& path);
    // True when anything, even a dangling link, stands at the path.
    static bool exists(const QString& path);
    // A path holding U+0000 reads as one file and opens as another (the system stops at the
    // NUL): nothing here looks at such a path, and callers refuse it before they open it.
    static bool holdsNul(const QString& path) { return path.contains(QChar(u'\0')); }

    // A name as a folder listing gives it, when its text turns back into the same bytes; none
    // for a name that is not valid UTF-8, which no path of ours could open again.
    static std::optional<QString> exactName(const char* name);
    // Logs, once per folder for the life of the process, that a name there was passed over
    // because it is not valid UTF-8 (its bytes shown escaped).
    static void notePassedOver(const QString& folder, const char* name);
};

} // namespace ostrel
