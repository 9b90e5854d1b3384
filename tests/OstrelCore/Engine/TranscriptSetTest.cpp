#include "OstrelCore/Engine/TranscriptSet.h"
#include "OstrelCore/Records/Store.h"
#include "TranscriptLines.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

using namespace ostrel;
namespace L = ostrel::test::lines;

namespace {

class TranscriptSetTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QString projects = dir.file("claude/projects");
    std::shared_ptr<Store> store =
        Store::make(QUrl::fromLocalFile(dir.file("support")), [] { return Date(1000); });
    // Whole seconds, so that a file time set from it compares exactly.
    Date now = Date::fromUnix(std::floor(Date::now().toUnix()));

    void SetUp() override { QDir().mkpath(projects); }
    QString base() const { return QDir(projects).canonicalPath(); }
    QString put(const QString& relative, const QList<QByteArray>& lines = {}) {
        const QString path = dir.write("claude/projects/" + relative, {});
        L::append(path, lines);
        return QDir(dir.path()).canonicalPath() + "/claude/projects/" + relative;
    }
    static void age(const QString& path, double seconds, Date now) {
        const double t = now.toUnix() - seconds;
        const timespec times[2]{{time_t(t), long((t - double(time_t(t))) * 1e9)},
                                {time_t(t), long((t - double(time_t(t))) * 1e9)}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
};

} // namespace

TEST_F(TranscriptSetTest, OwnsPathsAndFindsRecentTranscripts) {
    const QString link = dir.file("projects-link");
    ASSERT_EQ(
        ::symlink(QFile::encodeName(projects).constData(), QFile::encodeName(link).constData()), 0);
    TranscriptSet set(QUrl::fromLocalFile(link), store);
    EXPECT_EQ(set.base(), base());
    EXPECT_TRUE(set.owns(base() + "/-p/s.jsonl"));
    EXPECT_TRUE(set.owns(base() + "/-p/s/subagents/a.jsonl"));
    EXPECT_FALSE(set.owns(base() + "/-p/s.json"));
    EXPECT_FALSE(set.owns("/elsewhere/-p/s.jsonl"));
    EXPECT_FALSE(set.owns(link + "/-p/s.jsonl"));
    EXPECT_EQ(set.path("-p", "s-1"), base() + "/-p/s-1.jsonl");

    const QString top = put("-p/s-1.jsonl");
    const QString agent = put("-p/s-1/subagents/agent-a.jsonl");
    const QString stale = put("-p/s-0.jsonl");
    put("-p/s-1/stray.jsonl"); // not in "subagents": not looked at
    put("-q/notes.txt");
    dir.write("claude/projects/file-not-folder", "x");
    age(stale, 601, now);
    const QString edge = put("-q/s-2.jsonl");
    age(edge, 600, now); // exactly at the cutoff: recent

    QStringList recent = set.recent(600, now);
    recent.sort();
    QStringList expected{top, agent, edge};
    expected.sort();
    EXPECT_EQ(recent, expected);

    TranscriptSet missing(QUrl::fromLocalFile(dir.file("nope")), store);
    EXPECT_TRUE(missing.recent(600, now).isEmpty());
}

TEST_F(TranscriptSetTest, ReadsFromTheStoredOffsetAndSavesEachPosition) {
    L::Context c;
    const QString path =
        put("-p/s-1.jsonl", {L::prompt(c, "one", "p1"), L::prompt(c, "two", "p2")});
    const quint64 firstLine = quint64(L::prompt(c, "one", "p1").size() + 1);
    store->setOffset(firstLine, path);

    TranscriptSet set(QUrl::fromLocalFile(projects), store);
    QList<quint64> storedAtHandler;
    QStringList prompts;
    set.read(path, now, [&](const TranscriptBatch& batch) {
        for (const Prompt& p : batch.prompts) {
            prompts.append(p.text);
        }
        storedAtHandler.append(store->offsets().value(path));
        return std::nullopt;
    });
    EXPECT_EQ(prompts, QStringList{"two"});
    // The position is stored only after the handler has run.
    EXPECT_EQ(storedAtHandler, QList<quint64>{firstLine});
    EXPECT_EQ(store->offsets().value(path), quint64(QFile(path).size()));
    EXPECT_TRUE(set.isOpen(path));

    // A file that cannot be read still opens a tailer, and no offset is stored for it.
    const QString gone = base() + "/-p/gone.jsonl";
    set.read(gone, now, [](const TranscriptBatch&) -> std::optional<qsizetype> {
        ADD_FAILURE();
        return std::nullopt;
    });
    EXPECT_TRUE(set.isOpen(gone));
    EXPECT_FALSE(store->offsets().contains(gone));
}

TEST_F(TranscriptSetTest, PrunesIdleTailersUnlessAToolResultIsOutstanding) {
    L::Context c;
    const QString quiet = put("-p/quiet.jsonl", {L::prompt(c, "hi", "p1")});
    const QString waiting =
        put("-p/waiting.jsonl", {L::toolUse(c, "toolu_1", "Bash", std::nullopt)});
    TranscriptSet set(QUrl::fromLocalFile(projects), store);
    const auto ignore = [](const TranscriptBatch&) -> std::optional<qsizetype> { return {}; };
    set.read(quiet, now, ignore);
    set.read(waiting, now, ignore);
    ASSERT_TRUE(set.tailer(waiting)->awaitsToolResults());

    set.prune(600, 86400, now.adding(600));
    EXPECT_TRUE(set.isOpen(quiet));
    set.prune(600, 86400, now.adding(660));
    EXPECT_FALSE(set.isOpen(quiet));
    EXPECT_TRUE(set.isOpen(waiting));
    set.prune(600, 86400, now.adding(86401));
    EXPECT_FALSE(set.isOpen(waiting));

    // Reopened from the stored offset, with no memory of the earlier tool use.
    L::append(waiting,
              {L::toolResult(c, "toolu_1", QJsonArray{L::imageBlock("AAAA", std::nullopt)})});
    QList<Candidate> candidates;
    set.read(waiting, now, [&](const TranscriptBatch& b) -> std::optional<qsizetype> {
        candidates += b.candidates;
        return {};
    });
    ASSERT_EQ(candidates.size(), 1);
    EXPECT_EQ(candidates[0].captureID, QStringLiteral("toolu_1#0"));
}

TEST_F(TranscriptSetTest, HoldsTheLineOfAFailedCaptureForADayAtMost) {
    L::Context c;
    const QByteArray first = L::prompt(c, "one", "p1");
    const QString path =
        put("-p/s-1.jsonl",
            {first, L::toolResult(c, "toolu_1", QJsonArray{L::imageBlock("AAAA", std::nullopt)})});
    TranscriptSet set(QUrl::fromLocalFile(projects), store);
    int offered = 0;
    const auto failing = [&](const TranscriptBatch& b) -> std::optional<qsizetype> {
        offered += int(b.candidates.size());
        return b.candidates.isEmpty() ? std::nullopt : std::optional<qsizetype>(0);
    };
    set.read(path, now, failing);
    set.read(path, now.adding(3600), failing);
    // A read stopped before it hands anything over tries nothing again: the line stays held.
    set.read(path, now.adding(7200), failing, [] { return true; });
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(store->offsets().value(path), quint64(first.size() + 1));
    EXPECT_EQ(set.waiting(), QStringList{path});
    set.read(path, now.adding(86401), failing);
    EXPECT_EQ(store->offsets().value(path), quint64(QFile(path).size()));
    EXPECT_TRUE(set.waiting().isEmpty());
}

TEST_F(TranscriptSetTest, AReadAskedToStopLeavesItsPositionAtTheFirstBatchNotHandedOver) {
    L::Context c;
    const QByteArray first = L::prompt(c, "one", "p1");
    const QString path =
        put("-p/s-1.jsonl", {first, L::prompt(c, "two", "p2"), L::prompt(c, "three", "p3")});
    // One byte a read call: every line is a batch of its own.
    TranscriptSet set(QUrl::fromLocalFile(projects), store, 1);
    QStringList prompts;
    const auto take = [&](const TranscriptBatch& batch) -> std::optional<qsizetype> {
        for (const Prompt& p : batch.prompts) {
            prompts.append(p.text);
        }
        return std::nullopt;
    };
    set.read(path, now, take, [] { return true; });
    EXPECT_TRUE(prompts.isEmpty());
    EXPECT_FALSE(store->offsets().contains(path));

    set.read(path, now, take, [&] { return !prompts.isEmpty(); });
    EXPECT_EQ(prompts, QStringList{"one"});
    EXPECT_EQ(store->offsets().value(path), quint64(first.size() + 1));

    set.read(path, now, take);
    EXPECT_EQ(prompts, (QStringList{"one", "two", "three"}));
    EXPECT_EQ(store->offsets().value(path), quint64(QFile(path).size()));
}

TEST_F(TranscriptSetTest, ALaterFailedCaptureNeverMovesTheHeldLinePastAnEarlierOne) {
    L::Context c;
    const QByteArray first = L::prompt(c, "one", "p1");
    const QString path =
        put("-p/s-1.jsonl",
            {first, L::toolResult(c, "toolu_1", QJsonArray{L::imageBlock("AAAA", std::nullopt)}),
             L::toolResult(c, "toolu_2", QJsonArray{L::imageBlock("BBBB", std::nullopt)})});
    // The two captures come in batches of their own, and both fail.
    TranscriptSet set(QUrl::fromLocalFile(projects), store, 1);
    set.read(path, now, [](const TranscriptBatch& b) -> std::optional<qsizetype> {
        return b.candidates.isEmpty() ? std::nullopt : std::optional<qsizetype>(0);
    });
    EXPECT_EQ(store->offsets().value(path), quint64(first.size() + 1));
}
