// Admission: a file is offered once it has stopped changing, files admitted together are read
// and decoded on the workers as one batch, and captures that failed for a passing reason are
// tried again on a timer.
#include "OstrelCore/Engine/Engine.h"

#include "OstrelCore/Engine/ChromeScreenshots.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/MallocArenas.h"

#include <QStringBuilder>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace ostrel {

namespace {

QString fileName(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

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

// --- Admission and settling ---

std::optional<Engine::Stamp> Engine::fileStamp(const QString& path, bool* refused) const {
    const auto st = FileStat::lstat(path);
    if (refused != nullptr) {
        *refused = !st && errno == EACCES;
    }
    if (!st || !st->isRegular()) {
        return std::nullopt;
    }
    return Stamp{st->size, st->modified};
}

void Engine::holdForRetry(const QString& path, Source source,
                          const std::optional<QString>& sessionID,
                          const std::optional<QString>& slug, std::optional<Date> modified,
                          bool roomFailed) {
    if (modified && !std::isfinite(modified->seconds)) {
        modified.reset();
    }
    const auto held = retries_.constFind(path);
    if (held == retries_.constEnd() &&
        retries_.size() >= std::max<qsizetype>(1, timing_.retryLimit)) {
        turnAway(source, modified, roomFailed);
        return;
    }
    Retry retry{source, sessionID, slug, std::nullopt};
    if (held != retries_.constEnd()) {
        retry.since = held->since;
    }
    if (keepsMoment(source, modified, roomFailed)) {
        keepEarliest(retry.since, modified->seconds);
    }
    retries_.insert(path, retry);
    tellHeld();
    scheduleRetry();
}

void Engine::turnAway(Source source, std::optional<Date> modified, bool roomFailed) {
    if (!turnedAway_) {
        turnedAway_.emplace();
        if (!std::exchange(turnedAwayLogged_, true)) {
            qCWarning(lcIngest).noquote()
                << QStringLiteral("%1 captures wait for another try, the most kept: the others "
                                  "are looked for again in their folders once there is room")
                       .arg(retries_.size());
        }
    }
    TurnedAway& away = *turnedAway_;
    switch (source) {
    case Source::scratchpad:
        away.scratchpad = true;
        break;
    case Source::chrome:
        away.chrome = true;
        break;
    case Source::folder:
        away.folder = true;
        break;
    case Source::transcript:
        break;
    }
    // One that could not be looked at (a folder on its way not searchable) is looked for from
    // when it was turned away.
    away.from = std::min(away.from, modified ? modified->seconds : now_().seconds);
    // As for a held file, so that a start after a quit before the look back takes it.
    if (keepsMoment(source, modified, roomFailed)) {
        keepEarliest(away.since, modified->seconds);
        tellHeld();
    }
}

bool Engine::keepsMoment(Source source, const std::optional<Date>& modified, bool roomFailed) {
    // A start lists every scratch file whatever its age: only the other roads need the store to
    // keep a moment to look back from.
    return roomFailed && modified && source != Source::scratchpad;
}

void Engine::keepEarliest(std::optional<double>& kept, double at) {
    if (kept && *kept <= at) {
        return;
    }
    if (kept) {
        forgetMoment(*kept);
    }
    kept = at;
    heldMoments_.insert(at);
}

void Engine::lookBack() {
    // Only once the held files leave room to hold what fails again: those that went through, or
    // are gone.
    if (!turnedAway_ || halting() ||
        retries_.size() >= std::max<qsizetype>(1, timing_.retryLimit)) {
        return;
    }
    const TurnedAway away = *std::exchange(turnedAway_, std::nullopt);
    // The earliest moment of the looks under way stays until they are through: what fails again
    // is held, or turned away anew, with a moment of its own.
    if (away.since) {
        forgetMoment(*away.since);
        keepEarliest(lookMoment_, *away.since);
    }
    lookingBack_ = true;
    // Never from before what the retention period keeps anyway; a second more than the dates
    // say, as the cutoffs are taken from a later reading of the clock.
    const Date now = now_();
    const Date from =
        std::max(Date(away.from), Ingest::retentionCutoff(config_.retentionDays, now));
    const double window = std::max(config_.recentWindow, now.since(from) + 1.0);
    {
        const Batch batch(*this);
        if (away.scratchpad) {
            for (const ScratchFile& file : scanner_.files()) {
                if (halting()) {
                    break;
                }
                if (!retries_.contains(file.path)) {
                    ingestFile(file.path, Source::scratchpad, file.sessionID, file.slug, true,
                               Stamp{file.size, file.modified});
                }
            }
        }
        if (away.chrome) {
            for (const QUrl& url : ChromeScreenshots::files(paths_.chromeRoot, window, now)) {
                if (!retries_.contains(url.toLocalFile())) {
                    ingestFile(url.toLocalFile(), Source::chrome, std::nullopt, std::nullopt, true);
                }
            }
        }
    }
    if (away.folder) {
        for (const QString& root : QStringList(folderRoots_)) {
            scanFolder(root, window);
        }
    }
    noteLookThrough();
}

void Engine::noteLookThrough() {
    // A stop leaves the moment kept: the next start looks back from it.
    if (!lookingBack_ || isScanning() || halting()) {
        return;
    }
    lookingBack_ = false;
    if (lookMoment_) {
        forgetMoment(*std::exchange(lookMoment_, std::nullopt));
        tellHeld();
    }
}

void Engine::forgetMoment(double at) {
    if (const auto it = heldMoments_.find(at); it != heldMoments_.end()) {
        heldMoments_.erase(it);
    }
}

bool Engine::dropRetry(const QString& path) {
    const auto held = retries_.constFind(path);
    if (held == retries_.constEnd()) {
        return false;
    }
    if (held->since) {
        forgetMoment(*held->since);
    }
    retries_.erase(held);
    tellHeld();
    return true;
}

void Engine::noteHeldTranscripts() {
    // A read that a stop cuts short keeps its held line held (TranscriptSet::read()), and with it
    // the moment the next start needs; a line held by a read under way as the stop came is noted
    // like any.
    if (heldTranscripts_.isEmpty() && !transcripts_->anyWaiting()) {
        return;
    }
    const QStringList waiting = transcripts_->waiting();
    for (auto it = heldTranscripts_.begin(); it != heldTranscripts_.end();) {
        if (waiting.contains(it.key())) {
            ++it;
            continue;
        }
        forgetMoment(it.value());
        it = heldTranscripts_.erase(it);
    }
    for (const QString& path : waiting) {
        if (heldTranscripts_.contains(path)) {
            continue;
        }
        // A start finds a transcript by its modification date, which only moves on from here:
        // this one is no later than the held line's. One that cannot be looked at now cannot be
        // read by a start either.
        if (const auto st = FileStat::stat(path); st && std::isfinite(st->modified.seconds)) {
            heldTranscripts_.insert(path, st->modified.seconds);
            heldMoments_.insert(st->modified.seconds);
        }
    }
    tellHeld();
}

void Engine::tellHeld() {
    const std::optional<double> oldest =
        heldMoments_.empty() ? std::nullopt : std::optional<double>(*heldMoments_.begin());
    if (oldest == heldTold_) {
        return;
    }
    heldTold_ = oldest;
    store_->holdFrom(oldest ? std::optional<Date>(Date(*oldest)) : std::nullopt);
}

void Engine::ingestFile(const QString& path, Source source, const std::optional<QString>& sessionID,
                        const std::optional<QString>& slug, bool bootstrap,
                        const std::optional<Stamp>& seen) {
    if (fileName(path).startsWith(u'.')) {
        return;
    }
    bool refused = false;
    const auto stamp = seen ? seen : fileStamp(path, &refused);
    if (!stamp) {
        if (refused) {
            holdForRetry(path, source, sessionID, slug);
        }
        return;
    }
    if (const auto it = stamps_.constFind(path); it != stamps_.constEnd() && *it == *stamp) {
        return;
    }
    QString canonical;
    if (bootstrap) {
        canonical = canonicalFile(path);
        if (store_->hasIngested(canonical, stamp->modified)) {
            stamps_.insert(store_->sharedPath(path), *stamp);
            return;
        }
    }
    if (settling_.contains(path)) {
        return;
    }
    const double age = now_().since(stamp->modified);
    if (age < timing_.settleInterval) {
        settling_.insert(path, *stamp);
        scheduleSettle_(nextLook(timing_.settleInterval, *stamp),
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
    if (!store_->mayNote()) {
        // The store could not note a new item of it: held as for want of room before a byte is
        // read or written, and tried again once an index is written.
        stamps_.remove(path);
        holdForRetry(path, source, sessionID, slug, stamp.modified, true);
        return;
    }
    Candidate candidate;
    candidate.source = source;
    candidate.payload =
        Payload::file(QUrl::fromLocalFile(path), stamp.size,
                      canonical.isEmpty() ? std::nullopt : std::optional<QString>(canonical));
    candidate.sessionID = sessionID;
    candidate.slug = slug;
    candidate.createdAt = stamp.modified;
    if (batch_) {
        batch_->append(Admission{path, std::move(candidate), stamp, bootstrap, canonical});
        if (batch_->size() >= std::max<qsizetype>(1, timing_.batchSlice)) {
            offerAdmissions(std::exchange(*batch_, {}));
        }
        return;
    }
    if (source == Source::folder) {
        // Prepared ahead, as a slice's are, never on the queue: a watched folder may hold
        // pictures that take long to decode.
        const Batch batch(*this);
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
        holdForRetry(path, candidate.source, candidate.sessionID, candidate.slug,
                     candidate.createdAt, outcome.storeFailed());
    } else if (dropRetry(path) && !outcome.isRejected()) {
        ++recovered_;
    }
    if (outcome.kind == Ingest::Outcome::Kind::added) {
        // A copy was written: whatever failed for want of room may pass now.
        retrySoon(nullptr);
    }
}

void Engine::retrySoon(const QSet<QString>* folders) {
    // Asked for every capture, the held transcripts and the look back come too.
    const bool held =
        !retries_.isEmpty() || (folders == nullptr && (transcripts_->anyWaiting() || turnedAway_));
    if (!held || retrying_ || halting()) {
        return;
    }
    if (folders == nullptr) {
        earlyRetryAll_ = true;
    } else {
        earlyRetryFolders_.unite(*folders);
    }
    if (!earlyRetry_.armed) {
        // Never inside the job that asked: it may be in the middle of offering a batch.
        earlyRetry_.armed = true;
        later(std::max(0.0, earlyRetry_.wait()), [](Engine& e) {
            e.earlyRetry_.armed = false;
            e.retryEarly();
        });
    }
}

void Engine::retryEarly() {
    const bool all = std::exchange(earlyRetryAll_, false);
    const QSet<QString> folders = std::exchange(earlyRetryFolders_, {});
    if (halting()) {
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    retrying_ = true;
    {
        const Batch batch(*this);
        retryFailed(all ? nullptr : &folders);
    }
    if (all) {
        // Each spaced as its reads on its own changes are.
        for (const QString& path : transcripts_->waiting()) {
            readHeld(path);
        }
    }
    retrying_ = false;
    if (all) {
        lookBack();
    }
    earlyRetry_.ran(start, timing_.heldReadSpacing);
    schedulePublish();
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
    retrying_ = true;
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
    retrying_ = false;
    lookBack();
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
        bool refused = false;
        if (!fileStamp(path, &refused)) {
            if (!refused) {
                dropRetry(path); // gone, or no longer a regular file
            }
            continue;
        }
        ingestFile(path, it->source, it->sessionID, it->slug, false);
    }
}

Engine::Batch::Batch(Engine& engine) : engine_(engine), outermost_(!engine.batch_) {
    if (outermost_) {
        engine_.batch_.emplace();
        engine_.canonicalFolders_.clear();
    }
}

Engine::Batch::~Batch() {
    if (outermost_) {
        engine_.offerBatch();
    }
}

QString Engine::canonicalFile(const QString& path) {
    if (!batch_) {
        return OstrelPaths::canonical(path);
    }
    // The file is no link: its real path is its folder's and its name.
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) {
        return OstrelPaths::canonical(path);
    }
    const QString folder = path.left(slash);
    auto it = canonicalFolders_.constFind(folder);
    if (it == canonicalFolders_.constEnd()) {
        it = canonicalFolders_.insert(folder, OstrelPaths::canonical(folder));
    }
    // Mostly the path itself: then the item, its lookups and `stamps_` share one string.
    return *it == folder ? path : QString(*it % QStringView(path).mid(slash));
}

void Engine::offerBatch() {
    QList<Admission> offered = std::move(*batch_);
    batch_.reset();
    offerAdmissions(std::move(offered));
}

void Engine::offerAdmissions(QList<Admission> offered) {
    // Files of watched folders are stored as their preparations end (drainAhead()); the rest
    // here and now, the workers preparing them while this thread waits.
    QList<Candidate> ahead;
    QList<Admission> pending;
    QList<Candidate> candidates;
    for (Admission& one : offered) {
        if (one.candidate.source == Source::folder) {
            ahead.append(one.candidate);
            ahead_.push_back(std::move(one));
        } else {
            candidates.append(one.candidate);
            pending.append(std::move(one));
        }
    }
    if (!ahead.isEmpty()) {
        ingest_->startAhead(ahead, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->postDrain();
            }
        });
    }
    if (pending.isEmpty()) {
        return;
    }
    ingest_->ingestEach(
        candidates, [this, &pending](qsizetype i) { return stillWanted(pending.at(i)); },
        [this, &pending](qsizetype i, const Ingest::Outcome& outcome) {
            admitted(pending.at(i).path, pending.at(i).candidate, outcome);
            store_->saveIfOverdue(timing_.progressSaveInterval);
        },
        [this] { return halting(); });
}

bool Engine::stillWanted(const Admission& one) const {
    // At start, one by one, a file would have been checked against the store as the files
    // before it left it; the same check again now that they have.
    return !one.bootstrap ||
           !store_->hasIngested(one.canonical.isEmpty() ? OstrelPaths::canonical(one.path)
                                                        : one.canonical,
                                one.stamp.modified);
}

void Engine::postDrain() {
    if (drainPosted_.exchange(true)) {
        return;
    }
    queue_->async([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->drainPosted_ = false;
            self->drainAhead();
        }
    });
}

void Engine::drainAhead() {
    if (stopped_) {
        return;
    }
    const qsizetype most = std::max<qsizetype>(1, timing_.sliceAdmissions);
    qsizetype stored = 0;
    while (stored < most && ingest_->aheadReady()) {
        const Admission one = std::move(ahead_.front());
        ahead_.pop_front();
        if (const auto outcome = ingest_->finishAhead(stillWanted(one))) {
            admitted(one.path, one.candidate, *outcome);
        }
        store_->saveIfOverdue(timing_.progressSaveInterval);
        ++stored;
    }
    if (stored > 0) {
        schedulePublish();
        if (ahead_.empty() && !hasScanWork()) {
            // The backlog is through: its index goes out now rather than a delay later, so
            // that a quit soon after finds it written, and what its pictures took goes back.
            store_->saveIfOverdue(0);
            MallocArenas::release();
        }
    }
    if (ingest_->aheadReady()) {
        postDrain(); // the rest after the jobs that wait meanwhile
    }
    if (hasScanWork() && ingest_->aheadRoom() > 0) {
        scheduleScanSlice();
    }
    noteStartThrough();
    noteLookThrough();
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
    bool refused = false;
    const auto stamp = fileStamp(path, &refused);
    if (!stamp) {
        settling_.remove(path);
        if (refused) {
            holdForRetry(path, source, sessionID, slug);
        }
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
    const double delay = settleDelay(next, timing_);
    // Only the flat re-checks are shortened: a file that goes on changing is looked at less and
    // less often, whatever its dates say.
    scheduleSettle_(next <= timing_.settleFastAttempts ? nextLook(delay, *stamp) : delay,
                    [weak = weak_from_this(), path, source, sessionID, slug, next] {
                        if (const auto self = weak.lock()) {
                            self->checkSettled(path, source, sessionID, slug, next);
                        }
                    });
}

double Engine::nextLook(double delay, const Stamp& stamp) const {
    // A file settles once it has not changed for the settle interval. By its date it may have
    // been quiet for part of that already, or all of it: a capture whose first event came while
    // it was still being written, or whose event waited behind a job, is looked at again when
    // the interval is up rather than a whole one later, and never sooner than a tenth of it. A
    // date ahead of the clock leaves the full delay.
    const double age = now_().since(stamp.modified);
    if (age < 0) {
        return delay;
    }
    return std::min(delay, std::max(timing_.settleInterval - age, timing_.settleInterval / 10));
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

} // namespace ostrel
