#pragma once

// What the files that make up Ingest share; nothing outside them includes this.
//   Ingest.cpp          outcomes, and the road of candidates: ahead on the workers, then in order
//   IngestPrepare.cpp   a candidate's part that needs no store: reading, hashing, probing, staging
//   IngestItems.cpp     the store's part: ids, merges, hidden and deleted, new items, copies
//   IngestSessions.cpp  sessions, titles, first prompts and transcript batches

#include "OstrelCore/Engine/Ingest.h"
#include "Platform/AtomicFile.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <future>
#include <optional>
#include <utility>

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

// A candidate started by startAhead(): its preparation arrives through `prepared`.
struct Ingest::Ahead {
    Candidate candidate;
    std::future<Prepared> prepared;
    // What the preparation holds until the store's part has run.
    qint64 bytes = 0;
};

namespace ingestParts {

inline const QString unreadableReason = QStringLiteral("unreadable");
inline const QString undecodableReason = QStringLiteral("undecodable image");
inline const QString hiddenReason = QStringLiteral("hidden from the shelf");
inline const QString deletedReason = QStringLiteral("deleted");
inline const QString copyFailedReason = QStringLiteral("copy failed");
inline const QString setAsideReason = QStringLiteral("set aside: its read brought the shelf down");

// How the log names the picture a read is marked for.
QString readTarget(const Candidate& candidate, const std::optional<QString>& sourcePath);

// The streamed SHA-256 of a regular file (links refused) and the bytes it held; nothing when it
// cannot be read, or when it is larger than `limit` (when that is not negative). The chunks go
// through one buffer per thread: no file-sized memory is taken and given back for every file.
std::optional<std::pair<QString, qint64>> hashFile(const QString& path, qint64 limit = -1);

// Trims white space and line breaks at both ends.
QString trimmedText(const QString& text);
QString lastPathComponent(const QString& path);
// The text after the last "." of the last path component; empty when there is none or the
// name only starts with it (".png" has no extension).
QString pathExtension(const QString& path);
// Pictures that are probed and thumbnailed (an SVG has no pixel size that matters).
bool isRasterImage(const QString& extension);

} // namespace ingestParts
} // namespace ostrel
