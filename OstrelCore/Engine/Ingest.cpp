#include "OstrelCore/Engine/Ingest.h"

#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Text.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/Sha256.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <deque>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel {

// What one call of ingest() works with: the candidate, the filter copy of this call (with its
// retention date) and the session the capture was filed under.
struct Ingest::Call {
    const Candidate& candidate;
    ItemFilter filter;
    QString session;
};

// The bytes of one capture: in memory (images to probe, decoded transcript images), or a file
// that is hashed and copied as a stream and never held whole.
struct Ingest::Content {
    QByteArray bytes;
    bool inMemory = true;
    QString streamPath;
    qint64 byteCount = 0;
    std::optional<QString> digest;
};

// All of a candidate that its bytes alone decide: read, decoded, hashed, probed and, when asked,
// thumbnailed. Made without the store, so on any thread; the store's part follows on the queue.
struct Ingest::Prepared {
    // Decided before the store is asked: a file that cannot be read, Base64 that does not decode.
    std::optional<Outcome> outcome;
    bool artifact = false;
    Content content;
    QString fileExtension;
    std::optional<QString> sourcePath;
    std::optional<ImageSource> image;
    std::optional<QSize> size;
    // The JPEG thumbnail, when it was made ahead of the store's decision.
    std::optional<QByteArray> thumbnail;
    // The copy and the thumbnail written ahead by a worker; removed unless the item is added.
    AtomicFile::Staged stagedCopy;
    AtomicFile::Staged stagedThumbnail;
};

namespace {

const QString unreadableReason = QStringLiteral("unreadable");
const QString undecodableReason = QStringLiteral("undecodable image");
const QString hiddenReason = QStringLiteral("hidden from the shelf");
const QString deletedReason = QStringLiteral("deleted");
const QString copyFailedReason = QStringLiteral("copy failed");

// Opens a regular file for reading without following a link in its last component and without
// blocking on a FIFO swapped in after the lstat; -1 when that is not possible.
int openRegularNoFollow(const QString& path, struct stat* st) {
    if (FileStat::holdsNul(path)) {
        return -1; // the file opened would not be the file the path names
    }
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `limit` bytes with plain reads; nothing on a read error. The buffer starts at the
// size the file had (and a byte more, to notice it growing) and grows only if it did.
std::optional<QByteArray> readUpTo(int fd, qint64 limit, qint64 expected) {
    QByteArray out;
    out.resize(static_cast<qsizetype>(std::clamp<qint64>(expected + 1, 1, limit)));
    qsizetype filled = 0;
    for (;;) {
        if (filled == out.size()) {
            if (out.size() >= limit) {
                break;
            }
            out.resize(static_cast<qsizetype>(std::min<qint64>(qint64(out.size()) * 2, limit)));
        }
        const ssize_t n = ::read(fd, out.data() + filled, static_cast<size_t>(out.size() - filled));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        filled += n;
    }
    out.truncate(filled);
    return out;
}

// The streamed SHA-256 of a regular file (links refused) and the bytes it held; nothing when it
// cannot be read. The chunks go through one buffer per thread: no file-sized memory is taken
// and given back for every file.
std::optional<std::pair<QString, qint64>> hashFile(const QString& path) {
    struct stat st {};
    const int fd = openRegularNoFollow(path, &st);
    if (fd < 0) {
        return std::nullopt;
    }
    Sha256 hasher;
    constexpr size_t chunk = 256 * 1024;
    thread_local std::vector<char> buffer(chunk);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        hasher.update(QByteArrayView(buffer.data(), n));
        total += n;
    }
    ::close(fd);
    return std::pair{QString::fromLatin1(hasher.finish().toHex()), total};
}

bool isSpaceOrBreak(QChar c) {
    return Text::isBlank(c.unicode()) || Text::isNewline(c.unicode());
}

// Trims white space and line breaks at both ends.
QString trimmedText(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isSpaceOrBreak(text.at(start))) {
        ++start;
    }
    while (end > start && isSpaceOrBreak(text.at(end - 1))) {
        --end;
    }
    return text.mid(start, end - start);
}

QString lastPathComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/')) {
        p.chop(1);
    }
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 || p.size() == 1 ? p : p.mid(slash + 1);
}

// The text after the last "." of the last path component; empty when there is none or the
// name only starts with it (".png" has no extension).
QString pathExtension(const QString& path) {
    const QString name = lastPathComponent(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

// Pictures that are probed and thumbnailed (an SVG has no pixel size that matters).
bool isRasterImage(const QString& extension) {
    const QString ext = extension.toLower();
    return ShelfItemKindRules::forExtension(ext, {}) == ShelfItemKind::image &&
           ext != QStringLiteral("svg");
}

// Items newest first; equal dates keep the order of their ids, so the answer never depends on
// the store's hash order.
QList<ShelfItem> newestFirst(QList<ShelfItem> items) {
    std::sort(items.begin(), items.end(),
              [](const ShelfItem& a, const ShelfItem& b) { return a.id < b.id; });
    std::stable_sort(items.begin(), items.end(), [](const ShelfItem& a, const ShelfItem& b) {
        return a.createdAt > b.createdAt;
    });
    return items;
}

} // namespace

bool Ingest::Outcome::mayPassLater() const {
    return kind == Kind::rejected && (text == unreadableReason || text == copyFailedReason);
}

QString Ingest::Outcome::rawValue(Kind kind) {
    switch (kind) {
    case Kind::added:
        return QStringLiteral("added");
    case Kind::merged:
        return QStringLiteral("merged");
    case Kind::updated:
        return QStringLiteral("updated");
    case Kind::rejected:
        return QStringLiteral("rejected");
    }
    return {};
}

Ingest::Ingest(std::shared_ptr<Store> store, ItemFilter filter, qint64 retentionDays, Clock now)
    : store(std::move(store)), filter(std::move(filter)), retentionDays(retentionDays),
      now(std::move(now)) {}

Ingest::Ingest(std::shared_ptr<Store> store, qint64 retentionDays, Clock now)
    : Ingest(std::move(store), ItemFilter(), retentionDays, std::move(now)) {}

Date Ingest::retentionCutoff(qint64 days, Date now) {
    return now.adding(static_cast<double>(days) * -86400.0);
}

// ---------------------------------------------------------------------------------------------
// One candidate

Ingest::Outcome Ingest::ingest(const Candidate& candidate) {
    Prepared prepared = prepare(candidate, filter.extraExtensions, nullptr);
    return finish(candidate, prepared);
}

QList<Ingest::Outcome> Ingest::ingestAll(const QList<Candidate>& candidates) {
    QList<Outcome> outcomes;
    outcomes.reserve(candidates.size());
    ingestEach(
        candidates, [](qsizetype) { return true; },
        [&outcomes](qsizetype, const Outcome& outcome) { outcomes.append(outcome); });
    return outcomes;
}

std::shared_ptr<const Ingest::KnownContent> Ingest::knownContent() {
    if (known_ && knownRevision_ == store->revision()) {
        return known_;
    }
    // The table this one replaces goes first, so that two are never held at once; each key
    // shares its item's id rather than holding a copy.
    known_.reset();
    auto known = std::make_shared<KnownContent>();
    known->reserve(store->items().size() + store->hiddenItems().size());
    const auto note = [&known](const ShelfItem& item) {
        const QString key = Store::contentKey(item.id);
        std::optional<QSize> size;
        if (item.width && item.height) {
            size = QSize(static_cast<int>(*item.width), static_cast<int>(*item.height));
        }
        auto it = known->find(key);
        if (it == known->end()) {
            known->insert(key, size);
        } else if (!*it) {
            *it = size;
        }
    };
    for (const ShelfItem& item : store->items()) {
        note(item);
    }
    for (const HiddenRecord& hidden : store->hiddenItems()) {
        note(hidden.item);
    }
    known_ = std::move(known);
    knownRevision_ = store->revision();
    return known_;
}

bool Ingest::recognise(const QString& path, const KnownContent& known, Prepared& out) {
    const auto st = FileStat::lstat(path);
    if (!st || !st->isRegular() || st->size > ImageProbe::maxImageBytes) {
        return false;
    }
    const auto hashed = hashFile(path);
    if (!hashed) {
        return false;
    }
    const auto seen = known.constFind(hashed->first);
    if (seen == known.constEnd() || !*seen) {
        return false; // new bytes: read whole, as they will be probed, copied and thumbnailed
    }
    // Should the item have gone meanwhile, its copy is made from the file, as for any stream.
    out.content.inMemory = false;
    out.content.streamPath = path;
    out.content.byteCount = hashed->second;
    out.content.digest = hashed->first;
    out.size = **seen;
    out.sourcePath = OstrelPaths::canonical(path);
    return true;
}

void Ingest::stage(const Candidate& candidate, const Staging& staging, Prepared& out) {
    if (!out.thumbnail || !out.content.inMemory) {
        return;
    }
    FilterInput input;
    input.kind = ShelfItemKindRules::forExtension(out.fileExtension.toLower(),
                                                  staging.filter.extraExtensions);
    input.fileExtension = out.fileExtension.toLower();
    input.byteCount = out.content.byteCount;
    if (out.size) {
        input.pixelWidth = out.size->width();
        input.pixelHeight = out.size->height();
    }
    input.sourcePath = out.sourcePath;
    input.source = candidate.source;
    input.createdAt = candidate.createdAt;
    // A picture the filter turns away would be written only to be removed.
    if (!staging.filter.accepts(input).isAccept()) {
        return;
    }
    auto copy = AtomicFile::stage(staging.itemsDir, out.content.bytes);
    auto* copyFile = std::get_if<AtomicFile::Staged>(&copy);
    if (copyFile == nullptr) {
        return;
    }
    auto thumbnail = AtomicFile::stage(staging.thumbsDir, *out.thumbnail);
    if (auto* thumbnailFile = std::get_if<AtomicFile::Staged>(&thumbnail)) {
        out.stagedThumbnail = std::move(*thumbnailFile);
    }
    out.stagedCopy = std::move(*copyFile);
}

qint64 Ingest::heldBytes(const Candidate& candidate, const QSet<QString>& extraExtensions) {
    if (const auto* file = std::get_if<Payload::File>(&candidate.payload.value)) {
        // Only pictures are read whole; everything else goes through in a stream.
        const QString path = file->url.toLocalFile();
        const QString ext = pathExtension(path).toLower();
        if (ShelfItemKindRules::forExtension(ext, extraExtensions) != ShelfItemKind::image ||
            ext == QStringLiteral("svg")) {
            return 0;
        }
        const auto st = FileStat::lstat(path);
        return st ? std::min<qint64>(st->size, ImageProbe::maxImageBytes) : 0;
    }
    if (const auto* text = std::get_if<Payload::Base64>(&candidate.payload.value)) {
        return text->text.size() * 3 / 4;
    }
    return 0;
}

void Ingest::ingestEach(const QList<Candidate>& candidates,
                        const std::function<bool(qsizetype)>& wanted,
                        const std::function<void(qsizetype, const Outcome&)>& done) {
    if (!workers || candidates.size() < 2) {
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            if (wanted(i)) {
                done(i, ingest(candidates.at(i)));
            }
        }
        return;
    }
    // The workers read, decode, hash and thumbnail a window of candidates ahead; the store's
    // part runs here, one candidate at a time and in order, so ids, merges and the snapshot come
    // out as they would one by one. The window is bounded by count and by the bytes it holds.
    const qsizetype window = std::max(2, workers->size() * 2);
    const QSet<QString> extra = filter.extraExtensions;
    const std::shared_ptr<const KnownContent> known = knownContent();
    // Creating files is much of a first start's cost; the workers do it, not this thread.
    auto staging =
        std::make_shared<const Staging>(Staging{store->itemsDir(), store->thumbsDir(), [this] {
                                                    ItemFilter f = filter;
                                                    f.oldest =
                                                        retentionCutoff(retentionDays, now());
                                                    return f;
                                                }()});
    std::deque<std::pair<std::future<Prepared>, qint64>> ahead;
    qint64 aheadBytes = 0;
    qsizetype next = 0;
    const auto fill = [&] {
        while (next < candidates.size() && static_cast<qsizetype>(ahead.size()) < window) {
            const Candidate* candidate = &candidates.at(next);
            const qint64 bytes = heldBytes(*candidate, extra);
            if (!ahead.empty() && aheadBytes + bytes > readAheadBytes) {
                return;
            }
            ++next;
            aheadBytes += bytes;
            ahead.emplace_back(workers->submit([candidate, extra, known, staging] {
                return prepare(*candidate, extra, known.get(), staging.get());
            }),
                               bytes);
        }
    };
    fill();
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        Prepared prepared = ahead.front().first.get();
        const qint64 bytes = ahead.front().second;
        ahead.pop_front();
        if (wanted(i)) {
            done(i, finish(candidates.at(i), prepared));
        }
        prepared = Prepared();
        aheadBytes -= bytes;
        fill();
    }
}

Ingest::Prepared Ingest::prepare(const Candidate& candidate, const QSet<QString>& extraExtensions,
                                 const KnownContent* known, const Staging* staging) {
    Prepared out;
    if (const auto* file = std::get_if<Payload::File>(&candidate.payload.value)) {
        if (!file->url.isLocalFile()) {
            out.outcome = Outcome::rejected(unreadableReason);
            return out;
        }
        const QString path = file->url.toLocalFile();
        out.fileExtension = pathExtension(path);
        if (known != nullptr && !known->isEmpty() && isRasterImage(out.fileExtension) &&
            recognise(path, *known, out)) {
            return out;
        }
        auto content = openFile(path, out.fileExtension, extraExtensions);
        if (!content) {
            out.outcome = Outcome::rejected(unreadableReason);
            return out;
        }
        out.content = std::move(*content);
        out.sourcePath = OstrelPaths::canonical(path);
    } else if (const auto* bytes = std::get_if<Payload::Bytes>(&candidate.payload.value)) {
        if (!prepareReadPath(candidate, extraExtensions, out)) {
            out.content.bytes = bytes->bytes;
            out.content.byteCount = bytes->bytes.size();
            out.fileExtension = bytes->fileExtension;
        }
    } else if (const auto* text = std::get_if<Payload::Base64>(&candidate.payload.value)) {
        if (!prepareReadPath(candidate, extraExtensions, out)) {
            // Strict: any character outside the alphabet (white space included) fails the
            // whole. A character beyond Latin-1 becomes "?", which is outside it.
            auto decoded = QByteArray::fromBase64Encoding(
                text->text.toLatin1(),
                QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
            if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
                out.outcome = Outcome::rejected(undecodableReason);
                return out;
            }
            out.content.bytes = std::move(decoded.decoded);
            out.content.byteCount = out.content.bytes.size();
            out.fileExtension = text->fileExtension;
        }
    } else {
        out.artifact = true;
        return out;
    }

    if (!out.content.inMemory) {
        return out;
    }
    // The digest comes first: bytes already held (a restart over files whose times changed, the
    // same picture from a second road) take their size from the store and are never decoded.
    out.content.digest = Hex::sha256(out.content.bytes);
    const auto seen =
        known != nullptr ? known->constFind(*out.content.digest) : KnownContent::const_iterator();
    const bool isKnown = known != nullptr && seen != known->constEnd();
    if (isRasterImage(out.fileExtension)) {
        if (isKnown && *seen) {
            out.size = **seen;
            return out;
        }
        out.image = ImageProbe::source(out.content.bytes);
        if (out.image) {
            out.size = ImageProbe::pixelSize(*out.image);
            if (known != nullptr && !isKnown) {
                out.thumbnail = ImageProbe::thumbnailJPEG(*out.image, ImageProbe::defaultMaxPixel);
                if (staging != nullptr) {
                    stage(candidate, *staging, out);
                }
            }
        }
    }
    return out;
}

Ingest::Outcome Ingest::finish(const Candidate& candidate, Prepared& prepared) {
    const Date current = now();
    ItemFilter callFilter = filter;
    callFilter.oldest = retentionCutoff(retentionDays, current);

    QString session;
    if (candidate.sessionID) {
        session = *candidate.sessionID;
    } else if (const auto active = activity.activeSession(current, activeWindow)) {
        session = *active;
    } else if (const auto recent = activity.mostRecent()) {
        session = *recent;
    } else {
        session = Session::unsortedID;
    }
    const Call call{candidate, std::move(callFilter), session};
    if (prepared.outcome) {
        return *prepared.outcome;
    }
    if (prepared.artifact) {
        return ingestArtifact(call, std::get<Payload::Artifact>(candidate.payload.value).info);
    }
    return ingestContent(call, prepared);
}

std::optional<Ingest::Content> Ingest::openFile(const QString& path, const QString& extension,
                                                const QSet<QString>& extraExtensions) {
    // Regular files only, judged without following a link: a link named x.pdf that points at a
    // private file must not be copied into the store.
    const auto st = FileStat::lstat(path);
    if (!st || !st->isRegular()) {
        return std::nullopt;
    }
    struct stat fst {};
    const int fd = openRegularNoFollow(path, &fst);
    if (fd < 0) {
        return std::nullopt;
    }
    const QString ext = extension.toLower();
    const auto kind = ShelfItemKindRules::forExtension(ext, extraExtensions);
    const bool probed = kind == ShelfItemKind::image && ext != QStringLiteral("svg");
    Content content;
    content.byteCount = static_cast<qint64>(fst.st_size);
    if (probed && fst.st_size <= ImageProbe::maxImageBytes) {
        // A raster image is probed, copied and thumbnailed from one bounded plain read.
        auto bytes = readUpTo(fd, ImageProbe::maxImageBytes, fst.st_size);
        ::close(fd);
        if (!bytes) {
            return std::nullopt;
        }
        content.bytes = std::move(*bytes);
        content.byteCount = content.bytes.size();
        return content;
    }
    ::close(fd);
    // Everything else (and an image too large to read whole, which then has no pixel size) is
    // hashed and copied as a stream.
    content.inMemory = false;
    content.streamPath = path;
    return content;
}

bool Ingest::prepareReadPath(const Candidate& candidate, const QSet<QString>& extraExtensions,
                             Prepared& out) {
    const auto& readPath = candidate.readPath;
    if (!readPath) {
        return false;
    }
    const QString ext = pathExtension(*readPath);
    const auto kind = ShelfItemKindRules::forExtension(ext.toLower(), extraExtensions);
    if (!kind) {
        return false;
    }
    auto content = openFile(*readPath, ext, extraExtensions);
    // An image too large to read whole cannot stand in for the inline bytes.
    const bool rasterImage = kind == ShelfItemKind::image && ext.toLower() != QStringLiteral("svg");
    if (!content || (rasterImage && !content->inMemory)) {
        return false;
    }
    out.content = std::move(*content);
    out.fileExtension = ext;
    out.sourcePath = OstrelPaths::canonical(*readPath);
    return true;
}

Ingest::Outcome Ingest::ingestContent(const Call& call, Prepared& prepared) {
    const Candidate& candidate = call.candidate;
    Content& content = prepared.content;
    const std::optional<QString>& sourcePath = prepared.sourcePath;
    // 1. Kind.
    const QString ext = prepared.fileExtension.toLower();
    const auto kind = ShelfItemKindRules::forExtension(ext, call.filter.extraExtensions);

    // 2. Image probe: done with the bytes (raster images held in memory only), or the size
    // stored for the same bytes.
    const std::optional<QSize>& size = prepared.size;

    // 3. Filter.
    FilterInput input;
    input.kind = kind;
    input.fileExtension = ext;
    input.byteCount = content.byteCount;
    if (size) {
        input.pixelWidth = size->width();
        input.pixelHeight = size->height();
    }
    input.sourcePath = sourcePath;
    input.source = candidate.source;
    input.projectFolder = projectFolder(call.session);
    input.createdAt = candidate.createdAt;
    if (const Verdict verdict = call.filter.accepts(input); !verdict.isAccept()) {
        return Outcome::rejected(verdict.reason);
    }

    // 4. The id.
    if (kind == ShelfItemKind::html && sourcePath) {
        if (const auto artifact = store->artifact(*sourcePath)) {
            return Outcome::merged(artifact->id);
        }
    }
    if (!content.digest) {
        if (content.inMemory) {
            content.digest = Hex::sha256(content.bytes);
        } else if (const auto hashed = hashFile(content.streamPath)) {
            content.digest = hashed->first;
        }
        if (!content.digest) {
            return Outcome::rejected(unreadableReason); // vanished or unreadable meanwhile
        }
    }
    const QString& digest = *content.digest;
    QString id;
    const bool captureRoad = !sourcePath && candidate.captureID.has_value();
    if (captureRoad) {
        const QString composite =
            digest + u'~' + Hex::sha256(candidate.captureID->toUtf8()).left(16);
        if (store->items().contains(composite) || store->isHidden(composite) ||
            store->isDeleted(composite, std::nullopt, candidate.createdAt)) {
            id = composite;
        } else {
            for (const ShelfItem& item : newestFirst(store->itemsWithContent(digest))) {
                if (!item.captureID && item.sourceKinds.count(Source::transcript) == 0 &&
                    std::abs(item.createdAt.since(candidate.createdAt)) < mergeWindow) {
                    id = item.id;
                    break;
                }
            }
            if (id.isEmpty()) {
                id = composite;
            }
        }
    } else {
        const QList<ShelfItem> same = newestFirst(store->itemsWithContent(digest));
        if (same.isEmpty()) {
            id = digest;
        } else {
            id = same.first().id;
            for (const ShelfItem& item : same) {
                if (item.sourceKinds.count(candidate.source) == 0) {
                    id = item.id;
                    break;
                }
            }
        }
    }

    // 5. Hidden and deleted.
    if (store->isHidden(id)) {
        return Outcome::rejected(hiddenReason);
    }
    if (kind == ShelfItemKind::html && sourcePath && store->isHiddenSourcePath(*sourcePath)) {
        return Outcome::rejected(hiddenReason);
    }
    if (store->isDeleted(id, sourcePath, candidate.createdAt)) {
        return Outcome::rejected(deletedReason);
    }

    // 6. Merge into the item that has this id.
    if (const auto stored = store->items().constFind(id); stored != store->items().constEnd()) {
        ShelfItem item = *stored;
        item.sourceKinds.insert(candidate.source);
        item.createdAt = std::min(item.createdAt, candidate.createdAt);
        if (!item.sourcePath && sourcePath) {
            item.sourcePath = sourcePath;
        }
        if (captureRoad && !item.captureID) {
            item.captureID = candidate.captureID;
        }
        if (candidate.sessionID) {
            if (!candidate.promptID || item.promptID) {
                if (item.sessionID == Session::unsortedID) {
                    item.sessionID = call.session;
                }
            } else {
                item.sessionID = call.session;
                item.promptID = candidate.promptID;
            }
        }
        store->upsert(item);
        return Outcome::merged(id);
    }

    // 7. A new item.
    const Store::CopyResult copied =
        content.inMemory ? store->copyIn(content.bytes, id, ext, &prepared.stagedCopy)
                         : store->copyInFile(content.streamPath, id, ext, digest);
    const QUrl* fileURL = std::get_if<QUrl>(&copied);
    if (fileURL == nullptr) {
        // A streamed file that vanished, became something else or changed while it was copied
        // could not be read; anything else is the store's own failure.
        if (!content.inMemory) {
            const Error& error = std::get<Error>(copied);
            const auto st = FileStat::lstat(content.streamPath);
            if (!st || !st->isRegular() || error.domain == QStringLiteral("Store")) {
                return Outcome::rejected(unreadableReason);
            }
        }
        if (!copyFailureLogged_) {
            copyFailureLogged_ = true;
            qCWarning(lcIngest).noquote()
                << QStringLiteral("copy into %1 failed: %2")
                       .arg(store->itemsDir(), Error::describe(std::get<Error>(copied)));
        }
        return Outcome::rejected(copyFailedReason);
    }
    copyFailureLogged_ = false;
    QString title;
    if (!sourcePath) {
        touchSession(call.session, candidate.slug, candidate.createdAt);
        title = QStringLiteral("Screenshot.") + ext;
    } else {
        // A changed file replaces its earlier version within the same session.
        for (const ShelfItem& old : store->items(*sourcePath)) {
            if (old.id != id && old.sessionID == call.session &&
                old.kind != ShelfItemKind::artifact) {
                store->remove(old.id);
            }
        }
        touchSession(call.session, candidate.slug, candidate.createdAt);
        title = lastPathComponent(*sourcePath);
    }
    ShelfItem item = newItem(call, id, *kind, title, sourcePath);
    item.fileURL = *fileURL;
    if (size) {
        item.width = size->width();
        item.height = size->height();
    }
    if (captureRoad) {
        item.captureID = candidate.captureID;
    }
    store->upsert(item);
    if (!prepared.thumbnail && isRasterImage(prepared.fileExtension)) {
        // Known bytes were not decoded ahead; a new item of them (another capture id, or an item
        // gone since) is now, from the copy when they were not read whole.
        if (!prepared.image) {
            prepared.image =
                content.inMemory ? ImageProbe::source(content.bytes) : ImageProbe::source(*fileURL);
        }
        if (prepared.image) {
            prepared.thumbnail =
                ImageProbe::thumbnailJPEG(*prepared.image, ImageProbe::defaultMaxPixel);
        }
    }
    if (prepared.thumbnail) {
        // A failure is not reported: the item stays, and the views make the thumbnail later.
        store->writeThumbnail(id, *prepared.thumbnail, &prepared.stagedThumbnail);
    }
    return Outcome::added(id);
}

Ingest::Outcome Ingest::ingestArtifact(const Call& call, const ArtifactInfo& info) {
    const Candidate& candidate = call.candidate;
    std::optional<QString> path;
    if (info.path) {
        path = OstrelPaths::canonical(*info.path);
    }
    FilterInput input;
    input.kind = ShelfItemKind::artifact;
    input.byteCount = 0;
    input.sourcePath = path;
    input.source = candidate.source;
    input.createdAt = candidate.createdAt;
    if (const Verdict verdict = call.filter.accepts(input); !verdict.isAccept()) {
        return Outcome::rejected(verdict.reason);
    }
    const QString id = QStringLiteral("artifact:") + info.id;
    if (store->isHidden(id)) {
        return Outcome::rejected(hiddenReason);
    }
    if (store->isDeleted(id, std::nullopt, candidate.createdAt)) {
        return Outcome::rejected(deletedReason);
    }
    std::optional<QString> title = info.title;
    if (path) {
        // The page has become an artifact: its HTML items go, whatever their session.
        for (const ShelfItem& old : store->items(*path)) {
            if (old.kind == ShelfItemKind::html) {
                store->remove(old.id);
            }
        }
        if (!title) {
            title = htmlTitle(*path);
        }
    }
    if (const auto stored = store->items().constFind(id); stored != store->items().constEnd()) {
        ShelfItem item = *stored;
        item.remoteURL = info.url;
        if (title) {
            item.title = *title;
        }
        if (path) {
            item.sourcePath = path;
        }
        store->upsert(item);
        return Outcome::updated(id);
    }
    touchSession(call.session, candidate.slug, candidate.createdAt);
    if (!title) {
        title = path ? lastPathComponent(*path) : QStringLiteral("Artifact");
    }
    ShelfItem item = newItem(call, id, ShelfItemKind::artifact, *title, path);
    item.remoteURL = info.url;
    store->upsert(item);
    return Outcome::added(id);
}

// ---------------------------------------------------------------------------------------------
// Helpers of one capture

void Ingest::touchSession(const QString& id, const std::optional<QString>& slug, Date at) {
    const auto stored = store->sessions().constFind(id);
    Session session = stored != store->sessions().constEnd()
                          ? *stored
                          : Session(id, slug, std::nullopt, std::nullopt, at, at);
    if (!session.slug) {
        session.slug = slug;
    }
    session.lastActive = std::max(session.lastActive, at);
    store->upsert(session);
    activity.touch(id, at);
}

std::optional<QString> Ingest::projectFolder(const QString& sessionID) const {
    const auto it = store->sessions().constFind(sessionID);
    if (it == store->sessions().constEnd() || !it->cwd) {
        return std::nullopt;
    }
    return OstrelPaths::canonical(*it->cwd);
}

ShelfItem Ingest::newItem(const Call& call, const QString& id, ShelfItemKind kind,
                          const QString& title, const std::optional<QString>& sourcePath) const {
    const Candidate& candidate = call.candidate;
    ShelfItem item;
    item.id = id;
    item.kind = kind;
    item.sourcePath = sourcePath;
    item.title = title;
    item.sessionID = call.session;
    item.promptID = candidate.promptID;
    item.sourceKinds = {candidate.source};
    item.createdAt = candidate.createdAt;
    // What was there before the previous run ended was there for the user to see then.
    if (predatesPreviousRun(candidate.createdAt)) {
        item.seenAt = candidate.createdAt;
    }
    return item;
}

bool Ingest::predatesPreviousRun(Date date) const {
    if (store->isFirstRun()) {
        return date < store->launchedAt();
    }
    if (const auto previous = store->previousRunAt()) {
        return date < *previous;
    }
    return false;
}

std::optional<QString> Ingest::htmlTitle(const QString& path) {
    struct stat st {};
    const int fd = openRegularNoFollow(path, &st);
    if (fd < 0) {
        return std::nullopt;
    }
    const auto head = readUpTo(fd, htmlTitleBytes, st.st_size);
    ::close(fd);
    if (!head) {
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(*head);
    static const QRegularExpression titleElement(QStringLiteral("<title[^>]*>[^<]*</title>"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]+>"));
    const QRegularExpressionMatch match = titleElement.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    QString inner = match.captured(0);
    inner.remove(tag);
    inner = trimmedText(inner);
    if (inner.isEmpty()) {
        return std::nullopt;
    }
    return inner;
}

// ---------------------------------------------------------------------------------------------
// Sessions, titles and transcript batches

QList<Ingest::Outcome> Ingest::apply(const TranscriptBatch& batch) {
    for (const SessionSighting& sighting : batch.sessions) {
        noteSession(sighting);
    }
    for (const SessionTitle& title : batch.titles) {
        noteTitle(title, batch.fileCreated);
    }
    for (const Prompt& prompt : batch.prompts) {
        store->upsert(prompt);
        noteFirstPrompt(prompt);
    }
    return ingestAll(batch.candidates);
}

void Ingest::noteFirstPrompt(const Prompt& prompt) {
    const auto it = store->sessions().constFind(prompt.sessionID);
    if (it == store->sessions().constEnd()) {
        return;
    }
    if (it->firstPromptAt && !(prompt.at < *it->firstPromptAt)) {
        return;
    }
    Session session = *it;
    session.firstPrompt = prompt.text;
    session.firstPromptAt = prompt.at;
    store->upsert(session);
}

void Ingest::noteSession(const SessionSighting& sighting) {
    Date start = sighting.at;
    if (sighting.fileCreated && *sighting.fileCreated < start) {
        start = *sighting.fileCreated;
    }
    const auto it = store->sessions().constFind(sighting.id);
    const bool isNew = it == store->sessions().constEnd();
    const std::optional<Session> stored = isNew ? std::nullopt : std::optional<Session>(*it);
    Session session = stored ? *stored
                             : Session(sighting.id, sighting.slug, std::nullopt, std::nullopt,
                                       start, sighting.at);
    if (!session.slug) {
        session.slug = sighting.slug;
    }
    if (sighting.cwd) {
        session.cwd = sighting.cwd;
    }
    if (sighting.branch) {
        session.branch = sighting.branch;
    }
    session.startedAt = std::min(start, session.startedAt);
    session.lastActive = std::max(sighting.at, session.lastActive);
    activity.touch(sighting.id, sighting.at);
    if (!stored) {
        store->upsert(session);
        return;
    }
    Session onlyActivity = *stored;
    onlyActivity.lastActive = session.lastActive;
    if (onlyActivity == session &&
        session.lastActive.since(stored->lastActive) < sessionWriteInterval) {
        return;
    }
    store->upsert(session);
}

void Ingest::noteTitle(const SessionTitle& title, std::optional<Date> fileCreated) {
    const Date when = fileCreated ? *fileCreated : now();
    const auto it = store->sessions().constFind(title.sessionID);
    const bool isNew = it == store->sessions().constEnd();
    Session session =
        isNew ? Session(title.sessionID, title.slug, std::nullopt, std::nullopt, when, when) : *it;
    const QString trimmed = trimmedText(title.text);
    const std::optional<QString> text =
        trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
    switch (title.kind) {
    case SessionTitle::Kind::agentName:
        session.agentName = text;
        break;
    case SessionTitle::Kind::custom:
        session.customTitle = text;
        break;
    case SessionTitle::Kind::ai:
        session.aiTitle = text;
        break;
    }
    if (isNew || session != *it) {
        store->upsert(session);
    }
}

void Ingest::backfillFirstPrompts() {
    // Prompts in id order, so that "the first met" among equal times does not depend on hashing.
    QList<Prompt> prompts = store->prompts().values();
    std::sort(prompts.begin(), prompts.end(),
              [](const Prompt& a, const Prompt& b) { return a.id < b.id; });
    QHash<QString, Prompt> earliest;
    QStringList order;
    for (const Prompt& prompt : prompts) {
        const auto it = earliest.find(prompt.sessionID);
        if (it == earliest.end()) {
            earliest.insert(prompt.sessionID, prompt);
            order.append(prompt.sessionID);
        } else if (prompt.at < it->at) {
            *it = prompt;
        }
    }
    for (const QString& sessionID : order) {
        const auto session = store->sessions().constFind(sessionID);
        if (session == store->sessions().constEnd() || session->firstPromptAt) {
            continue;
        }
        const Prompt& prompt = earliest.value(sessionID);
        store->upsert(prompt);
        noteFirstPrompt(prompt);
    }
}

} // namespace ostrel
