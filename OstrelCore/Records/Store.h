#pragma once

#include "OstrelCore/Records/HiddenRecord.h"
#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "OstrelCore/Records/Snapshot.h"
#include "OstrelCore/Records/StoreRights.h"
#include "Platform/AtomicFile.h"
#include "Platform/Date.h"
#include "Platform/Error.h"
#include "Platform/FileStat.h"
#include "Platform/SerialQueue.h"
#include "Platform/WorkerPool.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVarLengthArray>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace ostrel {

// The persisted index behind the shelf: items, sessions, prompts, hidden and deleted marks and
// transcript read offsets, kept in "index.json" and "offsets.json" in the support folder with
// delayed, coalesced writes. One store per engine; after construction it is used only on the
// engine's queue, so it has no lock.
class Store : public std::enable_shared_from_this<Store> {
public:
    // A file whose bytes were found to be a stored item's: the item's id, and the file's
    // modification date when it was read. A later start need not read the file again while its
    // date is no later and the item is still held, though the item itself is older.
    struct SourceCheck {
        QString id;
        Date modified;
        friend bool operator==(const SourceCheck&, const SourceCheck&) = default;
    };

    // A file an index records as to be removed: its path from the support folder
    // ("items/<name>", "thumbs/<name>") and the file the removal was meant for, as it was when the
    // store decided on it. It goes only while that name still leads to that file. An index of an
    // earlier version recorded names alone (`file` none): such a name is no ground to remove
    // whatever stands there now, which may be a later capture of the same bytes.
    struct Removal {
        QString name;
        std::optional<FileIdentity> file;
        friend bool operator==(const Removal&, const Removal&) = default;
    };

    // What "index.json" holds.
    struct Index {
        qint64 version = 1;
        std::optional<Date> lastRunAt;
        QList<ShelfItem> items;
        QList<Session> sessions;
        QList<Prompt> prompts;
        std::optional<QStringList> hidden;
        std::optional<QList<HiddenRecord>> hiddenItems;
        std::optional<QHash<QString, Date>> deleted;
        std::optional<QHash<QString, Date>> deletedPaths;
        std::optional<QHash<QString, Date>> titleChecks;
        // Read leniently, entry by entry: an index written before it, or one whose checks do not
        // read, loads without them, and its files are read once more.
        std::optional<QHash<QString, SourceCheck>> sourceChecks;
        // The copies, thumbnails and link files this index was written to remove: the files of
        // the items it no longer holds, removed right after it is written. A start after a
        // process that ended before they were all gone removes the rest that are still the files
        // recorded, unless an item names them again. Written only when there are some; read one
        // by one, and one that is not one of ours, or one past the most kept, is dropped alone.
        std::optional<QList<Removal>> removing;

        // Compact JSON with sorted keys.
        QByteArray encode() const;
        // An element of a list or table that does not read is dropped alone, and a member of the
        // wrong type counts as absent: `lost` then says how many of each, one text for each kind
        // ("3 items", "hidden taken as absent"), and is left empty when nothing was. A text that
        // is not JSON or lacks a list fails whole. Members it does not know (such as "begunAt",
        // which earlier versions wrote) are passed over.
        static std::optional<Index> decode(QByteArrayView json, QStringList* lost = nullptr);
        // The most names `removing` keeps.
        static constexpr qsizetype removingLimit = 1 << 20;
    };

    // What "offsets.json" holds: transcript path to byte offset; all or nothing.
    static std::optional<QHash<QString, quint64>> decodeOffsets(QByteArrayView json);
    // What "unfinished-start.json" holds: when a start whose pass over what was on disk has not
    // run to its end began. None unless it reads whole, as a finite number.
    static std::optional<Date> decodeUnfinishedStart(QByteArrayView json);

    // One element read on its own: absent when it does not decode.
    template <typename T> struct Lossy { std::optional<T> value; };

    // The result of copying an item's bytes in: its file URL, or the write error.
    using CopyResult = std::variant<QUrl, Error>;
    // The failures the store gives of its own, in the domain "Store".
    enum Failure : long {
        notTheFolderRead = 1, // the support folder's path leads to another folder
        sourceChanged = 2,    // the file copied changed while it was read
        notTheSubfolder = 3,  // the items or thumbnails folder is not the one this run uses
    };

    static constexpr double defaultDebounce = 2.0;
    static constexpr double defaultOffsetsDebounce = 5.0;

    // Creates the folders and loads both files; never fails. `autosave` runs the delayed writes;
    // without it only `flush()` writes.
    static std::shared_ptr<Store> make(const QUrl& root, Clock now,
                                       std::shared_ptr<SerialQueue> autosave = nullptr,
                                       double debounce = defaultDebounce,
                                       double offsetsDebounce = defaultOffsetsDebounce);

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // --- Fields readable from outside ---
    QUrl root() const { return QUrl::fromLocalFile(rootPath_); }
    QString rootPath() const { return rootPath_; }
    QString itemsDir() const { return itemsDir_; }
    QString thumbsDir() const { return thumbsDir_; }
    const QHash<QString, ShelfItem>& items() const { return items_; }
    const QHash<QString, Session>& sessions() const { return sessions_; }
    const QHash<QString, Prompt>& prompts() const { return prompts_; }
    const QHash<QString, quint64>& offsets() const { return offsets_; }
    const QSet<QString>& hidden() const { return hidden_; }
    const QHash<QString, HiddenRecord>& hiddenItems() const { return hiddenItems_; }
    const QHash<QString, Date>& deleted() const { return deleted_; }
    const QHash<QString, Date>& deletedPaths() const { return deletedPaths_; }
    const QHash<QString, Date>& titleChecks() const { return titleChecks_; }
    const QHash<QString, SourceCheck>& sourceChecks() const { return sourceChecks_; }
    qint64 revision() const { return revision_; }
    bool isFirstRun() const { return rights_.isFirstRun(); }
    std::optional<Date> previousRunAt() const { return previousRunAt_; }
    Date launchedAt() const { return launchedAt_; }
    // The support folder and the folders within as this store took them, for a writer on another
    // thread to look at before it writes there (OwnFolder.h). Taken on the store's queue.
    OwnFolder ownFolder() const { return rights_.own(); }
    // False once this run has decided never to replace the index file (StoreRights.h).
    bool canWriteIndex() const {
        return rights_.mayWrite(StoreRights::File::index) != StoreRights::May::never;
    }
    // Why the support folder takes no files of ours (not a folder, not writable, read-only, not the
    // folder this run read), or none. One found so is looked at again before copies and writes
    // (see folderUsable()), and used from then on as at any start once it can be.
    const std::optional<Error>& folderUnusable() const { return rights_.unusable(); }
    // Asked, once a support folder that could not be used at load can be, whether this process
    // may keep it now: a shell that could not claim it then (against a second Ostrel on another
    // display) claims it first. Without one, it may. Asked too when the folder's path leads to
    // another folder than the one this run read (a file system mounted over it): the shell keeps
    // that one from a second Ostrel as well, though this run writes nothing there.
    // Process-wide; any thread, and never two calls of `claim` at once.
    static void setFolderClaim(std::function<bool(const QString& root)> claim);
    // True when the index on disk could not be read and was set aside: its offsets went with it,
    // and transcripts are read from their start.
    bool indexSetAside() const { return rights_.indexSetAside(); }

    // --- A start's pass over what is on disk ---
    // When an earlier start began whose pass never ran to its end (a quit, a kill or a crash cut
    // it short), as the support folder keeps it; none when the last pass was through, or when
    // what is kept is missing or does not read.
    std::optional<Date> unfinishedStart() const { return unfinishedStart_; }
    // Keeps `at` as the beginning of the pass under way, until finishStart().
    void beginStart(Date at);
    // The pass has run to its end: what it kept goes once an index holding all it took is
    // written.
    void finishStart();
    // Captures this run holds for another try because the store could not keep them (a full
    // disk), the oldest modified at `oldest`; none once none is held. The moment kept on disk is
    // then no later than `oldest`, so that a start after a kill or a quit looks back far enough
    // to take them, and it goes only once nothing is held and an index holding what was taken
    // is written.
    void holdFrom(std::optional<Date> oldest);
    // Runs on the store's queue after each file of the store was written (the index, the
    // offsets, the start moment): there is room on the disk again.
    void setOnWritten(std::function<void()> written) { onWritten_ = std::move(written); }

    // --- Offsets, title checks, saving ---
    void setOffset(quint64 offset, const QString& path);
    void setTitleChecked(const QString& sessionID, Date modified);
    // The file at `path`, modified at `modified`, holds the bytes of the stored item `id`.
    // Saved with the index, without a new revision.
    void setSourceChecked(const QString& path, Date modified, const QString& id);
    // Asks for an index write; counts as a new revision.
    void setNeedsSave();
    // Writes both files now.
    void flush();
    void markDirty(bool bumpRevision);
    void scheduleOffsetsSave();
    // Writes the index now when it has waited `seconds` or more since its first unsaved change:
    // a long job on the queue (a first start over a large history) keeps the delayed write from
    // running, and a process killed before the job ends would otherwise keep nothing of it.
    void saveIfOverdue(double seconds);

    // --- Records ---
    void upsert(const ShelfItem& item);
    void upsert(const Session& session);
    void upsert(const Prompt& prompt);
    void markSeen(const QStringList& ids, Date at);
    void remove(const QString& id);
    void hide(const QString& id);
    bool unhide(const QString& id);
    bool isHidden(const QString& id) const { return hidden_.contains(id); }
    bool isHiddenSourcePath(const QString& sourcePath) const;
    int deleteItems(const QStringList& ids);
    int deleteAll(const QSet<QString>& sparing);
    bool isDeleted(const QString& id, const std::optional<QString>& sourcePath,
                   Date createdAt) const;
    bool hasIngested(const QString& path, Date modified) const;
    QList<ShelfItem> items(const QString& atSourcePath) const;
    // The store's own string equal to `path` when an item holds it as its source path, else
    // `path`: a table of paths beside the store's then holds no second copy.
    QString sharedPath(const QString& path) const;
    QList<ShelfItem> itemsWithContent(const QString& contentKey) const;
    std::optional<ShelfItem> artifact(const QString& forPath) const;

    // --- Files ---
    // Writes the item's copy unless one is already there (an id names one content). A copy of
    // the bytes written ahead into the items folder (`staged`) is renamed into place instead.
    CopyResult copyIn(QByteArrayView bytes, const QString& id, const QString& ext,
                      AtomicFile::Staged* staged = nullptr);
    // The same for a file, streamed so that no file is ever held whole in memory: unless the
    // item's copy is already there, the regular file at `fromPath` (a symbolic link is refused,
    // never followed) is hashed while it is copied into a temporary file in the items folder
    // (0600), synced, and renamed into place only when its SHA-256 (lower-case hex) is
    // `expectedSha256`; a file that changed since it was hashed fails and leaves nothing behind.
    CopyResult copyInFile(const QString& fromPath, const QString& id, const QString& ext,
                          const QString& expectedSha256);
    // Where the item's copy lives; the file name is made safe from any id.
    QUrl copyURL(const QString& id, const QString& ext) const;
    QUrl thumbURL(const QString& id) const;
    // Writes an item's JPEG thumbnail in place of any earlier one; durable at the next commit.
    // The same JPEG written ahead into the thumbnails folder (`staged`) is renamed instead.
    std::optional<Error> writeThumbnail(const QString& id, QByteArrayView jpeg,
                                        AtomicFile::Staged* staged = nullptr);
    void removeFiles(const ShelfItem& item);

    // --- Captures noted before their copies are placed (StoreJournal.cpp) ---
    // Notes what a new item needs to come back (its record with the URL of its copy, and its
    // session) before its copy is placed in the items folder, durable with the copy at the next
    // commit: a start after a process that ended before an index named it brings it back with
    // that copy, and an index written after the note drops it. Its failure (a full disk, a journal
    // grown to its bound while no index could be written) is the capture's: the copy must then not
    // be placed.
    std::optional<Error> noteCapture(const ShelfItem& item,
                                     const std::optional<Session>& session = std::nullopt);
    // Whether the journal has room for one more note of any length a note may have. A capture
    // that would find none is held before its bytes are read, as one waiting for room is, and
    // tried again once an index is written, which empties the journal of all but the notes this
    // run's start did not read.
    bool mayNote() const;
    // The bounds of the journal, one for what is written and what a start reads back: at most
    // `journalLimit` bytes in `journalEntryLimit` lines, each line at most `journalLineLimit`
    // bytes before its line feed. A note that would pass one is not written.
    static constexpr qint64 journalLimit = qint64(64) << 20;
    static constexpr qsizetype journalEntryLimit = 65536;
    static constexpr qsizetype journalLineLimit = qsizetype(1) << 20;
    // One note as a start reads it back: the name of the copy in the items folder, the item, and
    // its session when that reads and is the item's.
    struct JournalNote {
        QString copy;
        ShelfItem item;
        std::optional<Session> session;
    };
    // The notes of a journal, in its order, read as anything might have written it: whole lines
    // within the bounds above, each an item of ours that the copy's name can be the copy of
    // (bytes digested into the id, no link out of the folder, no path holding U+0000, dates that
    // are numbers). A line that is no such note is passed over alone. `readTo`, when given, is set
    // to the end of the last line gone over: the lines after it are past the bounds.
    static QList<JournalNote> decodeJournal(QByteArrayView bytes, qsizetype* readTo = nullptr);

    // --- Durability by group commit ---
    // Files of the store are written without syncs and noted here; before the index is written,
    // commitFiles() syncs every noted file (on the workers when there are some), then their
    // folders once each. So the index never names a file that a power loss could take away.
    void noteUnsynced(const QString& path);
    // True when everything noted since the last commit is on the disk; on a failure the notes
    // stay, the index is not written, and the whole commit is tried again.
    bool commitFiles();
    qsizetype unsyncedCount() const { return unsyncedFiles_.size(); }
    // Copies and thumbnails of removed items, kept until an index that no longer names them is
    // written: a power loss before that finds the old index, and with it the old files.
    qsizetype pendingRemovalCount() const { return pendingRemovals_.size(); }
    void setWorkers(std::shared_ptr<WorkerPool> workers) { workers_ = std::move(workers); }
    // Gives the delayed writes of the index a queue of their own: the tables are handed over as
    // they stand, and syncing the new files, encoding and writing happen there, so that the
    // queue of `autosave` never waits for them. flush() and save() still write at once.
    void setWriter(std::shared_ptr<SerialQueue> writer);
    // Threads that sync files for the writer.
    static constexpr int syncThreads = 8;
    // A write that failed (a full disk) is tried again on its own, first after `saveRetryFirst`
    // seconds, the wait doubling while it keeps failing up to `saveRetryMost`, and back to the
    // first once every file is written.
    static constexpr double saveRetryFirst = 5.0;
    static constexpr double saveRetryMost = 60.0;

    // --- Purge and snapshots ---
    QStringList purge(Date olderThan);
    Snapshot snapshot(std::optional<qint64> limit = std::nullopt);
    // Number of each record kind, in the order the purge compares them.
    std::array<qsizetype, 7> counts() const;
    qint64 snapshotBuilds() const { return snapshotBuilds_; }
    void setSnapshotBuilds(qint64 builds) { snapshotBuilds_ = builds; }

    // The part of an id before its first "~".
    static QString contentKey(const QString& id);
    // A file name for an id that cannot leave its folder, whatever the id holds.
    static QString safeFileName(const QString& id);
    // Whether `name` is one the copy of the item `id` may have: "<safe file name of id>.<ext>",
    // the extension holding no dot. Only such a copy is ever taken for the item's.
    static bool isCopyName(const QString& name, const QString& id);
    // The link file a drag of an item that has only a web address writes into the items folder,
    // and that goes with the item: its id with colons and slashes turned into hyphens, and
    // ".webloc"; where that is no name isLinkFileName() takes (an id too long, or holding U+0000),
    // "link-", the SHA-256 of the id and ".webloc".
    static QString linkFileName(const QString& id);
    // Whether `name` is one linkFileName() may give: the one rule by which link files are named,
    // recorded for removal and read back from an index. A name within the folder that leads
    // nowhere else (no "/", no U+0000, not "." or ".."), nor one of another writer of ours (a
    // temporary file, an entry set aside), of at most 255 bytes, ending in ".webloc".
    static bool isLinkFileName(QStringView name);
    // "yyyyMMdd'T'HHmmss" in UTC.
    static QString stamp(Date at);

    void save();
    // Both return false when the file was not written (and log why).
    bool writeIndex(const Index& index, const QString& path);
    bool writeOffsets(const QHash<QString, quint64>& offsets, const QString& path);
    // Sets an unreadable index aside under "index.unreadable-<stamp>.json"; false when neither a
    // move nor a copy managed to keep its content.
    bool moveUnreadableIndex(const QString& path, Date at);
    // Moves a file to "<base>.unreadable-<stamp>.json" beside it (a UUID added when that name is
    // taken), or copies it there when it cannot be moved; the new path, or none.
    static std::optional<QString> moveAside(const QString& path, const QString& base, Date at);

private:
    Store(const QUrl& root, Clock now, std::shared_ptr<SerialQueue> autosave, double debounce,
          double offsetsDebounce);

    void load();
    // Says at load whether the support folder can be made and written.
    void checkFolder();
    // False while the folder found unusable stays so. It is looked at again when `now` (before
    // the index or the offsets are written and before files are removed), or when a second or
    // more went by since it last was: a burst of captures costs no look each. A folder in use is
    // looked at too: the path may lead to another folder now (a file system mounted over it, a
    // folder put in its place), which is unusable until the one this run read is back, or to
    // another index, which this run leaves as it is.
    bool folderUsable(bool now);
    // What the look at the folder found, acted upon: false for another folder than this run's.
    bool stillOwn();
    // Another index found at the folder's path: it is never replaced, and the files this run
    // recorded for removal stay (that index may name them).
    void leaveIndex();
    // Another folder found at the path: nothing goes there until the one read is back.
    void leaveFolder();
    // Takes the folders within that this store has not taken yet, made first when missing (a link
    // or anything else at their names set aside): at load (`atLoad`, where a link of the user's
    // standing there since the run's start is followed instead), and once a folder that could not
    // be used can be.
    void takeSubfolders(bool atLoad = false);
    QString subfolderPath(OwnFolder::Subfolder subfolder) const {
        return subfolder == OwnFolder::Subfolder::items ? itemsDir_ : thumbsDir_;
    }
    // Why nothing may be written into `subfolder` now (a link or a file system put in place of the
    // one taken, or none taken), after one look at it; none when it may. Said once while it lasts,
    // and once when it is back.
    std::optional<Error> subfolderProblem(OwnFolder::Subfolder subfolder);
    // The folders within found not to be the ones taken, at their last look.
    std::array<bool, 2> subfolderLost_{};
    // The folder within, open, when it is the one taken; else -1.
    int openSubfolder(OwnFolder::Subfolder subfolder) const;
    // Whether `file` may be written now, after a look at the folder when it may ever be; when
    // only once the folder can be, `dirty` is set so that it is written then.
    bool writesNow(StoreRights::File file, bool& dirty);
    // Whether the files this run marked for removal, and the notes an index written holds, may go
    // now, after a look at the folder.
    bool mayRemove();
    // Whether the start's tidying may remove what it finds, after a look at the folder.
    bool mayTidy();
    // The SHA-256 of the index read, empty when none was.
    QByteArray loadIndex();
    void loadOffsets();
    void setOffsetsAside(const QString& path, const QString& why);
    void rebuildLookups();
    // The clock's time, or the wall clock's when the clock gives no finite number.
    Date clock() const;

    void replaceItem(const ShelfItem& item);
    std::optional<ShelfItem> takeItem(const QString& id);
    std::optional<HiddenRecord> takeHiddenRecord(const QString& id);
    // Whether `path` lies directly in the items or thumbnails folder, links and ".." resolved.
    bool isOwnFile(const QString& path) const;
    // The ids a lookup table lists under one key, without repeats. Nearly every key has one id,
    // held in place: a set per key would cost over a kilobyte of table for each stored item.
    using IdList = QVarLengthArray<QString, 1>;
    using Lookup = QHash<QString, IdList>;
    static void addTo(Lookup& table, const QString& key, const QString& id);
    static void removeFrom(Lookup& table, const QString& key, const QString& id);
    // An id that is its own content key (no "~") is found in `items_` by it: only the others
    // are listed under their content key, which spares a table entry for nearly every item.
    void addToContent(const QString& id);
    void removeFromContent(const QString& id);
    // The stored items whose ids a lookup table lists under `key`.
    QList<ShelfItem> storedItems(const Lookup& table, const QString& key) const;

    const QString rootPath_;
    const QString itemsDir_;
    const QString thumbsDir_;
    QHash<QString, ShelfItem> items_;
    QHash<QString, Session> sessions_;
    QHash<QString, Prompt> prompts_;
    QHash<QString, quint64> offsets_;
    QSet<QString> hidden_;
    QHash<QString, HiddenRecord> hiddenItems_;
    QHash<QString, Date> deleted_;
    QHash<QString, Date> deletedPaths_;
    QHash<QString, Date> titleChecks_;
    QHash<QString, SourceCheck> sourceChecks_;
    qint64 revision_ = 0;
    std::optional<Date> previousRunAt_;
    Date launchedAt_;
    std::optional<Date> unfinishedStart_;
    // The moment the support folder keeps for this run's pass, once written.
    std::optional<Date> startKept_;
    // Nothing this run took still needs the moment: the pass is through and no capture is held.
    bool startFinished_ = false;
    // The start's pass has run to its end (finishStart()), whether or not captures are held.
    bool passThrough_ = false;
    // When the oldest capture held for want of room was modified, while any is held.
    std::optional<Date> heldFrom_;
    std::function<void()> onWritten_;
    const Clock now_;
    const std::shared_ptr<SerialQueue> autosave_;
    const double debounce_;
    const double offsetsDebounce_;
    bool indexDirty_ = false;
    bool offsetsDirty_ = false;
    bool indexWritePending_ = false;
    bool offsetsWritePending_ = false;
    // What this run may write and remove in the support folder, and the facts that decide it.
    StoreRights rights_;
    // When the index became dirty after its last write.
    Date dirtySince_;
    Lookup idsByContent_;
    Lookup idsByPath_;
    Lookup hiddenIDsByPath_;
    struct CachedSnapshot {
        qint64 revision;
        std::optional<qint64> limit;
        Snapshot snapshot;
    };
    std::optional<CachedSnapshot> cachedSnapshot_;
    qint64 snapshotBuilds_ = 0;
    std::shared_ptr<WorkerPool> workers_;
    // Files written since the last commit, and their folders, to be synced before the next index.
    QSet<QString> unsyncedFiles_;
    QSet<QString> unsyncedFolders_;
    // Files of items this run removed, as they were then, that the next index written records and
    // that go right after it.
    QHash<QString, FileIdentity> pendingRemovals_;
    // Removes the files marked for removal that are still the files marked, right after an index
    // that records them was written; what cannot go now stays recorded for the next start.
    void carryOutRemovals();
    // Marks the file at `path` in the items or thumbnails folder for removal, as it is now, when
    // it is a plain file and an index this run writes can record it.
    void markForRemoval(const QString& path);
    // A file of ours is wanted again (its item came back): it must not go with the removals
    // pending, nor with those of a write under way.
    void spare(const QString& path) {
        pendingRemovals_.remove(path);
        writingRemovals_.remove(path);
    }
    // The small parts of the index, as they stand now.
    Index indexRest() const;
    // What follows a written index whose transcript lines went as far as `offsetsOfWrite`;
    // `afterStart`: it was begun once the start's pass was through.
    void indexWritten(const QHash<QString, quint64>& offsetsOfWrite, bool afterStart);
    void loadUnfinishedStart();
    // Writes `at` as the moment unless what is kept or due is as early.
    void keepStart(Date at);
    void clearStart();
    // Arms the delayed write of the index unless it is armed.
    void armIndexWrite();
    // The delayed write: on the writer when there is one, else save().
    void saveInBackground();
    struct IndexWrite;
    // Ends the write under way, if any, waiting for it or doing it here.
    void finishWriting();
    // Takes the index the write under way put in place, once it has run (waited for, or done
    // here), as this run's; false when there is no write under way or it put none there.
    bool writtenUnderWay();
    void finishWrite(const std::shared_ptr<IndexWrite>& write);
    std::shared_ptr<SerialQueue> writer_;
    std::shared_ptr<WorkerPool> syncers_;
    // Files whose last write failed, each tried again by one timer on `autosave_`.
    enum Due : unsigned { dueIndex = 1, dueOffsets = 2, dueStart = 4 };
    unsigned due_ = 0;
    double retryDelay_ = 0;
    SerialQueue::Handle retry_;
    // The moment of the start under way while it is not yet on the disk.
    std::optional<Date> startDue_;
    // The moment kept was last written in place: the disk had no room for a new file.
    bool startInPlace_ = false;
    void notSaved(Due file);
    void saved(Due file);
    void saveAgain();
    void indexNotSaved();
    void saveOffsets();
    // `quiet`: a failure is not logged.
    void writeStart(bool quiet = false);
    // The next attempt at the moment as a new file while captures are held, if one is armed.
    SerialQueue::Handle startProbe_;
    void probeStart();
    // A stop's last word on the moment: written now when due, and not tried again.
    void flushStart();
    std::shared_ptr<IndexWrite> writing_;
    // The files marked for removal when the write under way began: that index no longer names them.
    QHash<QString, FileIdentity> writingRemovals_;
    // Canonical forms of the two folders whose files the store may remove.
    QString canonicalItemsDir_;
    QString canonicalThumbsDir_;

    // --- Removals the index recorded, and leftovers (StoreSweep.cpp) ---
public:
    // Says whether the process is about to end: removals of many files stop at their next batch
    // and leave the rest to the next start's tidying. Asked from the store's queue and the writer.
    void setHalted(std::function<bool()> halted) { halted_ = std::move(halted); }
    // Asked whether this process holds the lock of the support folder at `root`: no other
    // process of ours writes there then, and a temporary file of another's naming found there is
    // one a process left as it ended. Without an answer, or with false, such files are left.
    // Process-wide; any thread.
    static void setFolderHeld(std::function<bool(const QString& root)> held);
    // A start's tidying of the items and thumbnails folders: removes the files an index written
    // by an earlier run recorded it was about to remove and that no held or hidden item names
    // again, and, while this process holds the support folder, the temporary files other
    // processes left there. No other file goes, whatever its date and whatever the index says of
    // it. The folders are listed on the writer a batch at a time, and the recorded files are
    // judged and removed on the store's queue (without those queues, all at once, here).
    void tidyFolders();
    bool isTidying() const { return tidying_ != nullptr; }
    // Files removed between two looks at whether the process is about to end: a quit still takes
    // the files of a few removed items along, never those of thousands.
    static constexpr qsizetype removalBatch = 128;

private:
    struct Tidying;
    bool halted() const { return halted_ && halted_(); }
    bool folderHeld() const;
    // On the queue: removes the recorded files among the names of the step under way, within a
    // time when `bounded`; answers 1 when some are left for another job, 0 when all were judged,
    // -1 when the tidying cannot go on.
    int removeRecorded(Tidying& tidying, bool bounded);
    // The next listing step, on the writer, then its judging, on the queue.
    void tidyStep(const std::shared_ptr<Tidying>& tidying);
    void tidyJudge(const std::shared_ptr<Tidying>& tidying);
    void endTidying(const std::shared_ptr<Tidying>& tidying);
    // An item stored names its files again: they leave what is recorded for removal.
    void keepFiles(const ShelfItem& item);
    std::function<bool()> halted_;
    std::shared_ptr<Tidying> tidying_;

    // What the store's own writes said about files of its folders, the one ground on which it
    // removes any (StoreSweep.cpp, StoreJournal.cpp):
    // - files an index written (or the one to be written next) names as about to be removed,
    //   not gone yet, each with the file it was recorded for: every index written records them,
    //   until they are gone or no longer that file;
    QHash<QString, FileIdentity> recordedRemovals_;
    // - the bytes of the capture journal that hold whole entries, none noted yet when empty;
    //   -1 when the file there could not be read (it is then written after what it holds). An
    //   index begun when it held `n` bytes drops those once written.
    qint64 journalSize_ = 0;
    // The lines in those bytes.
    qsizetype journalLines_ = 0;
    // The bytes of the journal holding notes this run's start did not read (past the reader's
    // bounds, in a journal it could not read then, or in one another hand cut back since), and
    // the lines in them: every index written leaves them, moved to the journal's start, for a
    // later start to read.
    qint64 unreadFrom_ = 0;
    qint64 unreadTo_ = 0;
    qsizetype unreadLines_ = 0;
    // The files the index records as to be removed, by their paths from the support folder.
    QList<Removal> removalsToRecord() const;
    // Brings back, from the journal, the items whose copies were placed but that no index read
    // names; the copies of those that cannot come back go with the next index.
    void loadJournal();
    // Drops the first `upTo` bytes of the journal, which an index written holds, but the notes
    // this run did not read.
    void dropJournal(qint64 upTo);
};

} // namespace ostrel
