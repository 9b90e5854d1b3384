#pragma once

#include "Platform/Error.h"
#include "Platform/FileStat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <utility>

namespace ostrel {

// What a store knows to be its own at the support folder's path: the folder it read (or first
// used, when it could not be used at load), and the index at its name as the store read it or
// last wrote it, or that none stood there. Before the store writes its index, or removes a file,
// it asks whether the path still leads there: a file system mounted over the folder after the
// start, another folder put in its place, or an index put there by another hand is not its own.
// An index is known by which file it is, its size and its dates, and by the digest of the bytes
// the store read or wrote: a mode, owner or ACL set on it, a second name made for it and removed
// again (a backup by hard links), `touch`, its dates set back, the same bytes written again in
// place, and a copy of other bytes written over it with its dates set back all leave the same
// file of the same size with other dates; only the bytes tell those apart.
// Kept with the other facts that decide what the store may do (StoreRights.h). A plain value: the
// index's writer asks a copy on its own thread.
//
// The run's support folder is written down once, process-wide, by the shell at the start, before
// anything reads there (or, when no folder stood at the path then, by the first store that comes
// to use one), and kept for the life of the process. A store over that path takes it for its own,
// whenever it is made: an engine started again under a mount does not take the mounted folder.
// Every other writer into the folder (thumbnails, link files, read marks, an update's files) asks
// mayWriteInto() right before it writes, the store's own check of the folder: what cannot be
// written now is dropped or waits, never written elsewhere. Without a run (tests of one part), any
// folder may be written.
//
// The same holds for the two folders within, where copies, thumbnails and link files go: each is
// written down (which folder, never a link) when the store first uses it or makes it, the run's
// with the run's folder, and a write into one asks whether its name still leads there, without
// following a link at it. A link put in its place leads nowhere of ours, nor does a file system
// mounted over it, nor a folder gone: nothing is written there until the one written down is
// back. The store removes files from one only through a descriptor that is that folder. The one
// exception is the user's own: a link of the user's standing at the name when the run starts,
// leading to a real folder of the user's, is followed, and that folder is the run's.
//
// The look and the write are one act: the folder is opened, known by which folder it is (its
// device and inode, against those written down), and written through that descriptor alone
// (openat, renameat, unlinkat), so that a file system mounted over it, or a link or another
// folder put at its name, after the look takes nothing. The folder is opened anew for each
// write, not kept from the start: while another folder covers it, the run's own waits, as a
// lock taken on the covering folder says no second shelf may use that one.
class OwnFolder {
public:
    enum class Look {
        own,         // the folder, with the index this store read or wrote, or none
        otherFolder, // another folder at the path, or no folder at all
        otherIndex,  // the folder, holding an index this store neither read nor wrote
    };
    // The folders within the support folder that the store writes into.
    enum class Subfolder { items, thumbs };
    static QString nameOf(Subfolder subfolder) {
        return subfolder == Subfolder::items ? QStringLiteral("items") : QStringLiteral("thumbs");
    }

    // Takes the folder `root` leads to now, or the run's when `root` is its path (with the folders
    // within that the run wrote down); false when there is none.
    bool takeFolder(const QString& root);
    // Takes the real folder (no link) that stands at `subfolder` in `root` now, unless one is
    // taken: the run's when `root` is the run's path and it wrote one down, else what stands
    // there, written down as the run's too when `root` is its path. False when none is taken.
    // With `userLink`, at a store's load, takes instead the folder a link of the user's at the
    // name leads to (the copies moved to a bigger disk): a real folder of the user's, neither the
    // support folder nor the other folder within. Only at the run's start: once the run has
    // looked at the name, a link put there since is not followed. False, taking nothing, when no
    // such link stands there.
    bool takeSubfolder(const QString& root, Subfolder subfolder, bool userLink = false);
    bool hasSubfolder(Subfolder subfolder) const {
        return subfolders_[size_t(subfolder)].has_value();
    }
    // Whether the folder taken for `subfolder` was reached through a link of the user's at its
    // name at the start: only then may a link at the name be followed, and only to that folder.
    bool throughLink(Subfolder subfolder) const { return throughLink_[size_t(subfolder)]; }
    // Whether `subfolder` in `root` is the folder taken, a link at its name not followed unless
    // the folder was taken through one: one look. False while none is taken.
    bool subfolderHere(const QString& root, Subfolder subfolder) const;
    // Whether the folder open as `fd` is the one taken for `subfolder`.
    bool isSubfolder(int fd, Subfolder subfolder) const;
    // Takes what stands at `index` now as the index read (nothing: none was there); `sha256` the
    // digest of the bytes read, empty when none were.
    void takeIndex(const QString& index, QByteArray sha256 = {});
    // The index this store has just put in place, and the digest of the bytes it wrote there.
    void wrote(const FileIdentity& index, QByteArray sha256) {
        index_ = index;
        indexSha256_ = std::move(sha256);
        refused_.reset();
    }
    bool hasFolder() const { return folder_.has_value(); }
    // Whether `root` leads to the folder taken (true while none was): the one look at the folder
    // before anything of ours is written there, by the store or beside it.
    bool leadsHere(const QString& root) const;
    // Own while no folder was taken. An index of this store's whose dates alone moved is read once
    // per change of them to tell (no more than the bytes written), and known by its new ones from
    // then on when it holds the bytes.
    Look look(const QString& root, const QString& index);
    // The folder `root` leads to, opened, when it is the one taken (any folder while none was);
    // -1 otherwise. What of ours goes there is written through it.
    int open(const QString& root) const;
    // look() at the folder open as `folder` (from open()): the index at its entry of `index`'s
    // name, looked at through it.
    Look lookIn(int folder, const QString& index);
    // `subfolder` within the folder open as `folder`, opened without following a link at its
    // name, when it is the one taken; -1 otherwise.
    int openSubfolder(int folder, Subfolder subfolder) const;

    // Writes down the folder at `root` now as the run's. Any thread.
    static void startRun(const QString& root);
    // Forgets it: for tests, which run many parts in one process.
    static void endRun();
    // Whether a file may be written (or one of ours removed) at `path` now: outside the run's
    // folder, or in it while the path still leads to the folder written down; in the items or
    // thumbnails folder, while that is the one written down (one look; where none is yet, while
    // the support folder is the run's and no link or other entry stands at the name). Any thread.
    static bool mayWriteInto(const QString& path);
    // The folder `folder` opened for a write of ours, when mayWriteInto() would allow a write in
    // it: the run's folder and the folders within reached from the descriptor of the one checked,
    // no link followed within. -1 otherwise. Any thread.
    static int openInto(const QString& folder);
    // Writes `data` whole as the file `path` (0600) through openInto() of its folder: into that
    // very folder or nowhere. The failure, or nothing.
    static std::optional<Error> writeInto(const QString& path, QByteArrayView data);

    // Run between a look and the write it allows, for a test to put another folder in place.
    static void setAfterLook(std::function<void()> hook);
    static void afterLook();

private:
    // Whether `now`, found at `index`, is the index taken, its dates alone moved.
    bool stillHolds(const QString& index, const FileIdentity& now);

    std::optional<FileIdentity> folder_;
    std::optional<FileIdentity> index_;
    QByteArray indexSha256_;
    // The last file at the index's name that was read and found to hold other bytes.
    std::optional<FileIdentity> refused_;
    std::array<std::optional<FileIdentity>, 2> subfolders_;
    std::array<bool, 2> throughLink_{};
};

} // namespace ostrel
