#pragma once

#include "OstrelCore/Engine/TranscriptTailer.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/Date.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace ostrel {

class Store;

// The engine's view of Claude Code's projects folder: which paths are transcripts, which changed
// recently, and one open tailer per transcript being followed, starting from the read position
// the store keeps and saving every new one. Confined to the engine queue, like the store.
class TranscriptSet {
public:
    static constexpr quint64 window = 4194304;

    // Takes one batch into the store and answers the index of its first candidate whose capture
    // failed for a reason that may pass (a full disk, a read-only store), or none.
    using BatchHandler = std::function<std::optional<qsizetype>(const TranscriptBatch&)>;

    TranscriptSet(QUrl projectsRoot, std::shared_ptr<Store> store,
                  qint64 chunk = TranscriptTailer::defaultChunk);

    const QUrl& projectsRoot() const { return projectsRoot_; }
    // The projects folder with its links resolved.
    const QString& base() const { return base_; }
    // Resolves the projects folder again: one that did not exist at start, behind a link (Claude
    // Code's home often is one), resolves only once it is made.
    void resolve();

    // A ".jsonl" path at any depth below the resolved projects folder.
    bool owns(const QString& path) const;
    bool isOpen(const QString& path) const;
    // Where a session's transcript lies; the file may not exist.
    QString path(const QString& slug, const QString& sessionID) const;

    // Transcripts, top-level and subagent, modified no earlier than `seconds` before `now`, in
    // listing order.
    QStringList recent(double seconds, Date now) const;

    // Reads what is new in a transcript and hands each batch to `each`; the position after a
    // batch is stored only once its handler has run. A capture that failed but may pass later
    // holds the position at the start of its line, so that the line is read again by the next
    // read, or after a restart. Tailers and offsets are keyed by the real path, so that a
    // transcript has one whatever path reached it. Once `stopping()` answers true no other batch
    // is handed over, and the position stays at the first one left: the next read, or the next
    // start, begins there.
    void read(const QString& path, Date now, const BatchHandler& each,
              const std::function<bool()>& stopping = {});
    // A line whose capture keeps failing is held at most this long (from its first failure in
    // this run); then the position moves on, and the failure is logged.
    static constexpr double holdLimit = 86400.0;

    // Transcripts with a line to read again.
    QStringList waiting() const { return again_.keys(); }
    bool anyWaiting() const { return !again_.isEmpty(); }
    bool isWaiting(const QString& path) const {
        return !again_.isEmpty() && again_.contains(OstrelPaths::canonical(path));
    }

    // Closes the tailers idle for more than `idleFor` seconds, or more than `waiting` seconds
    // while a tool result is outstanding.
    void prune(double idleFor, double waiting, Date now);

    const TranscriptTailer* tailer(const QString& path) const;

private:
    QUrl projectsRoot_;
    QString base_;
    std::shared_ptr<Store> store_;
    qint64 chunk_;
    QHash<QString, std::shared_ptr<TranscriptTailer>> tailers_;
    QHash<QString, Date> lastRead_;
    // Transcripts with a line to read again, each with when it was first held.
    QHash<QString, Date> again_;
};

} // namespace ostrel
