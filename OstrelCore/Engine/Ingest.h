#pragma once

#include "OstrelCore/Engine/ActivityTracker.h"
#include "OstrelCore/Engine/Candidate.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "OstrelCore/Engine/ItemFilter.h"
#include "OstrelCore/Engine/ReadGuard.h"
#include "OstrelCore/Engine/TranscriptBatch.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/Date.h"
#include "Platform/WorkerPool.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>

namespace ostrel {

// The one place where a candidate becomes a stored shelf item. One per engine, used only on the
// engine's queue.
class Ingest {
public:
    // What became of one candidate; compared kind and text together.
    struct Outcome {
        enum class Kind { added, merged, updated, rejected };

        Kind kind = Kind::rejected;
        // The item id, or for a rejection the reason text.
        QString text;

        static Outcome added(QString id) { return {Kind::added, std::move(id)}; }
        static Outcome merged(QString id) { return {Kind::merged, std::move(id)}; }
        static Outcome updated(QString id) { return {Kind::updated, std::move(id)}; }
        static Outcome rejected(QString reason) { return {Kind::rejected, std::move(reason)}; }

        bool isRejected() const { return kind == Kind::rejected; }
        // A rejection that says nothing about the capture itself (it could not be read, or its
        // copy could not be written): the same file may pass once that changes.
        bool mayPassLater() const;
        // The rejection of a capture the store could not keep (no room, a read-only store).
        bool storeFailed() const;
        // "added", "merged", "updated" or "rejected".
        static QString rawValue(Kind kind);

        friend bool operator==(const Outcome&, const Outcome&) = default;
    };

    // The window of activeSession(now:window:) for a capture without a session.
    static constexpr double activeWindow = 60.0;
    // How close a transcript image must be to a file of the same bytes to join it.
    static constexpr double mergeWindow = 120.0;
    // A session whose only change is a later lastActive is written at most this often.
    static constexpr double sessionWriteInterval = 60.0;
    // Bytes read at most from a page for its title.
    static constexpr qint64 htmlTitleBytes = 16384;

    Ingest(std::shared_ptr<Store> store, ItemFilter filter, qint64 retentionDays,
           Clock now = &Date::now);
    // With the all-defaults filter.
    Ingest(std::shared_ptr<Store> store, qint64 retentionDays, Clock now = &Date::now);
    ~Ingest();
    Ingest(const Ingest&) = delete;
    Ingest& operator=(const Ingest&) = delete;

    // --- Fields (the engine replaces filter and retentionDays when its configuration changes) ---
    std::shared_ptr<Store> store;
    ActivityTracker activity;
    ItemFilter filter;
    qint64 retentionDays;
    Clock now;

    // Reads, decodes, hashes and thumbnails batches in parallel when set; the store is still
    // written only from the calling queue, in order.
    std::shared_ptr<WorkerPool> workers;
    // Most bytes of pictures read ahead of the store's part at once (at least one is always).
    qint64 readAheadBytes = 128LL * 1024 * 1024;
    // Marks every probe and decode of a picture, and turns away bytes whose read once brought
    // the process down; none marks nothing.
    std::shared_ptr<ReadGuard> guard;

    // --- Captures ---
    // Never fails: every problem is a rejection, and nothing is stored for it.
    Outcome ingest(const Candidate& candidate);
    // The candidates in order, with the same outcomes as ingest() on each in turn; their bytes
    // are read and decoded ahead on the workers.
    QList<Outcome> ingestAll(const QList<Candidate>& candidates);
    // The same with a last word per candidate: just before the store's part of candidate i,
    // `wanted(i)` may still drop it (no outcome then); `done(i, outcome)` follows each one taken.
    // Once `stopping()` answers true, no other candidate is started or stored: the call returns
    // as soon as the preparations under way have ended.
    void ingestEach(const QList<Candidate>& candidates,
                    const std::function<bool(qsizetype)>& wanted,
                    const std::function<void(qsizetype, const Outcome&)>& done,
                    const std::function<bool()>& stopping = {});
    // `now` less `days` days.
    static Date retentionCutoff(qint64 days, Date now);

    // --- Captures prepared ahead, without the caller waiting for a worker ---
    // Starts preparing the candidates on the workers, behind those already started; `ready`
    // runs on the worker that ends each one (without workers, here). They are stored in the
    // order they were started, by finishAhead(), with the outcomes ingest() would give.
    void startAhead(const QList<Candidate>& candidates, const std::function<void()>& ready);
    // Started and not yet finished or dropped.
    qsizetype aheadCount() const;
    // How many more may start: four times the workers less those under way, and none while their
    // bytes reach readAheadBytes.
    qsizetype aheadRoom() const;
    // The oldest started candidate is prepared.
    bool aheadReady() const;
    // The store's part of the oldest started candidate, which must be ready; when it is not
    // `wanted`, it is dropped instead and has no outcome.
    std::optional<Outcome> finishAhead(bool wanted);
    // Forgets every started candidate; what their workers wrote ahead goes with them.
    void dropAhead();

    // Creates or refreshes a session record and notes its activity.
    void touchSession(const QString& id, const std::optional<QString>& slug, Date at);
    // The session record touchSession() would store.
    Session touchedSession(const QString& id, const std::optional<QString>& slug, Date at) const;
    // The canonical working directory of a stored session, when it has one.
    std::optional<QString> projectFolder(const QString& sessionID) const;
    // True for a date before this run's launch (first run) or before the previous run.
    bool predatesPreviousRun(Date date) const;
    // The text of the first <title> element in the first 16384 bytes of the regular file at
    // `path` (links refused), trimmed; absent when none or empty.
    static std::optional<QString> htmlTitle(const QString& path);

    // --- Sessions, titles and transcript batches ---
    // Sightings, then titles, then prompts, then the candidates; one outcome per candidate.
    QList<Outcome> apply(const TranscriptBatch& batch);
    void noteSession(const SessionSighting& sighting);
    void noteTitle(const SessionTitle& title, std::optional<Date> fileCreated);
    // Gives each stored session without a first prompt its earliest stored prompt.
    void backfillFirstPrompts();

private:
    struct Call;
    // A new item for a capture, before its file or web address is set.
    ShelfItem newItem(const Call& call, const QString& id, ShelfItemKind kind, const QString& title,
                      const std::optional<QString>& sourcePath) const;
    struct Content;
    struct Prepared;
    // The content keys held (stored or hidden) with a pixel size stored for each: bytes whose
    // digest is among them are never decoded ahead.
    using KnownContent = QHash<QString, std::optional<QSize>>;
    std::shared_ptr<const KnownContent> knownContent();

    // Where a worker may write a new picture's copy and thumbnail ahead, and the filter that
    // must pass it first (without the session's project folder, which the store knows).
    struct Staging {
        QString itemsDir;
        QString thumbsDir;
        ItemFilter filter;
        // The support folder and the folders within as the store took them: nothing is staged
        // into one that a link or a mount has taken the place of.
        QString root;
        OwnFolder own;
    };
    // The part of a capture that needs no store; safe on any thread. With `known`, a picture is
    // thumbnailed ahead unless its digest is known; with `staging` too, such a picture's copy
    // and thumbnail are also written ahead, for the store's part to rename into place.
    static Prepared prepare(const Candidate& candidate, const QSet<QString>& extraExtensions,
                            const KnownContent* known, const Staging* staging = nullptr,
                            const ReadGuard* guard = nullptr);
    // A picture file whose streamed digest is known: prepared from the digest alone, without
    // reading it whole or decoding it. False when the bytes are new (or unreadable).
    static bool recognise(const QString& path, const std::optional<QString>& canonical,
                          const KnownContent& known, Prepared& out);
    // Writes a new picture's copy and thumbnail ahead when the filter lets it pass; a failure
    // leaves them to the store's part, which reports it.
    static void stage(const Candidate& candidate, const Staging& staging, Prepared& out);
    // The bytes a candidate's preparation holds until the store's part has run.
    static qint64 heldBytes(const Candidate& candidate, const QSet<QString>& extraExtensions);
    static bool prepareReadPath(const Candidate& candidate, const QSet<QString>& extraExtensions,
                                Prepared& out);
    // The store's part, on the queue.
    Outcome finish(const Candidate& candidate, Prepared& prepared);
    Outcome ingestContent(const Call& call, Prepared& prepared);
    Outcome ingestArtifact(const Call& call, const ArtifactInfo& info);
    // Reads a file capture: never through a link, images whole (bounded), the rest streamed.
    static std::optional<Content> openFile(const QString& path, const QString& extension,
                                           const QSet<QString>& extraExtensions);
    void noteFirstPrompt(const Prompt& prompt);

    // Working directories as resolved lately, and when this table was begun.
    mutable QHash<QString, QString> projectFolders_;
    mutable std::chrono::steady_clock::time_point projectFoldersAt_;
    struct Ahead;
    std::list<Ahead> ahead_;
    qint64 aheadBytes_ = 0;
    // The window of candidates prepared ahead at once.
    qsizetype window() const;
    // Where this call's workers may write ahead.
    std::shared_ptr<const Staging> staging() const;
    // A failing copy is logged once, until one succeeds again.
    bool copyFailureLogged_ = false;
    std::shared_ptr<const KnownContent> known_;
    qint64 knownRevision_ = -1;
};

} // namespace ostrel
