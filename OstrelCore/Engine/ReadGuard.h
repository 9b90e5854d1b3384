#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <atomic>
#include <functional>

namespace ostrel {

// The second line of defence against a file that brings the whole process down: every read that
// could (probing and decoding a picture, making its thumbnail) is marked in the support folder
// while it lasts, and a crash on the reading thread turns its mark into a crash mark before the
// process goes. The next start sets those bytes aside: they are not read again for as long as
// they stay the same, and the log says so once.
//
// A mark is one small file per reading thread, rewritten by one plain write for every read and
// never synced: a process that dies leaves it in the system's cache. Only the crash mark counts,
// so a read is never unmarked, and a process that is killed (not crashed), by a crash signal
// another process sends it too, leaves no crash mark: a file is never set aside for a kill that
// merely happened during its read.
class ReadGuard {
public:
    // At most this many reads are marked at once, each in a file of its own.
    static constexpr int slotCount = 64;
    // The longest mark: the digest, and as much of the name as fits.
    static constexpr qsizetype recordSize = 1024;
    // Most sets of bytes kept aside; the oldest go first.
    static constexpr qsizetype setAsideLimit = 100;

    // Takes in the crash marks a crashed run left in `folder`, setting their bytes aside, and
    // starts marking afresh. Without a usable folder nothing is marked or set aside.
    explicit ReadGuard(const QString& folder);
    ~ReadGuard();
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    // Bytes with this digest (lower-case hexadecimal SHA-256) brought a process down as they were
    // read. Safe on any thread.
    bool isSetAside(const QString& digest) const { return setAside_.contains(digest); }

    // Marks the read of the bytes with `digest` while it lives; `what` names them in the log.
    // A mark within a mark on the same thread adds nothing. Safe on any thread.
    class Mark {
    public:
        Mark(const ReadGuard* guard, const QString& digest, const QString& what);
        ~Mark();
        Mark(const Mark&) = delete;
        Mark& operator=(const Mark&) = delete;

    private:
        int slot_ = -1;
    };

    // Runs within every mark, once it is written; tests bring the process down there.
    std::function<void(const QString& what)> duringRead;

private:
    struct Entry {
        QString digest;
        QString what;
    };
    void load(const QString& path);
    void save(const QString& path) const;
    // The file of a slot, opened once by the first mark that takes the slot.
    int slotFile(int slot) const;

    QString marks_;
    mutable std::array<std::atomic<int>, slotCount> files_;
    QList<Entry> entries_;
    QSet<QString> setAside_;
};

} // namespace ostrel
