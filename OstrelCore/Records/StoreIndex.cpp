// Loading and recovering the files of the store.
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QUuid>

#include <cerrno>
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

// A file being written when the process was killed stays under its temporary name: a copy or
// thumbnail in its folder, or one of the small files of the support folder (the index, the
// offsets, the start's moment, the files set aside). Nothing else writes into our folders, so
// before the first write of this run any such file is a leftover, and the index's may be as
// large as the index. Only plain files go: never a folder, nor a link (nor what it leads to).
// The support folder may be a link of the user's; the folders within are ours, never links.
void removeLeftovers(const QString& folder, bool throughLink = false) {
    // A plain listing: the folder holds a file or two for every item, and only the names count.
    DIR* dir = listFolder(folder, throughLink);
    if (dir == nullptr) {
        return;
    }
    const int fd = ::dirfd(dir);
    constexpr std::string_view prefix = ".incoming-";
    qsizetype removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!std::string_view(entry->d_name).starts_with(prefix)) {
            continue;
        }
        struct stat st {};
        const bool plain =
            entry->d_type == DT_REG ||
            (entry->d_type == DT_UNKNOWN &&
             ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode));
        if (plain && ::unlinkat(fd, entry->d_name, 0) == 0) {
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
    checkFolder();
    // The folders within are ours alone: a link at their names would lead copies elsewhere.
    AtomicFile::makeOwnFolder(itemsDir_, 0700);
    AtomicFile::makeOwnFolder(thumbsDir_, 0700);
    if (const auto st = FileStat::stat(rootPath_);
        !unusable_ && st && st->isDirectory() && (st->mode & 077) != 0) {
        qCWarning(lcStore,
                  "support folder %s is open to others (mode %04o); its files stay private",
                  qUtf8Printable(rootPath_), static_cast<unsigned>(st->mode & 07777));
    }
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);
    loadedAtWall_ = QDateTime::currentSecsSinceEpoch();
    removeLeftovers(rootPath_, true);
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

} // namespace ostrel
