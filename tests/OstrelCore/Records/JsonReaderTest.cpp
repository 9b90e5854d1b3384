// The streaming reader behind the index and offsets files, held against QJsonDocument: the same
// verdict and the same records for every text, the corners of Qt's parser included.
#include "OstrelCore/Records/JsonReader.h"
#include "IndexReference.h"
#include "OstrelCore/Records/Store.h"
#include "RecordsTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

// The reader's verdict on a whole text, and the tree it reads, against Qt's.
void expectSameTree(const QByteArray& text) {
    JsonReader reader(text);
    const bool object = reader.next() == JsonReader::Kind::object;
    const auto tree = test::reference::tree(reader);
    const bool accepted = object && tree && reader.finish();
    const auto expected = test::reference::object(text);
    ASSERT_EQ(accepted, expected.has_value()) << text.toStdString();
    EXPECT_FALSE(test::reference::passOverDisagrees(text)) << text.toStdString();
    if (accepted) {
        EXPECT_TRUE(tree->toObject() == *expected)
            << text.toStdString() << " read as "
            << QJsonDocument(tree->toObject()).toJson().toStdString();
    }
}

void expectSameIndex(const QByteArray& text) {
    EXPECT_EQ(test::reference::difference(test::reference::index(text), Store::Index::decode(text)),
              QString())
        << text.toStdString();
}

void expectSameOffsets(const QByteArray& text) {
    EXPECT_EQ(test::reference::offsets(text), Store::decodeOffsets(text)) << text.toStdString();
}

QByteArray indexWith(const QByteArray& items, const QByteArray& rest = {}) {
    return R"({"items":)" + items + R"(,"sessions":[],"prompts":[])" + rest + "}";
}

const QByteArray goodItem =
    R"({"createdAt":1.5,"id":"a","kind":"image","sessionID":"s","sourceKinds":["folder"],"title":"t"})";

} // namespace

TEST(JsonReader, AcceptsAndRefusesExactlyWhatQtDoes) {
    const QByteArray texts[] = {
        "", " ", "{}", " {} \n", "\xEF\xBB\xBF{}", "{} x", "{}}", "[]", "1", "\"x\"", "{",
        R"({"a":})", R"({"a":1,})", R"({,"a":1})", R"({"a" 1})", R"({"a":[1,]})", R"({"a":[,1]})",
        R"({"a":[1 2]})", R"({"a":tru})", R"({"a":nul})", R"({"a":falsey})", R"({a:1})",
        // Numbers: Qt's loose shapes and its refusals.
        R"({"a":.5})", R"({"a":-.5})", R"({"a":1.})", R"({"a":-})", R"({"a":+1})", R"({"a":01})",
        R"({"a":1e})", R"({"a":1e+})", R"({"a":1e400})", R"({"a":1e-400})", R"({"a":4e-320})",
        R"({"a":-0})", R"({"a":-0.0})", R"({"a":1E5})", R"({"a":9223372036854775807})",
        R"({"a":9223372036854775808})", R"({"a":-9223372036854775808})",
        R"({"a":-9223372036854775809})", R"({"a":123456789012345678901234567890})",
        R"({"a":0.1000000000000000055511151231257827})", R"({"a":1})",
        // Strings: escapes, raw control characters, UTF-8 well-formed or not.
        R"({"a":"\u00e9\ud83d\ude00\ud83d"})", R"({"a":"\x\'\ "})", R"({"a":"\u12"})",
        R"({"a":"\u12G4"})", "{\"a\":\"\t\x01\"}", "{\"a\":\"\xC3\xA9\xF0\x9F\x98\x80\"}",
        "{\"a\":\"\xC3\"}", "{\"a\":\"\xED\xA0\x80\"}", "{\"a\":\"\xC0\xAF\"}",
        "{\"a\":\"\\\xC3\xA9\"}",
        // A byte order mark inside a text is a character like any other.
        "{\"\xEF\xBB\xBF"
        "a\":\"\xEF\xBB\xBF"
        "b\"}",
        R"({"a":"unterminated)", R"({"a":"\)",
        // Names: escaped, repeated, empty.
        R"({"\u0061":1,"a":2})", R"({"a":1,"a":"x"})", R"({"":[]})",
        R"({"a":{"b":{"c":[null,true,false,"",{}]}}})"};
    for (const QByteArray& text : texts) {
        expectSameTree(text);
    }
}

TEST(JsonReader, NestsAsDeepAsQtAndNoDeeper) {
    for (const int depth : {1023, 1024, 1025}) {
        // The top-level object counts as one.
        const QByteArray text =
            "{\"a\":" + QByteArray(depth - 1, '[') + QByteArray(depth - 1, ']') + "}";
        expectSameTree(text);
        expectSameIndex(text);
    }
    EXPECT_TRUE(
        test::reference::object("{\"a\":" + QByteArray(1023, '[') + QByteArray(1023, ']') + "}"));
}

TEST(JsonReader, PassingOverChecksTheGrammarAndNothingAConversionFinds) {
    const auto passes = [](const QByteArray& text) {
        JsonReader reader(text);
        return reader.passOver() && reader.finish();
    };
    // Where Qt says "illegal number", for a shape as for a value out of range.
    for (const char* text : {"[-]", "[.]", "[e]", "[-e5]", "[1e]", "[1e+]", "[+1]", "[-.]"}) {
        EXPECT_FALSE(passes(text)) << text;
    }
    for (const char* text : {"[1e400]", "[-1e400,.5,1.,-0.0e-1]", "[null,true,false]",
                             "{\"a\":{\"b\":[null]}}", "[\"\xC3\",\"\xFF\"]", "[\"\\x\"]"}) {
        EXPECT_TRUE(passes(text)) << text;
    }
    // Nesting is not limited, and costs no stack.
    const int deep = 1'000'000;
    EXPECT_TRUE(passes(QByteArray(deep, '[') + QByteArray(deep, ']')));
    EXPECT_FALSE(passes(QByteArray(deep, '[') + QByteArray(deep - 1, ']') + "}"));
}

TEST(JsonReader, ValuesOfTheWrongKindAreSkippedNotMisread) {
    JsonReader reader(R"({"n":1,"s":"x","o":{"k":[1,{"z":null}]},"t":true})");
    ASSERT_TRUE(reader.beginObject());
    JsonReader::Name name;
    QStringList seen;
    while (reader.member(name)) {
        seen.append(name.toString());
        if (name == "s") {
            EXPECT_EQ(reader.string(), QString("x"));
        } else {
            EXPECT_TRUE(reader.skip());
        }
    }
    EXPECT_TRUE(reader.finish());
    EXPECT_EQ(seen, QStringList({"n", "s", "o", "t"}));

    // Asking for the wrong kind fails for good instead of reading something else.
    JsonReader wrong(R"({"n":1})");
    ASSERT_TRUE(wrong.beginObject());
    ASSERT_TRUE(wrong.member(name));
    EXPECT_FALSE(wrong.string());
    EXPECT_TRUE(wrong.failed());
    EXPECT_FALSE(wrong.finish());
}

TEST(IndexDecoding, RecordsMatchThePlainDecoderToTheBit) {
    QJsonObject full = test::makeItem("full", 700000000.123456789).toJson();
    full.insert("fileURL", "file:///home/u/items/full.png");
    full.insert("remoteURL", "https://example.com/a%20b");
    full.insert("seenAt", -0.0);
    full.insert("width", 1440);
    full.insert("height", 900);
    full.insert("captureID", "C");
    full.insert("promptID", "p");
    full.insert("sourcePath", QString("/tmp/\u00e9/\U0001F600.png"));
    const QByteArray item = QJsonDocument(full).toJson(QJsonDocument::Compact);
    const QByteArray session =
        R"({"id":"s","startedAt":1,"lastActive":2.5,"slug":"-w","cwd":"/w","branch":"main",)"
        R"("agentName":"a","customTitle":"c","aiTitle":"t","firstPrompt":"f","firstPromptAt":3})";
    const QByteArray prompt = R"({"id":"p","sessionID":"s","at":4.25,"text":"line\nnext \"q\""})";
    const QByteArray full_index =
        R"({"version":1,"lastRunAt":10.5,"items":[)" + item + "," + goodItem + R"(],"sessions":[)" +
        session + R"(],"prompts":[)" + prompt +
        R"(],"hidden":["h","a"],"hiddenItems":[{"hiddenAt":5,"item":)" + goodItem +
        R"(}],"deleted":{"x":1},"deletedPaths":{"/p":2},"titleChecks":{"s":3.75}})";
    const auto decoded = Store::Index::decode(full_index);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->items.size(), 2);
    EXPECT_EQ(decoded->items[0].sourcePath, QString("/tmp/\u00e9/\U0001F600.png"));
    EXPECT_EQ(decoded->sessions.value(0).firstPromptAt, Date(3));
    EXPECT_EQ(decoded->titleChecks->value("s"), Date(3.75));
    expectSameIndex(full_index);
    // Pretty-printed, keys in another order: the same records.
    expectSameIndex(QJsonDocument::fromJson(full_index).toJson(QJsonDocument::Indented));
}

TEST(IndexDecoding, ElementsThatDoNotReadDropAloneWithTheLastOfARepeatedName) {
    const QByteArray cases[] = {
        // Items: one bad element is dropped alone.
        indexWith("[" + goodItem + R"(,1,"x",null,[],{"id":"b"}])"),
        indexWith(
            R"([{"createdAt":1,"id":5,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","id":5,"kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":null,"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":["web"],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[1],"sourceKinds":["chrome","chrome"],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"paper","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":"1","id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":null}])"),
        indexWith(
            R"([{"createdAt":1,"fileURL":null,"id":"b","kind":"pdf","seenAt":null,"sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"fileURL":"items/rel.png","id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"fileURL":"file:///a b","id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"remoteURL":"http://[::1","id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":""}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","width":1.5}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","width":1.0,"height":1e3}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","width":9223372036854775808}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","height":-9223372036854775808}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","captureID":7}])"),
        indexWith(
            "[" + goodItem +
            R"(,{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","sourcePath":5}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","promptID":[]}])"),
        indexWith(
            R"([{"createdAt":1,"id":"b","kind":"pdf","sessionID":"s","sourceKinds":[],"title":"","seenAt":"x"}])"),
        // Hidden records: lossy like items; "item" must be a readable item.
        indexWith("[]", R"(,"hiddenItems":[{"hiddenAt":1,"item":)" + goodItem +
                            R"(},{"hiddenAt":1},{"item":)" + goodItem + R"(},5])"),
        indexWith("[]",
                  R"(,"hiddenItems":[{"hiddenAt":1,"item":)" + goodItem + R"(,"item":null}])"),
        indexWith("[]", R"(,"hiddenItems":null)"),
        indexWith("[]", R"(,"hiddenItems":{})"),
        // Sessions, prompts, hidden ids and tables alike; a member of the wrong type is absent.
        indexWith("[]", R"(,"sessions":[{"id":"s","startedAt":1}])"),
        indexWith("[]", R"(,"sessions":[{"id":"s","startedAt":1}],"sessions":[])"),
        indexWith("[]", R"(,"sessions":[{"id":"s","startedAt":1,"lastActive":2,"cwd":3}])"),
        indexWith("[]", R"(,"prompts":[{"id":"p","sessionID":"s","at":1,"text":null}])"),
        indexWith("[]", R"(,"hidden":["a",1])"),
        indexWith("[]", R"(,"hidden":null)"),
        indexWith("[]", R"(,"deleted":{"a":"2024-01-01"})"),
        indexWith("[]", R"(,"deleted":{"a":"x","a":1})"),
        indexWith("[]", R"(,"deleted":{"a":1,"a":"x"})"),
        indexWith("[]", R"(,"deleted":{"a":null})"),
        indexWith("[]", R"(,"titleChecks":[])"),
        indexWith("[]", R"(,"deletedPaths":{"\u00e9\ud800":-0.0})"),
        // Top level: version and lastRunAt optional; the three lists required.
        indexWith("[]", R"(,"version":null,"lastRunAt":null)"),
        indexWith("[]", R"(,"version":7.5)"),
        indexWith("[]", R"(,"version":"1")"),
        indexWith("[]", R"(,"lastRunAt":"now")"),
        indexWith("null"),
        indexWith("{}"),
        R"({"sessions":[],"prompts":[]})",
        R"({"items":[],"items":7,"sessions":[],"prompts":[]})",
        R"({"items":7,"items":[],"sessions":[],"prompts":[]})",
        R"({"\u0069tems":[],"sessions":[],"prompts":[]})",
        "{\"\xEF\xBB\xBF"
        "items\":[],\"sessions\":[],\"prompts\":[]}",
        R"({"items":[],"sessions":[],"prompts":[]} trailing)",
        R"(["items"])",
    };
    for (const QByteArray& text : cases) {
        expectSameIndex(text);
    }

    // The cases above that pin the rule rather than only agree with the reference.
    const auto lastWins = Store::Index::decode(cases[1]);
    ASSERT_TRUE(lastWins);
    ASSERT_EQ(lastWins->items.size(), 1);
    EXPECT_EQ(lastWins->items[0].id, "b");
    // Items of which none reads leave an index without items, read in part like any other.
    const auto noneRead = Store::Index::decode(cases[2]);
    ASSERT_TRUE(noneRead);
    EXPECT_TRUE(noneRead->items.isEmpty());
    EXPECT_FALSE(Store::Index::decode(indexWith("[]", R"(,"deleted":{"a":1,"a":"x"})"))
                     ->deleted->contains("a"));
    EXPECT_EQ(
        Store::Index::decode(indexWith("[]", R"(,"deleted":{"a":"x","a":1})"))->deleted->value("a"),
        Date(1));
}

TEST(IndexDecoding, SourceChecksKeepThoseOfTheItemsHeldWhereverTheItemsStand) {
    // The checks before the items and the hidden items, and before a repeat that replaces them.
    QByteArray hidden = goodItem;
    hidden.replace(R"("id":"a")", R"("id":"h")");
    const QByteArray checks = R"("sourceChecks":{"/a":{"id":"a","modified":1},)"
                              R"("/h":{"id":"h","modified":2},"/x":{"id":"x","modified":3}})";
    const auto index = Store::Index::decode(
        "{" + checks + R"(,"items":[)" + goodItem + R"(],"sessions":[],"prompts":[],)" +
        R"("hiddenItems":[{"item":)" + hidden + R"(,"hiddenAt":1}]})");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->sourceChecks,
              (QHash<QString, Store::SourceCheck>{{"/a", Store::SourceCheck{"a", Date(1)}},
                                                  {"/h", Store::SourceCheck{"h", Date(2)}}}));
    const auto replaced =
        Store::Index::decode(indexWith("[" + goodItem + "]", "," + checks + R"(,"items":[])"));
    EXPECT_EQ(replaced->sourceChecks, (QHash<QString, Store::SourceCheck>{}));
}

TEST(IndexDecoding, WhatOnlyAConversionRefusesDropsAloneButBrokenGrammarSpoilsTheWhole) {
    // A number out of range, nesting too deep, bytes that are not UTF-8: each in one element,
    // or in a member of the index's own.
    const QByteArray deep = QByteArray(2000, '[') + QByteArray(2000, ']');
    const QByteArray text = indexWith(
        "[" + goodItem + R"(,{"id":"b","createdAt":1e400},{"id":"c","x":)" + deep +
            "},{\"id\":\"d\xC3\"}]",
        R"(,"sessions":[{"id":"s","startedAt":1,"lastActive":2},{"id":"t","startedAt":1e400}],)"
        "\"prompts\":[{\"id\":\"p\",\"sessionID\":\"s\",\"at\":1,\"text\":\"\xFF\"}],"
        R"("hidden":["h",1e400],)"
        R"("hiddenItems":[)" +
            deep + R"(],"deleted":{"a":1e400,"b":1},"version":1e400,"lastRunAt":"x","other":)" +
            deep +
            R"(,"sourceChecks":{"/a":{"id":"a","modified":1e400,"n":null},)"
            R"("/b":{"id":"a","modified":2,"n":null}})");
    const auto index = Store::Index::decode(text);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->items.size(), 1);
    EXPECT_EQ(index->items[0].id, "a");
    ASSERT_EQ(index->sessions.size(), 1);
    EXPECT_TRUE(index->prompts.isEmpty());
    EXPECT_EQ(index->hidden, QStringList{"h"});
    EXPECT_EQ(index->hiddenItems, QList<HiddenRecord>{});
    EXPECT_EQ(index->deleted, (QHash<QString, Date>{{"b", Date(1)}}));
    EXPECT_FALSE(index->lastRunAt);
    EXPECT_EQ(index->sourceChecks,
              (QHash<QString, Store::SourceCheck>{{"/b", Store::SourceCheck{"a", Date(2)}}}));

    // What is not JSON spoils the whole, wherever it stands: inside an element read again by
    // its grammar alone, in a source check, or a tail cut off.
    for (const char* broken :
         {R"(,"items":[{"id":"b","createdAt":1e400,}])", R"(,"sourceChecks":{"/a":{"id":"a":1}})",
          R"(,"sourceChecks":{"/a":[1:2]})", R"(,"sourceChecks":{"/a":-})",
          R"(,"sourceChecks":{"/a":1e400 2})"}) {
        EXPECT_FALSE(Store::Index::decode(indexWith("[]", broken))) << broken;
    }
    Store::Index small;
    small.items = {test::makeItem("a", 1)};
    const QByteArray whole = small.encode();
    for (qsizetype length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(Store::Index::decode(whole.first(length))) << length;
    }
}

TEST(IndexDecoding, BytesThatAreNotUtf8InANameOrAValueCostItsOwnEntryAloneAndAreCounted) {
    // In a key and in a value of each table and list, and in a member's name of the index.
    const QByteArray text = indexWith(
        "[" + goodItem + "]",
        ",\"deleted\":{\"a\":1,\"\xFF\":2,\"b\":\"\xFF\"},\"deletedPaths\":{\"/p\xFF\":1,\"/q\":2},"
        "\"titleChecks\":{\"s\xFF\":1,\"t\":2},\"hidden\":[\"h\",\"\xFF\"],"
        "\"sourceChecks\":{\"/a\":{\"id\":\"a\",\"modified\":1},\"/"
        "\xFF\":{\"id\":\"a\",\"modified\":2},"
        "\"/b\":{\"id\":\"\xFF\",\"modified\":3}},\"x\xFF\":1");
    QStringList lost;
    const auto index = Store::Index::decode(text, &lost);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->deleted, (QHash<QString, Date>{{"a", Date(1)}}));
    EXPECT_EQ(index->deletedPaths, (QHash<QString, Date>{{"/q", Date(2)}}));
    EXPECT_EQ(index->titleChecks, (QHash<QString, Date>{{"t", Date(2)}}));
    EXPECT_EQ(index->hidden, QStringList{"h"});
    EXPECT_EQ(index->sourceChecks,
              (QHash<QString, Store::SourceCheck>{{"/a", Store::SourceCheck{"a", Date(1)}}}));
    EXPECT_EQ(lost,
              (QStringList{"1 hidden ids", "2 deletion marks", "1 deleted paths", "1 title checks",
                           "2 source checks", "1 members of unreadable name"}));
    // A clean index loses nothing; the offsets stay all or nothing.
    Store::Index::decode(indexWith("[" + goodItem + "]"), &lost);
    EXPECT_TRUE(lost.isEmpty());
    EXPECT_FALSE(Store::decodeOffsets("{\"/a\":1,\"/\xFF\":2}"));
}

TEST(OffsetsDecoding, AllOrNothingWithOffsetsUpToTheLargestUnsignedValue) {
    const QByteArray cases[] = {
        "{}",
        "[]",
        "{",
        R"({"/a":0,"/b":5})",
        R"({"/a":-1})",
        R"({"/a":-0})",
        R"({"/a":1.5})",
        R"({"/a":1.0})",
        R"({"/a":1e3})",
        R"({"/a":"5"})",
        R"({"/a":null})",
        R"({"/a":9223372036854775807})",
        R"({"/a":9223372036854775808})",
        R"({"/a":18446744073709551615})",
        R"({"/a":18446744073709551616})",
        R"({"/a":18446744073709555000})",
        R"({"/a":36893488147419103232})",
        R"({"/a":"x","/a":3})",
        R"({"/a":3,"/a":"x"})",
        R"({"\u00e9":1,"é":2})",
    };
    for (const QByteArray& text : cases) {
        expectSameOffsets(text);
    }
    const auto offsets = Store::decodeOffsets(R"({"/a":"x","/a":3,"/big":18446744073709551615})");
    ASSERT_TRUE(offsets);
    EXPECT_EQ(offsets->value("/a"), 3u);
    EXPECT_EQ(offsets->value("/big"), quint64(std::numeric_limits<qint64>::max()));
}

TEST(IndexDecoding, TextsStartingWithAByteOrderMarkComeBackWhole) {
    // Qt's parser took a leading U+FEFF of an unescaped text for a byte order mark and dropped
    // it, so such an item came back with another title and source path than it was saved with.
    ShelfItem item = test::makeItem(QStringLiteral(u"\uFEFFid"), 1);
    item.title = QStringLiteral(u"\uFEFFshot.png");
    item.sourcePath = QStringLiteral(u"\uFEFF/tmp/a.png");
    Store::Index index;
    index.items = {item};
    index.deleted = QHash<QString, Date>{{QStringLiteral(u"\uFEFFgone"), Date(2)}};
    const auto back = Store::Index::decode(index.encode());
    ASSERT_TRUE(back);
    ASSERT_EQ(back->items.size(), 1);
    EXPECT_TRUE(test::reference::same(back->items[0], item));
    EXPECT_EQ(back->deleted, index.deleted);
    EXPECT_EQ(Store::decodeOffsets("{\"\xEF\xBB\xBF/t\":1}")->keys(),
              QStringList{QStringLiteral(u"\uFEFF/t")});
}

TEST(IndexDecoding, FileUrlsReadTheSameWhicheverWayTheyAreParsed) {
    // Plain file URLs skip QUrl's general parser; every other form still goes through it.
    const char* urls[] = {
        "file:///a",      "file:///",      "file:///a/",   "file:///a/./b/../c",
        "file:///~a-_.b", "file:////a",    "file:///a//b", "file:///a%20b",
        "file:///a b",    "file:///a?q",   "file:///a#f",  "file:///\u00e9",
        "FILE:///a",      "file://host/a", "file:/a",      "file:a",
        "file:///a%",     "file:///a:b@c", "file:///a[b]", "https://example.com/a"};
    for (const char* url : urls) {
        const QByteArray text =
            indexWith("[" + goodItem + R"(,{"createdAt":1,"fileURL":")" + QByteArray(url) +
                      R"(","id":"b","kind":"pdf","sessionID":"s",)"
                      R"("sourceKinds":[],"title":""}])");
        expectSameIndex(text);
        const auto index = Store::Index::decode(text);
        ASSERT_TRUE(index) << url;
        if (index->items.size() == 2) {
            const QUrl& read = *index->items[1].fileURL;
            EXPECT_EQ(read.toString(QUrl::FullyEncoded),
                      QUrl(QString::fromUtf8(url), QUrl::StrictMode).toString(QUrl::FullyEncoded))
                << url;
            EXPECT_EQ(read.toLocalFile(), QUrl(QString::fromUtf8(url)).toLocalFile()) << url;
        }
    }
}
