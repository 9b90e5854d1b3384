#include "IngestTestSupport.h"

using namespace ostrel;
using namespace ostrel::test;

using IngestSessions = IngestFixture;

namespace {

SessionSighting sighting(const QString& id, double at, std::optional<QString> cwd = std::nullopt,
                         std::optional<QString> branch = std::nullopt,
                         std::optional<double> fileCreated = std::nullopt) {
    SessionSighting s;
    s.id = id;
    s.slug = QStringLiteral("-u-proj");
    s.cwd = std::move(cwd);
    s.branch = std::move(branch);
    s.at = Date(at);
    if (fileCreated) {
        s.fileCreated = Date(*fileCreated);
    }
    return s;
}

SessionTitle title(const QString& session, SessionTitle::Kind kind, const QString& text) {
    SessionTitle t;
    t.sessionID = session;
    t.kind = kind;
    t.text = text;
    t.slug = QStringLiteral("-u-proj");
    return t;
}

Prompt prompt(const QString& id, const QString& session, double at, const QString& text) {
    return Prompt{id, session, Date(at), text};
}

} // namespace

TEST_F(IngestSessions, ANewSessionStartsAtItsFileDate) {
    // Seen at 10:05 in a transcript created at 10:00.
    ingest->noteSession(sighting("s1", 36300, "/u/proj", "main", 36000));
    Session s = store->sessions().value("s1");
    EXPECT_EQ(s.startedAt, Date(36000));
    EXPECT_EQ(s.lastActive, Date(36300));
    EXPECT_EQ(s.slug, QString("-u-proj"));
    EXPECT_EQ(s.cwd, QString("/u/proj"));
    EXPECT_EQ(s.branch, QString("main"));
    // An earlier file date moves the start back; a later one never forward.
    ingest->noteSession(sighting("s1", 36400, std::nullopt, std::nullopt, 35000));
    EXPECT_EQ(store->sessions().value("s1").startedAt, Date(35000));
    ingest->noteSession(sighting("s1", 36500, std::nullopt, std::nullopt, 36400));
    EXPECT_EQ(store->sessions().value("s1").startedAt, Date(35000));
    // A sighting without a working directory leaves the stored one.
    EXPECT_EQ(store->sessions().value("s1").cwd, QString("/u/proj"));
}

TEST_F(IngestSessions, OnlyALaterActivityIsWrittenOncePerMinute) {
    ingest->noteSession(sighting("s1", 1000, "/u/proj", "main"));
    const qint64 revision = store->revision();
    ingest->noteSession(sighting("s1", 1030, "/u/proj", "main"));
    EXPECT_EQ(store->revision(), revision);
    EXPECT_EQ(store->sessions().value("s1").lastActive, Date(1000));
    EXPECT_EQ(ingest->activity.lastActive.at("s1"), Date(1030));
    ingest->noteSession(sighting("s1", 1060, "/u/proj", "main"));
    EXPECT_GT(store->revision(), revision);
    EXPECT_EQ(store->sessions().value("s1").lastActive, Date(1060));
    // A new branch is written at once.
    const qint64 before = store->revision();
    ingest->noteSession(sighting("s1", 1070, std::nullopt, "feature"));
    EXPECT_GT(store->revision(), before);
    EXPECT_EQ(store->sessions().value("s1").branch, QString("feature"));
    EXPECT_EQ(store->sessions().value("s1").lastActive, Date(1070));
    // An older sighting neither moves lastActive back nor writes.
    const qint64 after = store->revision();
    ingest->noteSession(sighting("s1", 1050));
    EXPECT_EQ(store->revision(), after);
    EXPECT_EQ(ingest->activity.lastActive.at("s1"), Date(1070));
    // A sighting before the start moves the start back, and that is written.
    ingest->noteSession(sighting("s1", 900));
    EXPECT_GT(store->revision(), after);
    EXPECT_EQ(store->sessions().value("s1").startedAt, Date(900));
    EXPECT_EQ(store->sessions().value("s1").lastActive, Date(1070));
}

TEST_F(IngestSessions, Titles) {
    ingest->noteSession(sighting("s1", 1000));
    ingest->noteTitle(title("s1", SessionTitle::Kind::agentName, "  Builder \n"), std::nullopt);
    ingest->noteTitle(title("s1", SessionTitle::Kind::custom, "Mine"), std::nullopt);
    ingest->noteTitle(title("s1", SessionTitle::Kind::ai, "Generated"), std::nullopt);
    Session s = store->sessions().value("s1");
    EXPECT_EQ(s.agentName, QString("Builder"));
    EXPECT_EQ(s.customTitle, QString("Mine"));
    EXPECT_EQ(s.aiTitle, QString("Generated"));
    EXPECT_EQ(s.startedAt, Date(1000)); // a stored session keeps its dates
    // Only spaces clear the custom title; the others stay.
    ingest->noteTitle(title("s1", SessionTitle::Kind::custom, " \t "), std::nullopt);
    s = store->sessions().value("s1");
    EXPECT_FALSE(s.customTitle);
    EXPECT_EQ(s.agentName, QString("Builder"));
    EXPECT_EQ(s.aiTitle, QString("Generated"));
    // The same title again writes nothing.
    const qint64 revision = store->revision();
    ingest->noteTitle(title("s1", SessionTitle::Kind::ai, "Generated"), std::nullopt);
    EXPECT_EQ(store->revision(), revision);
}

TEST_F(IngestSessions, ATitleForAnUnknownSessionCreatesIt) {
    ingest->noteTitle(title("s2", SessionTitle::Kind::ai, "New"), Date(5000));
    Session s = store->sessions().value("s2");
    EXPECT_EQ(s.startedAt, Date(5000));
    EXPECT_EQ(s.lastActive, Date(5000));
    EXPECT_EQ(s.slug, QString("-u-proj"));
    EXPECT_EQ(s.aiTitle, QString("New"));
    clock = Date(launch + 7);
    ingest->noteTitle(title("s3", SessionTitle::Kind::custom, ""), std::nullopt);
    s = store->sessions().value("s3");
    EXPECT_EQ(s.startedAt, Date(launch + 7));
    EXPECT_FALSE(s.customTitle);
}

TEST_F(IngestSessions, ABatchInOrder) {
    const QByteArray png = TestImages::png(48, 48);
    TranscriptBatch batch;
    batch.fileCreated = Date(launch - 10);
    batch.sessions = {sighting("s1", launch + 5, "/u/proj", "main", launch - 10)};
    batch.titles = {title("s1", SessionTitle::Kind::ai, "First"),
                    title("s1", SessionTitle::Kind::ai, "Second")};
    batch.prompts = {prompt("p1", "s1", launch + 4, "make a chart"),
                     prompt("p0", "s1", launch + 2, "earlier"),
                     prompt("p9", "nosession", launch + 1, "orphan")};
    batch.candidates = {imageBlock(png, "s1", launch + 6),
                        imageBlock(QByteArray("x"), "s1", launch + 6),
                        artifactCandidate("art", "Chart", std::nullopt, "s1", launch + 6)};
    const auto outcomes = ingest->apply(batch);
    ASSERT_EQ(outcomes.size(), 3);
    EXPECT_EQ(outcomes[0], added(digest(png)));
    EXPECT_EQ(outcomes[1], rejected("under 512 bytes"));
    EXPECT_EQ(outcomes[2], added("artifact:art"));
    const Session s = store->sessions().value("s1");
    EXPECT_EQ(s.aiTitle, QString("Second"));
    EXPECT_EQ(s.startedAt, Date(launch - 10));
    EXPECT_EQ(s.firstPrompt, QString("earlier"));
    EXPECT_EQ(s.firstPromptAt, Date(launch + 2));
    EXPECT_TRUE(store->prompts().contains("p9"));
    EXPECT_FALSE(store->sessions().contains("nosession"));
    EXPECT_EQ(store->prompts().size(), 3);
}

TEST_F(IngestSessions, FirstPromptKeepsTheEarliest) {
    ingest->noteSession(sighting("s1", 1000));
    TranscriptBatch batch;
    batch.prompts = {prompt("a", "s1", 2000, "one")};
    ingest->apply(batch);
    EXPECT_EQ(store->sessions().value("s1").firstPrompt, QString("one"));
    batch.prompts = {prompt("b", "s1", 2000, "same instant")};
    ingest->apply(batch);
    EXPECT_EQ(store->sessions().value("s1").firstPrompt, QString("one"));
    batch.prompts = {prompt("c", "s1", 1999, "earlier")};
    ingest->apply(batch);
    EXPECT_EQ(store->sessions().value("s1").firstPrompt, QString("earlier"));
    EXPECT_EQ(store->sessions().value("s1").firstPromptAt, Date(1999));
}

TEST_F(IngestSessions, BackfillFirstPrompts) {
    store->upsert(Session("s1", QString("x"), std::nullopt, std::nullopt, Date(1), Date(1)));
    store->upsert(Session("s2", QString("x"), std::nullopt, std::nullopt, Date(1), Date(1)));
    store->upsert(prompt("p3", "s1", 300, "third"));
    store->upsert(prompt("p1", "s1", 100, "first"));
    store->upsert(prompt("p2", "s1", 100, "tie"));
    store->upsert(prompt("q", "orphan", 50, "orphan"));
    ingest->backfillFirstPrompts();
    EXPECT_EQ(store->sessions().value("s1").firstPrompt, QString("first"));
    EXPECT_EQ(store->sessions().value("s1").firstPromptAt, Date(100));
    EXPECT_FALSE(store->sessions().value("s2").firstPromptAt);
    EXPECT_FALSE(store->sessions().contains("orphan"));
    // Everything filled: nothing is written.
    const qint64 revision = store->revision();
    ingest->backfillFirstPrompts();
    EXPECT_EQ(store->revision(), revision);
    // A session that has a first prompt keeps it even when an earlier one is stored.
    store->upsert(prompt("p0", "s1", 10, "zero"));
    ingest->backfillFirstPrompts();
    EXPECT_EQ(store->sessions().value("s1").firstPrompt, QString("first"));
}
