#pragma once

#include <QString>

namespace ostrel {

// One process at a time keeps the shelf's support folder. Two instances of one user, on two X
// displays, would share the index, and each would write back its own copy over the other's
// changes (a deletion undone when the other one quits). The first holds an advisory lock on a
// file in the folder for the life of the process, and writes there the display it serves; the
// kernel drops the lock when the process ends, however it ends, so a lock file left behind by a
// killed process stands in nobody's way.
class SupportFolderLock {
public:
    enum class Claim {
        held,        // this process keeps the folder
        taken,       // another process does: holder() names its display, when it said
        unsupported, // the folder cannot be locked (error() says why): run unguarded
    };

    explicit SupportFolderLock(QString folder);
    ~SupportFolderLock();
    SupportFolderLock(const SupportFolderLock&) = delete;
    SupportFolderLock& operator=(const SupportFolderLock&) = delete;

    // Makes the folder when it is missing. `display` is written for a later claim to name.
    Claim claim(const QString& display);
    const QString& holder() const { return holder_; }
    const QString& error() const { return error_; }
    QString path() const;

private:
    QString folder_;
    QString holder_;
    QString error_;
    int fd_ = -1;
};

} // namespace ostrel
