// Saving the index and offsets files: debounced, in the background, after the files they name.
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/Sha256.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

using namespace storeIndexParts;

void storeIndexParts::logNotSaved(const QString& label, const Error& error) {
    // The reason in words ("no space left on device"), then the error's family and number.
    qCCritical(lcStore, "%s not saved: %s (%s %ld)", qUtf8Printable(label),
               qUtf8Printable(Error::describe(error)), qUtf8Printable(error.domain), error.code);
}

bool storeIndexParts::writeIndexText(const QByteArray& json, const QString& path,
                                     std::optional<FileIdentity>* placed, int folder) {
    if (const auto error =
            folder < 0 ? AtomicFile::write(path, json, 0600, AtomicFile::Links::setAside, placed)
                       : AtomicFile::writeAt(folder, QFile::encodeName(QFileInfo(path).fileName()),
                                             json, 0600, placed, path)) {
        logNotSaved(QStringLiteral("index"), *error);
        return false;
    }
    return true;
}

namespace {

// Files committed at once from which their file system is synced whole rather than each.
constexpr qsizetype manyFiles = 64;

// What a commit left unsynced.
struct Unsynced {
    QStringList files;
    QStringList folders;

    bool isEmpty() const { return files.isEmpty() && folders.isEmpty(); }
};

// The store's folder `folder` (the support folder `root` or one within), opened through the
// folder the run took, so that a sync reaches what was written there whatever stands at the path
// now; -1 when that folder is not there.
int openToSync(const QString& folder, const OwnFolder& own, const QString& root) {
    Descriptors::Owned top(own.open(root));
    if (!top || folder == root) {
        return top.release();
    }
    for (const auto subfolder : {OwnFolder::Subfolder::items, OwnFolder::Subfolder::thumbs}) {
        if (own.hasSubfolder(subfolder) && folder == root + u'/' + OwnFolder::nameOf(subfolder)) {
            return own.openSubfolder(top.get(), subfolder);
        }
    }
    return Descriptors::open(QFile::encodeName(folder).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Syncs the files (on `pool` when it has more than one to do), then, once all of them are on
// the disk, their folders once each, each reached through the folder the run took; a failure is
// logged. Answers what is left unsynced.
Unsynced syncFiles(const QStringList& files, const QStringList& folders, WorkerPool* pool,
                   const OwnFolder& own, const QString& root) {
    Unsynced left;
    // Thousands of new files (a start over a large history) go with their file system in one
    // sync: a flush of the disk for each took most of the end of such a start. Should it fail,
    // each is synced on its own, which says which.
    if (files.size() >= manyFiles) {
        QSet<dev_t> synced;
        bool failed = false;
        for (const QString& folder : folders) {
            struct stat st {};
            const Descriptors::Owned fd(openToSync(folder, own, root));
            if (!fd || ::fstat(fd.get(), &st) != 0) {
                failed = true;
                break;
            }
            if (!synced.contains(st.st_dev)) {
                const Descriptors::Owned readable(
                    Descriptors::openAt(fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (!readable || ::syncfs(readable.get()) != 0) {
                    failed = true;
                    break;
                }
                synced.insert(st.st_dev);
            }
        }
        if (!failed) {
            return left;
        }
    }
    // One flag per file, each written by one job only.
    std::vector<char> failed(static_cast<size_t>(files.size()), 0);
    const auto syncOne = [&files, &failed, &own, &root](int i) {
        const QFileInfo file(files.at(i));
        const Descriptors::Owned folder(openToSync(file.path(), own, root));
        const QByteArray name = QFile::encodeName(file.fileName());
        const Descriptors::Owned fd(
            folder ? Descriptors::openAt(folder.get(), name.constData(),
                                         O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)
                   : -1);
        // A file that went meanwhile (its item was removed) has nothing left to lose; one whose
        // folder is not there (another put at its path) is synced once it is back.
        const bool synced =
            fd ? ::fdatasync(fd.get()) == 0 || errno == EINVAL : folder && errno == ENOENT;
        failed[static_cast<size_t>(i)] = synced ? 0 : 1;
    };
    // Syncs of many files cost little more than one when they reach the disk together.
    if (pool != nullptr && files.size() > 1) {
        pool->forEach(static_cast<int>(files.size()), syncOne);
    } else {
        for (int i = 0; i < files.size(); ++i) {
            syncOne(i);
        }
    }
    for (int i = 0; i < files.size(); ++i) {
        if (failed[static_cast<size_t>(i)] != 0) {
            left.files.append(files.at(i));
        }
    }
    if (!left.files.isEmpty()) {
        qCWarning(lcStore, "index not saved: files of the store could not be synced");
        left.folders = folders;
        return left;
    }
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const Descriptors::Owned folder(openToSync(folders.at(i), own, root));
        if (const auto error = folder ? AtomicFile::syncFolderAt(folder.get())
                                      : std::optional<Error>(Error::fromErrno())) {
            qCWarning(lcStore, "index not saved: folder %s could not be synced: %s",
                      qUtf8Printable(folders.at(i)), qUtf8Printable(Error::describe(*error)));
            left.folders = folders.mid(i);
            return left;
        }
    }
    return left;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Saving

void Store::markDirty(bool bumpRevision) {
    if (bumpRevision) {
        ++revision_;
    }
    if (!indexDirty_) {
        dirtySince_ = clock();
    }
    indexDirty_ = true;
    rights_.changed();
    armIndexWrite();
}

void Store::armIndexWrite() {
    if (!autosave_ || indexWritePending_) {
        return;
    }
    indexWritePending_ = true;
    autosave_->after(debounce_, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->indexWritePending_ = false;
        if (self->indexDirty_) {
            self->saveInBackground();
        }
    });
}

void Store::scheduleOffsetsSave() {
    offsetsDirty_ = true;
    if (autosave_ && !offsetsWritePending_) {
        offsetsWritePending_ = true;
        autosave_->after(offsetsDebounce_, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            self->offsetsWritePending_ = false;
            if (self->indexDirty_) {
                self->saveInBackground();
            }
            if (self->offsetsDirty_) {
                self->saveOffsets();
            }
        });
    }
}

void Store::saveOffsets() {
    offsetsDirty_ = false;
    if (!writesNow(StoreRights::File::offsets, offsetsDirty_)) {
        return;
    }
    if (writeOffsets(rights_.offsetsToWrite(offsets_), rootPath_ + u'/' + offsetsName)) {
        saved(dueOffsets);
    } else {
        offsetsDirty_ = true;
        notSaved(dueOffsets);
    }
}

// ---------------------------------------------------------------------------------------------
// Failed writes, tried again

void Store::notSaved(Due file) {
    due_ |= file;
    // A folder found unusable at load stays so for the run: no attempt there would go through.
    if (!autosave_ || retry_.isValid() || !rights_.mayPlace()) {
        return;
    }
    // A disk that stays full costs one attempt a minute at most; one that has room again
    // waits no longer than that for what this run holds only in memory.
    retryDelay_ = retryDelay_ <= 0 ? saveRetryFirst : std::min(retryDelay_ * 2, saveRetryMost);
    retry_ = autosave_->after(retryDelay_, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->retry_ = {};
            self->saveAgain();
        }
    });
}

void Store::saved(Due file) {
    due_ &= ~unsigned(file);
    if (due_ == 0) {
        retry_.cancel();
        retry_ = {};
        retryDelay_ = 0;
    }
    if (onWritten_) {
        onWritten_();
    }
}

void Store::saveAgain() {
    // The moment first: small, and what a start after a kill looks back from.
    if ((due_ & dueStart) != 0 && startDue_) {
        writeStart();
    }
    if ((due_ & dueIndex) != 0) {
        saveInBackground();
    }
    if ((due_ & dueOffsets) != 0) {
        saveOffsets();
    }
}

void Store::indexNotSaved() {
    if (!indexDirty_) {
        indexDirty_ = true;
        dirtySince_ = clock();
    }
    notSaved(dueIndex);
}

Store::Index Store::indexRest() const {
    Index index;
    index.version = 1;
    index.lastRunAt = clock();
    QStringList hidden(hidden_.begin(), hidden_.end());
    std::sort(hidden.begin(), hidden.end());
    index.hidden = hidden;
    index.deleted = deleted_;
    index.deletedPaths = deletedPaths_;
    index.titleChecks = titleChecks_;
    // The files this index no longer names, which go once it is written: a start after a process
    // that ended before they were gone removes them.
    index.removing = removalsToRecord();
    // Written only when there are some: a store that never met a touched file keeps the form
    // that earlier versions wrote.
    if (!sourceChecks_.isEmpty()) {
        index.sourceChecks = sourceChecks_;
    }
    return index;
}

void Store::save() {
    finishWriting();
    indexDirty_ = false;
    // An index this run must not replace is never written, nor tried again.
    if (!writesNow(StoreRights::File::index, indexDirty_)) {
        return;
    }
    // The files the index names reach the disk before the index does; when they cannot, this
    // index is not written and is tried again later.
    const qint64 journal = journalSize_;
    if (!commitFiles()) {
        indexNotSaved();
        return;
    }
    const QByteArray json =
        storeIndexParts::encodeIndex(indexRest(), items_, hiddenItems_, sessions_, prompts_);
    std::optional<FileIdentity> placed;
    // Into the folder the look above found, whatever its path leads to by now.
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder && rights_.own().hasFolder()) {
        indexDirty_ = true; // written once the folder this run read is back
        return;
    }
    const bool written = writeIndexText(json, rootPath_ + u'/' + indexName, &placed, folder.get());
    // A write that failed once its file was in place (a close() that failed) still leaves this
    // run's index at the name: the next write replaces it.
    if (placed) {
        rights_.wroteIndex(*placed, Sha256::digest(json));
    }
    if (!written) {
        indexNotSaved();
        return;
    }
    saved(dueIndex);
    carryOutRemovals();
    dropJournal(journal);
    indexWritten(offsets_, startFinished_);
}

void Store::indexWritten(const QHash<QString, quint64>& offsetsOfWrite, bool afterStart) {
    // A change made while a write was under way keeps the index behind. Offsets held back while
    // the index could not be written may go out now.
    if (rights_.indexWritten(offsetsOfWrite, indexDirty_)) {
        scheduleOffsetsSave();
    }
    // The index on disk holds all the finished pass took: the next start need not look back.
    if (startFinished_ && (afterStart || !rights_.indexBehind())) {
        clearStart();
    }
}

// What one write of the index in the background takes along: the tables as they stood, shared
// rather than copied (the queue's next change to one copies it then), the files to sync first,
// and, once it has run, how it went. Run once, by the writer or by a flush that cannot wait for
// it, whichever comes first.
struct Store::IndexWrite {
    Index rest;
    QHash<QString, ShelfItem> items;
    QHash<QString, HiddenRecord> hiddenItems;
    QHash<QString, Session> sessions;
    QHash<QString, Prompt> prompts;
    QString path;
    QStringList files;
    QStringList folders;
    std::shared_ptr<WorkerPool> syncers;
    // The offsets as they stood: the lines whose captures this index holds.
    QHash<QString, quint64> offsets;
    // Begun once the start's pass was through: it holds all that pass took.
    bool afterStart = false;
    // The bytes of the capture journal whose items it holds.
    qint64 journal = 0;
    // The support folder and the index the store knew as its own; `root` the folder's path.
    OwnFolder own;
    QString root;

    std::mutex lock;
    bool ran = false;
    Unsynced left;
    bool written = false;
    // What the folder was found to be right before the write; the file put at the index's name,
    // also by a write that failed after, and the digest of its bytes.
    OwnFolder::Look found = OwnFolder::Look::own;
    std::optional<FileIdentity> index;
    QByteArray sha256;

    // True once run() has ended; never waits for it.
    bool hasRun() {
        const std::unique_lock<std::mutex> hold(lock, std::try_to_lock);
        return hold.owns_lock() && ran;
    }

    void run() {
        const std::lock_guard<std::mutex> hold(lock);
        if (ran) {
            return;
        }
        ran = true;
        left = syncFiles(files, folders, syncers.get(), own, root);
        // Looked at here, right before the write: the queue's look may be seconds old by now.
        // Written through the folder looked at, whatever its path leads to by then.
        const Descriptors::Owned folder(own.open(root));
        found = folder            ? own.lookIn(folder.get(), path)
                : own.hasFolder() ? OwnFolder::Look::otherFolder
                                  : OwnFolder::Look::own;
        if (left.isEmpty() && found == OwnFolder::Look::own) {
            const QByteArray json =
                storeIndexParts::encodeIndex(rest, items, hiddenItems, sessions, prompts);
            OwnFolder::afterLook();
            written = writeIndexText(json, path, &index, folder.get());
            if (index) {
                sha256 = Sha256::digest(json);
            }
        }
        // The names of the files synced are the writer's own and go here.
        files = {};
        folders = {};
    }

    // On the queue, once the write has run. The tables share their data with the store's: let go
    // on the writer, the queue's next change could find them unshared and change them in place
    // with nothing ordering that after the writer's last read of them.
    void dropTables() {
        rest = {};
        items = {};
        hiddenItems = {};
        sessions = {};
        prompts = {};
    }
};

void Store::setWriter(std::shared_ptr<SerialQueue> writer) {
    writer_ = std::move(writer);
    // Syncing waits on the disk, not the processor: threads of their own, so that a commit of
    // thousands of new files never holds up the decoding of the next ones on the workers.
    if (writer_ && !syncers_) {
        syncers_ = std::make_shared<WorkerPool>(syncThreads);
    }
}

void Store::saveInBackground() {
    if (!writer_ || !autosave_) {
        save();
        return;
    }
    if (writing_) {
        if (!writing_->hasRun()) {
            return; // the change waits for the write under way to end, which starts the next one
        }
        // Its end waits for the queue, which a long job (a first start) holds: taken here, or
        // no other write would start before the job ends, and every file the job wrote would
        // wait in the unsynced notes until then.
        const std::shared_ptr<IndexWrite> ended = writing_;
        finishWrite(ended);
    }
    indexDirty_ = false;
    if (!writesNow(StoreRights::File::index, indexDirty_)) {
        return;
    }
    auto write = std::make_shared<IndexWrite>();
    write->rest = indexRest();
    write->items = items_;
    write->hiddenItems = hiddenItems_;
    write->sessions = sessions_;
    write->prompts = prompts_;
    write->path = rootPath_ + u'/' + indexName;
    write->files = QStringList(unsyncedFiles_.begin(), unsyncedFiles_.end());
    write->folders = QStringList(unsyncedFolders_.begin(), unsyncedFolders_.end());
    write->syncers = syncers_ ? syncers_ : workers_;
    write->offsets = offsets_;
    write->afterStart = startFinished_;
    write->journal = journalSize_;
    write->own = rights_.own();
    write->root = rootPath_;
    unsyncedFiles_.clear();
    unsyncedFolders_.clear();
    writingRemovals_ = std::exchange(pendingRemovals_, {});
    writing_ = write;
    writer_->async([write, weak = weak_from_this(), autosave = autosave_] {
        write->run();
        autosave->async([weak, write] {
            if (const auto self = weak.lock()) {
                self->finishWrite(write);
            }
        });
    });
}

void Store::finishWriting() {
    if (writing_) {
        const std::shared_ptr<IndexWrite> write = writing_;
        write->run(); // waits for the writer when it has begun
        finishWrite(write);
    }
}

bool Store::writtenUnderWay() {
    if (!writing_) {
        return false;
    }
    writing_->run(); // waits for the writer when it has begun
    if (!writing_->index) {
        return false;
    }
    rights_.wroteIndex(*writing_->index, writing_->sha256);
    return true;
}

void Store::finishWrite(const std::shared_ptr<IndexWrite>& write) {
    write->dropTables();
    if (writing_ != write) {
        return; // already taken by a flush
    }
    writing_.reset();
    const auto removals = std::exchange(writingRemovals_, {});
    // Put in place, even by a write that failed after: the next write replaces it.
    if (write->index) {
        rights_.wroteIndex(*write->index, write->sha256);
    }
    if (!write->written) {
        // Noted again for the next commit, which the retry or the next change brings.
        unsyncedFiles_.unite(QSet<QString>(write->left.files.begin(), write->left.files.end()));
        unsyncedFolders_.unite(
            QSet<QString>(write->left.folders.begin(), write->left.folders.end()));
        for (auto it = removals.cbegin(); it != removals.cend(); ++it) {
            pendingRemovals_.insert(it.key(), it.value());
        }
        if (write->found == OwnFolder::Look::own) {
            indexNotSaved();
        } else if (!stillOwn()) {
            indexDirty_ = true; // written once the folder this run read is back
        } else if (rights_.mayWrite(StoreRights::File::index) != StoreRights::May::never) {
            indexNotSaved(); // the path leads to it again already
        }
        return;
    }
    saved(dueIndex);
    // Files marked for removal since the write began, or spared meanwhile, are not this index's
    // to remove.
    const QHash<QString, FileIdentity> later = std::exchange(pendingRemovals_, removals);
    carryOutRemovals();
    pendingRemovals_ = later;
    dropJournal(write->journal);
    indexWritten(write->offsets, write->afterStart);
    if (indexDirty_) {
        armIndexWrite();
    }
}

bool Store::writeIndex(const Index& index, const QString& path) {
    return rights_.mayWrite(StoreRights::File::index) == StoreRights::May::now &&
           writeIndexText(index.encode(), path);
}

bool Store::writeOffsets(const QHash<QString, quint64>& offsets, const QString& path) {
    if (!rights_.mayPlace()) {
        return false;
    }
    JsonWriter out;
    // Offsets are file sizes; a value beyond the signed range cannot occur in practice.
    static constexpr auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    out.sortedObject(offsets, [&out](quint64 offset) {
        out.integer(static_cast<qint64>(std::min(offset, largest)));
    });
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder && rights_.own().hasFolder()) {
        return false;
    }
    const QByteArray text = out.take();
    if (const auto error = folder ? AtomicFile::writeAt(
                                        folder.get(), QFile::encodeName(QFileInfo(path).fileName()),
                                        text, 0600, nullptr, path)
                                  : AtomicFile::write(path, text)) {
        logNotSaved(QStringLiteral("offsets"), *error);
        return false;
    }
    return true;
}

void Store::setOffset(quint64 offset, const QString& path) {
    const auto it = offsets_.constFind(path);
    if (it != offsets_.constEnd() && it.value() == offset) {
        return;
    }
    offsets_.insert(path, offset);
    scheduleOffsetsSave();
}

void Store::setTitleChecked(const QString& sessionID, Date modified) {
    const auto it = titleChecks_.constFind(sessionID);
    if (it != titleChecks_.constEnd() && it.value() == modified) {
        return;
    }
    if (!std::isfinite(modified.seconds)) {
        return;
    }
    titleChecks_.insert(sessionID, modified);
    markDirty(false);
}

void Store::setSourceChecked(const QString& path, Date modified, const QString& id) {
    const SourceCheck check{id, modified};
    const auto it = sourceChecks_.constFind(path);
    if ((it != sourceChecks_.constEnd() && it.value() == check) ||
        !std::isfinite(modified.seconds)) {
        return;
    }
    sourceChecks_.insert(path, check);
    markDirty(false);
}

void Store::setNeedsSave() {
    markDirty(true);
}

void Store::saveIfOverdue(double seconds) {
    if (!indexDirty_) {
        return;
    }
    const double waited = clock().since(dirtySince_);
    // A clock set back makes the wait negative: count from now.
    if (waited < 0) {
        dirtySince_ = clock();
    } else if (waited >= seconds) {
        saveInBackground();
    }
}

void Store::flush() {
    // The last word of a run: a folder that could not be used is looked at once more, and a
    // moment held captures need is written before anything else.
    folderUsable(true);
    flushStart();
    save();
    saveOffsets();
    // The last word of a store that stops: what failed here waits for a change, never for a
    // timer that would outlive the run (a new store may own the folder by then).
    retry_.cancel();
    retry_ = {};
}

// ---------------------------------------------------------------------------------------------
// Durability by group commit

void Store::noteUnsynced(const QString& path) {
    unsyncedFiles_.insert(path);
    unsyncedFolders_.insert(QFileInfo(path).absolutePath());
}

bool Store::commitFiles() {
    if (unsyncedFiles_.isEmpty() && unsyncedFolders_.isEmpty()) {
        return true;
    }
    const Unsynced left = syncFiles(QStringList(unsyncedFiles_.begin(), unsyncedFiles_.end()),
                                    QStringList(unsyncedFolders_.begin(), unsyncedFolders_.end()),
                                    workers_.get(), rights_.own(), rootPath_);
    unsyncedFiles_ = QSet<QString>(left.files.begin(), left.files.end());
    unsyncedFolders_ = QSet<QString>(left.folders.begin(), left.folders.end());
    return left.isEmpty();
}

} // namespace ostrel
