#pragma once

#include "OstrelCore/Engine/Candidate.h"
#include "OstrelCore/Engine/TranscriptRecord.h"
#include "OstrelCore/Records/Prompt.h"
#include "Platform/Date.h"

#include <QList>
#include <QString>

#include <optional>

namespace ostrel {

// One session as one transcript line shows it.
struct SessionSighting {
    QString id;
    // The transcript's project folder; the tailer always fills it.
    std::optional<QString> slug;
    std::optional<QString> cwd;
    std::optional<QString> branch;
    // The line's timestamp.
    Date at;
    // When the transcript file was created.
    std::optional<Date> fileCreated;

    // This newer sighting over an older one of the same session: missing cwd or branch come
    // from the older one, and the later date wins.
    SessionSighting merged(const SessionSighting& older) const {
        SessionSighting result = *this;
        if (!result.cwd) {
            result.cwd = older.cwd;
        }
        if (!result.branch) {
            result.branch = older.branch;
        }
        if (older.at > result.at) {
            result.at = older.at;
        }
        return result;
    }

    friend bool operator==(const SessionSighting&, const SessionSighting&) = default;
};

// What one read piece of a transcript yields.
struct TranscriptBatch {
    // At most one per session id, in order of first appearance.
    QList<SessionSighting> sessions;
    QList<Prompt> prompts;
    // Within a line: its images in order, then its artifact.
    QList<Candidate> candidates;
    // Where the line of each candidate starts in the transcript, in step with `candidates`.
    QList<quint64> candidateLines;
    QList<SessionTitle> titles;
    std::optional<Date> fileCreated;

    // The file date alone does not make a batch worth applying.
    bool isEmpty() const {
        return sessions.isEmpty() && prompts.isEmpty() && candidates.isEmpty() && titles.isEmpty();
    }
};

} // namespace ostrel
