// Records, marks, lookups and the item files of the store.
#include "OstrelCore/Records/Store.h"

#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/Sha256.h"

#include <QFile>
#include <QFileInfo>
#include <QStringBuilder>

#include <cmath>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

using namespace storeIndexParts;

namespace {

bool finite(Date date) {
    return std::isfinite(date.seconds);
}

bool finite(const std::optional<Date>& date) {
    return !date || finite(*date);
}

// One date that is not a number (or infinite) would be written as null, and the next launch
// would have to set the whole index aside for it: such a record is never stored.
bool storable(const ShelfItem& item) {
    return finite(item.createdAt) && finite(item.seenAt);
}

bool storable(const Session& session) {
    return finite(session.startedAt) && finite(session.lastActive) && finite(session.firstPromptAt);
}

bool storable(const Prompt& prompt) {
    return finite(prompt.at);
}

template <typename Record> bool refused(const Record& record, const char* kind) {
    if (storable(record)) {
        return false;
    }
    qCWarning(lcStore, "%s not stored: a date in it is not a finite number", kind);
    return true;
}

// True when the file at `path` holds exactly `bytes` (read with plain reads, no link followed).
// Whether the entry `name` of the folder open as `folder` is a regular file holding `bytes`.
bool holdsBytes(int folder, const QByteArray& name, QByteArrayView bytes) {
    const int fd = Descriptors::openAt(folder, name.constData(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == bytes.size();
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    qsizetype offset = 0;
    while (same && offset < bytes.size()) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || offset + n > bytes.size() ||
            std::memcmp(buffer.constData(), bytes.data() + offset, static_cast<size_t>(n)) != 0) {
            same = false;
            break;
        }
        offset += n;
    }
    ::close(fd);
    return same;
}

} // namespace

bool storeIndexParts::hashesTo(const QString& path, const QString& sha256, int folder) {
    const QByteArray name = QFile::encodeName(folder < 0 ? path : QFileInfo(path).fileName());
    const int fd = Descriptors::openAt(folder < 0 ? AT_FDCWD : folder, name.constData(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    Sha256 hasher;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        hasher.update(QByteArrayView(buffer.constData(), n));
    }
    ::close(fd);
    return QString::fromLatin1(hasher.finish().toHex()) == sha256;
}

Date Store::clock() const {
    const Date now = now_();
    return finite(now) ? now : Date::now();
}

QString Store::contentKey(const QString& id) {
    const qsizetype tilde = id.indexOf(u'~');
    return tilde < 0 ? id : id.left(tilde);
}

QString Store::linkFileName(const QString& id) {
    // A slash would put the file outside the folder.
    QString name = id;
    name.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char('/'), QLatin1Char('-'));
    name += QStringLiteral(".webloc");
    if (isLinkFileName(name)) {
        return name;
    }
    return QStringLiteral("link-") + Hex::sha256(id.toUtf8()) + QStringLiteral(".webloc");
}

bool Store::isLinkFileName(QStringView name) {
    // Written as UTF-8, as the index holds it: a name that does not come back the same (half a
    // surrogate pair) would be recorded as one and removed as another.
    const QByteArray bytes = name.toUtf8();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    return text.size() <= 255 && text.ends_with(".webloc") && text != "." && text != ".." &&
           text.find('/') == std::string_view::npos && text.find('\0') == std::string_view::npos &&
           !AtomicFile::isTemporary(text) && text.find(".unusable-") == std::string_view::npos &&
           QString::fromUtf8(bytes) == name;
}

QString Store::safeFileName(const QString& id) {
    // Ids are digests or "artifact:" and an id from a transcript, which may hold anything.
    // Keep the common ones readable and encode the rest so no name can climb out of its folder.
    QByteArray out;
    const QByteArray utf8 = id.toUtf8();
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '~' || u == ':' ||
                           u == '.';
        if (plain) {
            out.append(c);
        } else {
            out.append('%');
            out.append(QByteArray::number(u, 16).rightJustified(2, '0').toUpper());
        }
    }
    if (out.isEmpty() || out.startsWith('.')) {
        out.prepend("%");
    }
    // Leave room for an extension within the usual 255-byte limit of a file name.
    if (out.size() > 200) {
        return QStringLiteral("long-") + Hex::sha256(utf8);
    }
    return QString::fromLatin1(out);
}

void Store::addTo(Lookup& table, const QString& key, const QString& id) {
    IdList& ids = table[key];
    if (!ids.contains(id)) {
        ids.append(id);
    }
}

void Store::addToContent(const QString& id) {
    if (const QString key = contentKey(id); key.size() != id.size()) {
        addTo(idsByContent_, key, id);
    }
}

void Store::removeFromContent(const QString& id) {
    if (const QString key = contentKey(id); key.size() != id.size()) {
        removeFrom(idsByContent_, key, id);
    }
}

void Store::removeFrom(Lookup& table, const QString& key, const QString& id) {
    const auto it = table.find(key);
    if (it == table.end()) {
        return;
    }
    it->removeAll(id);
    if (it->isEmpty()) {
        table.erase(it);
    }
}

// ---------------------------------------------------------------------------------------------
// Storing

void Store::upsert(const ShelfItem& item) {
    if (refused(item, "item")) {
        return;
    }
    const auto it = items_.constFind(item.id);
    if (it != items_.constEnd() && it.value() == item) {
        return;
    }
    replaceItem(item);
    markDirty(true);
}

void Store::upsert(const Session& session) {
    if (refused(session, "session")) {
        return;
    }
    const auto it = sessions_.constFind(session.id);
    if (it != sessions_.constEnd() && it.value() == session) {
        return;
    }
    sessions_.insert(session.id, session);
    markDirty(true);
}

void Store::upsert(const Prompt& prompt) {
    if (refused(prompt, "prompt")) {
        return;
    }
    const auto it = prompts_.constFind(prompt.id);
    if (it != prompts_.constEnd() && it.value() == prompt) {
        return;
    }
    prompts_.insert(prompt.id, prompt);
    markDirty(true);
}

void Store::replaceItem(const ShelfItem& item) {
    const auto old = items_.constFind(item.id);
    if (old != items_.constEnd()) {
        removeFromContent(item.id);
        if (old->sourcePath) {
            removeFrom(idsByPath_, *old->sourcePath, item.id);
        }
    }
    items_.insert(item.id, item);
    keepFiles(item);
    addToContent(item.id);
    if (item.sourcePath) {
        addTo(idsByPath_, *item.sourcePath, item.id);
    }
}

std::optional<ShelfItem> Store::takeItem(const QString& id) {
    const auto it = items_.find(id);
    if (it == items_.end()) {
        return std::nullopt;
    }
    ShelfItem item = it.value();
    items_.erase(it);
    removeFromContent(id);
    if (item.sourcePath) {
        removeFrom(idsByPath_, *item.sourcePath, id);
    }
    return item;
}

std::optional<HiddenRecord> Store::takeHiddenRecord(const QString& id) {
    const auto it = hiddenItems_.find(id);
    if (it == hiddenItems_.end()) {
        return std::nullopt;
    }
    HiddenRecord record = it.value();
    hiddenItems_.erase(it);
    if (record.item.sourcePath) {
        removeFrom(hiddenIDsByPath_, *record.item.sourcePath, id);
    }
    return record;
}

// ---------------------------------------------------------------------------------------------
// Seen, hidden, removed, deleted

void Store::markSeen(const QStringList& ids, Date at) {
    if (!finite(at)) {
        return;
    }
    bool changed = false;
    for (const QString& id : ids) {
        const auto it = items_.find(id);
        if (it == items_.end() || it->seenAt) {
            continue;
        }
        it->seenAt = at;
        changed = true;
    }
    if (changed) {
        markDirty(true);
    }
}

void Store::remove(const QString& id) {
    if (const auto item = takeItem(id)) {
        removeFiles(*item);
        markDirty(true);
    }
}

void Store::hide(const QString& id) {
    if (const auto item = takeItem(id)) {
        if (const auto old = hiddenItems_.constFind(id);
            old != hiddenItems_.constEnd() && old->item.sourcePath) {
            removeFrom(hiddenIDsByPath_, *old->item.sourcePath, id);
        }
        hiddenItems_.insert(id, HiddenRecord{*item, clock()});
        if (item->sourcePath) {
            addTo(hiddenIDsByPath_, *item->sourcePath, id);
        }
    }
    hidden_.insert(id);
    markDirty(true);
}

bool Store::unhide(const QString& id) {
    hidden_.remove(id);
    const auto record = takeHiddenRecord(id);
    if (record) {
        replaceItem(record->item);
    }
    markDirty(true);
    return record.has_value();
}

bool Store::isHiddenSourcePath(const QString& sourcePath) const {
    const auto it = hiddenIDsByPath_.constFind(sourcePath);
    return it != hiddenIDsByPath_.constEnd() && !it->isEmpty();
}

int Store::deleteItems(const QStringList& ids) {
    const Date t = clock();
    if (ids.isEmpty()) {
        return 0;
    }
    int count = 0;
    for (const QString& id : ids) {
        const auto stored = takeItem(id);
        const auto record = takeHiddenRecord(id);
        std::optional<ShelfItem> item = stored;
        if (!item && record) {
            item = record->item;
        }
        if (!item) {
            continue;
        }
        removeFiles(*item);
        deleted_.insert(id, t);
        if (item->sourcePath) {
            deletedPaths_.insert(*item->sourcePath, t);
        }
        ++count;
    }
    if (count > 0) {
        markDirty(true);
    }
    return count;
}

int Store::deleteAll(const QSet<QString>& sparing) {
    QStringList ids;
    for (auto it = items_.constBegin(); it != items_.constEnd(); ++it) {
        if (!sparing.contains(it.key())) {
            ids.append(it.key());
        }
    }
    for (auto it = hiddenItems_.constBegin(); it != hiddenItems_.constEnd(); ++it) {
        if (!sparing.contains(it.key())) {
            ids.append(it.key());
        }
    }
    return deleteItems(ids);
}

bool Store::isDeleted(const QString& id, const std::optional<QString>& sourcePath,
                      Date createdAt) const {
    if (const auto it = deleted_.constFind(id); it != deleted_.constEnd() && createdAt <= *it) {
        return true;
    }
    if (!sourcePath) {
        return false;
    }
    const auto it = deletedPaths_.constFind(*sourcePath);
    return it != deletedPaths_.constEnd() && createdAt <= *it;
}

bool Store::hasIngested(const QString& path, Date modified) const {
    if (const auto it = deletedPaths_.constFind(path);
        it != deletedPaths_.constEnd() && modified <= *it) {
        return true;
    }
    const auto covers = [modified](const ShelfItem& item) {
        return item.kind != ShelfItemKind::artifact && item.createdAt >= modified;
    };
    if (const auto ids = idsByPath_.constFind(path); ids != idsByPath_.constEnd()) {
        for (const QString& id : *ids) {
            const auto item = items_.constFind(id);
            if (item != items_.constEnd() && covers(*item)) {
                return true;
            }
        }
    }
    if (const auto ids = hiddenIDsByPath_.constFind(path); ids != hiddenIDsByPath_.constEnd()) {
        for (const QString& id : *ids) {
            const auto record = hiddenItems_.constFind(id);
            if (record != hiddenItems_.constEnd() && covers(record->item)) {
                return true;
            }
        }
    }
    // Read since the item was made (a file touched, or a second file of the same bytes), and
    // found to hold its bytes then.
    const auto check = sourceChecks_.constFind(path);
    return check != sourceChecks_.constEnd() && modified <= check->modified &&
           (items_.contains(check->id) || hiddenItems_.contains(check->id));
}

// ---------------------------------------------------------------------------------------------
// Lookups

QList<ShelfItem> Store::storedItems(const Lookup& table, const QString& key) const {
    QList<ShelfItem> out;
    if (const auto ids = table.constFind(key); ids != table.constEnd()) {
        for (const QString& id : *ids) {
            if (const auto it = items_.constFind(id); it != items_.constEnd()) {
                out.append(*it);
            }
        }
    }
    return out;
}

QList<ShelfItem> Store::items(const QString& atSourcePath) const {
    return storedItems(idsByPath_, atSourcePath);
}

QString Store::sharedPath(const QString& path) const {
    const auto it = idsByPath_.constFind(path);
    return it != idsByPath_.constEnd() ? it.key() : path;
}

QList<ShelfItem> Store::itemsWithContent(const QString& key) const {
    QList<ShelfItem> out;
    if (!key.contains(u'~')) {
        if (const auto it = items_.constFind(key); it != items_.constEnd()) {
            out.append(*it);
        }
    }
    out.append(storedItems(idsByContent_, key));
    return out;
}

std::optional<ShelfItem> Store::artifact(const QString& forPath) const {
    for (const ShelfItem& item : items(forPath)) {
        if (item.kind == ShelfItemKind::artifact) {
            return item;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Files

QUrl Store::copyURL(const QString& id, const QString& ext) const {
    const QString suffix = ext.isEmpty() ? QString() : safeFileName(ext);
    // Every item keeps this URL: its path is built to its exact size.
    return QUrl::fromLocalFile(itemsDir_ % u'/' % safeFileName(id) % u'.' % suffix);
}

QUrl Store::thumbURL(const QString& id) const {
    return QUrl::fromLocalFile(thumbsDir_ % u'/' % safeFileName(id) % u".jpg");
}

Store::CopyResult Store::copyIn(QByteArrayView bytes, const QString& id, const QString& ext,
                                AtomicFile::Staged* staged) {
    if (!folderUsable(false)) {
        return *rights_.unusable();
    }
    if (auto problem = subfolderProblem(OwnFolder::Subfolder::items)) {
        return *std::move(problem);
    }
    // Everything below goes through the folder looked at: one put at its name meanwhile takes
    // nothing, and the copy named is the one in the run's own folder.
    const Descriptors::Owned folder(openSubfolder(OwnFolder::Subfolder::items));
    if (!folder) {
        return subfolderGone(OwnFolder::Subfolder::items);
    }
    const QUrl url = copyURL(id, ext);
    const QString path = url.toLocalFile();
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    // A copy already there is kept only when it holds these bytes: one written just before a
    // power loss, and never named by an index, may have come back empty. A link or a stranger's
    // file at its name is not a copy at all.
    spare(path);
    AtomicFile::clearEntryAt(folder.get(), name, AtomicFile::Entry::file, path);
    if (holdsBytes(folder.get(), name, bytes)) {
        return url;
    }
    if (staged == nullptr || !staged->placeAt(folder.get(), name, path)) {
        if (const auto error = AtomicFile::writeUnsyncedAt(folder.get(), name, bytes)) {
            return *error;
        }
    }
    noteUnsynced(path);
    return url;
}

Store::CopyResult Store::copyInFile(const QString& fromPath, const QString& id, const QString& ext,
                                    const QString& expectedSha256) {
    if (!folderUsable(false)) {
        return *rights_.unusable();
    }
    if (auto problem = subfolderProblem(OwnFolder::Subfolder::items)) {
        return *std::move(problem);
    }
    const Descriptors::Owned folder(openSubfolder(OwnFolder::Subfolder::items));
    if (!folder) {
        return subfolderGone(OwnFolder::Subfolder::items);
    }
    const QUrl url = copyURL(id, ext);
    const QString path = url.toLocalFile();
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    spare(path);
    if (!AtomicFile::clearEntryAt(folder.get(), name, AtomicFile::Entry::file, path)) {
        return Error::fromErrno();
    }
    if (hashesTo(path, expectedSha256, folder.get())) {
        return url;
    }
    // Plain reads from a descriptor that never went through a link: a map of a file that its
    // writer truncates would kill the process, and a large video must not sit in memory.
    if (FileStat::holdsNul(fromPath)) {
        return Error::posix(EINVAL);
    }
    const QByteArray sourceName = QFile::encodeName(fromPath);
    const int in =
        Descriptors::open(sourceName.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) {
        return Error::fromErrno();
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        const Error err = Error::fromErrno();
        ::close(in);
        return err;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(in);
        return Error::posix(EINVAL);
    }
    QByteArray tempName;
    const int out = AtomicFile::makeTemporary(folder.get(), tempName); // 0600
    if (out < 0) {
        const Error err = Error::fromErrno();
        ::close(in);
        return err;
    }
    const auto fail = [&](const Error& err) -> CopyResult {
        ::close(in);
        ::close(out);
        ::unlinkat(folder.get(), tempName.constData(), 0);
        return err;
    };
    Sha256 hasher;
    constexpr qsizetype chunk = 1 << 20;
    QByteArray buffer(chunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), static_cast<size_t>(chunk));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(Error::fromErrno());
        }
        if (n == 0) {
            break;
        }
        hasher.update(QByteArrayView(buffer.constData(), n));
        qsizetype written = 0;
        while (written < n) {
            const ssize_t w =
                ::write(out, buffer.constData() + written, static_cast<size_t>(n - written));
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return fail(Error::fromErrno());
            }
            written += w;
        }
    }
    if (QString::fromLatin1(hasher.finish().toHex()) != expectedSha256) {
        return fail(Error{QStringLiteral("Store"), sourceChanged,
                          QStringLiteral("the file changed while it was copied")});
    }
    ::close(in);
    if (::close(out) != 0 ||
        ::renameat(folder.get(), tempName.constData(), folder.get(), name.constData()) != 0) {
        const Error err = Error::fromErrno();
        ::unlinkat(folder.get(), tempName.constData(), 0);
        return err;
    }
    noteUnsynced(path);
    return url;
}

std::optional<Error> Store::writeThumbnail(const QString& id, QByteArrayView jpeg,
                                           AtomicFile::Staged* staged) {
    if (!folderUsable(false)) {
        return *rights_.unusable();
    }
    if (auto problem = subfolderProblem(OwnFolder::Subfolder::thumbs)) {
        return problem;
    }
    const Descriptors::Owned folder(openSubfolder(OwnFolder::Subfolder::thumbs));
    if (!folder) {
        return subfolderGone(OwnFolder::Subfolder::thumbs);
    }
    const QString path = thumbURL(id).toLocalFile();
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    spare(path);
    if (staged == nullptr || !staged->placeAt(folder.get(), name, path)) {
        if (auto error = AtomicFile::writeUnsyncedAt(folder.get(), name, jpeg)) {
            return error;
        }
    }
    noteUnsynced(path);
    return std::nullopt;
}

bool Store::isOwnFile(const QString& path) const {
    // The index may have been edited or damaged: only ever remove what lies directly in our own
    // two folders, judged after resolving links and "..".
    const QFileInfo info(path);
    const QString parent = OstrelPaths::canonical(info.absolutePath());
    return parent == canonicalItemsDir_ || parent == canonicalThumbsDir_;
}

void Store::markForRemoval(const QString& path) {
    // The index on disk may still name this file; it goes once one that does not, and that
    // records it, is written. A run that never replaces its index leaves it: that index, read
    // again by the next start, brings the item back, and it must come with its picture.
    struct stat st {};
    if (!rights_.mayMarkForRemoval() || FileStat::holdsNul(path) ||
        ::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !isOwnFile(path)) {
        return;
    }
    pendingRemovals_.insert(path, FileIdentity::of(st));
}

void Store::removeFiles(const ShelfItem& item) {
    // Only the copy named after this item's own id: a damaged record may name another item's.
    // Known by its path in our own folder, as the index records it.
    if (item.fileURL && item.fileURL->isLocalFile()) {
        const QString path = item.fileURL->toLocalFile();
        const QString name = QFileInfo(path).fileName();
        if (isCopyName(name, item.id) &&
            OstrelPaths::canonical(QFileInfo(path).absolutePath()) == canonicalItemsDir_) {
            markForRemoval(itemsDir_ + u'/' + name);
        }
    }
    markForRemoval(thumbURL(item.id).toLocalFile());
    // Only an item with a web address is dragged out as a link file.
    if (item.remoteURL) {
        markForRemoval(itemsDir_ + u'/' + linkFileName(item.id));
    }
}

} // namespace ostrel
