// The engine's life and its owner's side: construction, start and stop, the owner's commands,
// start-up reading, configuration changes, publishing, retention and session titles. Change
// events are in EngineEvents.cpp, admission and retries in EngineAdmission.cpp, watched-folder
// scans in EngineFolderScan.cpp.
#include "OstrelCore/Engine/Engine.h"

#include "OstrelCore/Engine/ChromeScreenshots.h"
#include "OstrelCore/Engine/TranscriptTailer.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"
#include "Platform/HandOff.h"
#include "Platform/Log.h"
#include "Platform/MallocArenas.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

namespace ostrel {

namespace {

std::atomic<Engine::Generation> lastGeneration{0};

} // namespace

// --- Construction ---

std::shared_ptr<Engine> Engine::make(Config config, Clock now, std::shared_ptr<SerialQueue> queue,
                                     Timing timing) {
    if (!queue) {
        queue = SerialQueue::make(QStringLiteral("app.ostrel.engine"));
    }
    if (!now) {
        now = &Date::now;
    }
    // The last reference may be dropped anywhere: by one of the queue's own jobs, which cannot end
    // the queue's thread, or by a job's temporary hold while the owner lets go. The engine, and
    // with it its queue, is always destroyed on the main thread.
    std::shared_ptr<Engine> engine(
        new Engine(std::move(config), std::move(now), std::move(queue), timing),
        [](Engine* engine) {
            const QCoreApplication* app = QCoreApplication::instance();
            if (app == nullptr || QThread::currentThread() == app->thread()) {
                if (!engine->queue_->isCurrent()) {
                    delete engine;
                }
                // Else: no main loop to hand it to; kept alive rather than deadlock on its queue.
                return;
            }
            postToMain([engine] { delete engine; });
        });
    // Any file the store manages to write says there is room again: what was held for want of it
    // is tried at once, not at its own timer's next turn.
    engine->store_->setOnWritten([weak = std::weak_ptr<Engine>(engine)] {
        if (const auto self = weak.lock()) {
            self->retrySoon(nullptr);
        }
    });
    return engine;
}

Engine::Engine(Config config, Clock now, std::shared_ptr<SerialQueue> queue, Timing timing)
    : queue_(std::move(queue)), paths_(config.paths), now_(std::move(now)), timing_(timing),
      generation_(++lastGeneration), config_(std::move(config)),
      folderRoots_(config_.folderRoots()),
      scanner_(config_.paths.scratchRoot, config_.extraExtensions),
      retryDelay_(timing.retryInterval), rescanWait_(timing.rescanWait),
      delivering_(std::make_shared<std::atomic<bool>>(true)) {
    workers_ = std::make_shared<WorkerPool>();
    store_ = Store::make(config_.paths.supportDir, now_, queue_, Store::defaultDebounce,
                         Store::defaultOffsetsDebounce);
    store_->setWorkers(workers_);
    // Removing the files of thousands of expired or deleted items ends at a quit as any long job
    // does: the index records the rest, which the next start removes.
    store_->setHalted([delivering = delivering_] {
        return !delivering->load(std::memory_order_relaxed) ||
               quitComing_.load(std::memory_order_relaxed);
    });
    // A watched folder's backlog writes the index every few seconds, each time syncing thousands
    // of new files first: that goes on beside the queue, so that no capture waits for it.
    store_->setWriter(SerialQueue::make(QStringLiteral("app.ostrel.index")));
    ingest_ = std::make_unique<Ingest>(store_, config_.itemFilter(), config_.retentionDays, now_);
    ingest_->guard = std::make_shared<ReadGuard>(store_->rootPath());
    ingest_->guard->duringRead = timing_.duringRead;
    supportCanonical_ = OstrelPaths::canonical(paths_.supportDir.toLocalFile());
    ingest_->workers = workers_;
    transcripts_ =
        std::make_unique<TranscriptSet>(config_.paths.projectsRoot(), store_, transcriptChunk);
    scheduleSettle_ = [this](double delay, std::function<void()> job) {
        later(delay, [job = std::move(job)](Engine&) { job(); });
    };
}

Engine::~Engine() = default;

void Engine::later(double seconds, std::function<void(Engine&)> job) {
    queue_->after(seconds, [weak = weak_from_this(), job = std::move(job)] {
        if (const auto self = weak.lock()) {
            job(*self);
        }
    });
}

void Engine::runOnQueue(std::function<void(Engine&)> job) {
    queue_->async([self = shared_from_this(), job = std::move(job)] { job(*self); });
}

// --- Owner's calls ---

void Engine::setOnSnapshot(SnapshotHandler handler) {
    runOnQueue([handler = std::move(handler)](Engine& e) { e.onSnapshot_ = handler; });
}

void Engine::start(bool watch) {
    const Date scansBegan = Date::now();
    runOnQueue([](Engine& e) {
        e.bootstrap();
        // Files a process killed while removing them left behind, listed beside the queue.
        if (!e.halting()) {
            e.store_->tidyFolders();
        }
    });
    runOnQueue([](Engine& e) {
        for (const QString& root : QStringList(e.folderRoots_)) {
            e.scanFolder(root, e.startWindow_);
        }
        if (e.startPass_ == StartPass::reading) {
            e.startPass_ = StartPass::scanning;
            e.noteStartThrough();
        }
        e.publish();
    });
    if (!watch) {
        return;
    }
    // A mount that goes (or comes) may give back the folder captures wait for: they go in then,
    // not at the retry timer's next turn a minute later.
    mounts_ = std::make_unique<MountWatch>(
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->runOnQueue([](Engine& e) { e.retrySoon(nullptr); });
            }
        },
        timing_.mountTable);
    runOnQueue([scansBegan](Engine& e) {
        e.watching_ = true;
        e.noteWatched();
        e.syncFolderWatchers(scansBegan);
    });

    // Watches are added here, on the caller's thread, so that nothing that happens after start()
    // returns is missed; they become engine fields through the queue.
    std::vector<std::shared_ptr<DirectoryWatcher>> made;
    for (const QUrl& root : {paths_.scratchRoot, paths_.projectsRoot(), paths_.chromeRoot}) {
        const bool chrome = root == paths_.chromeRoot;
        made.push_back(makeWatcher(root.toLocalFile(), root, chrome));
    }
    const SerialQueue::Handle timer =
        queue_->every(timing_.retentionInterval, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || self->stopped_) {
                return;
            }
            self->applyRetention();
            self->schedulePublish();
        });
    runOnQueue([made = std::move(made), timer](Engine& e) {
        if (e.stopped_) {
            for (const auto& watcher : made) {
                watcher->stop();
            }
            timer.cancel();
            return;
        }
        e.watchers_ = made;
        e.retentionTimer_ = timer;
    });
}

std::shared_ptr<DirectoryWatcher> Engine::makeWatcher(const QString& path, const QUrl& root,
                                                      bool chrome, std::optional<Date> scanned) {
    FileEventStream::Options scope;
    scope.batchLimit = timing_.eventBatchLimit;
    // A watched folder may be "/" or the home folder: its watches are added on the watcher's own
    // thread, so that the queue never waits for them. What is written into a folder its scan has
    // listed before the folder's watch is in place is reported as the watch is added.
    scope.armInBackground = scanned.has_value();
    scope.changedSince = scanned;
    scope.beforeArming = timing_.beforeFolderArming;
    if (chrome) {
        // The temporary folder: one level deep, plus the screenshot folders.
        scope.subfolders = [](const QString& name) {
            return name.startsWith(ChromeScreenshots::folderPrefix);
        };
    }
    auto watcher = std::make_shared<DirectoryWatcher>(
        QStringList{path}, chrome ? timing_.chromeLatency : timing_.rootLatency, !chrome, queue_,
        [weak = weak_from_this(), root](const QStringList& paths, const QList<quint32>& flags) {
            if (const auto self = weak.lock()) {
                self->onEvents(paths, flags, root);
            }
        },
        std::move(scope));
    watcher->start();
    return watcher;
}

void Engine::stop() {
    if (stopRequested_.exchange(true)) {
        return;
    }
    delivering_->store(false);
    const auto body = [this] {
        stopped_ = true;
        onSnapshot_ = nullptr;
        for (const auto& watcher : watchers_) {
            watcher->stop();
        }
        watchers_.clear();
        for (const auto& [path, watcher] : folderWatchers_) {
            watcher->stop();
        }
        folderWatchers_.clear();
        retentionTimer_.cancel();
        retentionTimer_ = SerialQueue::Handle();
        watching_ = false;
        dropScanWork();
        ahead_.clear();
        ingest_->dropAhead();
        store_->flush();
    };
    if (queue_->isCurrent()) {
        body();
    } else {
        queue_->sync(body);
    }
}

void Engine::update(const Config& config) {
    runOnQueue([config](Engine& e) { e.applyConfig(config); });
}

void Engine::hide(const QStringList& ids) {
    mutateStore([ids](Store& store) {
        for (const QString& id : ids) {
            store.hide(id);
        }
    });
}

void Engine::unhide(const QStringList& ids) {
    mutateStore([ids](Store& store) {
        for (const QString& id : ids) {
            store.unhide(id);
        }
    });
}

void Engine::deleteItems(const QStringList& ids) {
    mutateStore([ids](Store& store) { store.deleteItems(ids); });
}

void Engine::deleteAll(const QSet<QString>& sparing) {
    mutateStore([sparing](Store& store) { store.deleteAll(sparing); });
}

void Engine::deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering) {
    mutateStore([sparing, covering](Store& store) {
        QStringList ids;
        for (const QString& id : covering) {
            if (!sparing.contains(id) &&
                (store.items().contains(id) || store.hiddenItems().contains(id))) {
                ids.append(id);
            }
        }
        store.deleteItems(ids);
    });
}

void Engine::markSeen(const QStringList& ids) {
    runOnQueue([ids](Engine& e) {
        if (e.stopped_) {
            return;
        }
        e.store_->markSeen(ids, e.now_());
        e.schedulePublish();
    });
}

void Engine::mutateStore(std::function<void(Store&)> change) {
    runOnQueue([change = std::move(change)](Engine& e) {
        if (e.stopped_) {
            return;
        }
        change(*e.store_);
        e.schedulePublish();
    });
}

// --- Start-up ---

void Engine::bootstrap() {
    // A start cut short before its pass was through left the moment it began: this one looks back
    // from there, so that what that pass was yet to take (screenshots, transcript lines, files of
    // watched folders, by now older than the recent window) is taken now. Never from a moment
    // ahead of the clock, nor from before what the retention period keeps anyway.
    const Date began = now_();
    Date from = began;
    if (const auto unfinished = store_->unfinishedStart(); unfinished && *unfinished < began) {
        from = std::max(*unfinished, Ingest::retentionCutoff(config_.retentionDays, began));
    }
    startWindow_ = config_.recentWindow + began.since(from);
    store_->beginStart(from);

    applyRetention();
    refreshTitles();
    const QStringList recent = transcripts_->recent(startWindow_, now_());
    for (const QString& path : recent) {
        readTranscript(path);
    }
    resolveScratchRoot();
    if (!halting()) {
        const Batch batch(*this);
        for (const ScratchFile& file : scanner_.files()) {
            if (halting()) {
                break;
            }
            ingestFile(file.path, Source::scratchpad, file.sessionID, file.slug, true,
                       Stamp{file.size, file.modified});
        }
        for (const QUrl& url : ChromeScreenshots::files(
                 paths_.chromeRoot, startWindow_, now_(),
                 [this](const QString&folder, const QString&reason) {
                     noteRefused(QStringLiteral("screenshot folder"), folder, reason);
                 })) {
            ingestFile(url.toLocalFile(), Source::chrome, std::nullopt, std::nullopt, true);
        }
    }
    if (halting()) {
        startPass_ = StartPass::cut;
    }
    store_->setNeedsSave();
    publish();
    // What the start's pictures and transcripts took goes back to the system.
    MallocArenas::release();
}

void Engine::noteStartThrough() {
    if (startPass_ != StartPass::scanning || isScanning()) {
        return;
    }
    startPass_ = StartPass::through;
    store_->finishStart();
}

void Engine::dropScanWork() {
    if (startPass_ == StartPass::scanning && isScanning()) {
        startPass_ = StartPass::cut;
    }
    scans_.clear();
    folderFiles_.clear();
    folderFilesQueued_.clear();
}

void Engine::resolveScratchRoot() {
    scanner_.root =
        OstrelPaths::folderURL(OstrelPaths::canonical(paths_.scratchRoot.toLocalFile()));
    if (const auto reason = ScratchpadScanner::distrust(scanner_.root.toLocalFile())) {
        noteRefused(QStringLiteral("scratch root"), scanner_.root.toLocalFile(), *reason);
    }
}

// --- Configuration ---

void Engine::syncFolderWatchers(Date scansBegan) {
    const QSet<QString> roots(folderRoots_.begin(), folderRoots_.end());
    for (auto it = folderWatchers_.begin(); it != folderWatchers_.end();) {
        if (!roots.contains(it->first)) {
            it->second->stop();
            it = folderWatchers_.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& path : folderRoots_) {
        if (folderWatchers_.contains(path) || !FileStat::stat(path)) {
            continue;
        }
        folderWatchers_[path] = makeWatcher(path, OstrelPaths::folderURL(path), false, scansBegan);
    }
}

void Engine::applyConfig(const Config& config) {
    if (stopped_) {
        return;
    }
    const QSet<QString> old(folderRoots_.begin(), folderRoots_.end());
    config_ = config;
    config_.paths = paths_;
    folderRoots_ = config_.folderRoots();
    ingest_->filter = config_.itemFilter();
    scanner_.extraExtensions = config_.extraExtensions;
    ingest_->retentionDays = config_.retentionDays;
    applyRetention();
    if (watching_) {
        syncFolderWatchers(Date::now()); // the scans below list nothing before this job ends
    }
    for (const QString& root : QStringList(folderRoots_)) {
        if (!old.contains(root)) {
            scanFolder(root);
        }
    }
    publish();
}

// --- Publishing ---

void Engine::schedulePublish() {
    if (publishScheduled_) {
        return;
    }
    publishScheduled_ = true;
    later(timing_.publishDelay, [](Engine& e) {
        e.publishScheduled_ = false;
        e.publish();
    });
}

void Engine::publish() {
    if (stopped_ || !onSnapshot_) {
        return;
    }
    const std::pair<qint64, qint64> current{store_->revision(), config_.maxItems};
    if (published_ == current) {
        return;
    }
    published_ = current;
    postToMain([handler = onSnapshot_, snapshot = store_->snapshot(config_.maxItems),
                generation = generation_, delivering = delivering_] {
        if (delivering->load()) {
            handler(snapshot, generation);
        }
    });
}

// --- Log lines ---

void Engine::noteRefused(const QString& what, const QString& folder, const QString& reason) {
    if (refusedLogged_.contains(folder)) {
        return;
    }
    refusedLogged_.insert(folder);
    qCWarning(lcIngest).noquote() << QStringLiteral("%1 refused: %2: %3").arg(what, folder, reason);
}

void Engine::noteWatched() const {
    QStringList folders{paths_.scratchRoot.toLocalFile(), paths_.projectsRoot().toLocalFile(),
                        paths_.chromeRoot.toLocalFile() + QStringLiteral(" (screenshot folders)")};
    folders += folderRoots_;
    qCInfo(lcIngest).noquote()
        << QStringLiteral("watching %1").arg(folders.join(QStringLiteral(", ")));
}

// --- Retention and titles ---

void Engine::applyRetention() {
    const Date now = now_();
    store_->purge(now.adding(static_cast<double>(config_.retentionDays) * -86400.0));
    transcripts_->prune(config_.recentWindow, waitingLimit, now);
    noteHeldTranscripts();
    if (stamps_.size() > stampLimit) {
        stamps_.clear();
    }
    // Held transcripts let go by the timer's reads or by the pruning.
    heldReads_.removeIf([this](const auto& entry) {
        return !entry.value().armed && !transcripts_->isWaiting(entry.key());
    });
    retryFailed();
}

void Engine::refreshTitles() {
    const Date previous = store_->previousRunAt().value_or(Date(-1.0e300));
    // A copy: noting a title writes sessions back into the store.
    const QList<Session> sessions = store_->sessions().values();
    for (const Session& session : sessions) {
        if (halting()) {
            return;
        }
        if (!session.slug || session.id == Session::unsortedID) {
            continue;
        }
        const QString path = transcripts_->path(*session.slug, session.id);
        const bool untitled = !session.agentName && !session.customTitle && !session.aiTitle;
        const auto st = FileStat::stat(path);
        if (!st) {
            continue;
        }
        const Date modified = st->modified;
        const auto checked = store_->titleChecks().constFind(session.id);
        const bool uncheckedChange =
            untitled && (checked == store_->titleChecks().constEnd() || *checked != modified);
        if (!(modified > previous) && !uncheckedChange) {
            continue;
        }
        ++titleTailReads_;
        for (const SessionTitle& title :
             TranscriptTailer::titles(QUrl::fromLocalFile(path), titleTailBytes)) {
            ingest_->noteTitle(title, std::nullopt);
        }
        if (untitled) {
            store_->setTitleChecked(session.id, modified);
        }
    }
    ingest_->backfillFirstPrompts();
}

} // namespace ostrel
