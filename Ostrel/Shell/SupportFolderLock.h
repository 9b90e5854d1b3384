#pragma once

#include <QString>

#include <sys/types.h>

namespace ostrel {

// One process at a time keeps the shelf's support folder. Two instances of one user, on two X
// displays, would share the index, and each would write back its own copy over the other's
// changes (a deletion undone when the other one quits). The first holds an advisory lock on a
// file in the folder for the life of the process, and writes there the display it serves; the
// kernel drops the lock when the process ends, however it ends, so a lock file left behind by a
// killed process stands in nobody's way.
//
// The lock file itself is not trusted: whatever stands at its name that is not a plain file of
// ours (a link, a folder, a pipe, a second name of another file) is set aside under a name of
// its own and a fresh file made, and nothing is written before the opened file is checked.
class SupportFolderLock {
public:
    enum class Claim {
        held,      // this process keeps the folder
        taken,     // another process does: holder() names its display, when it said
        unguarded, // no lock could be had, error() says why (the folder is not a folder, not
                   // writable or full, or cannot lock): better an unguarded shelf than none
    };

    explicit SupportFolderLock(QString folder);
    ~SupportFolderLock();
    SupportFolderLock(const SupportFolderLock&) = delete;
    SupportFolderLock& operator=(const SupportFolderLock&) = delete;

    // Makes the folder when it is missing. `display` is written for a later claim to name.
    Claim claim(const QString& display);
    // The holder's display and, when it runs on another machine (a shared home folder), that
    // machine's name.
    const QString& holder() const { return holder_; }
    const QString& holderHost() const { return holderHost_; }
    const QString& error() const { return error_; }
    QString path() const;

    // The name of this machine as the lock file records it.
    static QString hostName();

private:
    enum class Step { claimed, again, stop };
    Step attempt(const QString& display, Claim& result);
    // Moves what stands at the lock file's name aside, when it is still the entry (device and
    // inode) that was found wanting; `why` says what it is, for the log.
    bool setAside(dev_t device, ino_t inode, const char* why);
    // error() for a failure of the folder (`ofFolder`) or of the lock file in it.
    void fail(int error, bool ofFolder);
    void readHolder(int fd);

    QString folder_;
    QString holder_;
    QString holderHost_;
    QString error_;
    int fd_ = -1;
};

} // namespace ostrel
