// What the engine does with change events: scratchpads, transcripts, screenshot folders and
// watched folders each take their road; lost events lead to rescans.
#include "OstrelCore/Engine/Engine.h"

#include "OstrelCore/Engine/ChromeScreenshots.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QSet>

#include <algorithm>
#include <utility>

namespace ostrel {

// --- Transcripts ---

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
        if (outcomes.at(i).kind == Ingest::Outcome::Kind::added) {
            retrySoon(nullptr);
        }
    }
    store_->saveIfOverdue(timing_.progressSaveInterval);
    return failed;
}

void Engine::readTranscript(const QString& path) {
    if (halting()) {
        return;
    }
    transcripts_->read(
        path, now_(), [this](const TranscriptBatch& batch) { return applyBatch(batch); },
        [this] { return halting(); });
    if (transcripts_->anyWaiting()) {
        scheduleRetry();
    }
    noteHeldTranscripts();
}

double Engine::Paced::wait() const {
    return std::chrono::duration<double>(next - std::chrono::steady_clock::now()).count();
}

void Engine::Paced::ran(std::chrono::steady_clock::time_point start, double least) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now();
    next =
        end +
        std::max(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(least)),
                 std::chrono::duration_cast<Clock::duration>((end - start) / heldReadShare));
}

void Engine::readHeld(const QString& path) {
    Paced& held = heldReads_[path];
    if (const double wait = held.wait(); wait > 0) {
        if (!held.armed) {
            held.armed = true;
            later(wait, [path](Engine& e) {
                if (const auto it = e.heldReads_.find(path); it != e.heldReads_.end()) {
                    it->armed = false;
                }
                if (!e.stopped_ && e.transcripts_->isWaiting(path)) {
                    e.readHeld(path);
                    e.schedulePublish();
                }
            });
        }
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    ++heldReadCount_;
    readTranscript(path);
    if (!transcripts_->isWaiting(path)) {
        heldReads_.remove(path);
        return;
    }
    heldReads_[path].ran(start, timing_.heldReadSpacing);
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
    if (halting()) {
        return;
    }
    // The projects folder may have come into being behind a link since the last look.
    transcripts_->resolve();
    if (!retries_.isEmpty()) {
        QSet<QString> folders;
        for (const QString& path : paths) {
            folders.insert(path.left(path.lastIndexOf(u'/')));
            // A folder reported for itself may have just been made readable.
            folders.insert(path);
        }
        retrySoon(&folders);
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
        // again: a new line reads it soon, not every line the session appends meanwhile.
        if (transcripts_->isWaiting(path)) {
            readHeld(path);
        } else {
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
            if (retries_.contains(file.path)) {
                continue; // tried again by retrySoon(), no sooner than its spacing allows
            }
            ingestFile(file.path, Source::scratchpad, file.sessionID, file.slug, false);
        }
    }
    schedulePublish();
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
        // A scratchpad may hold a hundred thousand files in a few folders: each folder is
        // resolved once, not once for every file in it.
        QSet<QString> parents;
        QSet<QString> folders;
        for (const ScratchFile& file : scanner_.files()) {
            const QString parent = file.path.left(file.path.lastIndexOf(u'/'));
            if (parents.contains(parent)) {
                continue;
            }
            parents.insert(parent);
            const QString folder = OstrelPaths::canonical(parent);
            if (!folders.contains(folder)) {
                folders.insert(folder);
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

} // namespace ostrel
