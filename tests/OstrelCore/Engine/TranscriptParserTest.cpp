#include "OstrelCore/Engine/TranscriptParser.h"
#include "OstrelCore/Records/Prompt.h"
#include "TranscriptLines.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace ostrel;
namespace L = ostrel::test::lines;

namespace {

QByteArray pngBase64() {
    return QByteArray("\x89PNG\r\n\x1a\n0000", 12).toBase64();
}

} // namespace

TEST(TranscriptParserTest, PromptLineYieldsSessionPromptAndTime) {
    L::Context c;
    const auto record = TranscriptParser::record(
        L::prompt(c, QStringLiteral("  \n Draw a chart\nof sales  \n"), QStringLiteral("p-1")));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->type, QStringLiteral("user"));
    EXPECT_EQ(record->sessionID, c.sessionID);
    EXPECT_EQ(record->cwd, c.cwd);
    EXPECT_EQ(record->gitBranch, c.branch);
    EXPECT_EQ(record->promptID, QStringLiteral("p-1"));
    EXPECT_EQ(record->promptText, Prompt::summarize(QStringLiteral("Draw a chart\nof sales")));
    ASSERT_TRUE(record->timestamp);
    EXPECT_EQ(*record->timestamp, Date(770464800.123));
    EXPECT_TRUE(record->toolUses.isEmpty());
    EXPECT_FALSE(record->artifact);
}

TEST(TranscriptParserTest, LinesWithoutNeedlesAreNotDecoded) {
    L::Context c;
    EXPECT_FALSE(TranscriptParser::record(L::assistantText(c, QStringLiteral("Done."))));
    // The same user line written with spaces after the colons holds no needle.
    QByteArray spaced = L::prompt(c, QStringLiteral("hi"), QStringLiteral("p"));
    spaced.replace("\":", "\": ");
    EXPECT_FALSE(TranscriptParser::record(spaced));
    // "tool_use_id" alone is not the "tool_use" needle.
    EXPECT_FALSE(TranscriptParser::mayBeInteresting(R"({"tool_use_id":"x"})"));
}

TEST(TranscriptParserTest, PromptTextIsLeftOutForCommandsMetaAndToolResults) {
    L::Context c;
    for (const char* text : {"<command-name>/clear</command-name>", "<local-command-stdout>",
                             "[Request interrupted by user]", "   \n "}) {
        const auto r = TranscriptParser::record(L::prompt(c, QString::fromUtf8(text), "p"));
        ASSERT_TRUE(r) << text;
        EXPECT_FALSE(r->promptText) << text;
    }

    QJsonObject meta = QJsonDocument::fromJson(L::prompt(c, "hello", "p")).object();
    meta.insert("isMeta", true);
    auto r = TranscriptParser::record(L::compact(meta));
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->isMeta);
    EXPECT_FALSE(r->promptText);

    // A text item beside a tool result is not a prompt; the tool result still counts.
    r = TranscriptParser::record(L::toolResults(
        c, QJsonArray{L::textBlock("look"), L::toolResultItem("toolu_1", QString("ok"))}));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->promptText);
    EXPECT_EQ(r->toolResultIDs, QList<QString>{QStringLiteral("toolu_1")});
    EXPECT_TRUE(r->images.isEmpty());

    // Only the first text item is consulted.
    QJsonObject twoTexts = QJsonDocument::fromJson(L::prompt(c, "x", "p")).object();
    twoTexts.insert("message", QJsonObject{{"role", "user"},
                                           {"content", QJsonArray{L::textBlock(" first "),
                                                                  L::textBlock("second")}}});
    r = TranscriptParser::record(L::compact(twoTexts));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->promptText, QStringLiteral("first"));
}

TEST(TranscriptParserTest, ToolUsesAndImages) {
    L::Context c;
    const auto use = TranscriptParser::record(
        L::toolUse(c, "toolu_9", "Read", QStringLiteral("/home/ada/shot.png")));
    ASSERT_TRUE(use);
    ASSERT_EQ(use->toolUses.size(), 1);
    EXPECT_EQ(use->toolUses[0], (ToolUse{"toolu_9", "Read", QStringLiteral("/home/ada/shot.png")}));

    const QString data = QString::fromLatin1(pngBase64());
    const QJsonArray blocks{
        L::imageBlock(data, QStringLiteral("image/jpeg")),
        L::imageBlock(data, std::nullopt),
        L::imageBlock(data, QStringLiteral("IMAGE/JPEG")),
        L::imageBlock(QString(), QStringLiteral("image/png")), // empty data: skipped
        QJsonObject{{"type", "image"},
                    {"source", QJsonObject{{"type", "url"}, {"data", data}}}}, // not base64
        L::textBlock("caption"),
    };
    const auto r = TranscriptParser::record(L::toolResult(c, "toolu_9", blocks));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->images.size(), 3);
    EXPECT_EQ(r->images[0].fileExtension(), QStringLiteral("jpg"));
    EXPECT_EQ(r->images[1].fileExtension(), QStringLiteral("png"));
    EXPECT_EQ(r->images[1].mediaType, QStringLiteral("image/png"));
    EXPECT_EQ(r->images[2].fileExtension(), QStringLiteral("png"));
    EXPECT_EQ(r->images[0].toolUseID, QStringLiteral("toolu_9"));
    EXPECT_EQ(r->images[0].sessionID, c.sessionID);
    EXPECT_EQ(r->images[0].data(), QByteArray("\x89PNG\r\n\x1a\n0000", 12));
    EXPECT_EQ(TranscriptParser::images(QString::fromUtf8(L::toolResult(c, "toolu_9", blocks))),
              r->images);
}

TEST(TranscriptParserTest, StrictBase64) {
    TranscriptImage image;
    image.base64 = "aGVs bG8=";
    EXPECT_FALSE(image.data());
    image.base64 = "aGVsbG8=\n";
    EXPECT_FALSE(image.data());
    image.base64 = "aGVsbG8=";
    EXPECT_EQ(image.data(), QByteArray("hello"));
}

TEST(TranscriptParserTest, Timestamps) {
    EXPECT_EQ(TranscriptParser::date(QStringLiteral("2025-01-31T09:15:02.345Z")),
              Date(760007702.345));
    EXPECT_EQ(TranscriptParser::date(QStringLiteral("2025-01-31T09:15:02Z")),
              Date::fromUnix(1738314902));
    EXPECT_EQ(TranscriptParser::date(QStringLiteral("2025-01-31T10:15:02+01:00")),
              Date::fromUnix(1738314902));
    EXPECT_FALSE(TranscriptParser::date(QStringLiteral("2025-01-31 09:15:02Z")));
    EXPECT_FALSE(TranscriptParser::date(QStringLiteral("2025-01-31T09:15:02"))); // no zone
    EXPECT_FALSE(TranscriptParser::date(QStringLiteral("2025-13-45T09:15:02Z")));
    EXPECT_FALSE(TranscriptParser::date(QStringLiteral("２０２５-01-31T09:15:02Z")));
    EXPECT_FALSE(TranscriptParser::date(std::nullopt));
}

TEST(TranscriptParserTest, TimestampsInTheAssistantsFormReadAsQtReadsThem) {
    // The form the assistant writes is read straight from its bytes; Qt reads every other. Both
    // must agree on it, limits and impossible dates included.
    const auto byQt = [](const QString& text) -> std::optional<Date> {
        const QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!parsed.isValid() || !text.endsWith(u'Z')) {
            return std::nullopt;
        }
        return Date(static_cast<double>(parsed.toMSecsSinceEpoch() - 978307200000) / 1000.0);
    };
    QRandomGenerator rng(7);
    const int years[] = {1969, 1970, 2000, 2024, 2025, 2100, 2400, 9999};
    const int days[] = {0, 1, 28, 29, 30, 31, 32};
    for (int i = 0; i < 5000; ++i) {
        const int year = i % 2 == 0 ? years[rng.bounded(8)] : 1970 + int(rng.bounded(300));
        const int day = i % 3 == 0 ? int(rng.bounded(33)) : days[rng.bounded(7)];
        const QString text =
            QStringLiteral("%1-%2-%3T%4:%5:%6%7Z")
                .arg(year, 4, 10, QChar('0'))
                .arg(rng.bounded(14), 2, 10, QChar('0'))
                .arg(day, 2, 10, QChar('0'))
                .arg(rng.bounded(25), 2, 10, QChar('0'))
                .arg(rng.bounded(61), 2, 10, QChar('0'))
                .arg(rng.bounded(61), 2, 10, QChar('0'))
                .arg(i % 3 == 0 ? QString()
                                : QStringLiteral(".%1").arg(rng.bounded(1000), 3, 10, QChar('0')));
        EXPECT_EQ(TranscriptParser::date(text), byQt(text)) << text.toStdString();
        // And from the bytes of a line.
        L::Context c;
        c.timestamp = text;
        const auto record =
            TranscriptParser::record(L::prompt(c, QStringLiteral("hi"), QStringLiteral("p")));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->timestamp, byQt(text)) << text.toStdString();
    }
}

TEST(TranscriptParserTest, Artifacts) {
    L::Context c;
    const auto line = [&](const QString& url) {
        return L::toolResults(c, QJsonArray{L::toolResultItem("toolu_a", QString("published"))},
                              L::artifactResult("art-1", url, QStringLiteral("Report"),
                                                QStringLiteral("/home/ada/report.html")));
    };
    auto r = TranscriptParser::record(line(QStringLiteral("HTTPS://claude.ai/public/artifacts/1")));
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->artifact);
    EXPECT_EQ(r->artifact->id, QStringLiteral("art-1"));
    EXPECT_EQ(r->artifact->title, QStringLiteral("Report"));
    EXPECT_EQ(r->artifact->path, QStringLiteral("/home/ada/report.html"));
    EXPECT_EQ(r->artifact->toolUseID, QStringLiteral("toolu_a"));

    for (const char* url : {"http://claude.ai/a", "/relative/a", "file:///etc/passwd"}) {
        r = TranscriptParser::record(line(QString::fromLatin1(url)));
        ASSERT_TRUE(r) << url;
        EXPECT_FALSE(r->artifact) << url;
        EXPECT_EQ(r->toolResultIDs.size(), 1) << url;
    }
}

TEST(TranscriptParserTest, TitleLines) {
    auto r = TranscriptParser::record(
        L::title("s-1", "custom-title", "customTitle", QStringLiteral("  Fix the build ")));
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->title);
    EXPECT_EQ(*r->title, (SessionTitle{"s-1", SessionTitle::Kind::custom,
                                       QStringLiteral("  Fix the build "), std::nullopt}));
    EXPECT_FALSE(r->timestamp);

    r = TranscriptParser::record(L::title("s-1", "ai-title", "aiTitle", QString()));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->title->kind, SessionTitle::Kind::ai);
    EXPECT_TRUE(r->title->text.isEmpty());

    EXPECT_FALSE(
        TranscriptParser::record(QByteArray(R"({"type":"custom-title","sessionId":"s"})")));
    EXPECT_FALSE(TranscriptParser::record(
        QByteArray(R"({"type":"custom-title","customTitle":3,"sessionId":"s"})")));
    EXPECT_FALSE(
        TranscriptParser::record(QByteArray(R"({"type":"agent-name","agentName":"Scout"})")));
    EXPECT_TRUE(TranscriptParser::mayBeTitle(L::title("s", "agent-name", "agentName", "x")));
    for (const auto kind : SessionTitle::allKinds) {
        EXPECT_EQ(SessionTitle::kindFromRaw(SessionTitle::rawValue(kind)), kind);
    }
    EXPECT_FALSE(SessionTitle::kindFromRaw(QStringLiteral("Custom-Title")));
}

// Inputs that once broke the parser or that it must survive: each only yields nothing or less.
TEST(TranscriptParserTest, BadInputOnlyShortensTheResult) {
    const QList<QByteArray> junk{
        QByteArray(R"({"type":"user")"),                  // truncated
        QByteArray(R"(["type":"user"])"),                 // not an object
        QByteArray(R"({"type":"user"} {"type":"user"})"), // two values
        QByteArray("\x00\xff\"type\":\"user\"\xfe", 17),  // binary junk
        QByteArray(R"({"type":"user","message":"text","sessionId":7,"timestamp":1})"),
        QByteArray(R"({"type":"user","message":{"content":[1,{"type":"tool_result"}]}})"),
        QByteArray(
            R"({"type":"user","message":{"content":[{"type":"tool_result","content":[{"type":"image","source":7}]}]}})"),
        QByteArray(R"({"type":"user","toolUseResult":{"artifact_id":1,"url":"https://x"}})"),
        QByteArray(R"({"type":"user","toolUseResult":{"artifact_id":"a","url":"https:// x"}})"),
        QByteArray(
            R"({"type":"assistant","message":{"content":[{"type":"tool_use","id":1,"name":"Read"}]}})"),
        QByteArray(8192, '[') + R"("tool_use")",
    };
    for (const QByteArray& line : junk) {
        const auto r = TranscriptParser::record(line);
        if (r) {
            EXPECT_FALSE(r->sessionID);
            EXPECT_FALSE(r->timestamp);
            EXPECT_TRUE(r->toolUses.isEmpty());
            EXPECT_TRUE(r->images.isEmpty());
            EXPECT_FALSE(r->artifact);
        }
    }
    // Unknown keys and wrong types elsewhere leave the rest of the line standing.
    const auto r = TranscriptParser::record(QByteArray(
        R"({"type":"user","sessionId":"s","promptId":5,"isMeta":"yes","extra":{"a":[1]},)"
        R"("timestamp":"2025-01-31T09:15:02Z","message":{"role":"user","content":"hi"}})"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionID, QStringLiteral("s"));
    EXPECT_FALSE(r->promptID);
    EXPECT_FALSE(r->isMeta);
    EXPECT_EQ(r->promptText, QStringLiteral("hi"));
}
