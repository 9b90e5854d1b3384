#include "OstrelCore/Engine/TranscriptSet.h"

#include "OstrelCore/Engine/ScratchpadScanner.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

namespace ostrel {

namespace {

bool isRecent(const QString& path, Date cutoff) {
    // A date that cannot be read counts as the distant past.
    const auto st = FileStat::stat(path);
    return st && st->modified >= cutoff;
}

} // namespace

TranscriptSet::TranscriptSet(QUrl projectsRoot, std::shared_ptr<Store> store, qint64 chunk)
    : projectsRoot_(std::move(projectsRoot)),
      base_(OstrelPaths::canonical(projectsRoot_.toLocalFile())), store_(std::move(store)),
      chunk_(chunk) {}

void TranscriptSet::resolve() {
    base_ = OstrelPaths::canonical(projectsRoot_.toLocalFile());
}

bool TranscriptSet::isOpen(const QString& path) const {
    return tailers_.contains(OstrelPaths::canonical(path));
}

bool TranscriptSet::owns(const QString& path) const {
    return path.endsWith(QLatin1String(".jsonl")) && path.startsWith(base_ + u'/');
}

QString TranscriptSet::path(const QString& slug, const QString& sessionID) const {
    return base_ + u'/' + slug + u'/' + sessionID + QStringLiteral(".jsonl");
}

QStringList TranscriptSet::recent(double seconds, Date now) const {
    const Date cutoff = now.adding(-seconds);
    const auto projects = ScratchpadScanner::names(base_);
    if (!projects) {
        return {};
    }
    QStringList result;
    for (const QString& project : *projects) {
        const QString projectPath = base_ + u'/' + project;
        const auto entries = ScratchpadScanner::names(projectPath);
        if (!entries) {
            continue;
        }
        for (const QString& entry : *entries) {
            const QString entryPath = projectPath + u'/' + entry;
            if (entry.endsWith(QLatin1String(".jsonl"))) {
                if (isRecent(entryPath, cutoff)) {
                    result.append(entryPath);
                }
                continue;
            }
            const QString subagents = entryPath + QStringLiteral("/subagents");
            const auto agents = ScratchpadScanner::names(subagents);
            if (!agents) {
                continue;
            }
            for (const QString& agent : *agents) {
                const QString agentPath = subagents + u'/' + agent;
                if (agent.endsWith(QLatin1String(".jsonl")) && isRecent(agentPath, cutoff)) {
                    result.append(agentPath);
                }
            }
        }
    }
    return result;
}

void TranscriptSet::read(const QString& given, Date now, const BatchHandler& each,
                         const std::function<bool()>& stopping) {
    const QString path = OstrelPaths::canonical(given);
    auto& tailer = tailers_[path];
    if (!tailer) {
        std::optional<quint64> offset;
        const auto stored = store_->offsets().constFind(path);
        if (stored != store_->offsets().constEnd()) {
            offset = *stored;
        } else if (store_->indexSetAside()) {
            // What the lost index held from this transcript can only come back from its start.
            offset = 0;
        }
        tailer =
            std::make_shared<TranscriptTailer>(QUrl::fromLocalFile(path), offset, window, chunk_);
    }
    lastRead_.insert(path, now);
    // Held by value: the handler may not reach the set, but the tailer must outlive this read.
    const std::shared_ptr<TranscriptTailer> reader = tailer;
    // The first line whose capture must be tried again: the position never passes it. The lines
    // after it are still taken now; reading them again later changes nothing they brought.
    std::optional<quint64> again;
    // How far the batches handed over reach: once one is left, the position stays there.
    const std::optional<quint64> began = reader->offset();
    std::optional<quint64> handed = began;
    bool halted = false;
    const auto position = [&]() -> std::optional<quint64> {
        if (again) {
            return again;
        }
        return halted ? handed : reader->offset();
    };
    const auto halt = [&] { return halted = halted || (stopping && stopping()); };
    reader->read(
        [&](const TranscriptBatch& batch) {
            const auto failed = each(batch);
            if (failed && !again && *failed >= 0 && *failed < batch.candidateLines.size()) {
                again = batch.candidateLines.at(*failed);
            }
            handed = reader->offset();
            if (const auto offset = position()) {
                store_->setOffset(*offset, path);
            }
        },
        halt);
    if (again && now.since(again_.value(path, now)) > holdLimit) {
        // Failing for a day: no longer a passing cause, and every read meanwhile goes over all
        // that followed the line.
        qCWarning(lcIngest).noquote()
            << QStringLiteral("gave up on a capture in %1 that failed for a day")
                   .arg(Log::privateArg(path));
        again.reset();
    }
    if (again) {
        reader->rewind(*again);
        again_.insert(path, again_.value(path, now));
    } else {
        // A read stopped before it handed anything over tried no held line again: it stays held,
        // and so does the moment a later start must look back from for it.
        if (!halted || handed != began) {
            again_.remove(path);
        }
        if (halted && handed) {
            reader->rewind(*handed);
        } else if (halted) {
            // Nothing was handed over from a first read: the next one starts afresh.
            tailers_.remove(path);
            lastRead_.remove(path);
        }
    }
    if (const auto offset = position()) {
        store_->setOffset(*offset, path);
    }
}

void TranscriptSet::prune(double idleFor, double waiting, Date now) {
    const QHash<QString, Date> entries = lastRead_;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        const double idle = now.since(it.value());
        if (idle <= idleFor) {
            continue;
        }
        const auto tailer = tailers_.value(it.key());
        if (idle <= waiting && tailer && tailer->awaitsToolResults()) {
            continue;
        }
        tailers_.remove(it.key());
        lastRead_.remove(it.key());
        again_.remove(it.key());
    }
}

const TranscriptTailer* TranscriptSet::tailer(const QString& path) const {
    return tailers_.value(OstrelPaths::canonical(path)).get();
}

} // namespace ostrel
