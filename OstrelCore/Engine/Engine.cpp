#include "OstrelCore/Engine/Engine.h"

#include "OstrelCore/Engine/ChromeScreenshots.h"
#include "OstrelCore/Engine/TranscriptTailer.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"
#include "Platform/HandOff.h"
#include "Platform/Log.h"
#include "Platform/PseudoFileSystem.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cmath>

#include <dirent.h>
#include <sys/stat.h>

namespace ostrel {

namespace {

std::atomic<Engine::Generation> lastGeneration{0};

QString fileName(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// Entries of a folder with their types as the listing gives them; none when it cannot be read.
std::optional<QList<std::pair<QString, unsigned char>>> entries(const QString& folder) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    QList<std::pair<QString, unsigned char>> out;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (auto exact = FileStat::exactName(name)) {
            out.append({std::move(*exact), entry->d_type});
        } else {
            FileStat::notePassedOver(folder, name);
        }
    }
    ::closedir(dir);
    return out;
}

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
    return std::shared_ptr<Engine>(
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
    ingest_ = std::make_unique<Ingest>(store_, config_.itemFilter(), config_.retentionDays, now_);
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
    runOnQueue([](Engine& e) { e.bootstrap(); });
    runOnQueue([](Engine& e) {
        for (const QString& root : QStringList(e.folderRoots_)) {
            e.scanFolder(root);
        }
        e.publish();
    });
    if (!watch) {
        return;
    }
    runOnQueue([](Engine& e) {
        e.watching_ = true;
        e.noteWatched();
        e.syncFolderWatchers();
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
                                                      bool chrome, bool large) {
    FileEventStream::Options scope;
    scope.batchLimit = timing_.eventBatchLimit;
    // A watched folder may be "/" or the home folder: its watches are added on the watcher's own
    // thread, so that the queue never waits for them.
    scope.armInBackground = large;
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
    applyRetention();
    refreshTitles();
    const QStringList recent = transcripts_->recent(config_.recentWindow, now_());
    for (const QString& path : recent) {
        readTranscript(path);
    }
    resolveScratchRoot();
    {
        const Batch batch(*this);
        for (const ScratchFile& file : scanner_.files()) {
            ingestFile(file.url.toLocalFile(), Source::scratchpad, file.sessionID, file.slug, true);
        }
        for (const QUrl& url : ChromeScreenshots::files(
                 paths_.chromeRoot, config_.recentWindow, now_(),
                 [this](const QString&folder, const QString&reason) {
                     noteRefused(QStringLiteral("screenshot folder"), folder, reason);
                 })) {
            ingestFile(url.toLocalFile(), Source::chrome, std::nullopt, std::nullopt, true);
        }
    }
    store_->setNeedsSave();
    publish();
}

void Engine::resolveScratchRoot() {
    scanner_.root =
        OstrelPaths::folderURL(OstrelPaths::canonical(paths_.scratchRoot.toLocalFile()));
    if (const auto reason = ScratchpadScanner::distrust(scanner_.root.toLocalFile())) {
        noteRefused(QStringLiteral("scratch root"), scanner_.root.toLocalFile(), *reason);
    }
}

void Engine::scanFolder(const QString& path) {
    const auto st = FileStat::stat(path);
    if (!st || !st->isDirectory()) {
        return;
    }
    for (FolderScan& scan : scans_) {
        if (scan.root == path) {
            // What it has yet to list it will see as it is now, but a change in a folder it has
            // already passed would be lost: it starts over once, when it is through.
            scan.again = true;
            return;
        }
    }
    struct stat top {};
    if (::stat(QFile::encodeName(path).constData(), &top) != 0 ||
        skipsFolder(path, top.st_dev, 0)) {
        return;
    }
    FolderScan scan;
    scan.root = path;
    scan.rootDevice = top.st_dev;
    scan.cutoff = now_().adding(-config_.recentWindow);
    scan.folders.emplace_back(path, top.st_dev);
    scans_.push_back(std::move(scan));
    scheduleScanSlice();
}

void Engine::scheduleScanSlice() {
    if (scanScheduled_) {
        return;
    }
    scanScheduled_ = true;
    queue_->async([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->scanScheduled_ = false;
            self->scanSlice();
        }
    });
}

bool Engine::skipsFolder(const QString& path, dev_t device, dev_t parentDevice) const {
    if (path == supportCanonical_) {
        return true;
    }
    // Pseudo file systems are mounted: only a change of device can lead into one.
    return device != parentDevice && PseudoFileSystem::holds(path);
}

void Engine::scanSlice() {
    if (stopped_ || stopRequested_.load()) {
        scans_.clear();
        folderFiles_.clear();
        folderFilesQueued_.clear();
        return;
    }
    qsizetype budget = std::max<qsizetype>(1, timing_.scanSliceEntries);
    const qsizetype admissions = std::max<qsizetype>(1, timing_.sliceAdmissions);
    bool offered = false;
    const Batch batch(*this);
    const auto full = [&] { return batch_ && batch_->size() >= admissions; };
    // Files reported changed come first: they are what the user just did.
    while (!folderFiles_.isEmpty() && !full()) {
        const QString path = folderFiles_.takeFirst();
        folderFilesQueued_.remove(path);
        ingestFile(path, Source::folder, std::nullopt, std::nullopt, false);
        offered = true;
    }
    while (budget > 0 && !scans_.empty() && !full()) {
        FolderScan& scan = scans_.front();
        if (scan.next >= scan.listed.size()) {
            scan.listed.clear();
            scan.next = 0;
            if (scan.folders.empty() && scan.again) {
                scan.again = false;
                scan.cutoff = now_().adding(-config_.recentWindow);
                scan.folders.emplace_back(scan.root, scan.rootDevice);
            }
            if (scan.folders.empty()) {
                scans_.pop_front();
                continue;
            }
            std::tie(scan.folder, scan.device) = std::move(scan.folders.back());
            scan.folders.pop_back();
            scan.listed = entries(scan.folder).value_or(decltype(scan.listed)());
            --budget;
            continue;
        }
        const auto& [name, type] = scan.listed.at(scan.next++);
        --budget;
        if (name.startsWith(u'.') || (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN)) {
            continue;
        }
        const QString child =
            scan.folder == QLatin1String("/") ? u'/' + name : scan.folder + u'/' + name;
        struct stat st {};
        if (::lstat(QFile::encodeName(child).constData(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!skipsFolder(child, st.st_dev, scan.device)) {
                scan.folders.emplace_back(child, st.st_dev);
            }
        } else if (S_ISREG(st.st_mode) && Date::fromTimespec(st.st_mtim) >= scan.cutoff) {
            ingestFile(child, Source::folder, std::nullopt, std::nullopt, true);
            offered = true;
        }
    }
    if (offered) {
        schedulePublish();
    }
    if (isScanning()) {
        scheduleScanSlice();
    }
}

void Engine::syncFolderWatchers() {
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
        folderWatchers_[path] = makeWatcher(path, OstrelPaths::folderURL(path), false, true);
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
        syncFolderWatchers();
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

void Engine::logOutcome(const Ingest::Outcome& outcome, const QString& source) {
    switch (outcome.kind) {
    case Ingest::Outcome::Kind::added:
        qCInfo(lcIngest).noquote()
            << QStringLiteral("added %1 from %2").arg(outcome.text, Log::privateArg(source));
        break;
    case Ingest::Outcome::Kind::rejected:
        qCDebug(lcIngest).noquote()
            << QStringLiteral("skipped %1: %2").arg(Log::privateArg(source), outcome.text);
        break;
    case Ingest::Outcome::Kind::merged:
    case Ingest::Outcome::Kind::updated:
        break;
    }
}

std::optional<qsizetype> Engine::applyBatch(const TranscriptBatch& batch) {
    if (batch.isEmpty()) {
        return std::nullopt;
    }
    std::optional<qsizetype> failed;
    const QList<Ingest::Outcome> outcomes = ingest_->apply(batch);
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        logOutcome(outcomes.at(i), QStringLiteral("transcript"));
        if (!failed && outcomes.at(i).mayPassLater()) {
            failed = i;
        }
    }
    store_->saveIfOverdue(timing_.progressSaveInterval);
    return failed;
}

void Engine::readTranscript(const QString& path) {
    transcripts_->read(path, now_(),
                       [this](const TranscriptBatch& batch) { return applyBatch(batch); });
    if (!transcripts_->waiting().isEmpty()) {
        scheduleRetry();
    }
}

// --- Change events ---

void Engine::onEvents(const QStringList& paths, const QList<quint32>& flags, const QUrl& root) {
    if (stopped_) {
        return;
    }
    if (std::any_of(flags.begin(), flags.end(), &DirectoryWatcher::mustRescan)) {
        scheduleRescan(root);
    }
    handleEvents(paths);
}

void Engine::handleEvents(const QStringList& paths) {
    if (stopped_) {
        return;
    }
    // The projects folder may have come into being behind a link since the last look.
    transcripts_->resolve();
    if (!retries_.isEmpty()) {
        QSet<QString> folders;
        for (const QString& path : paths) {
            folders.insert(path.left(path.lastIndexOf(u'/')));
        }
        retryFailed(&folders);
    }
    QList<QUrl> scratchpads;
    QStringList transcripts;
    bool folderFileQueued = false;
    for (const QString& path : paths) {
        if (const auto scratchpad = scanner_.scratchpad(path)) {
            if (!scratchpads.contains(*scratchpad)) {
                scratchpads.append(*scratchpad);
            }
            continue;
        }
        if (transcripts_->owns(path)) {
            if (!transcripts.contains(path)) {
                transcripts.append(path);
            }
            continue;
        }
        if (ChromeScreenshots::matches(path)) {
            if (!pendingChrome_.contains(path)) {
                pendingChrome_.insert(path);
                later(config_.chromeHold, [path](Engine& e) { e.releaseChromeHold(path); });
            }
            continue;
        }
        if (ItemFilter::isInside(path, supportCanonical_)) {
            continue; // our own copies and thumbnails, under a watched folder such as home
        }
        for (const QString& root : folderRoots_) {
            if (ItemFilter::isInside(path, root)) {
                // A watched folder may be the home folder or "/": its files wait for the scan's
                // slices, behind scratchpads and transcripts.
                if (!folderFilesQueued_.contains(path)) {
                    folderFilesQueued_.insert(path);
                    folderFiles_.append(path);
                }
                folderFileQueued = true;
                break;
            }
        }
    }
    if (folderFileQueued) {
        scheduleScanSlice();
    }
    if (scratchpads.isEmpty() && transcripts.isEmpty()) {
        return;
    }
    for (const QString& path : transcripts) {
        // Each read of a transcript whose capture failed goes over everything after that line
        // again: the retry timer does it, not every line the session appends meanwhile.
        if (!transcripts_->isWaiting(path)) {
            readTranscript(path);
        }
    }
    for (const QUrl& scratchpad : scratchpads) {
        const QList<ScratchFile> files = scanner_.files(scratchpad);
        if (files.isEmpty()) {
            continue;
        }
        // The session's prompts must be in the store before its files are offered.
        const QString transcript = transcripts_->path(files.first().slug, files.first().sessionID);
        if (!transcripts_->isOpen(transcript) && FileStat::exists(transcript)) {
            readTranscript(transcript);
        }
        const Batch batch(*this);
        for (const ScratchFile& file : files) {
            ingestFile(file.url.toLocalFile(), Source::scratchpad, file.sessionID, file.slug,
                       false);
        }
    }
    schedulePublish();
}

// --- Admission and settling ---

std::optional<Engine::Stamp> Engine::fileStamp(const QString& path) const {
    const auto st = FileStat::lstat(path);
    if (!st || !st->isRegular()) {
        return std::nullopt;
    }
    return Stamp{st->size, st->modified};
}

void Engine::ingestFile(const QString& path, Source source, const std::optional<QString>& sessionID,
                        const std::optional<QString>& slug, bool bootstrap) {
    if (fileName(path).startsWith(u'.')) {
        return;
    }
    const auto stamp = fileStamp(path);
    if (!stamp) {
        return;
    }
    if (const auto it = stamps_.constFind(path); it != stamps_.constEnd() && *it == *stamp) {
        return;
    }
    QString canonical;
    if (bootstrap) {
        canonical = OstrelPaths::canonical(path);
        if (store_->hasIngested(canonical, stamp->modified)) {
            stamps_.insert(path, *stamp);
            return;
        }
    }
    if (settling_.contains(path)) {
        return;
    }
    const double age = now_().since(stamp->modified);
    if (age < timing_.settleInterval) {
        settling_.insert(path, *stamp);
        scheduleSettle_(timing_.settleInterval,
                        [weak = weak_from_this(), path, source, sessionID, slug] {
                            if (const auto self = weak.lock()) {
                                self->checkSettled(path, source, sessionID, slug, 1);
                            }
                        });
        return;
    }
    stamps_.insert(path, *stamp);
    admit(path, source, sessionID, slug, *stamp, bootstrap, canonical);
}

void Engine::admit(const QString& path, Source source, const std::optional<QString>& sessionID,
                   const std::optional<QString>& slug, const Stamp& stamp, bool bootstrap,
                   const QString& canonical) {
    Candidate candidate;
    candidate.source = source;
    candidate.payload = Payload::file(QUrl::fromLocalFile(path));
    candidate.sessionID = sessionID;
    candidate.slug = slug;
    candidate.createdAt = stamp.modified;
    if (batch_) {
        batch_->append(Admission{path, std::move(candidate), stamp, bootstrap, canonical});
        return;
    }
    admitted(path, candidate, ingest_->ingest(candidate));
}

void Engine::admitted(const QString& path, const Candidate& candidate,
                      const Ingest::Outcome& outcome) {
    logOutcome(outcome, path);
    if (outcome.mayPassLater()) {
        // Unchanged in size and date, it would never be offered again: a file made readable
        // (chmod) or a copy that failed for space must pass at the next chance.
        stamps_.remove(path);
        if (retries_.size() < retryLimit || retries_.contains(path)) {
            retries_.insert(path, Retry{candidate.source, candidate.sessionID, candidate.slug});
            scheduleRetry();
        }
    } else if (retries_.remove(path) && !outcome.isRejected()) {
        ++recovered_;
    }
}

void Engine::scheduleRetry() {
    if (retryScheduled_ || stopped_) {
        return;
    }
    retryScheduled_ = true;
    later(retryDelay_, [](Engine& e) { e.retryWaiting(); });
}

void Engine::retryWaiting() {
    if (stopped_) {
        return;
    }
    // The reads below would arm the timer again at the old delay: this pass decides it.
    const QStringList transcripts = transcripts_->waiting();
    {
        const Batch batch(*this);
        retryFailed();
    }
    for (const QString& path : transcripts) {
        const qsizetype before = store_->items().size();
        readTranscript(path);
        if (!transcripts_->waiting().contains(path)) {
            recovered_ += std::max<qsizetype>(0, store_->items().size() - before);
        }
    }
    schedulePublish();
    if (recovered_ > 0) {
        qCInfo(lcIngest).noquote()
            << QStringLiteral("%1 captures that had failed went through on another try")
                   .arg(recovered_);
        recovered_ = 0;
    }
    retryScheduled_ = false;
    if (retries_.isEmpty() && transcripts_->waiting().isEmpty()) {
        retryDelay_ = timing_.retryInterval;
        return;
    }
    // Still failing: the cause is lasting, so look less often.
    retryDelay_ =
        std::min(retryDelay_ * 2, std::max(timing_.retryMaxInterval, timing_.retryInterval));
    scheduleRetry();
}

void Engine::retryFailed(const QSet<QString>* folders) {
    if (retries_.isEmpty()) {
        return;
    }
    const QHash<QString, Retry> pending = retries_;
    for (auto it = pending.constBegin(); it != pending.constEnd(); ++it) {
        const QString& path = it.key();
        if (folders != nullptr && !folders->contains(path.left(path.lastIndexOf(u'/')))) {
            continue;
        }
        if (!fileStamp(path)) {
            retries_.remove(path); // gone, or no longer a regular file
            continue;
        }
        ingestFile(path, it->source, it->sessionID, it->slug, false);
    }
}

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

Engine::Batch::Batch(Engine& engine) : engine_(engine), outermost_(!engine.batch_) {
    if (outermost_) {
        engine_.batch_.emplace();
    }
}

Engine::Batch::~Batch() {
    if (outermost_) {
        engine_.offerBatch();
    }
}

void Engine::offerBatch() {
    const QList<Admission> pending = std::move(*batch_);
    batch_.reset();
    if (pending.isEmpty()) {
        return;
    }
    QList<Candidate> candidates;
    candidates.reserve(pending.size());
    for (const Admission& one : pending) {
        candidates.append(one.candidate);
    }
    ingest_->ingestEach(
        candidates,
        [this, &pending](qsizetype i) {
            // At start, one by one, a file would have been checked against the store as the
            // files before it left it; the same check again now that they have.
            const Admission& one = pending.at(i);
            return !one.bootstrap ||
                   !store_->hasIngested(one.canonical.isEmpty() ? OstrelPaths::canonical(one.path)
                                                                : one.canonical,
                                        one.stamp.modified);
        },
        [this, &pending](qsizetype i, const Ingest::Outcome& outcome) {
            admitted(pending.at(i).path, pending.at(i).candidate, outcome);
            store_->saveIfOverdue(timing_.progressSaveInterval);
        });
}

void Engine::checkSettled(const QString& path, Source source,
                          const std::optional<QString>& sessionID,
                          const std::optional<QString>& slug, qint64 attempt) {
    if (stopped_) {
        return;
    }
    const auto previous = settling_.constFind(path);
    if (previous == settling_.constEnd()) {
        return;
    }
    const auto stamp = fileStamp(path);
    if (!stamp) {
        settling_.remove(path);
        return;
    }
    if (*stamp == *previous) {
        settling_.remove(path);
        if (const auto it = stamps_.constFind(path); it == stamps_.constEnd() || *it != *stamp) {
            stamps_.insert(path, *stamp);
            admit(path, source, sessionID, slug, *stamp);
        }
        schedulePublish();
        return;
    }
    settling_.insert(path, *stamp);
    const qint64 next = attempt + 1;
    scheduleSettle_(settleDelay(next, timing_),
                    [weak = weak_from_this(), path, source, sessionID, slug, next] {
                        if (const auto self = weak.lock()) {
                            self->checkSettled(path, source, sessionID, slug, next);
                        }
                    });
}

double Engine::settleDelay(qint64 attempt, const Timing& timing) {
    if (attempt <= timing.settleFastAttempts) {
        return timing.settleInterval;
    }
    // The exponent is bounded before it is used: a file that changes for hours would otherwise
    // overflow it.
    const qint64 exponent = std::min<qint64>(attempt - timing.settleFastAttempts, 32);
    return std::min(timing.settleInterval * std::ldexp(1.0, static_cast<int>(exponent)),
                    timing.settleMaxDelay);
}

void Engine::releaseChromeHold(const QString& path) {
    if (stopped_) {
        return;
    }
    pendingChrome_.remove(path);
    // The temporary folder is open to every user: only this user's own screenshot folders count.
    if (ChromeScreenshots::accepts(path)) {
        ingestFile(path, Source::chrome, std::nullopt, std::nullopt, false);
    } else {
        const QString folder = path.left(path.lastIndexOf(u'/'));
        const auto st = FileStat::lstat(folder);
        if (st && st->isSymlink()) {
            noteRefused(QStringLiteral("screenshot folder"), folder, QStringLiteral("a link"));
        } else if (const auto reason = ScratchpadScanner::distrust(folder)) {
            noteRefused(QStringLiteral("screenshot folder"), folder, *reason);
        }
    }
    schedulePublish();
}

// --- Rescans ---

void Engine::scheduleRescan(const QUrl& root) {
    const bool wasEmpty = pendingRescans_.isEmpty();
    if (!pendingRescans_.contains(root)) {
        pendingRescans_.append(root);
    }
    if (!wasEmpty) {
        return;
    }
    later(rescanWait_, [](Engine& e) { e.flushRescans(); });
}

void Engine::flushRescans() {
    if (stopped_) {
        return;
    }
    const QList<QUrl> roots = std::exchange(pendingRescans_, {});
    for (const QUrl& root : roots) {
        rescan(root);
    }
}

void Engine::rescan(const QUrl& root) {
    ++rescans_;
    QStringList paths;
    if (root == paths_.scratchRoot) {
        resolveScratchRoot();
        for (const ScratchFile& file : scanner_.files()) {
            const QString local = file.url.toLocalFile();
            const QString folder = OstrelPaths::canonical(local.left(local.lastIndexOf(u'/')));
            if (!paths.contains(folder)) {
                paths.append(folder);
            }
        }
    } else if (root == paths_.projectsRoot()) {
        paths = transcripts_->recent(config_.recentWindow, now_());
    } else if (root == paths_.chromeRoot) {
        for (const QUrl& url : ChromeScreenshots::files(
                 paths_.chromeRoot, config_.recentWindow, now_(),
                 [this](const QString&folder, const QString&reason) {
                     noteRefused(QStringLiteral("screenshot folder"), folder, reason);
                 })) {
            paths.append(url.toLocalFile());
        }
    } else if (folderRoots_.contains(root.toLocalFile())) {
        scanFolder(root.toLocalFile());
    }
    qCInfo(lcIngest).noquote()
        << QStringLiteral("events dropped, rescanning %1 paths").arg(paths.size());
    handleEvents(paths);
    retryFailed();
}

// --- Retention and titles ---

void Engine::applyRetention() {
    const Date now = now_();
    store_->purge(now.adding(static_cast<double>(config_.retentionDays) * -86400.0));
    transcripts_->prune(config_.recentWindow, waitingLimit, now);
    if (stamps_.size() > stampLimit) {
        stamps_.clear();
    }
    retryFailed();
}

void Engine::refreshTitles() {
    const Date previous = store_->previousRunAt().value_or(Date(-1.0e300));
    // A copy: noting a title writes sessions back into the store.
    const QList<Session> sessions = store_->sessions().values();
    for (const Session& session : sessions) {
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
