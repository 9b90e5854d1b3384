#include "OstrelCore/Engine/TranscriptTailer.h"
#include "OstrelCore/Engine/TranscriptParser.h"
#include "TranscriptLines.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ostrel;
namespace L = ostrel::test::lines;

namespace {

struct Read {
    QList<TranscriptBatch> batches;
    QList<std::optional<quint64>> offsets;
};

Read readAll(TranscriptTailer& tailer) {
    Read r;
    tailer.read([&](const TranscriptBatch& batch) {
        r.batches.append(batch);
        r.offsets.append(tailer.offset());
    });
    return r;
}

QByteArray numbered(int i) {
    return QByteArray("{\"n\":") + QByteArray::number(i) + "}";
}

class TranscriptTailerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QString path = dir.file(QStringLiteral("-home-ada-src-ostrel/s-1.jsonl"));
    QUrl url() const { return QUrl::fromLocalFile(path); }
    void SetUp() override { dir.write(QStringLiteral("-home-ada-src-ostrel/s-1.jsonl"), {}); }
};

} // namespace

TEST_F(TranscriptTailerTest, HandsOnlyFinishedLinesAsTheyAreAppended) {
    TranscriptTailer tailer(url(), std::nullopt, 4194304, 4194304);
    readAll(tailer);
    EXPECT_EQ(tailer.offset(), 0u); // an empty file: nothing new, position recorded

    L::append(path, {numbered(1), numbered(2)}, /*unfinished=*/true);
    EXPECT_EQ(tailer.readLines(), QStringList{QStringLiteral("{\"n\":1}")});
    EXPECT_EQ(tailer.offset(), quint64(numbered(1).size() + 1));
    EXPECT_TRUE(tailer.readLines().isEmpty()); // the unfinished line waits

    L::appendRaw(path, "\n\n\r\n" + numbered(3) + "\r\n");
    EXPECT_EQ(tailer.readLines(), (QStringList{QStringLiteral("{\"n\":2}"), QStringLiteral("\r"),
                                               QStringLiteral("{\"n\":3}\r")}));
    EXPECT_EQ(tailer.offset(), quint64(QFile(path).size()));
}

TEST_F(TranscriptTailerTest, FirstReadLooksOnlyAWindowBackAndDropsThePartialLine) {
    QList<QByteArray> lines;
    for (int i = 0; i < 1000; ++i) {
        lines.append(numbered(i));
    }
    L::append(path, lines);
    const quint64 size = quint64(QFile(path).size());

    TranscriptTailer tail(url(), std::nullopt, 100, 4194304);
    const QStringList got = tail.readLines();
    ASSERT_FALSE(got.isEmpty());
    EXPECT_EQ(got.last(), QStringLiteral("{\"n\":999}"));
    // Whole lines only, all of them within the window.
    qsizetype bytes = 0;
    for (const QString& line : got) {
        EXPECT_TRUE(line.startsWith(u'{') && line.endsWith(u'}')) << line.toStdString();
        bytes += line.size() + 1;
    }
    EXPECT_LT(bytes, 100);
    EXPECT_EQ(tail.offset(), size);

    // Within the window, nothing is dropped.
    TranscriptTailer whole(url(), std::nullopt, size, 4194304);
    EXPECT_EQ(whole.readLines().size(), 1000);

    // A stored position beyond the end (the file was replaced) reads it all again.
    TranscriptTailer stale(url(), size + 10, 100, 4194304);
    EXPECT_EQ(stale.readLines().size(), 1000);
}

TEST_F(TranscriptTailerTest, SmallChunksGiveOneBatchPerPieceWithItsPosition) {
    L::Context c;
    QList<QByteArray> lines;
    for (int i = 0; i < 30; ++i) {
        lines.append(
            L::prompt(c, QStringLiteral("prompt %1").arg(i), QStringLiteral("p%1").arg(i)));
    }
    L::append(path, lines);
    const qint64 chunk = lines[0].size() * 4;
    TranscriptTailer tailer(url(), 0, 4194304, chunk);
    const Read r = readAll(tailer);
    ASSERT_GE(r.batches.size(), 7);
    int prompts = 0;
    for (qsizetype i = 0; i < r.batches.size(); ++i) {
        prompts += r.batches[i].prompts.size();
        // The position handed with a batch covers exactly the lines handed so far.
        quint64 covered = 0;
        for (int k = 0; k < prompts; ++k) {
            covered += quint64(lines[k].size() + 1);
        }
        EXPECT_EQ(r.offsets[i], covered);
    }
    EXPECT_EQ(prompts, 30);
}

TEST_F(TranscriptTailerTest, BatchCarriesSightingsPromptsImagesArtifactsAndTitles) {
    L::Context early;
    early.timestamp = QStringLiteral("2025-06-01T10:00:00Z");
    L::Context late = early;
    late.timestamp = QStringLiteral("2025-06-01T10:05:00Z");
    late.branch = QString(); // written as "", still a string
    L::Context noBranch = late;

    const QString png = QString::fromLatin1(QByteArray("png-bytes").toBase64());
    QJsonObject lateObj = QJsonDocument::fromJson(L::prompt(late, "second", "p2")).object();
    lateObj.remove("gitBranch");
    lateObj.remove("cwd");

    L::append(path,
              {
                  L::prompt(early, "First prompt", "p1"),
                  L::toolUse(early, "toolu_read", "Read", QStringLiteral("/home/ada/plot.png")),
                  L::toolResult(early, "toolu_read", QJsonArray{L::imageBlock(png, "image/png")},
                                QStringLiteral("p1")),
                  L::toolResult(early, "toolu_shot",
                                QJsonArray{L::imageBlock(png, "image/jpeg"),
                                           L::imageBlock(png, "image/webp")}),
                  L::toolUse(early, "toolu_pub", "Publish", QStringLiteral("/home/ada/r.html")),
                  L::toolResults(early, QJsonArray{L::toolResultItem("toolu_pub", QString("ok"))},
                                 L::artifactResult("art-1", "https://claude.ai/public/artifacts/1",
                                                   QStringLiteral("Report"))),
                  L::title(early.sessionID, "ai-title", "aiTitle", QStringLiteral("Sales chart")),
                  L::compact(lateObj),
              });
    TranscriptTailer tailer(url(), 0, 4194304, 4194304);
    const Read r = readAll(tailer);
    ASSERT_EQ(r.batches.size(), 1);
    const TranscriptBatch& b = r.batches[0];
    EXPECT_FALSE(b.isEmpty());
    ASSERT_TRUE(b.fileCreated);

    ASSERT_EQ(b.sessions.size(), 1);
    const SessionSighting& s = b.sessions[0];
    EXPECT_EQ(s.id, early.sessionID);
    EXPECT_EQ(s.slug, QStringLiteral("-home-ada-src-ostrel"));
    EXPECT_EQ(s.cwd, early.cwd); // filled from the earlier line
    EXPECT_EQ(s.branch, QStringLiteral("main"));
    EXPECT_EQ(s.at, *TranscriptParser::date(late.timestamp));
    EXPECT_EQ(s.fileCreated, b.fileCreated);

    ASSERT_EQ(b.prompts.size(), 2);
    EXPECT_EQ(b.prompts[0], (Prompt{"p1", early.sessionID, *TranscriptParser::date(early.timestamp),
                                    QStringLiteral("First prompt")}));

    ASSERT_EQ(b.candidates.size(), 4);
    const Candidate& read = b.candidates[0];
    EXPECT_EQ(read.source, Source::transcript);
    EXPECT_EQ(read.readPath, QStringLiteral("/home/ada/plot.png"));
    EXPECT_FALSE(read.captureID);
    EXPECT_EQ(read.promptID, QStringLiteral("p1"));
    EXPECT_EQ(read.slug, QStringLiteral("-home-ada-src-ostrel"));
    const auto& payload = std::get<Payload::Base64>(read.payload.value);
    EXPECT_EQ(payload.text, png.toLatin1());
    EXPECT_EQ(payload.fileExtension, QStringLiteral("png"));

    EXPECT_EQ(b.candidates[1].captureID, QStringLiteral("toolu_shot#0"));
    EXPECT_EQ(b.candidates[2].captureID, QStringLiteral("toolu_shot#1"));
    EXPECT_EQ(std::get<Payload::Base64>(b.candidates[2].payload.value).fileExtension,
              QStringLiteral("webp"));
    EXPECT_FALSE(b.candidates[1].readPath);

    const auto& art = std::get<Payload::Artifact>(b.candidates[3].payload.value).info;
    EXPECT_EQ(art.id, QStringLiteral("art-1"));
    EXPECT_EQ(art.path, QStringLiteral("/home/ada/r.html")); // from the remembered tool use
    EXPECT_EQ(art.title, QStringLiteral("Report"));

    ASSERT_EQ(b.titles.size(), 1);
    EXPECT_EQ(b.titles[0],
              (SessionTitle{early.sessionID, SessionTitle::Kind::ai, QStringLiteral("Sales chart"),
                            QStringLiteral("-home-ada-src-ostrel")}));
    // "toolu_shot" was never seen as a tool use; the two that were have their results.
    EXPECT_FALSE(tailer.awaitsToolResults());
}

TEST_F(TranscriptTailerTest, ToolUsesAreRememberedAcrossReadsAndBounded) {
    L::Context c;
    L::Context undated = c;
    undated.timestamp = QStringLiteral("2025-06-01 10:00:00");
    TranscriptTailer tailer(url(), 0, 4194304, 4194304);

    // A line without a parsable time gives nothing, but its tool use still counts.
    L::append(path, {L::toolUse(undated, "toolu_r", "Read", QStringLiteral("/a.png"))});
    Read r = readAll(tailer);
    ASSERT_EQ(r.batches.size(), 1);
    EXPECT_TRUE(r.batches[0].isEmpty());
    EXPECT_TRUE(tailer.awaitsToolResults());

    L::append(path, {L::toolResult(c, "toolu_r", QJsonArray{L::imageBlock("AAAA", std::nullopt)})});
    r = readAll(tailer);
    ASSERT_EQ(r.batches[0].candidates.size(), 1);
    EXPECT_EQ(r.batches[0].candidates[0].readPath, QStringLiteral("/a.png"));
    EXPECT_FALSE(tailer.awaitsToolResults());

    // With "toolu_r", the 4001st distinct id: the oldest 2001 go, the newest 2000 stay.
    QList<QByteArray> uses;
    for (int i = 0; i < 4000; ++i) {
        uses.append(L::toolUse(c, QStringLiteral("t%1").arg(i), "Bash", std::nullopt));
    }
    L::append(path, uses);
    readAll(tailer);
    EXPECT_EQ(tailer.rememberedToolUses(), 2000);
    // The results of every remembered use arrive; the forgotten ones no longer count.
    QJsonArray results;
    for (int i = 2000; i < 4000; ++i) {
        results.append(L::toolResultItem(QStringLiteral("t%1").arg(i), QString("ok")));
    }
    L::append(path, {L::toolResults(c, results)});
    readAll(tailer);
    EXPECT_FALSE(tailer.awaitsToolResults());
}

TEST_F(TranscriptTailerTest, SubagentTranscriptsBelongToTheirProject) {
    EXPECT_EQ(TranscriptTailer::slug(QStringLiteral("/p/-home-ada/s-1/subagents/agent-1.jsonl")),
              QStringLiteral("-home-ada"));
    EXPECT_EQ(TranscriptTailer::slug(QStringLiteral("/p/-home-ada/s-1.jsonl")),
              QStringLiteral("-home-ada"));
}

TEST_F(TranscriptTailerTest, TitleScanReadsOnlyTheTail) {
    L::Context c;
    QList<QByteArray> lines{L::title(c.sessionID, "custom-title", "customTitle", "Old")};
    for (int i = 0; i < 200; ++i) {
        lines.append(L::assistantText(c, QStringLiteral("working %1").arg(i)));
    }
    lines.append(L::title(c.sessionID, "agent-name", "agentName", "Scout"));
    lines.append(L::title(c.sessionID, "ai-title", "aiTitle", "Charts"));
    L::append(path, lines);
    const auto titles = TranscriptTailer::titles(url(), 4096);
    ASSERT_EQ(titles.size(), 2);
    EXPECT_EQ(titles[0].kind, SessionTitle::Kind::agentName);
    EXPECT_EQ(titles[1].text, QStringLiteral("Charts"));
    EXPECT_EQ(titles[1].slug, QStringLiteral("-home-ada-src-ostrel"));
    EXPECT_EQ(TranscriptTailer::titles(url(), 1 << 20).size(), 3);
}

namespace {
int longLineWarnings = 0;
QtMessageHandler previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.contains(QLatin1String("skipped a transcript line"))) {
        ++longLineWarnings;
        return;
    }
    previousHandler(type, context, message);
}
} // namespace

// A runaway line would otherwise be gathered without bound and read again on every event.
TEST_F(TranscriptTailerTest, OverlongLinesAreSkippedWholeAndLoggedOnce) {
    longLineWarnings = 0;
    previousHandler = qInstallMessageHandler(countWarnings);
    const qint64 limit = 256;
    TranscriptTailer tailer(url(), 0, 4194304, 64, limit);

    // A finished over-long line between two good ones.
    L::append(path, {numbered(1), QByteArray(1000, 'x'), numbered(2)});
    EXPECT_EQ(tailer.readLines(), (QStringList{"{\"n\":1}", "{\"n\":2}"}));
    EXPECT_EQ(longLineWarnings, 1);

    // An over-long line still being written: skipped, not gathered, not read again.
    const quint64 before = *tailer.offset();
    L::append(path, {QByteArray(600, 'y')}, /*unfinished=*/true);
    EXPECT_TRUE(tailer.readLines().isEmpty());
    EXPECT_EQ(tailer.offset(), before); // still before it, so a restart would find it again
    L::appendRaw(path, QByteArray(600, 'y'));
    EXPECT_TRUE(tailer.readLines().isEmpty());
    EXPECT_EQ(longLineWarnings, 2);

    L::appendRaw(path, "yyy\n" + numbered(3) + "\n");
    EXPECT_EQ(tailer.readLines(), QStringList{"{\"n\":3}"});
    EXPECT_EQ(tailer.offset(), quint64(QFile(path).size()));
    EXPECT_EQ(longLineWarnings, 2);
    qInstallMessageHandler(previousHandler);
}

TEST_F(TranscriptTailerTest, UnreadableFilesYieldNothing) {
    TranscriptTailer missing(QUrl::fromLocalFile(dir.file("gone/x.jsonl")), 5, 100, 100);
    EXPECT_TRUE(missing.readLines().isEmpty());
    EXPECT_EQ(missing.offset(), 5u);

    // A FIFO under a transcript's name must not block the reader.
    const QString fifo = dir.file(QStringLiteral("fifo.jsonl"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    TranscriptTailer pipe(QUrl::fromLocalFile(fifo), std::nullopt, 100, 100);
    EXPECT_TRUE(pipe.readLines().isEmpty());
    EXPECT_FALSE(pipe.offset());

    // Binary junk and half-written JSON only shorten the result.
    L::appendRaw(path, QByteArray("\x00\xff\xfe{\"type\":\"user\"\n", 18) +
                           "{\"type\":\"user\",\n" + L::prompt(L::Context{}, "still here", "p9") +
                           "\n");
    TranscriptTailer tailer(url(), std::nullopt, 4194304, 4194304);
    const Read r = readAll(tailer);
    ASSERT_EQ(r.batches.size(), 1);
    ASSERT_EQ(r.batches[0].prompts.size(), 1);
    EXPECT_EQ(r.batches[0].prompts[0].text, QStringLiteral("still here"));
}
