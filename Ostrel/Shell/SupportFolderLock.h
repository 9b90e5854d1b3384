#pragma once

#include <QString>

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>
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
//
// Where the file system takes no locks (NFS without its lock service), the claim is a file of its
// own instead, made whole under a name of ours and linked to its name, which only one process can
// do: it names the holder's display, process and machine, and goes when the process ends by any
// of its own ways out. One left by a process of this machine that no longer runs (killed, or
// before a reboot) is taken over. One from another machine (told apart by its machine id, or by
// its host name where there is none) is taken for held, however old: a holder keeps it for as
// long as it runs, so its age says nothing, and a shelf kept from its folder (said, with the
// file to remove) costs less than two shelves erasing each other's index. A process killed while
// it made its claim, or removed an ended one, leaves a file under a name of its own beside it:
// a later start removes those of processes of this machine that no longer run.
class SupportFolderLock {
public:
    enum class Claim {
        held,      // this process keeps the folder
        taken,     // another process does: holder() names its display, when it said
        unguarded, // no lock or claim could be had, error() says why (the folder is not a
                   // folder, not writable or full): better an unguarded shelf than none
    };

    // `lock` stands for flock(2), for a test to play a file system without locks; `link` for
    // link(2), for one to play NFS losing an answer.
    using LockCall = int (*)(int fd, int operation);
    using LinkCall = int (*)(const char* from, const char* to);
    explicit SupportFolderLock(QString folder, LockCall lock = nullptr, LinkCall link = nullptr);
    ~SupportFolderLock();
    SupportFolderLock(const SupportFolderLock&) = delete;
    SupportFolderLock& operator=(const SupportFolderLock&) = delete;

    // Makes the folder when it is missing. `display` is written for a later claim to name. A
    // folder held but not writable (read-only, or not ours to write) says so in error(), and
    // writable() is false. May be called again: held, it answers so at once, unless the folder's
    // path leads to another folder now (a file system mounted over it), whose lock is then
    // claimed too. The lock of the run's own folder (the first held) stays held while another
    // stands at the path, for it comes back there once that goes; the lock of any other folder
    // is let go once the path no longer leads there, and claimed anew should it lead there
    // again. So however many file systems come and go over the path, at most two locks are
    // kept open: one mounted and unmounted many times in a long run would otherwise keep a
    // descriptor each until the process reaches its limit.
    Claim claim(const QString& display);
    bool isHeld() const { return fd_ >= 0 || claimed_; }
    bool writable() const { return writable_; }
    // The holder's display and, when it runs on another machine (a shared home folder), that
    // machine's name.
    const QString& holder() const { return holder_; }
    const QString& holderHost() const { return holderHost_; }
    const QString& error() const { return error_; }
    QString path() const;
    // The claim file, where the folder takes no locks.
    QString claimPath() const;
    // Whether the holder is a claim file made on another machine: its process may have ended
    // there without removing it, which cannot be seen from here.
    bool claimFromElsewhere() const { return fromElsewhere_; }

    // Removes this process's claim files; the locks themselves go with the process. Any thread,
    // once the store has written its last.
    void release();

    // The name of this machine as the lock file records it.
    static QString hostName();

private:
    enum class Step { claimed, again, stop };
    // Whether the lock or claim file held is the one at its name in the folder the path leads to.
    bool holdsHere() const;
    // What is held is kept aside when it is the run's own folder's lock, or a claim file (which
    // keeps no descriptor), and let go otherwise; one kept that stands at the name again is
    // taken back.
    void keepEarlier();
    bool takeEarlierBack();
    Step attempt(const QString& display, Claim& result);
    Step attemptByFile(const QString& display, Claim& result);
    // What stands at the claim file's name when ours could not be linked there.
    Step judgeClaim(Claim& result);
    // Removes a claim left by a process of this machine that has ended.
    bool removeEndedClaim(const struct stat& st);
    // Removes the files of the claim's making and removal that ended processes left.
    void removeLeftClaimFiles();
    // Moves what stands at `name` in the folder aside, when it is still the entry (device and
    // inode) that was found wanting; `why` says what it is, for the log.
    bool setAside(const char* name, dev_t device, ino_t inode, const char* why);
    // error() for a failure of the folder (`ofFolder`) or of the lock file in it.
    void fail(int error, bool ofFolder);
    void readHolder(int fd);
    void readHolder(const QByteArray& text);

    QString folder_;
    QString holder_;
    QString holderHost_;
    QString error_;
    LockCall lock_;
    LinkCall link_;
    int fd_ = -1;
    bool writable_ = true;
    bool fromElsewhere_ = false;
    // The claim file made by this process, while it stands.
    std::atomic<bool> claimed_{false};
    dev_t claimDevice_ = 0;
    ino_t claimInode_ = 0;
    // The folder (device and inode) the first lock held lies in: the run's own.
    std::optional<std::pair<dev_t, ino_t>> ownFolder_;
    // Whether fd_ is the lock of that folder.
    bool fdOwn_ = false;
    // That folder's lock while the path leads to another.
    int ownLock_ = -1;
    // Claim files held in folders that the path led to before.
    std::vector<std::pair<dev_t, ino_t>> earlierClaims_;
};

} // namespace ostrel
