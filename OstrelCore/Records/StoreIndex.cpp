// Loading and recovering the files of the store.
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

using namespace storeIndexParts;
// ---------------------------------------------------------------------------------------------
// Construction and loading

namespace {

// The entries of the support folder looked at for what other processes left, or for copies of an
// index kept aside.
constexpr qint64 rootListLimit = 100'000;

// A file being written when a process was killed stays under its temporary name: a copy or
// thumbnail in its folder, or one of the small files of the support folder (the index, the
// offsets, the start's moment, the files set aside). This process writes into these folders
// while a store loads, too: the index writer and the workers of an earlier store (an engine
// restarted after a change of folders), the thumbnail cache writing rendered thumbnails back; all
// of them under this process's own mark. So, where this process holds the folder and no other
// process of ours writes, what bears another's mark is a leftover (removeLeftover()). Those at
// the top of the support folder go here; those of the items and thumbnails folders with the
// start's one listing of them (Store::tidyFolders()). The support folder may be a link of the
// user's.
void removeLeftovers(const QString& root) {
    DIR* dir = listFolder(root, true);
    if (dir == nullptr) {
        return;
    }
    const int fd = ::dirfd(dir);
    qsizetype removed = 0;
    qint64 seen = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++seen > rootListLimit) {
            break;
        }
        removed += removeLeftover(fd, entry->d_name) ? 1 : 0;
    }
    ::closedir(dir);
    if (removed > 0) {
        qCInfo(lcStore, "removed %lld unfinished files from %s", static_cast<long long>(removed),
               qUtf8Printable(root));
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

// A new name for a file set aside, "<prefix>.json", or "<prefix>-<UUID>.json" when that one is
// taken (the second is not looked at again).
QString asideTarget(const QString& prefix) {
    const QString target = prefix + QStringLiteral(".json");
    if (!FileStat::exists(target)) {
        return target;
    }
    return prefix + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
           QStringLiteral(".json");
}

// The copies of the same size read to compare with an index read in part.
constexpr int keptCompareLimit = 16;

// Keeps the text of an index that read only in part beside it, as "index.partly-unreadable-"
// and a stamp: a copy, since the index stays in place and is what this run reads. An index read
// again with the same bytes (one that was not replaced since: a run that ended before its first
// write, or could not write) finds its copy already kept and makes no other. The copy's path, or
// why it could not be written.
std::variant<QString, Error> keepPartlyUnreadable(const QString& folder, const QByteArray& bytes,
                                                  Date at) {
    if (DIR* dir = listFolder(folder, true)) {
        const int fd = ::dirfd(dir);
        qint64 seen = 0;
        int compared = 0;
        std::optional<QString> same;
        while (const dirent* entry = ::readdir(dir)) {
            if (++seen > rootListLimit || compared == keptCompareLimit) {
                break;
            }
            struct stat st {};
            if (!std::string_view(entry->d_name).starts_with(partlyUnreadableIndexPrefix) ||
                ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode) || st.st_size != bytes.size()) {
                continue;
            }
            ++compared;
            const QString candidate = folder + u'/' + QFile::decodeName(entry->d_name);
            const auto read = AtomicFile::readRegular(candidate, indexLimit);
            if (const auto* kept = std::get_if<QByteArray>(&read); kept && *kept == bytes) {
                same = candidate;
                break;
            }
        }
        ::closedir(dir);
        if (same) {
            return *same;
        }
    }
    const QString target = asideTarget(
        folder + u'/' + QLatin1StringView(partlyUnreadableIndexPrefix) + Store::stamp(at));
    if (auto error = AtomicFile::write(target, bytes)) {
        return *error;
    }
    return target;
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
    checkFolder();
    // The folders within are ours alone: a link at their names would lead copies elsewhere, but
    // for the user's own standing there at the start.
    takeSubfolders(true);
    if (const auto st = FileStat::stat(rootPath_);
        !rights_.unusable() && st && st->isDirectory() && (st->mode & 077) != 0) {
        qCWarning(lcStore,
                  "support folder %s is open to others (mode %04o); its files stay private",
                  qUtf8Printable(rootPath_), static_cast<unsigned>(st->mode & 07777));
    }
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);

    QByteArray read = loadIndex();
    // What stands at the index's name now is the one this run read, or kept the bytes of.
    rights_.takeIndex(rootPath_ + u'/' + indexName, std::move(read));
    loadOffsets();
    loadUnfinishedStart();
    launchedAt_ = now_();
    rebuildLookups();
    // Captures whose copies were placed after the last index this run read was written.
    loadJournal();
    if (rights_.mayTidy() && folderHeld()) {
        removeLeftovers(rootPath_);
    }
}

QByteArray Store::loadIndex() {
    const QString path = rootPath_ + u'/' + indexName;
    if (!FileStat::exists(path)) {
        if (errno != ENOENT && errno != ENOTDIR) {
            // The path cannot even be looked at; its content may be fine. Keep it, and never
            // replace it during this run.
            qCCritical(lcStore, "index not readable, left in place: %s",
                       qUtf8Printable(Error::fromErrno().message));
            rights_.keepIndex();
        }
        return {}; // first run
    }

    // A link the user made is followed: only what is not a regular file at its end is set aside.
    std::optional<Index> index;
    QByteArray bytes;
    QStringList lost;
    const auto st = FileStat::stat(path);
    if (!st && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) {
        qCCritical(lcStore, "index not readable, left in place: %s",
                   qUtf8Printable(Error::fromErrno().message));
        rights_.keepIndex();
        return {};
    }
    if (st && st->isRegular()) {
        auto read = AtomicFile::readRegular(path, indexLimit);
        if (const Error* error = std::get_if<Error>(&read)) {
            if (error->code != ENODEV && error->code != EFBIG) {
                qCCritical(lcStore, "index not readable, left in place: %s",
                           qUtf8Printable(error->message));
                rights_.keepIndex();
                return {};
            }
            qCWarning(lcStore, "index set aside: %s", qUtf8Printable(error->message));
        } else {
            bytes = std::get<QByteArray>(std::move(read));
            index = Index::decode(bytes, &lost);
        }
    }

    if (!index) {
        // Read and not decodable, or not a file at all: set it aside and start afresh.
        rights_.setIndexAside();
        if (!moveUnreadableIndex(path, now_())) {
            qCCritical(lcStore, "unreadable index could not be set aside; not writing an index "
                                "during this run");
            rights_.keepIndex();
        }
        return {};
    }

    if (const qsizetype refused = refuseNulPaths(*index); refused > 0) {
        qCWarning(lcStore, "index: %lld paths refused: they hold a NUL character",
                  static_cast<long long>(refused));
        lost.append(QStringLiteral("%1 paths refused").arg(refused));
    }
    rights_.readIndex();
    previousRunAt_ = index->lastRunAt;
    if (index->removing) {
        // A name an earlier version recorded alone may lead to a later capture of the same bytes
        // by now: nothing says it is still the file that was meant, so it stays.
        qsizetype bare = 0;
        for (const Removal& removal : std::as_const(*index->removing)) {
            if (removal.file) {
                recordedRemovals_.insert(rootPath_ + u'/' + removal.name, *removal.file);
            } else {
                ++bare;
            }
        }
        if (bare > 0) {
            qCInfo(lcStore,
                   "%lld files an earlier version recorded for removal by name alone are "
                   "left in place",
                   static_cast<long long>(bare));
        }
    }
    // The records move from the decoded lists into tables sized for them at once; of two records
    // with one id the first one stays, and the others count as lost.
    const auto keyed = [&lost](const char* what, auto& list, auto& table, const auto& idOf) {
        table.reserve(list.size());
        for (auto& record : list) {
            // One lookup: a new slot shows in the size.
            const qsizetype before = table.size();
            auto& slot = table[idOf(record)];
            if (table.size() != before) {
                slot = std::move(record);
            }
        }
        if (const qsizetype repeated = list.size() - table.size(); repeated > 0) {
            lost.append(
                QStringLiteral("%1 repeated %2").arg(repeated).arg(QLatin1StringView(what)));
        }
        list.clear();
    };
    const auto recordID = [](const auto& record) -> const QString& { return record.id; };
    keyed("items", index->items, items_, recordID);
    keyed("sessions", index->sessions, sessions_, recordID);
    keyed("prompts", index->prompts, prompts_, recordID);
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
        keyed("hidden records", *index->hiddenItems, hiddenItems_,
              [](const HiddenRecord& record) -> const QString& { return record.item.id; });
    }
    // What did not read is gone from the tables and would be gone from the next index written,
    // with the files only its records name: its text is kept first, or this run writes none.
    if (!lost.isEmpty()) {
        const auto kept = keepPartlyUnreadable(rootPath_, bytes, now_());
        if (const QString* copy = std::get_if<QString>(&kept)) {
            qCWarning(lcStore,
                      "index: dropped what did not read: %s; the index as it was is kept in %s",
                      qUtf8Printable(lost.join(u"; ")), qUtf8Printable(*copy));
        } else {
            qCCritical(lcStore,
                       "index: dropped what did not read: %s; the index as it was could not be "
                       "kept aside (%s): not writing an index during this run",
                       qUtf8Printable(lost.join(u"; ")),
                       qUtf8Printable(Error::describe(std::get<Error>(kept))));
            rights_.keepIndex();
        }
    }
    deleted_ = std::move(index->deleted).value_or(QHash<QString, Date>());
    deletedPaths_ = std::move(index->deletedPaths).value_or(QHash<QString, Date>());
    titleChecks_ = std::move(index->titleChecks).value_or(QHash<QString, Date>());
    sourceChecks_ = std::move(index->sourceChecks).value_or(QHash<QString, SourceCheck>());
    return Sha256::digest(bytes);
}

void Store::loadOffsets() {
    const QString path = rootPath_ + u'/' + offsetsName;
    if (rights_.indexSetAside()) {
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
        rights_.takeOffsets(offsets_);
    }
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
    const QString target =
        asideTarget(folder + u'/' + base + QStringLiteral(".unreadable-") + stamp(at));
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

} // namespace ostrel
