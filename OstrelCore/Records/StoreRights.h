#pragma once

#include "OstrelCore/Records/OwnFolder.h"
#include "Platform/Date.h"
#include "Platform/Error.h"

#include <QHash>
#include <QString>

#include <optional>
#include <utility>

namespace ostrel {

// What the store may do in its support folder, and the facts that decide it. The store asks here
// before it writes the index, the offsets or the start moment, places a copy, a thumbnail or a
// note of a capture, or removes a file; it combines none of these facts itself.
//
// The facts, and what changes them:
// - the folder, and the index at its name, this run read or last wrote (OwnFolder): taken at
//   load (the folder the run started with, where the shell wrote one down); the index again with
//   every index this run writes, the one a write under way put there included;
// - why the folder takes no files of ours, or none: found at load; set by a look that finds
//   another folder at the path; cleared by a look that finds the folder can be used again. Looks
//   come a second apart at most, or at once when asked (before a write of the index or the
//   offsets, a note of a capture, a removal);
// - what load found of the index: one read (no first run), or one set aside as unreadable,
//   whose offsets go with it. Kept for the run;
// - the index kept: this run never replaces the index, because load could neither read it, nor
//   set it aside, nor keep the bytes of what did not read, or because a look found one this run
//   neither read nor wrote. Never cleared;
// - the offsets kept: they go with the index kept once a folder that could not be used at load
//   can be, and when a look finds another index. Never cleared;
// - the index behind: the index on disk lacks changes made since it was written, and the offsets
//   as they stood when it was. A change sets it; a written index clears it unless a change came
//   while it was written; a failed write leaves it, and the offsets of the index on disk, as
//   they were.
//
// The names of the files that may go (what an index written recorded, the files of the items
// this run removed) the store keeps itself; this says when any of them may.
//
// A plain value, used on the store's queue.
class StoreRights {
public:
    // The two files of the store that replace what they were.
    enum class File { index, offsets };
    enum class May {
        never, // not during this run
        later, // once the folder takes our files again
        now,
    };

    // --- Found at load
    // The folder at `root` as load found it (made when missing), looked at `at`: `unusable` says
    // why it takes no files of ours. When it is a folder, read-only or not, it is this run's.
    void loadFolder(const QString& root, std::optional<Error> unusable, Date at);
    // An index was read, whole or in part: not a first run.
    void readIndex() { indexRead_ = true; }
    // The index did not read and went aside (or was to): the offsets that go with it go too.
    void setIndexAside() { indexSetAside_ = true; }
    // An index this run must not replace: not read, not set aside, or not all of it kept.
    void keepIndex() { indexKept_ = true; }
    // The folder within that stands at `subfolder` in `root` now (or the run's) is the store's,
    // unless one is taken (OwnFolder.h).
    bool takeSubfolder(const QString& root, OwnFolder::Subfolder subfolder, bool userLink = false) {
        return own_.takeSubfolder(root, subfolder, userLink);
    }
    // What stands at the index's name now is the index read, or none; `sha256` the digest of the
    // bytes read.
    void takeIndex(const QString& index, QByteArray sha256 = {}) {
        own_.takeIndex(index, std::move(sha256));
    }
    // The offsets read beside the index: the lines whose captures it holds.
    void takeOffsets(const QHash<QString, quint64>& offsets) { offsetsOfIndex_ = offsets; }

    // --- Answers
    bool isFirstRun() const { return !indexRead_; }
    bool indexSetAside() const { return indexSetAside_; }
    const std::optional<Error>& unusable() const { return unusable_; }
    // Copies, thumbnails, notes of captures, the start moment.
    bool mayPlace() const { return !unusable_; }
    // Whether `file` may replace what stands at its name: never once it is kept, else while the
    // folder takes files of ours.
    May mayWrite(File file) const {
        if (file == File::index ? indexKept_ : offsetsKept_) {
            return May::never;
        }
        return mayPlace() ? May::now : May::later;
    }
    // Whether a file of an item this run removes is to go: only an index this run writes can
    // record it, and it goes right after that write.
    bool mayMarkForRemoval() const { return mayWrite(File::index) != May::never; }
    // Whether the files marked for removal in this run, and the notes of captures an index written
    // holds, may go now: beside an index this run wrote, in its folder.
    bool mayRemove() const { return mayWrite(File::index) == May::now; }
    // Whether the files the index read recorded, and those other processes left half written
    // (while this process holds the folder), may go now: from the folder read, where that index
    // still stands (a look that finds another index drops the record of them).
    bool mayTidy() const { return mayPlace(); }
    bool indexBehind() const { return indexBehind_; }
    // What "offsets.json" may hold of `offsets`: while the index is behind, no transcript goes
    // past where the index on disk left off, and none it does not know.
    QHash<QString, quint64> offsetsToWrite(const QHash<QString, quint64>& offsets) const;
    // What the index's writer looks at, on its own thread, right before it writes.
    const OwnFolder& own() const { return own_; }

    // --- While the store runs
    // Whether the folder is to be looked at `at`: `now`, or a second or more since the last look,
    // or a clock set back; taken as the last look when it is.
    bool lookDue(Date at, bool now);
    // What stands at `root` and at the index's name `index` now.
    OwnFolder::Look look(const QString& root, const QString& index) {
        return own_.look(root, index);
    }
    // A look found another folder at the path: it takes nothing of ours until this run's is back.
    // True the first time.
    bool leaveFolder();
    // A look found an index this run neither read nor wrote: it is never replaced, nor the
    // offsets that go with it, and nothing is removed beside it. True when it was this run's.
    bool leaveIndex();
    // A look found the folder still unusable, for `why`.
    void stillUnusable(Error why) { unusable_ = std::move(why); }
    // The folder at `root` takes our files again; one load found none of is this run's from now.
    void usableAgain(const QString& root);
    // The index on disk lacks a change.
    void changed() { indexBehind_ = true; }
    // This run put in place the index that is now `index`, of the bytes whose digest is `sha256`.
    void wroteIndex(const FileIdentity& index, QByteArray sha256) {
        own_.wrote(index, std::move(sha256));
    }
    // That index holds the lines up to `offsetsOfWrite`; `changedSince`: a change came while it
    // was written. True when the offsets of the index on disk moved.
    bool indexWritten(const QHash<QString, quint64>& offsetsOfWrite, bool changedSince);

    static constexpr double lookInterval = 1.0;

private:
    OwnFolder own_;
    std::optional<Error> unusable_;
    std::optional<Date> lookedAt_;
    bool otherFolderSaid_ = false;
    bool indexRead_ = false;
    bool indexSetAside_ = false;
    bool indexKept_ = false;
    bool offsetsKept_ = false;
    bool indexBehind_ = false;
    QHash<QString, quint64> offsetsOfIndex_;
};

} // namespace ostrel
