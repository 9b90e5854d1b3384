// The store's part of a capture, on the engine's queue: the item's id, merging into an item of
// the same bytes, hidden and deleted items, the copy and thumbnail of a new item, artifacts.
#include "OstrelCore/Engine/Ingest.h"

#include "OstrelCore/Engine/IngestParts.h"
#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ostrel {

using namespace ingestParts;

namespace {

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

    // A file read again (touched, or a second copy of bytes already held) is noted with its
    // date, so that the next start need not read it once more.
    const auto noteChecked = [&] {
        if (sourcePath && std::holds_alternative<Payload::File>(candidate.payload.value) &&
            !store->hasIngested(*sourcePath, candidate.createdAt)) {
            store->setSourceChecked(*sourcePath, candidate.createdAt, id);
        }
    };

    // 5. Hidden and deleted.
    if (store->isHidden(id)) {
        noteChecked();
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
        noteChecked();
        return Outcome::merged(id);
    }

    // 7. A new item. What it needs to come back (its record, with its copy's name, and its
    // session) is noted before its copy is placed: a process that ends before an index names it
    // leaves a copy that the next start brings back with it, never one that nothing names.
    const QString title =
        sourcePath ? lastPathComponent(*sourcePath) : QStringLiteral("Screenshot.") + ext;
    ShelfItem item = newItem(call, id, *kind, title, sourcePath);
    item.fileURL = store->copyURL(id, ext);
    if (size) {
        item.width = size->width();
        item.height = size->height();
    }
    if (captureRoad) {
        item.captureID = candidate.captureID;
    }
    const Session session = touchedSession(call.session, candidate.slug, candidate.createdAt);
    const auto noted = store->noteCapture(item, session);
    const Store::CopyResult copied =
        noted              ? Store::CopyResult(*noted)
        : content.inMemory ? store->copyIn(content.bytes, id, ext, &prepared.stagedCopy)
                           : store->copyInFile(content.streamPath, id, ext, digest);
    const QUrl* fileURL = std::get_if<QUrl>(&copied);
    if (fileURL == nullptr) {
        // A streamed file that vanished, became something else or changed while it was copied
        // could not be read; anything else is the store's own failure.
        if (!content.inMemory) {
            const Error& error = std::get<Error>(copied);
            const auto st = FileStat::lstat(content.streamPath);
            if (!st || !st->isRegular() ||
                (error.domain == QStringLiteral("Store") && error.code == Store::sourceChanged)) {
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
    item.fileURL = *fileURL;
    if (sourcePath) {
        // A changed file replaces its earlier version within the same session.
        for (const ShelfItem& old : store->items(*sourcePath)) {
            if (old.id != id && old.sessionID == call.session &&
                old.kind != ShelfItemKind::artifact) {
                store->remove(old.id);
            }
        }
    }
    touchSession(call.session, candidate.slug, candidate.createdAt);
    store->upsert(item);
    if (!prepared.thumbnail && isRasterImage(prepared.fileExtension) &&
        !(guard && guard->isSetAside(digest))) {
        // Known bytes were not decoded ahead; a new item of them (another capture id, or an item
        // gone since) is now, from the copy when they were not read whole.
        const ReadGuard::Mark mark(guard.get(), digest, readTarget(candidate, sourcePath));
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

Session Ingest::touchedSession(const QString& id, const std::optional<QString>& slug,
                               Date at) const {
    const auto stored = store->sessions().constFind(id);
    Session session = stored != store->sessions().constEnd()
                          ? *stored
                          : Session(id, slug, std::nullopt, std::nullopt, at, at);
    if (!session.slug) {
        session.slug = slug;
    }
    session.lastActive = std::max(session.lastActive, at);
    return session;
}

void Ingest::touchSession(const QString& id, const std::optional<QString>& slug, Date at) {
    store->upsert(touchedSession(id, slug, at));
    activity.touch(id, at);
}

std::optional<QString> Ingest::projectFolder(const QString& sessionID) const {
    const auto it = store->sessions().constFind(sessionID);
    if (it == store->sessions().constEnd() || !it->cwd) {
        return std::nullopt;
    }
    // Resolved once a second at most: a start offers thousands of files of a few sessions, and
    // each resolution asks the file system (of a folder gone since, several times).
    const auto now = std::chrono::steady_clock::now();
    if (now - projectFoldersAt_ > std::chrono::seconds(1)) {
        projectFolders_.clear();
        projectFoldersAt_ = now;
    }
    auto found = projectFolders_.constFind(*it->cwd);
    if (found == projectFolders_.constEnd()) {
        found = projectFolders_.insert(*it->cwd, OstrelPaths::canonical(*it->cwd));
    }
    return *found;
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

} // namespace ostrel
