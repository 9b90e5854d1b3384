// The part of a capture that needs no store, safe on any thread: reading files without following
// links, hashing, probing and thumbnailing pictures, and writing a new picture's copy ahead.
#include "OstrelCore/Engine/Ingest.h"

#include "OstrelCore/Engine/IngestParts.h"
#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Sha256.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel {

using namespace ingestParts;

namespace {

// Opens a regular file for reading without following a link in its last component and without
// blocking on a FIFO swapped in after the lstat; -1 when that is not possible.
int openRegularNoFollow(const QString& path, struct stat* st) {
    if (FileStat::holdsNul(path)) {
        return -1; // the file opened would not be the file the path names
    }
    const QByteArray native = QFile::encodeName(path);
    const int fd =
        Descriptors::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
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

QString realPath(const QString& path, const std::optional<QString>& canonical) {
    return canonical ? *canonical : OstrelPaths::canonical(path);
}

} // namespace

std::optional<std::pair<QString, qint64>> ingestParts::hashFile(const QString& path, qint64 limit) {
    struct stat st {};
    const int fd = openRegularNoFollow(path, &st);
    if (fd < 0) {
        return std::nullopt;
    }
    if (limit >= 0 && st.st_size > limit) {
        ::close(fd);
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

bool Ingest::recognise(const QString& path, const std::optional<QString>& canonical,
                       const KnownContent& known, Prepared& out) {
    // Regular, no link, and not too large to be read whole, judged by the file opened.
    const auto hashed = hashFile(path, ImageProbe::maxImageBytes);
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
    out.sourcePath = realPath(path, canonical);
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
    // Staged through the folders themselves, checked once opened.
    const Descriptors::Owned root(staging.own.open(staging.root));
    const Descriptors::Owned items(
        root ? staging.own.openSubfolder(root.get(), OwnFolder::Subfolder::items) : -1);
    if (!items) {
        return;
    }
    auto copy = AtomicFile::stageAt(items.get(), out.content.bytes);
    auto* copyFile = std::get_if<AtomicFile::Staged>(&copy);
    if (copyFile == nullptr) {
        return;
    }
    if (const Descriptors::Owned thumbs(
            staging.own.openSubfolder(root.get(), OwnFolder::Subfolder::thumbs));
        thumbs) {
        auto thumbnail = AtomicFile::stageAt(thumbs.get(), *out.thumbnail);
        if (auto* thumbnailFile = std::get_if<AtomicFile::Staged>(&thumbnail)) {
            out.stagedThumbnail = std::move(*thumbnailFile);
        }
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
        if (file->size) {
            return std::clamp<qint64>(*file->size, 0, ImageProbe::maxImageBytes);
        }
        const auto st = FileStat::lstat(path);
        return st ? std::min<qint64>(st->size, ImageProbe::maxImageBytes) : 0;
    }
    if (const auto* text = std::get_if<Payload::Base64>(&candidate.payload.value)) {
        return text->text.size() * 3 / 4;
    }
    return 0;
}

QString ingestParts::readTarget(const Candidate& candidate,
                                const std::optional<QString>& sourcePath) {
    if (sourcePath) {
        return *sourcePath;
    }
    return QStringLiteral("a picture in the transcript of session %1")
        .arg(candidate.sessionID.value_or(Session::unsortedID));
}

Ingest::Prepared Ingest::prepare(const Candidate& candidate, const QSet<QString>& extraExtensions,
                                 const KnownContent* known, const Staging* staging,
                                 const ReadGuard* guard) {
    Prepared out;
    if (const auto* file = std::get_if<Payload::File>(&candidate.payload.value)) {
        if (!file->url.isLocalFile()) {
            out.outcome = Outcome::rejected(unreadableReason);
            return out;
        }
        const QString path = file->url.toLocalFile();
        out.fileExtension = pathExtension(path);
        if (known != nullptr && !known->isEmpty() && isRasterImage(out.fileExtension) &&
            recognise(path, file->canonical, *known, out)) {
            return out;
        }
        auto content = openFile(path, out.fileExtension, extraExtensions);
        if (!content) {
            out.outcome = Outcome::rejected(unreadableReason);
            return out;
        }
        out.content = std::move(*content);
        out.sourcePath = realPath(path, file->canonical);
    } else if (const auto* bytes = std::get_if<Payload::Bytes>(&candidate.payload.value)) {
        if (!prepareReadPath(candidate, extraExtensions, out)) {
            out.content.bytes = bytes->bytes;
            out.content.byteCount = bytes->bytes.size();
            out.fileExtension = bytes->fileExtension;
        }
    } else if (const auto* text = std::get_if<Payload::Base64>(&candidate.payload.value)) {
        if (!prepareReadPath(candidate, extraExtensions, out)) {
            // Strict: any byte outside the alphabet (white space and any UTF-8 sequence
            // included) fails the whole.
            auto decoded = QByteArray::fromBase64Encoding(
                text->text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
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
        if (guard != nullptr && guard->isSetAside(*out.content.digest)) {
            out.outcome = Outcome::rejected(setAsideReason);
            return out;
        }
        const ReadGuard::Mark mark(guard, *out.content.digest,
                                   readTarget(candidate, out.sourcePath));
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

} // namespace ostrel
