#pragma once

#include "OstrelCore/Engine/DirectoryWatcher.h"
#include "OstrelCore/Engine/EngineConfig.h"
#include "OstrelCore/Engine/Ingest.h"
#include "OstrelCore/Engine/ScratchpadScanner.h"
#include "OstrelCore/Engine/TranscriptSet.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "OstrelCore/Records/Snapshot.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/Date.h"
#include "Platform/MountWatch.h"
#include "Platform/SerialQueue.h"
#include "Platform/WorkerPool.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace ostrel {

// The engine's delays. The defaults are its own; tests shorten them.
struct EngineTiming {
    // Minimum age of a file's modification date before it is admitted, and the delay of the
    // first re-checks of a file that is still changing.
    double settleInterval = 0.3;
    // Re-checks at the flat interval before the delay starts doubling.
    qint64 settleFastAttempts = 5;
    double settleMaxDelay = 5.0;
    // Wait before a rescan after lost events.
    double rescanWait = 1.2;
    // Requests for a publish within this many seconds give one snapshot.
    double publishDelay = 0.05;
    double retentionInterval = 3600.0;
    double rootLatency = 0.25;
    double chromeLatency = 1.0;
    // Most paths one delivery gathers before the watcher asks for a rescan instead.
    qsizetype eventBatchLimit = 65536;
    // Folder entries one slice of a watched-folder scan handles before the queue's other jobs
    // (events, commands, snapshots, stop) get their turn.
    qsizetype scanSliceEntries = 2000;
    // First wait before captures that failed for a passing reason (no space, a read-only store,
    // an unreadable file) are tried again; it doubles while they keep failing, up to the maximum,
    // which is the store's own for its files: room that comes back is used within a minute.
    double retryInterval = 30.0;
    double retryMaxInterval = Store::saveRetryMost;
    // Least wait between two reads, on its own changes, of a transcript held at a line whose
    // capture failed: once the cause has passed, the session's next line brings both in about
    // this soon. Each such read goes over everything after the held line, so the wait also grows
    // with what the last one cost.
    double heldReadSpacing = 0.5;
    // Longest a change waits for the index write while one long job holds the queue (a first
    // start over a large history), so that a killed process keeps most of its work.
    double progressSaveInterval = 3.0;
    // Files of watched folders one slice offers, and one job stores, at most. They are read and
    // decoded on the workers while the queue goes on with its other jobs: a scratchpad capture
    // or a transcript never waits for a folder's pictures, only for a job this size.
    qsizetype sliceAdmissions = 16;
    // Files admitted together (a start's) are offered this many at a time at most: a history
    // of a hundred thousand files would otherwise have all their admissions wait at once.
    qsizetype batchSlice = 1024;
    // Most files kept for another try after they could not be read or copied: what it holds is
    // bounded, whatever arrives while the disk is full. Those it turns away are found again by a
    // look over their folders once there is room (Engine::lookBack()).
    qsizetype retryLimit = 1000;
    // Runs on a watched folder's watcher thread before its watches are added; tests hold them
    // back with it.
    std::function<void()> beforeFolderArming;
    // Runs within every marked read of a picture (ReadGuard); tests slow the read down there, or
    // bring the process down.
    std::function<void(const QString& what)> duringRead;
    // The mount table whose changes bring held captures in at once (MountWatch): a folder they
    // waited for may be back.
    QString mountTable = QStringLiteral("/proc/self/mountinfo");
};

// The capture side's one long-lived object. It owns the store, ingest, the scratchpad scanner,
// the transcript set, the directory watchers and the retention timer, and does all of its work
// on one serial queue: it reads what is on disk at start, watches Claude Code's folders and the
// user's, admits files once they have stopped changing, rescans after lost events, applies the
// retention period and publishes coalesced snapshots to the main thread until it is stopped.
//
// Called from the owner's thread (the main thread); everything but stop() returns at once and
// does its work later on the queue. Nothing here throws or reports an error to its caller: a
// file or folder that cannot be read costs that one capture, and is logged.
class Engine : public std::enable_shared_from_this<Engine> {
public:
    using Config = EngineConfig;
    // Every engine has its own generation, carried with each snapshot it publishes, so that an
    // owner that replaced its engine can tell the old one's late snapshots from the new one's.
    using Generation = quint64;
    using SnapshotHandler = std::function<void(const Snapshot& snapshot, Generation generation)>;
    // Runs a job on the queue after a delay in seconds.
    using Scheduler = std::function<void(double delay, std::function<void()> job)>;

    // What a file looked like when it was last handled.
    struct Stamp {
        qint64 size = 0;
        Date modified;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };

    using Timing = EngineTiming;

    static constexpr double settleInterval = 0.3;
    static constexpr qint64 settleFastAttempts = 5;
    static constexpr double settleMaxDelay = 5.0;
    static constexpr double defaultRescanWait = 1.2;
    static constexpr qsizetype stampLimit = 5000;
    static constexpr quint64 titleTailBytes = 262144;
    static constexpr double waitingLimit = 86400.0;
    static constexpr qint64 transcriptChunk = 4194304;
    // A held transcript's reads on its own changes take at most this share of the engine's time.
    static constexpr double heldReadShare = 0.05;

    // Builds everything, loading the store on the calling thread, and starts nothing. A null
    // queue gives the engine its own, "app.ostrel.engine".
    static std::shared_ptr<Engine> make(Config config, Clock now = &Date::now,
                                        std::shared_ptr<SerialQueue> queue = nullptr,
                                        Timing timing = Timing());
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Set before start(); called on the main thread with each published snapshot.
    void setOnSnapshot(SnapshotHandler handler);
    // Reads what is on disk and publishes; with `watch` also watches the folders and runs the
    // hourly retention. Called once.
    void start(bool watch);
    // Waits for everything queued before it, then stops watching and writes the index and the
    // offsets. Afterwards every command, timer and event does nothing, and no snapshot reaches
    // the handler, not even one already on its way to the main thread.
    void stop();
    // Applies a new configuration in place; its folders are ignored (a change of folders needs
    // a new engine).
    void update(const Config& config);

    void hide(const QStringList& ids);
    void unhide(const QStringList& ids);
    void deleteItems(const QStringList& ids);
    // Deletes every item and hidden item but those spared.
    void deleteAll(const QSet<QString>& sparing);
    // Deletes, as deleteAll does, only the items and hidden items among `covering` (what the user
    // could have seen when they asked) that are not spared: an item stored after that moment
    // survives.
    void deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering);
    void markSeen(const QStringList& ids);

    // The process is about to end (a termination signal has come): every engine ends its long
    // jobs at the next batch, as when stop() is called, without waiting for the thread that will
    // call it. Any thread, at any moment, before or after the engines are made.
    static void haltForQuit() { quitComing_.store(true, std::memory_order_relaxed); }

    Generation generation() const { return generation_; }
    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }
    // Safe to use only on the queue, but for its fixed folders.
    const std::shared_ptr<Store>& store() const { return store_; }

    // The re-check delay of a settling file: flat for the first attempts, then doubling up to
    // the maximum, however many attempts there were.
    static double settleDelay(qint64 attempt, const Timing& timing = Timing());
    // The wait before the next look at a settling file with `stamp`: `delay`, or less when the
    // file, by its date, will have been quiet for the settle interval sooner.
    double nextLook(double delay, const Stamp& stamp) const;

    // --- Read on the queue (tests reach them with queue()->sync) ---
    qint64 titleTailReads() const { return titleTailReads_; }
    qint64 rescans() const { return rescans_; }
    // Reads of held transcripts on their own changes.
    qint64 heldReads() const { return heldReadCount_; }
    qsizetype stampCount() const { return static_cast<qsizetype>(stamps_.size()); }
    qsizetype retryCount() const { return retries_.size(); }
    // Seconds the retry timer waits next.
    double retryDelay() const { return retryDelay_; }
    // Files of watched folders offered and not yet stored.
    qsizetype preparingCount() const { return static_cast<qsizetype>(ahead_.size()); }
    // True while a watched-folder scan has folders or entries left, changed files of watched
    // folders wait for their slice, or files of watched folders are still being ingested.
    bool isScanning() const { return hasScanWork() || !ahead_.empty(); }
    const Config& config() const { return config_; }
    // Replaces the timer of settle re-checks; on the queue, before the files concerned arrive.
    void setScheduleSettle(Scheduler scheduler) { scheduleSettle_ = std::move(scheduler); }

    // --- The engine's own steps, public so that the queue's jobs and tests can reach them; all
    // run on the queue only ---
    void publish();
    void schedulePublish();
    void logOutcome(const Ingest::Outcome& outcome, const QString& source);
    // Answers the index of the first candidate whose capture may pass later, when one failed.
    std::optional<qsizetype> applyBatch(const TranscriptBatch& batch);
    void readTranscript(const QString& path);
    // Reads a transcript held at a failed line that changed: at once, or when the wait after its
    // last such read is over.
    void readHeld(const QString& path);
    // Scans a watched folder for files modified within `window` seconds (the recent window
    // when none), in slices that leave the queue to other jobs in between; never into pseudo
    // file systems, through links or into the support folder.
    void scanFolder(const QString& path, std::optional<double> window = std::nullopt);
    void scanSlice();
    void onEvents(const QStringList& paths, const QList<quint32>& flags, const QUrl& root);
    void handleEvents(const QStringList& paths);
    // `seen` is the stamp of the regular file at `path` its caller has just read (without
    // following a link), which spares another look.
    void ingestFile(const QString& path, Source source, const std::optional<QString>& sessionID,
                    const std::optional<QString>& slug, bool bootstrap,
                    const std::optional<Stamp>& seen = std::nullopt);
    // None for anything but a regular file; `refused` tells a path that exists but cannot be
    // looked at for the moment (a folder on the way is not searchable).
    std::optional<Stamp> fileStamp(const QString& path, bool* refused = nullptr) const;
    void checkSettled(const QString& path, Source source, const std::optional<QString>& sessionID,
                      const std::optional<QString>& slug, qint64 attempt);
    void releaseChromeHold(const QString& path);
    void scheduleRescan(const QUrl& root);
    void flushRescans();
    void rescan(const QUrl& root);
    void applyRetention();
    void refreshTitles();
    // Offers again the files that could not be read or copied: all of them, or those directly in
    // one of `folders`.
    void retryFailed(const QSet<QString>* folders = nullptr);
    // The timer's pass over every capture that waits for another try: files and transcript lines.
    void retryWaiting();

private:
    // How a file that failed for a passing reason is offered again.
    struct Retry {
        Source source;
        std::optional<QString> sessionID;
        std::optional<QString> slug;
        // The file's modification date when the store could not keep it: a start looks back
        // this far for it.
        std::optional<double> since;
    };

    // One watched-folder scan under way.
    struct FolderScan {
        QString root;
        dev_t rootDevice = 0;
        // Asked for again while under way: starts over once it is through.
        bool again = false;
        double window = 0;
        Date cutoff;
        // Folders still to list, each with the device it lies on.
        std::vector<std::pair<QString, dev_t>> folders;
        // The folder being handled, its entries and the next one.
        QString folder;
        dev_t device = 0;
        QList<std::pair<QString, unsigned char>> listed;
        qsizetype next = 0;
    };

    // A folder below a watched root that is never walked: another file system's pseudo files, or
    // our own support folder (its copies and thumbnails would be captured again and again).
    bool skipsFolder(const QString& path, dev_t device, dev_t parentDevice) const;
    void scheduleScanSlice();
    // One slice's work: changed files first, then the scan, until `admissions` files are offered
    // or its entries are spent.
    void slice(qsizetype admissions);

    // Logs, once per folder and engine, a folder that is skipped for its owner or mode.
    void noteRefused(const QString& what, const QString& folder, const QString& reason);
    void noteWatched() const;
    Engine(Config config, Clock now, std::shared_ptr<SerialQueue> queue, Timing timing);

    void bootstrap();
    // Once the start's reading and its scans of watched folders are through, untouched by a
    // stop, the store lets go of the moment the start began.
    void noteStartThrough();
    // A stop's end of the watched folders' scans and changed files (not of the files being
    // prepared, which the workers still hold).
    void dropScanWork();
    // `scansBegan`: on the real clock, as file times are, no later than the scans of the
    // folders it starts watching list anything.
    void syncFolderWatchers(Date scansBegan);
    void applyConfig(const Config& config);
    void mutateStore(std::function<void(Store&)> change);
    void admit(const QString& path, Source source, const std::optional<QString>& sessionID,
               const std::optional<QString>& slug, const Stamp& stamp, bool bootstrap = false,
               const QString& canonical = QString());
    // A file admitted while a batch is open, offered when the batch ends.
    struct Admission {
        QString path;
        Candidate candidate;
        Stamp stamp;
        bool bootstrap = false;
        // The real path, when the admission already had to find it.
        QString canonical;
    };
    // Files admitted while one of these lives are offered together when the outermost one ends:
    // read, decoded and thumbnailed on the workers, stored in admission order.
    class Batch {
    public:
        explicit Batch(Engine& engine);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Engine& engine_;
        bool outermost_;
    };
    void offerBatch();
    void offerAdmissions(QList<Admission> offered);
    // The real path of a regular file (no link itself): while a batch is open, each folder's is
    // asked of the file system once.
    QString canonicalFile(const QString& path);
    // The last look before a file offered at start is stored: the files before it may have
    // brought it in meanwhile.
    bool stillWanted(const Admission& one) const;
    // Files of watched folders prepared ahead (Ingest::startAhead()), in the order they are
    // stored: as many as each job may take of those ready, without waiting for the others.
    void postDrain();
    void drainAhead();
    bool hasScanWork() const { return !scans_.empty() || !folderFiles_.isEmpty(); }
    // Stopped, or about to be: a long job (a first start over a large history) ends at the next
    // batch, and what it has not reached is read by the next start.
    bool halting() const {
        return stopped_ || stopRequested_.load(std::memory_order_relaxed) ||
               quitComing_.load(std::memory_order_relaxed);
    }
    // Arms the retry timer while captures wait for another try.
    void scheduleRetry();
    // Tries the waiting files again soon, those directly in `folders` or, without, all of them;
    // spaced as the reads of a held transcript are.
    void retrySoon(const QSet<QString>* folders);
    void retryEarly();
    // Keeps a file for another try (up to the limit): one that could not be read or copied, or
    // looked at while a folder on its way was unreadable. `modified`: the file's date when known;
    // `roomFailed`: the store could not keep what the file held at that date.
    void holdForRetry(const QString& path, Source source, const std::optional<QString>& sessionID,
                      const std::optional<QString>& slug,
                      std::optional<Date> modified = std::nullopt, bool roomFailed = false);
    // A file the limit turned away: noted only by its road and date, for the look back.
    void turnAway(Source source, std::optional<Date> modified, bool roomFailed);
    // Once the held files leave room to hold what fails again: looks over the roads of the files
    // the limit turned away, back to the earliest of them, as a start would.
    void lookBack();
    // Once the look back's scans are through, untouched by a stop, its moment goes.
    void noteLookThrough();
    bool dropRetry(const QString& path);
    void forgetMoment(double at);
    // Whether the store keeps a moment for a file that failed so: it could not keep what the file
    // held at its known date.
    static bool keepsMoment(Source source, const std::optional<Date>& modified, bool roomFailed);
    // `kept` is one of `heldMoments_`, or none: `at` takes its place when earlier.
    void keepEarliest(std::optional<double>& kept, double at);
    // Notes the transcripts held at a line from the moment they were first held, and lets go
    // of those no longer held.
    void noteHeldTranscripts();
    // Tells the store when the oldest capture held for want of room was made, once that changes.
    void tellHeld();
    // What follows an offered file's outcome: the log line, and a retry when it may pass later.
    void admitted(const QString& path, const Candidate& candidate, const Ingest::Outcome& outcome);
    // The scanner lists under the real path of the scratch root, so that its paths match the
    // watchers' (which report real paths) in `stamps`.
    void resolveScratchRoot();
    // `scanned`: a watched folder, listed by its scan from that moment on.
    std::shared_ptr<DirectoryWatcher> makeWatcher(const QString& path, const QUrl& root,
                                                  bool chrome,
                                                  std::optional<Date> scanned = std::nullopt);
    // Runs `job` on the queue after `seconds`, unless the engine is gone by then.
    void later(double seconds, std::function<void(Engine&)> job);
    void runOnQueue(std::function<void(Engine&)> job);

    const std::shared_ptr<SerialQueue> queue_;
    const OstrelPaths paths_;
    const Clock now_;
    const Timing timing_;
    const Generation generation_;
    // Shared with the store and the ingest; its threads end with the engine.
    std::shared_ptr<WorkerPool> workers_;
    std::shared_ptr<Store> store_;
    std::unique_ptr<Ingest> ingest_;
    // Made and destroyed on the owner's thread, whose loop it wakes in.
    std::unique_ptr<MountWatch> mounts_;
    std::optional<QList<Admission>> batch_;
    QHash<QString, QString> canonicalFolders_;
    std::deque<Admission> ahead_;
    std::atomic<bool> drainPosted_{false};
    SnapshotHandler onSnapshot_;
    Config config_;
    QStringList folderRoots_;
    ScratchpadScanner scanner_;
    std::unique_ptr<TranscriptSet> transcripts_;
    qint64 titleTailReads_ = 0;
    // Work done again on events, spaced so that it takes a bounded share of the queue: when it
    // may run next, and whether a run is already set for then.
    struct Paced {
        std::chrono::steady_clock::time_point next;
        bool armed = false;
        // Seconds until it may run again; none or less means now.
        double wait() const;
        // After a run that began at `start`: no sooner again than `least` seconds, nor than the
        // run took divided by heldReadShare.
        void ran(std::chrono::steady_clock::time_point start, double least);
    };
    // Held transcripts read on their own changes.
    QHash<QString, Paced> heldReads_;
    // Files waiting for another try, tried before the timer is due: once a capture went through
    // (there is room again), or on a change in their folder. What the next run covers: every
    // such file, or those in the folders noted.
    Paced earlyRetry_;
    bool earlyRetryAll_ = false;
    QSet<QString> earlyRetryFolders_;
    // A pass over what waits is under way: what it brings in asks for no other.
    bool retrying_ = false;
    qint64 heldReadCount_ = 0;
    qint64 rescans_ = 0;
    QList<QUrl> pendingRescans_;
    std::vector<std::shared_ptr<DirectoryWatcher>> watchers_;
    QHash<QString, Stamp> stamps_;
    QHash<QString, Retry> retries_;
    // The dates of the captures the store could not keep, held for another try: the files' and
    // the held transcripts' (each transcript's modification date when it was first held). The
    // oldest is what the store was last told.
    std::multiset<double> heldMoments_;
    QHash<QString, double> heldTranscripts_;
    std::optional<double> heldTold_;
    // The files the retry limit turned away since the last look back, however many: the roads they
    // came by, the earliest date known of them (when one was turned away before it could be
    // looked at, when that was) and, among those the store could not keep, the earliest date,
    // which `heldMoments_` holds until the look back is through.
    struct TurnedAway {
        // Spelled out: clang cannot tell the optional below that the member defaults make one.
        TurnedAway() {}
        bool scratchpad = false;
        bool chrome = false;
        bool folder = false;
        double from = std::numeric_limits<double>::infinity();
        std::optional<double> since;
    };
    std::optional<TurnedAway> turnedAway_;
    bool turnedAwayLogged_ = false;
    // A look back is under way, and the moment it keeps meanwhile.
    bool lookingBack_ = false;
    std::optional<double> lookMoment_;
    bool retryScheduled_ = false;
    double retryDelay_ = 0;
    // Captures that went through on another try since the last report of them.
    qint64 recovered_ = 0;
    std::deque<FolderScan> scans_;
    // Changed files of watched folders, in the order reported, offered by the scan's slices.
    QStringList folderFiles_;
    QSet<QString> folderFilesQueued_;
    bool scanScheduled_ = false;
    QString supportCanonical_;
    QSet<QString> refusedLogged_;
    QSet<QString> pendingChrome_;
    QHash<QString, Stamp> settling_;
    Scheduler scheduleSettle_;
    double rescanWait_;
    bool publishScheduled_ = false;
    std::optional<std::pair<qint64, qint64>> published_;
    SerialQueue::Handle retentionTimer_;
    std::map<QString, std::shared_ptr<DirectoryWatcher>> folderWatchers_;
    bool watching_ = false;
    bool stopped_ = false;
    // Cleared by stop() on the owner's thread: a snapshot still on its way to the main thread
    // checks it there and is dropped.
    std::shared_ptr<std::atomic<bool>> delivering_;
    std::atomic<bool> stopRequested_{false};
    inline static std::atomic<bool> quitComing_{false};
    // Look-back of this start's reading and first scans: the recent window, from the beginning
    // of an earlier start whose pass never ran to its end when there is one.
    double startWindow_ = 0;
    // The start's pass: reading on the queue, then the first scans of watched folders, then
    // through (or cut short by a stop).
    enum class StartPass { reading, scanning, through, cut };
    StartPass startPass_ = StartPass::reading;
};

} // namespace ostrel
