// Outcomes, and the road of candidates: a batch is read, decoded and thumbnailed ahead on the
// workers, while the store's part runs here, one candidate at a time and in order.
#include "OstrelCore/Engine/Ingest.h"

#include "OstrelCore/Engine/IngestParts.h"
#include "OstrelCore/Records/Text.h"

#include <algorithm>
#include <deque>
#include <future>

namespace ostrel {

using namespace ingestParts;

namespace {

bool isSpaceOrBreak(QChar c) {
    return Text::isBlank(c.unicode()) || Text::isNewline(c.unicode());
}

} // namespace

QString ingestParts::trimmedText(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isSpaceOrBreak(text.at(start))) {
        ++start;
    }
    while (end > start && isSpaceOrBreak(text.at(end - 1))) {
        --end;
    }
    return text.mid(start, end - start);
}

QString ingestParts::lastPathComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/')) {
        p.chop(1);
    }
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 || p.size() == 1 ? p : p.mid(slash + 1);
}

QString ingestParts::pathExtension(const QString& path) {
    const QString name = lastPathComponent(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

bool ingestParts::isRasterImage(const QString& extension) {
    const QString ext = extension.toLower();
    return ShelfItemKindRules::forExtension(ext, {}) == ShelfItemKind::image &&
           ext != QStringLiteral("svg");
}

bool Ingest::Outcome::mayPassLater() const {
    return kind == Kind::rejected && (text == unreadableReason || text == copyFailedReason);
}

bool Ingest::Outcome::storeFailed() const {
    return kind == Kind::rejected && text == copyFailedReason;
}

QString Ingest::Outcome::rawValue(Kind kind) {
    switch (kind) {
    case Kind::added:
        return QStringLiteral("added");
    case Kind::merged:
        return QStringLiteral("merged");
    case Kind::updated:
        return QStringLiteral("updated");
    case Kind::rejected:
        return QStringLiteral("rejected");
    }
    return {};
}

Ingest::Ingest(std::shared_ptr<Store> store, ItemFilter filter, qint64 retentionDays, Clock now)
    : store(std::move(store)), filter(std::move(filter)), retentionDays(retentionDays),
      now(std::move(now)) {}

Ingest::Ingest(std::shared_ptr<Store> store, qint64 retentionDays, Clock now)
    : Ingest(std::move(store), ItemFilter(), retentionDays, std::move(now)) {}

Ingest::~Ingest() = default;

Date Ingest::retentionCutoff(qint64 days, Date now) {
    return now.adding(static_cast<double>(days) * -86400.0);
}

// ---------------------------------------------------------------------------------------------
// One candidate

Ingest::Outcome Ingest::ingest(const Candidate& candidate) {
    Prepared prepared = prepare(candidate, filter.extraExtensions, nullptr, nullptr, guard.get());
    return finish(candidate, prepared);
}

QList<Ingest::Outcome> Ingest::ingestAll(const QList<Candidate>& candidates) {
    QList<Outcome> outcomes;
    outcomes.reserve(candidates.size());
    ingestEach(
        candidates, [](qsizetype) { return true; },
        [&outcomes](qsizetype, const Outcome& outcome) { outcomes.append(outcome); });
    return outcomes;
}

std::shared_ptr<const Ingest::KnownContent> Ingest::knownContent() {
    // Built anew only once the store has changed by an eighth of its size: a table behind by a
    // few changes costs at most a decode of bytes stored since (they look new), never a wrong
    // item, while a table built for every slice of a large backlog cost more than the slice.
    const qint64 changes = store->revision() - knownRevision_;
    if (known_ && changes >= 0 && changes <= known_->size() / 8 + 16) {
        return known_;
    }
    // The table this one replaces goes first, so that two are never held at once; each key
    // shares its item's id rather than holding a copy.
    known_.reset();
    auto known = std::make_shared<KnownContent>();
    known->reserve(store->items().size() + store->hiddenItems().size());
    const auto note = [&known](const ShelfItem& item) {
        const QString key = Store::contentKey(item.id);
        std::optional<QSize> size;
        if (item.width && item.height) {
            size = QSize(static_cast<int>(*item.width), static_cast<int>(*item.height));
        }
        auto it = known->find(key);
        if (it == known->end()) {
            known->insert(key, size);
        } else if (!*it) {
            *it = size;
        }
    };
    for (const ShelfItem& item : store->items()) {
        note(item);
    }
    for (const HiddenRecord& hidden : store->hiddenItems()) {
        note(hidden.item);
    }
    known_ = std::move(known);
    knownRevision_ = store->revision();
    return known_;
}

void Ingest::ingestEach(const QList<Candidate>& candidates,
                        const std::function<bool(qsizetype)>& wanted,
                        const std::function<void(qsizetype, const Outcome&)>& done,
                        const std::function<bool()>& stopping) {
    const auto stop = [&stopping] { return stopping && stopping(); };
    if (!workers || candidates.size() < 2) {
        for (qsizetype i = 0; i < candidates.size() && !stop(); ++i) {
            if (wanted(i)) {
                done(i, ingest(candidates.at(i)));
            }
        }
        return;
    }
    // The workers read, decode, hash and thumbnail a window of candidates ahead; the store's
    // part runs here, one candidate at a time and in order, so ids, merges and the snapshot come
    // out as they would one by one. The window is bounded by count and by the bytes it holds.
    const qsizetype window = this->window();
    const QSet<QString> extra = filter.extraExtensions;
    const std::shared_ptr<const KnownContent> known = knownContent();
    const std::shared_ptr<const Staging> staging = this->staging();
    std::deque<std::pair<std::future<Prepared>, qint64>> ahead;
    qint64 aheadBytes = 0;
    qsizetype next = 0;
    const auto job = [&extra, &known, &staging, this](const Candidate* candidate) {
        return [candidate, extra, known, staging, guard = guard] {
            return prepare(*candidate, extra, known.get(), staging.get(), guard.get());
        };
    };
    // Refilled half the window at a time: one wake-up of the workers serves several candidates,
    // and waking a worker costs this thread more than its part of a recognised file.
    const qsizetype refill = std::max<qsizetype>(1, window / 2);
    const auto fill = [&] {
        const auto room = window - static_cast<qsizetype>(ahead.size());
        if (!ahead.empty() && room < std::min(refill, candidates.size() - next)) {
            return;
        }
        std::vector<decltype(job(nullptr))> jobs;
        std::vector<qint64> held;
        while (next < candidates.size() &&
               static_cast<qsizetype>(ahead.size() + jobs.size()) < window) {
            const Candidate* candidate = &candidates.at(next);
            const qint64 bytes = heldBytes(*candidate, extra);
            if ((!ahead.empty() || !jobs.empty()) && aheadBytes + bytes > readAheadBytes) {
                break;
            }
            ++next;
            aheadBytes += bytes;
            jobs.push_back(job(candidate));
            held.push_back(bytes);
        }
        auto futures = workers->submitAll(std::move(jobs));
        for (size_t i = 0; i < futures.size(); ++i) {
            ahead.emplace_back(std::move(futures[i]), held[i]);
        }
    };
    fill();
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        if (stop()) {
            // The jobs under way point into `candidates`: they end before it may go.
            for (const auto& [prepared, bytes] : ahead) {
                prepared.wait();
            }
            return;
        }
        Prepared prepared = ahead.front().first.get();
        const qint64 bytes = ahead.front().second;
        ahead.pop_front();
        if (wanted(i)) {
            done(i, finish(candidates.at(i), prepared));
        }
        prepared = Prepared();
        aheadBytes -= bytes;
        fill();
    }
}

qsizetype Ingest::window() const {
    return workers ? std::max(2, workers->size() * 4) : 1;
}

std::shared_ptr<const Ingest::Staging> Ingest::staging() const {
    // Creating files is much of a first start's cost; the workers do it, not this thread.
    ItemFilter passing = filter;
    passing.oldest = retentionCutoff(retentionDays, now());
    return std::make_shared<const Staging>(Staging{store->itemsDir(), store->thumbsDir(),
                                                   std::move(passing), store->rootPath(),
                                                   store->ownFolder()});
}

void Ingest::startAhead(const QList<Candidate>& candidates, const std::function<void()>& ready) {
    if (candidates.isEmpty()) {
        return;
    }
    const QSet<QString> extra = filter.extraExtensions;
    const std::shared_ptr<const KnownContent> known = knownContent();
    const std::shared_ptr<const Staging> staging = this->staging();
    using Task = std::packaged_task<Prepared()>;
    const auto job = [&ready](std::shared_ptr<Task> task) {
        // The preparation is in place before `ready` says so.
        return [task = std::move(task), ready] {
            (*task)();
            ready();
        };
    };
    std::vector<decltype(job(nullptr))> jobs;
    for (const Candidate& candidate : candidates) {
        Ahead& one = ahead_.emplace_back();
        one.candidate = candidate;
        one.bytes = heldBytes(candidate, extra);
        aheadBytes_ += one.bytes;
        auto task = std::make_shared<Task>([candidate, extra, known, staging, guard = guard] {
            return prepare(candidate, extra, known.get(), staging.get(), guard.get());
        });
        one.prepared = task->get_future();
        if (workers) {
            jobs.push_back(job(std::move(task)));
        } else {
            job(std::move(task))();
        }
    }
    if (workers) {
        (void)workers->submitAll(std::move(jobs));
    }
}

qsizetype Ingest::aheadCount() const {
    return static_cast<qsizetype>(ahead_.size());
}

qsizetype Ingest::aheadRoom() const {
    if (!ahead_.empty() && aheadBytes_ >= readAheadBytes) {
        return 0;
    }
    return std::max<qsizetype>(0, window() - aheadCount());
}

bool Ingest::aheadReady() const {
    return !ahead_.empty() &&
           ahead_.front().prepared.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::optional<Ingest::Outcome> Ingest::finishAhead(bool wanted) {
    Ahead one = std::move(ahead_.front());
    ahead_.pop_front();
    aheadBytes_ -= one.bytes;
    Prepared prepared = one.prepared.get();
    if (!wanted) {
        return std::nullopt;
    }
    return finish(one.candidate, prepared);
}

void Ingest::dropAhead() {
    ahead_.clear();
    aheadBytes_ = 0;
}

Ingest::Outcome Ingest::finish(const Candidate& candidate, Prepared& prepared) {
    const Date current = now();
    ItemFilter callFilter = filter;
    callFilter.oldest = retentionCutoff(retentionDays, current);

    QString session;
    if (candidate.sessionID) {
        session = *candidate.sessionID;
    } else if (const auto active = activity.activeSession(current, activeWindow)) {
        session = *active;
    } else if (const auto recent = activity.mostRecent()) {
        session = *recent;
    } else {
        session = Session::unsortedID;
    }
    const Call call{candidate, std::move(callFilter), session};
    if (prepared.outcome) {
        return *prepared.outcome;
    }
    if (prepared.artifact) {
        return ingestArtifact(call, std::get<Payload::Artifact>(candidate.payload.value).info);
    }
    return ingestContent(call, prepared);
}

} // namespace ostrel
