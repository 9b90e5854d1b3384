// Loading, recovering and saving the two files of the store.
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

const QString indexName = QStringLiteral("index.json");
const QString offsetsName = QStringLiteral("offsets.json");
const QString unfinishedStartName = QStringLiteral("unfinished-start.json");
// Far above what any history writes (an index of the most items allowed and years of hidden
// ones stays within a few tens of MB), and low enough to read into memory at once.
constexpr qint64 indexLimit = qint64(1) << 30;
constexpr qint64 offsetsLimit = qint64(64) << 20;
// One date; anything larger is not ours.
constexpr qint64 unfinishedStartLimit = 4096;

void logNotSaved(const QString& label, const Error& error) {
    // The reason in words ("no space left on device"), then the error's family and number.
    qCCritical(lcStore, "%s not saved: %s (%s %ld)", qUtf8Printable(label),
               qUtf8Printable(Error::describe(error)), qUtf8Printable(error.domain), error.code);
}

bool writeIndexText(const QByteArray& json, const QString& path) {
    if (const auto error = AtomicFile::write(path, json)) {
        logNotSaved(QStringLiteral("index"), *error);
        return false;
    }
    return true;
}

// Files committed at once from which their file system is synced whole rather than each.
constexpr qsizetype manyFiles = 64;

// What a commit left unsynced.
struct Unsynced {
    QStringList files;
    QStringList folders;

    bool isEmpty() const { return files.isEmpty() && folders.isEmpty(); }
};

// Syncs the files (on `pool` when it has more than one to do), then, once all of them are on
// the disk, their folders once each; a failure is logged. Answers what is left unsynced.
Unsynced syncFiles(const QStringList& files, const QStringList& folders, WorkerPool* pool) {
    Unsynced left;
    // Thousands of new files (a start over a large history) go with their file system in one
    // sync: a flush of the disk for each took most of the end of such a start. Should it fail,
    // each is synced on its own, which says which.
    if (files.size() >= manyFiles) {
        QSet<dev_t> synced;
        bool failed = false;
        for (const QString& folder : folders) {
            struct stat st {};
            if (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
                failed = true;
                break;
            }
            if (!synced.contains(st.st_dev)) {
                if (AtomicFile::syncFileSystem(folder)) {
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
    const auto syncOne = [&files, &failed](int i) {
        const auto error = AtomicFile::syncFile(files.at(i));
        // A file that went meanwhile (its item was removed) has nothing left to lose.
        failed[static_cast<size_t>(i)] = error && error->code != ENOENT ? 1 : 0;
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
        if (const auto error = AtomicFile::syncFolder(folders.at(i))) {
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
// Construction and loading

namespace {

// A copy or thumbnail being written when the process was killed stays under its temporary name;
// nothing else writes into our own folders, so before the first write of this run any such
// file is a leftover and would only take up room.
void removeLeftovers(const QString& folder) {
    // A plain listing: the folder holds a file or two for every item, and only the names count.
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (dir == nullptr) {
        return;
    }
    constexpr std::string_view prefix = ".incoming-";
    qsizetype removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(prefix) && entry->d_type != DT_DIR &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    if (removed > 0) {
        qCInfo(lcStore, "removed %lld unfinished files from %s", static_cast<long long>(removed),
               qUtf8Printable(folder));
    }
}

bool itemHoldsNul(const ShelfItem& item) {
    return (item.sourcePath && FileStat::holdsNul(*item.sourcePath)) ||
           (item.fileURL && FileStat::holdsNul(item.fileURL->toLocalFile()));
}

// An edited or damaged index may name paths holding U+0000: an item with one is dropped like
// any item that does not read, a working directory with one is forgotten, a deletion stamp with
// one goes. Returns how many were refused.
qsizetype refuseNulPaths(Store::Index& index) {
    qsizetype refused = index.items.removeIf(itemHoldsNul);
    if (index.hiddenItems) {
        refused += index.hiddenItems->removeIf(
            [](const HiddenRecord& record) { return itemHoldsNul(record.item); });
    }
    for (Session& session : index.sessions) {
        if (session.cwd && FileStat::holdsNul(*session.cwd)) {
            session.cwd.reset();
            ++refused;
        }
    }
    if (index.deletedPaths) {
        refused += index.deletedPaths->removeIf(
            [](const auto& entry) { return FileStat::holdsNul(entry.key()); });
    }
    return refused;
}

} // namespace

std::shared_ptr<Store> Store::make(const QUrl& root, Clock now,
                                   std::shared_ptr<SerialQueue> autosave, double debounce,
                                   double offsetsDebounce) {
    std::shared_ptr<Store> store(
        new Store(root, std::move(now), std::move(autosave), debounce, offsetsDebounce));
    store->load();
    return store;
}

Store::Store(const QUrl& root, Clock now, std::shared_ptr<SerialQueue> autosave, double debounce,
             double offsetsDebounce)
    : rootPath_(QDir::cleanPath(root.toLocalFile())),
      itemsDir_(rootPath_ + QStringLiteral("/items")),
      thumbsDir_(rootPath_ + QStringLiteral("/thumbs")), now_(std::move(now)),
      autosave_(std::move(autosave)), debounce_(debounce), offsetsDebounce_(offsetsDebounce) {}

void Store::load() {
    // The support folder holds screenshots and prompt texts: private to the user. One that was
    // already there may be the user's own choice of folder, with the modes they gave it: it is
    // left as it is, and only said to be open. Our files inside are 0600 either way.
    // The folders within are ours alone: a link at their names would lead copies elsewhere.
    AtomicFile::makeFolder(rootPath_, 0700, false);
    AtomicFile::makeOwnFolder(itemsDir_, 0700);
    AtomicFile::makeOwnFolder(thumbsDir_, 0700);
    if (const auto st = FileStat::stat(rootPath_);
        st && st->isDirectory() && (st->mode & 077) != 0) {
        qCWarning(lcStore,
                  "support folder %s is open to others (mode %04o); its files stay private",
                  qUtf8Printable(rootPath_), static_cast<unsigned>(st->mode & 07777));
    }
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);
    removeLeftovers(itemsDir_);
    removeLeftovers(thumbsDir_);

    loadIndex();
    loadOffsets();
    loadUnfinishedStart();
    launchedAt_ = now_();
    rebuildLookups();
}

void Store::loadIndex() {
    const QString path = rootPath_ + u'/' + indexName;
    if (!FileStat::exists(path)) {
        if (errno != ENOENT && errno != ENOTDIR) {
            // The path cannot even be looked at; its content may be fine. Keep it, and never
            // replace it during this run.
            qCCritical(lcStore, "index not readable, left in place: %s",
                       qUtf8Printable(Error::fromErrno().message));
            indexWritable_ = false;
        }
        return; // first run
    }

    // A link the user made is followed: only what is not a regular file at its end is set aside.
    std::optional<Index> index;
    const auto st = FileStat::stat(path);
    if (!st && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) {
        qCCritical(lcStore, "index not readable, left in place: %s",
                   qUtf8Printable(Error::fromErrno().message));
        indexWritable_ = false;
        return;
    }
    if (st && st->isRegular()) {
        auto read = AtomicFile::readRegular(path, indexLimit);
        if (const Error* error = std::get_if<Error>(&read)) {
            if (error->code != ENODEV && error->code != EFBIG) {
                qCCritical(lcStore, "index not readable, left in place: %s",
                           qUtf8Printable(error->message));
                indexWritable_ = false;
                return;
            }
            qCWarning(lcStore, "index set aside: %s", qUtf8Printable(error->message));
        } else {
            index = Index::decode(std::get<QByteArray>(read));
        }
    }

    if (!index) {
        // Read and not decodable, or not a file at all: set it aside and start afresh.
        indexSetAside_ = true;
        if (!moveUnreadableIndex(path, now_())) {
            qCCritical(lcStore, "unreadable index could not be set aside; not writing an index "
                                "during this run");
            indexWritable_ = false;
        }
        return;
    }

    if (const qsizetype refused = refuseNulPaths(*index); refused > 0) {
        qCWarning(lcStore, "index: %lld paths refused: they hold a NUL character",
                  static_cast<long long>(refused));
    }
    isFirstRun_ = false;
    previousRunAt_ = index->lastRunAt;
    // The records move from the decoded lists into tables sized for them at once; of two records
    // with one id the first one stays.
    const auto keyed = [](auto& list, auto& table, const auto& idOf) {
        table.reserve(list.size());
        for (auto& record : list) {
            // One lookup: a new slot shows in the size.
            const qsizetype before = table.size();
            auto& slot = table[idOf(record)];
            if (table.size() != before) {
                slot = std::move(record);
            }
        }
        list.clear();
    };
    const auto recordID = [](const auto& record) -> const QString& { return record.id; };
    keyed(index->items, items_, recordID);
    keyed(index->sessions, sessions_, recordID);
    keyed(index->prompts, prompts_, recordID);
    // Every item of a session names it: the items share the session's own id, and the prompt's,
    // rather than each holding an equal copy as read.
    const auto share = [](const auto& table, QString& text) {
        if (const auto it = table.constFind(text); it != table.constEnd()) {
            text = it.key();
        }
    };
    for (ShelfItem& item : items_) {
        share(sessions_, item.sessionID);
        if (item.promptID) {
            share(prompts_, *item.promptID);
        }
    }
    if (index->hidden) {
        hidden_ = QSet<QString>(index->hidden->begin(), index->hidden->end());
    }
    if (index->hiddenItems) {
        keyed(*index->hiddenItems, hiddenItems_,
              [](const HiddenRecord& record) -> const QString& { return record.item.id; });
    }
    deleted_ = std::move(index->deleted).value_or(QHash<QString, Date>());
    deletedPaths_ = std::move(index->deletedPaths).value_or(QHash<QString, Date>());
    titleChecks_ = std::move(index->titleChecks).value_or(QHash<QString, Date>());
    sourceChecks_ = std::move(index->sourceChecks).value_or(QHash<QString, SourceCheck>());
}

void Store::loadOffsets() {
    const QString path = rootPath_ + u'/' + offsetsName;
    if (indexSetAside_) {
        // The offsets say which transcript lines the lost index already holds: with the index
        // gone they would keep those lines from ever being read again.
        setOffsetsAside(path, QStringLiteral("with the index"));
        return;
    }
    auto read = AtomicFile::readRegular(path, offsetsLimit);
    if (const Error* error = std::get_if<Error>(&read)) {
        // A FIFO or a device in its place would stall or flood every start: it goes aside.
        if (error->code == ENODEV || error->code == EFBIG) {
            setOffsetsAside(path, error->message);
        }
        return;
    }
    if (auto offsets = decodeOffsets(std::get<QByteArray>(read))) {
        if (const qsizetype refused = offsets->removeIf(
                [](const auto& entry) { return FileStat::holdsNul(entry.key()); })) {
            qCWarning(lcStore, "offsets: %lld paths refused: they hold a NUL character",
                      static_cast<long long>(refused));
        }
        offsets_ = std::move(*offsets);
        offsetsOfIndex_ = offsets_;
    }
}

void Store::loadUnfinishedStart() {
    // Whatever does not read is no unfinished pass: this start's own moment replaces it.
    auto read =
        AtomicFile::readRegular(rootPath_ + u'/' + unfinishedStartName, unfinishedStartLimit);
    if (const QByteArray* bytes = std::get_if<QByteArray>(&read)) {
        unfinishedStart_ = decodeUnfinishedStart(*bytes);
        startKept_ = unfinishedStart_;
    }
}

void Store::beginStart(Date at) {
    if (startKept_ == at || !std::isfinite(at.seconds)) {
        return;
    }
    JsonWriter out;
    out.beginObject();
    out.key(u"startedAt");
    out.date(at);
    out.endObject();
    if (const auto error = AtomicFile::write(rootPath_ + u'/' + unfinishedStartName, out.take())) {
        logNotSaved(QStringLiteral("start"), *error);
        return;
    }
    startKept_ = at;
    startFinished_ = false;
}

void Store::finishStart() {
    startFinished_ = true;
    // Nothing the pass took waits for the index: the moment goes now. Else with the next write.
    if (!indexBehind_ && !writing_) {
        clearStart();
    }
}

void Store::clearStart() {
    if (!startKept_) {
        return;
    }
    const QString path = rootPath_ + u'/' + unfinishedStartName;
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        // Kept, it costs the next start a longer look back, nothing else.
        qCWarning(lcStore, "%s not removed: %s", qUtf8Printable(path),
                  qUtf8Printable(Error::describe(Error::fromErrno())));
        return;
    }
    startKept_.reset();
}

void Store::setOffsetsAside(const QString& path, const QString& why) {
    if (!FileStat::exists(path)) {
        return;
    }
    if (const auto target = moveAside(path, QStringLiteral("offsets"), now_())) {
        qCWarning(lcStore, "offsets set aside (%s): %s moved to %s", qUtf8Printable(why),
                  qUtf8Printable(path), qUtf8Printable(*target));
        return;
    }
    // Not movable: an empty file in its place serves as well.
    if (const auto error = AtomicFile::write(path, "{}")) {
        logNotSaved(QStringLiteral("offsets"), *error);
    }
}

void Store::rebuildLookups() {
    idsByContent_.clear();
    idsByPath_.clear();
    hiddenIDsByPath_.clear();
    idsByPath_.reserve(items_.size());
    hiddenIDsByPath_.reserve(hiddenItems_.size());
    for (const ShelfItem& item : std::as_const(items_)) {
        addToContent(item.id);
        if (item.sourcePath) {
            addTo(idsByPath_, *item.sourcePath, item.id);
        }
    }
    for (const HiddenRecord& record : std::as_const(hiddenItems_)) {
        if (record.item.sourcePath) {
            addTo(hiddenIDsByPath_, *record.item.sourcePath, record.item.id);
        }
    }
}

QString Store::stamp(Date at) {
    return QLocale::c().toString(at.toDateTime(), QStringLiteral("yyyyMMdd'T'HHmmss"));
}

std::optional<QString> Store::moveAside(const QString& path, const QString& base, Date at) {
    const QString folder = QFileInfo(path).absolutePath();
    const QString stampText = stamp(at);
    const QString prefix = folder + u'/' + base + QStringLiteral(".unreadable-") + stampText;
    QString target = prefix + QStringLiteral(".json");
    if (FileStat::exists(target)) {
        target = prefix + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                 QStringLiteral(".json");
    }
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(target);
    if (::rename(from.constData(), to.constData()) == 0) {
        return target;
    }
    // A move can fail where a copy works (a read-only file on some file systems, a bind mount):
    // keep the content whole either way.
    const auto read = AtomicFile::readRegular(path, indexLimit);
    if (const auto* bytes = std::get_if<QByteArray>(&read);
        bytes && !AtomicFile::write(target, *bytes)) {
        return target;
    }
    return std::nullopt;
}

bool Store::moveUnreadableIndex(const QString& path, Date at) {
    const auto target = moveAside(path, QStringLiteral("index"), at);
    if (target) {
        qCWarning(lcStore,
                  "unreadable index set aside: %s moved to %s; transcripts are read again "
                  "from their start",
                  qUtf8Printable(path), qUtf8Printable(*target));
    }
    return target.has_value();
}

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
    indexBehind_ = true;
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
                self->offsetsDirty_ = false;
                self->writeOffsets(self->offsetsToWrite(), self->rootPath_ + u'/' + offsetsName);
            }
        });
    }
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
    // The files the index names reach the disk before the index does; when they cannot, this
    // index is not written and the next change tries again.
    if (indexWritable_ && !commitFiles()) {
        indexDirty_ = true;
        dirtySince_ = clock();
        return;
    }
    if (indexWritable_ &&
        writeIndexText(
            storeIndexParts::encodeIndex(indexRest(), items_, hiddenItems_, sessions_, prompts_),
            rootPath_ + u'/' + indexName)) {
        removeDoomedFiles();
        indexWritten(offsets_, startFinished_);
    }
}

void Store::indexWritten(const QHash<QString, quint64>& offsetsOfWrite, bool afterStart) {
    // A change made while a write was under way keeps the index behind.
    indexBehind_ = indexDirty_;
    if (offsetsOfIndex_ != offsetsOfWrite) {
        offsetsOfIndex_ = offsetsOfWrite;
        // Offsets held back while the index could not be written may go out now.
        scheduleOffsetsSave();
    }
    // The index on disk holds all the finished pass took: the next start need not look back.
    if (startFinished_ && (afterStart || !indexBehind_)) {
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

    std::mutex lock;
    bool ran = false;
    Unsynced left;
    bool written = false;

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
        left = syncFiles(files, folders, syncers.get());
        if (left.isEmpty()) {
            written = writeIndexText(
                storeIndexParts::encodeIndex(rest, items, hiddenItems, sessions, prompts), path);
        }
        // The tables go here, off the queue, and the names of the files synced: a long job
        // holds the queue and with it this write, which its end takes there, for as long as
        // it runs.
        rest = {};
        items = {};
        hiddenItems = {};
        sessions = {};
        prompts = {};
        files = {};
        folders = {};
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
    if (!indexWritable_) {
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
    unsyncedFiles_.clear();
    unsyncedFolders_.clear();
    doomedWriting_ = std::exchange(doomedFiles_, {});
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

void Store::finishWrite(const std::shared_ptr<IndexWrite>& write) {
    if (writing_ != write) {
        return; // already taken by a flush
    }
    writing_.reset();
    const auto doomed = std::exchange(doomedWriting_, {});
    if (!write->left.isEmpty()) {
        // Noted again for the next commit, which the next change brings.
        unsyncedFiles_.unite(QSet<QString>(write->left.files.begin(), write->left.files.end()));
        unsyncedFolders_.unite(
            QSet<QString>(write->left.folders.begin(), write->left.folders.end()));
        doomedFiles_.unite(doomed);
        if (!indexDirty_) {
            indexDirty_ = true;
            dirtySince_ = clock();
        }
        return;
    }
    if (!write->written) {
        doomedFiles_.unite(doomed);
        return;
    }
    // Files doomed since the write began, or spared meanwhile, are not this index's to remove.
    const QSet<QString> later = std::exchange(doomedFiles_, doomed);
    removeDoomedFiles();
    doomedFiles_ = later;
    indexWritten(write->offsets, write->afterStart);
    if (indexDirty_) {
        armIndexWrite();
    }
}

QHash<QString, quint64> Store::offsetsToWrite() const {
    if (!indexBehind_) {
        return offsets_;
    }
    // A transcript position past captures that only this run's memory holds would lose them
    // for good: a start after a crash, or after this index could not be written, reads their
    // lines again from where the index on disk left off. Reading a line twice costs nothing.
    QHash<QString, quint64> out;
    for (auto it = offsets_.constBegin(); it != offsets_.constEnd(); ++it) {
        if (const auto old = offsetsOfIndex_.constFind(it.key());
            old != offsetsOfIndex_.constEnd()) {
            out.insert(it.key(), std::min(*old, it.value()));
        }
    }
    return out;
}

bool Store::writeIndex(const Index& index, const QString& path) {
    return indexWritable_ && writeIndexText(index.encode(), path);
}

bool Store::writeOffsets(const QHash<QString, quint64>& offsets, const QString& path) {
    JsonWriter out;
    // Offsets are file sizes; a value beyond the signed range cannot occur in practice.
    static constexpr auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    out.sortedObject(offsets, [&out](quint64 offset) {
        out.integer(static_cast<qint64>(std::min(offset, largest)));
    });
    if (const auto error = AtomicFile::write(path, out.take())) {
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
    save();
    offsetsDirty_ = false;
    writeOffsets(offsetsToWrite(), rootPath_ + u'/' + offsetsName);
}

// ---------------------------------------------------------------------------------------------
// Durability by group commit

void Store::removeDoomedFiles() {
    for (const QString& path : std::as_const(doomedFiles_)) {
        const auto st = FileStat::lstat(path);
        if (st && !st->isDirectory() && isOwnFile(path)) {
            QFile::remove(path);
        }
    }
    doomedFiles_.clear();
}

void Store::noteUnsynced(const QString& path) {
    unsyncedFiles_.insert(path);
    unsyncedFolders_.insert(QFileInfo(path).absolutePath());
}

bool Store::commitFiles() {
    if (unsyncedFiles_.isEmpty() && unsyncedFolders_.isEmpty()) {
        return true;
    }
    const Unsynced left =
        syncFiles(QStringList(unsyncedFiles_.begin(), unsyncedFiles_.end()),
                  QStringList(unsyncedFolders_.begin(), unsyncedFolders_.end()), workers_.get());
    unsyncedFiles_ = QSet<QString>(left.files.begin(), left.files.end());
    unsyncedFolders_ = QSet<QString>(left.folders.begin(), left.folders.end());
    return left.isEmpty();
}

} // namespace ostrel
