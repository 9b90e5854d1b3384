// Sessions, titles and first prompts, and the transcript batches that carry them.
#include "OstrelCore/Engine/Ingest.h"

#include "OstrelCore/Engine/IngestParts.h"

#include <algorithm>

namespace ostrel {

using namespace ingestParts;

QList<Ingest::Outcome> Ingest::apply(const TranscriptBatch& batch) {
    for (const SessionSighting& sighting : batch.sessions) {
        noteSession(sighting);
    }
    for (const SessionTitle& title : batch.titles) {
        noteTitle(title, batch.fileCreated);
    }
    for (const Prompt& prompt : batch.prompts) {
        store->upsert(prompt);
        noteFirstPrompt(prompt);
    }
    return ingestAll(batch.candidates);
}

void Ingest::noteFirstPrompt(const Prompt& prompt) {
    const auto it = store->sessions().constFind(prompt.sessionID);
    if (it == store->sessions().constEnd()) {
        return;
    }
    if (it->firstPromptAt && !(prompt.at < *it->firstPromptAt)) {
        return;
    }
    Session session = *it;
    session.firstPrompt = prompt.text;
    session.firstPromptAt = prompt.at;
    store->upsert(session);
}

void Ingest::noteSession(const SessionSighting& sighting) {
    Date start = sighting.at;
    if (sighting.fileCreated && *sighting.fileCreated < start) {
        start = *sighting.fileCreated;
    }
    const auto it = store->sessions().constFind(sighting.id);
    const bool isNew = it == store->sessions().constEnd();
    const std::optional<Session> stored = isNew ? std::nullopt : std::optional<Session>(*it);
    Session session = stored ? *stored
                             : Session(sighting.id, sighting.slug, std::nullopt, std::nullopt,
                                       start, sighting.at);
    if (!session.slug) {
        session.slug = sighting.slug;
    }
    if (sighting.cwd) {
        session.cwd = sighting.cwd;
    }
    if (sighting.branch) {
        session.branch = sighting.branch;
    }
    session.startedAt = std::min(start, session.startedAt);
    session.lastActive = std::max(sighting.at, session.lastActive);
    activity.touch(sighting.id, sighting.at);
    if (!stored) {
        store->upsert(session);
        return;
    }
    Session onlyActivity = *stored;
    onlyActivity.lastActive = session.lastActive;
    if (onlyActivity == session &&
        session.lastActive.since(stored->lastActive) < sessionWriteInterval) {
        return;
    }
    store->upsert(session);
}

void Ingest::noteTitle(const SessionTitle& title, std::optional<Date> fileCreated) {
    const Date when = fileCreated ? *fileCreated : now();
    const auto it = store->sessions().constFind(title.sessionID);
    const bool isNew = it == store->sessions().constEnd();
    Session session =
        isNew ? Session(title.sessionID, title.slug, std::nullopt, std::nullopt, when, when) : *it;
    const QString trimmed = trimmedText(title.text);
    const std::optional<QString> text =
        trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
    switch (title.kind) {
    case SessionTitle::Kind::agentName:
        session.agentName = text;
        break;
    case SessionTitle::Kind::custom:
        session.customTitle = text;
        break;
    case SessionTitle::Kind::ai:
        session.aiTitle = text;
        break;
    }
    if (isNew || session != *it) {
        store->upsert(session);
    }
}

void Ingest::backfillFirstPrompts() {
    // Prompts in id order, so that "the first met" among equal times does not depend on hashing.
    QList<Prompt> prompts = store->prompts().values();
    std::sort(prompts.begin(), prompts.end(),
              [](const Prompt& a, const Prompt& b) { return a.id < b.id; });
    QHash<QString, Prompt> earliest;
    QStringList order;
    for (const Prompt& prompt : prompts) {
        const auto it = earliest.find(prompt.sessionID);
        if (it == earliest.end()) {
            earliest.insert(prompt.sessionID, prompt);
            order.append(prompt.sessionID);
        } else if (prompt.at < it->at) {
            *it = prompt;
        }
    }
    for (const QString& sessionID : order) {
        const auto session = store->sessions().constFind(sessionID);
        if (session == store->sessions().constEnd() || session->firstPromptAt) {
            continue;
        }
        const Prompt& prompt = earliest.value(sessionID);
        store->upsert(prompt);
        noteFirstPrompt(prompt);
    }
}

} // namespace ostrel
