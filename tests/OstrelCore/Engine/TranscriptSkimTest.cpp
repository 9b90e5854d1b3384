// The skimming parser against the full QJsonDocument decode it replaced: every line must yield
// the same record, field by field, and be accepted or refused alike.
#include "OstrelCore/Engine/JsonSkim.h"
#include "OstrelCore/Engine/TranscriptParser.h"
#include "TranscriptLines.h"
#include "TranscriptReferenceParser.h"

#include <QJsonParseError>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace ostrel;
namespace L = ostrel::test::lines;
namespace reference = ostrel::test::reference;

namespace {

bool qtAcceptsObject(QByteArrayView line) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
    return error.error == QJsonParseError::NoError && document.isObject();
}

std::string printable(QByteArrayView line) {
    const QByteArray head = line.first(std::min<qsizetype>(line.size(), 300)).toByteArray();
    return head.toPercentEncoding(R"( "{}[]:,\/_-.+)").toStdString();
}

// Compares both parsers on `line`; true when they agree.
bool agree(QByteArrayView line) {
    const QString difference =
        reference::difference(reference::record(line), TranscriptParser::record(line));
    const bool sameVerdict = JsonSkim::object(line, {}).has_value() == qtAcceptsObject(line);
    EXPECT_EQ(difference, QString()) << printable(line);
    EXPECT_TRUE(sameVerdict) << "Qt accepts: " << qtAcceptsObject(line) << ' ' << printable(line);
    return difference.isEmpty() && sameVerdict;
}

// A user line around a message, with the needle in it, so that the whole line gets decoded.
QByteArray user(const QByteArray& message, const QByteArray& extra = {}) {
    return R"({"type":"user","sessionId":"s-1","cwd":"/w","gitBranch":"main",)"
           R"("timestamp":"2025-06-01T10:00:00Z","promptId":"p-1","message":)" +
           message + extra + "}";
}

QByteArray results(const QByteArray& content) {
    return user(
        R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"t-1","content":)" +
        content + "}]}");
}

QByteArray imageBlock(const QByteArray& data, const QByteArray& mediaType = "image/jpeg") {
    return R"({"type":"image","source":{"type":"base64","media_type":")" + mediaType +
           R"(","data":")" + data + R"("}})";
}

QList<QByteArray> realisticLines() {
    L::Context c;
    const QString base64 = QString::fromLatin1(QByteArray(3000, 'x').toBase64());
    return {
        L::prompt(c, QStringLiteral(" Draw a \"chart\"\n\tof sales → now "), QStringLiteral("p")),
        L::assistantText(c, QStringLiteral("Done.")),
        L::toolUse(c, QStringLiteral("toolu_1"), QStringLiteral("Read"),
                   QStringLiteral("/home/ada/a b.png")),
        L::toolResult(c, QStringLiteral("toolu_1"),
                      QJsonArray{L::imageBlock(base64, QStringLiteral("image/webp")),
                                 L::textBlock(QStringLiteral("shown")),
                                 L::imageBlock(base64, std::nullopt)}),
        L::toolResult(c, QStringLiteral("toolu_2"), QStringLiteral("a\\b \"q\" \x01 é 😀")),
        L::toolResults(
            c,
            QJsonArray{L::toolResultItem(QStringLiteral("toolu_3"), QString("ok")),
                       L::toolResultItem(QStringLiteral("toolu_4"),
                                         QJsonArray{L::imageBlock(base64, "image/gif")})},
            L::artifactResult(QStringLiteral("art"), QStringLiteral("HTTPS://claude.ai/a?x=1"),
                              QStringLiteral("Report"), QStringLiteral("/w/r.md"))),
        L::title(c.sessionID, QStringLiteral("custom-title"), QStringLiteral("customTitle"),
                 QStringLiteral("  Mine  ")),
        L::title(c.sessionID, QStringLiteral("ai-title"), QStringLiteral("aiTitle"),
                 QStringLiteral("Charts")),
        L::title(c.sessionID, QStringLiteral("agent-name"), QStringLiteral("agentName"),
                 QStringLiteral("Scout")),
    };
}

// Every test runs twice: with the vectors of every x86-64 processor, and with AVX2 where this
// one has it.
class TranscriptSkimTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { JsonSkim::useWideVectors(GetParam()); }
    void TearDown() override { JsonSkim::useWideVectors(true); }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Vectors, TranscriptSkimTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "wide" : "plain"; });

TEST_P(TranscriptSkimTest, RealisticLinesAndEveryTruncationAgree) {
    for (const QByteArray& line : realisticLines()) {
        ASSERT_TRUE(agree(line));
        for (qsizetype n = 0; n<line.size(); n += line.size()> 2000 ? 7 : 1) {
            ASSERT_TRUE(agree(QByteArrayView(line).first(n))) << n;
        }
    }
}

TEST_P(TranscriptSkimTest, EscapesAndUnicodeDecodeAsQtDecodesThem) {
    const QList<QByteArray> texts{
        R"(plain)",
        R"(\"q\" \\ \/ \b\f\n\r\t)",
        R"(\u00e9\u00E9 \u0000 \u20AC)",
        R"(\ud83d\ude00 pair)",
        R"(lone high \ud83d then text)",
        R"(lone low \ude00)",
        R"(\t lone low \ude00 in a text that is trimmed)",
        R"(\ude00\ud83d reversed)",
        R"(unknown \a\x\' escapes)",
        "\\\xff high byte escaped",
        "\\\x80 continuation escaped",
        "\\\x01 control escaped",
        "raw \x01\x1f\t controls",
        "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 utf8",
        "\\n\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf utf8 beside an escape",
        "\xef\xbf\xbe\xef\xbf\xbf noncharacters",
        "\xef\xbb\xbf byte order mark first",
        "\xef\xbb\xbf\\t byte order mark beside an escape",
        "\xf4\x8f\xbf\xbf last scalar",
        "   \\n  spaced  \\t ",
    };
    for (const QByteArray& text : texts) {
        SCOPED_TRACE(text.toStdString());
        // As prompt text, tool-use fields, image data and title text alike.
        EXPECT_TRUE(agree(user(R"({"role":"user","content":")" + text + R"("})")));
        EXPECT_TRUE(
            agree(user(R"({"role":"user","content":[{"type":"text","text":")" + text + R"("}]})")));
        EXPECT_TRUE(agree(user(R"({"content":[{"type":"tool_use","id":")" + text +
                               R"(","name":"Read","input":{"file_path":")" + text + R"("}}]})")));
        EXPECT_TRUE(agree(results("[" + imageBlock(text, text) + "]")));
        EXPECT_TRUE(agree(R"({"type":"ai-title","sessionId":")" + text + R"(","aiTitle":")" + text +
                          R"("})"));
    }
}

TEST_P(TranscriptSkimTest, MalformedStringsAreRefusedWherever) {
    const QList<QByteArray> texts{
        "\xc3",
        "\xc3(",
        "\x80",
        "\xc0\xaf",
        "\xe0\x80\xaf",
        "\xed\xa0\x80",
        "\xf4\x90\x80\x80",
        "\xf5\x80\x80\x80",
        "\xff",
        "\\\xc3\xa9",
        R"(\u12)",
        R"(\u12g4)",
        R"(\)",
        R"(\uD83D\u)",
    };
    for (const QByteArray& text : texts) {
        SCOPED_TRACE(text.toStdString());
        // In a value that is read, one that is skipped, and a member name.
        EXPECT_TRUE(agree(user(R"({"role":"user","content":")" + text + R"("})")));
        EXPECT_TRUE(
            agree(user(R"({"role":"user","content":"x"})", R"(,"skipped":")" + text + "\"")));
        EXPECT_TRUE(agree(user(R"({"role":"user","content":"x"})", ",\"" + text + "\":1")));
    }
}

TEST_P(TranscriptSkimTest, WrongTypesAndDuplicateMembers) {
    const QList<QByteArray> lines{
        // The last of two equal names counts, also when one is written with escapes.
        user(R"({"role":"user","content":"first"})",
             R"(,"message":{"role":"user","content":"last"})"),
        user(R"({"role":"user","content":"a","content":["b"],"content":"c"})"),
        user(R"({"role":"user","content":"x"})", R"(,"ty\u0070e":"assistant")"),
        user(R"({"role":"user","content":"x"})", R"(,"type":1,"\u0074ype":"user")"),
        user(R"({"content":[{"type":"tool_use","id":"a","id":"b","name":"Read","name":null}]})"),
        results("[" + imageBlock("QUJD") + R"(,{"type":"image","type":"text"}])"),
        R"({"type":"custom-title","customTitle":"a","sessionId":"s","customTitle":5})",
        R"({"type":"custom-title","customTitle":"a","sessionId":"s","sessionId":"t"})",
        R"({"type":"ai-title","aiTitle":"a","sessionId":"s","type":"user"})",
        // Values of the wrong type count as absent.
        user(R"({"role":"user","content":"x"})", R"(,"isMeta":"true","isSidechain":1,"cwd":["/"])"),
        user(R"({"role":"user","content":"x"})", R"(,"isMeta":true)"),
        user(R"({"role":"user","content":"x"})", R"(,"isSidechain":true,"timestamp":null)"),
        user(R"(["not","an","object"])"),
        user(R"({"role":"user","content":{"type":"text","text":"object content"}})"),
        user(R"({"role":"user","content":[1,{"type":"text","text":"after a number"}]})"),
        user(R"({"role":"user","content":[{"type":"text","text":5},{"type":"text","text":"b"}]})"),
        user(R"({"role":"user","content":[{"type":"tool_use","id":"a","name":"Bash"},2]})"),
        user(
            R"({"role":"user","content":[{"type":"tool_use","id":"a","name":"Read","input":[]}]})"),
        user(R"({"role":"assistant","content":[{"type":"tool_result","tool_use_id":"t"}]})"),
        R"({"type":"assistant","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t"}]}})",
        R"({"type":"assistant","message":{"role":"user","content":"role makes it a user line"}})",
        results(R"("plain text")"),
        results("[" + imageBlock("QUJD") + ",7]"),
        results("[" + imageBlock("") + "," + imageBlock("QUJD", "image/gif") + "]"),
        results(R"([{"type":"image","source":{"type":"url","data":"QUJD"}},)"
                R"({"type":"image","source":["base64"]},{"type":"image"},)"
                R"({"type":"image","source":{"type":"base64","data":"QUJD","media_type":4}}])"),
        results(R"([])") + R"(,"toolUseResult":{"artifact_id":"a","url":"https://x.test/a"})",
        user(
            R"({"role":"user","content":[{"type":"tool_result","content":"x"}]})",
            R"(,"toolUseResult":{"artifact_id":"a","url":"https://x.test/a","title":1,"path":"/p"})"),
        user(R"({"role":"user","content":"x"})",
             R"(,"toolUseResult":{"artifact_id":"a","url":"http://x.test/a"})"),
        user(R"({"role":"user","content":"x"})",
             R"(,"toolUseResult":{"artifact_id":"a","url":"x y"})"),
        user(R"({"role":"user","content":"x"})", R"(,"toolUseResult":["a"])"),
        user(R"({"role":"user","content":" <command-name>/clear</command-name>"})"),
        user(R"({"role":"user","content":"\u2028 [Request interrupted by user]"})"),
    };
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(agree(line));
    }
}

TEST_P(TranscriptSkimTest, StructureNumbersAndNesting) {
    const QByteArray body = R"({"role":"user","content":"x"})";
    QList<QByteArray> lines{
        user(body) + " \t\r\n",
        " \r\n\t" + user(body),
        "\xef\xbb\xbf" + user(body),
        " \xef\xbb\xbf" + user(body),
        user(body) + "\f",
        user(body) + QByteArray("\0", 1),
        user(body) + " x",
        user(body) + "{}",
        "[" + user(body) + "]",
        "\"type\":\"user\"",
        user(body).chopped(1),
        user(body, ","),
        user("{" + body.mid(1).replace(":", " : ").replace(",", " , ") + "  "),
        user(body, R"(,"a":[1,])"),
        user(body, R"(,"a":[,1])"),
        user(body, R"(,"a":{"b"})"),
        user(body, R"(,"a":{"b":})"),
        user(body, R"(,"a":{,})"),
        user(body, R"(,"a":[ ],"b":{ },"c":[[],{}])"),
        user(body, R"(,"a":tru)"),
        user(body, R"(,"a":nulll)"),
        user(body, R"(,"a":True)"),
        user(body, R"(,"a":nan)"),
        user(body, R"(,"a":Infinity)"),
        user(body, R"(,"a":'x')"),
        user(body, ",\"a\":1\v"),
        user(body, ",\"a\":\"x\"\xc2\xa0"),
    };
    for (const char* number : {"0",
                               "-0",
                               "01",
                               "-01",
                               "1.",
                               ".5",
                               "-.5",
                               ".",
                               "-",
                               "+1",
                               "1e",
                               "1e+",
                               "1E-2",
                               "1.e5",
                               "1e5.",
                               "1.2.3",
                               "0x10",
                               "-e5",
                               "e5",
                               "1ee",
                               "1e400",
                               "-1e400",
                               "1e-400",
                               "2e-324",
                               "4.9e-324",
                               "0e-400",
                               "0e999",
                               "123456789012345678",
                               "1234567890123456789",
                               "99999999999999999999",
                               "-9223372036854775808",
                               "9223372036854775808",
                               "0.000000000000000000000000000001",
                               "1.0000",
                               "100000000000000000000000000000e-30"}) {
        lines.append(user(body, R"(,"n":)" + QByteArray(number)));
        lines.append(user(body, R"(,"n":[)" + QByteArray(number) + "]"));
        // A number where the parser expects a string is absent, not an error.
        lines.append(user(body, R"(,"cwd":)" + QByteArray(number)));
    }
    for (int depth : {2, 1023, 1024, 1025}) {
        // `depth` containers in all, the line itself included.
        lines.append(
            user(body, R"(,"deep":)" + QByteArray(depth - 1, '[') + QByteArray(depth - 1, ']')));
        QByteArray objects;
        for (int i = 1; i < depth; ++i) {
            objects += R"({"message":)";
        }
        lines.append(user(body, R"(,"deep":)" + objects + "0" + QByteArray(depth - 1, '}')));
    }
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(agree(line));
    }
}

TEST_P(TranscriptSkimTest, LongStringsDenseWithEscapesAgreeAcrossBlocks) {
    // Runs of backslashes, escaped quotes, \u escapes and UTF-8 sequences straddle the 64-byte
    // blocks long strings are read in; now and then a piece spoils the string. A line longer
    // than the parser's first look may show its needle only far in, or only behind an escaped
    // quote, where the read itself must find it.
    const QList<QByteArray> good{"\\\\",  "\\\\\\",           "\\\"",         "\\u00e9",
                                 "u0041", "\xc3\xa9",         "\xe2\x86\x92", "\xf0\x9f\x98\x80",
                                 "x",     "abcdefghijklmnopq"};
    const QList<QByteArray> bad{"\\u12", "\xe2\x86", "\x80", "\"", "\\"};
    const QList<QByteArray> members{"", R"("type":"user",)", R"("k\"type":"user",)",
                                    R"("v":"\"type\":\"user\"",)", R"("message":{"role":"user"},)"};
    QRandomGenerator rng(11);
    for (int round = 0; round < 4000; ++round) {
        QByteArray text;
        const int length = int(rng.bounded(40, 300));
        while (text.size() < length) {
            text += rng.bounded(80) == 0 ? bad.at(int(rng.bounded(bad.size())))
                                         : good.at(int(rng.bounded(good.size())));
        }
        const QByteArray pad(int(rng.bounded(64)) + (rng.bounded(2) == 0 ? 0 : 4096), 'p');
        const QByteArray line = R"({"pad":")" + pad + R"(",)" +
                                members.at(int(rng.bounded(members.size()))) + R"("text":")" +
                                text + R"(","sessionId":"s","timestamp":"2025-06-01T10:00:00Z"})";
        ASSERT_TRUE(agree(line)) << "round " << round;
    }
}

TEST_P(TranscriptSkimTest, MutatedLinesAgree) {
    // A deterministic small fuzz over realistic lines: random bytes replaced, inserted and
    // removed, with the structural bytes and escapes favoured.
    const QList<QByteArray> lines = realisticLines();
    const QByteArray alphabet = R"({}[]:,"\u0 e1.-tfn)"
                                "\x80\xbf\xc3\xe2\xed\xf0\xff\t\r";
    QRandomGenerator rng(7);
    for (int round = 0; round < 3000; ++round) {
        QByteArray line = lines.at(int(rng.bounded(lines.size())));
        if (line.size() > 1000) {
            continue;
        }
        const int edits = 1 + int(rng.bounded(3));
        for (int e = 0; e < edits && !line.isEmpty(); ++e) {
            const auto at = qsizetype(rng.bounded(int(line.size())));
            const char byte = rng.bounded(4) == 0 ? char(rng.bounded(256))
                                                  : alphabet.at(int(rng.bounded(alphabet.size())));
            switch (rng.bounded(3)) {
            case 0:
                line[at] = byte;
                break;
            case 1:
                line.insert(at, byte);
                break;
            default:
                line.remove(at, 1);
                break;
            }
        }
        ASSERT_TRUE(agree(line)) << "round " << round;
    }
}
