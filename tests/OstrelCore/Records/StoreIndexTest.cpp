// The index and offsets files: their exact form, what reads, and what is set aside and kept.
#include "StoreFilesFixture.h"
#include "support/AsUser.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

TEST_F(StoreFiles, IndexIsCompactSortedAndReloadsExactly) {
    {
        auto store = open();
        ShelfItem item = makeItem("b", 0.1 + 0.2);
        item.seenAt = Date(1e-7);
        item.width = 640;
        item.fileURL = QUrl::fromLocalFile(path("items/b.png"));
        store->upsert(item);
        store->upsert(makeItem("a", -12345.678901234));
        Session session = makeSession("s1", 1.0 / 3.0, 2);
        session.cwd = "/w/ü";
        store->upsert(session);
        store->upsert(makePrompt("p", "s1", 5.5));
        store->hide("a");
        store->setTitleChecked("s1", Date(7.25));
        store->setSourceChecked("/w/b.png", Date(9.5), "b");
        store->setOffset(1234567890123ull, "/t.jsonl");
        store->flush();
    }
    const QByteArray text = read("index.json");
    EXPECT_FALSE(text.contains('\n'));
    EXPECT_FALSE(text.contains(": "));
    EXPECT_TRUE(text.startsWith(
        R"({"deleted":{},"deletedPaths":{},"hidden":["a"],"hiddenItems":[{"hiddenAt":1000,"item":{"createdAt":)"));
    EXPECT_TRUE(text.contains(R"("items":[{"createdAt":0.30000000000000004,"fileURL":)"));
    EXPECT_FALSE(text.contains("null"));
    EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":1234567890123})");

    clock = 2000;
    auto again = open();
    EXPECT_FALSE(again->isFirstRun());
    EXPECT_EQ(again->previousRunAt(), Date(1000));
    EXPECT_EQ(again->items().value("b").createdAt, Date(0.1 + 0.2));
    EXPECT_EQ(again->items().value("b").seenAt, Date(1e-7));
    EXPECT_EQ(again->sessions().value("s1").startedAt, Date(1.0 / 3.0));
    EXPECT_EQ(again->hiddenItems().value("a").item.createdAt, Date(-12345.678901234));
    EXPECT_TRUE(again->isHiddenSourcePath("") == false);
    EXPECT_EQ(again->titleChecks().value("s1"), Date(7.25));
    EXPECT_EQ(again->sourceChecks().value("/w/b.png"), (Store::SourceCheck{"b", Date(9.5)}));
    EXPECT_EQ(again->offsets().value("/t.jsonl"), 1234567890123ull);
    EXPECT_EQ(again->revision(), 0);
    // Writing it back changes nothing but the time of the run.
    again->flush();
    QByteArray rewritten = read("index.json");
    rewritten.replace(R"("lastRunAt":2000)", R"("lastRunAt":1000)");
    EXPECT_EQ(rewritten, text);
}

TEST_F(StoreFiles, SourceChecksThatDoNotReadAreDroppedAloneAndSpoilNothing) {
    Store::Index index;
    index.items = {makeItem("x", 1), makeItem("y", 1)};
    index.titleChecks = QHash<QString, Date>{{"s", Date(1)}};
    const auto withChecks = [&index](const QByteArray& checks) {
        QByteArray text = index.encode();
        text.replace(R"("titleChecks")", R"("sourceChecks":)" + checks + R"(,"titleChecks")");
        return text;
    };
    // Values a strict read refuses, in one entry each: a number out of range, nesting deeper
    // than any reader goes; and a check of an item no longer held.
    const QByteArray deep = QByteArray(2000, '[') + QByteArray(2000, ']');
    writeIndex(withChecks(R"({"/a":{"id":"x","modified":"now"},"/b":[],"/c":{"modified":2},)"
                          R"("/e":{"id":"x","modified":1e400},"/f":{"id":"x","modified":1,"n":)" +
                          deep +
                          R"(},"/g":{"id":"gone","modified":1},)"
                          R"("/d":{"id":"y","modified":3.5,"more":true}})"));
    auto store = open();
    EXPECT_FALSE(store->isFirstRun());
    EXPECT_EQ(store->items().size(), 2);
    EXPECT_EQ(store->sourceChecks().keys(), QStringList{"/d"});
    EXPECT_EQ(store->sourceChecks().value("/d"), (Store::SourceCheck{"y", Date(3.5)}));

    // No more checks are kept than there are items.
    QByteArray many = "{";
    for (int i = 0; i < 10; ++i) {
        many += R"("/m)" + QByteArray::number(i) + R"(":{"id":"x","modified":1},)";
    }
    many.back() = '}';
    writeIndex(withChecks(many));
    store = open();
    QStringList kept = store->sourceChecks().keys();
    kept.sort();
    EXPECT_EQ(kept, (QStringList{"/m0", "/m1"})); // those of the first paths

    writeIndex(withChecks(R"([{"id":"x","modified":1e400}])"));
    store = open();
    EXPECT_FALSE(store->isFirstRun());
    EXPECT_TRUE(store->sourceChecks().isEmpty());
    EXPECT_EQ(store->titleChecks().value("s"), Date(1));
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST(StoreIndexForm, EncodingIsTheCanonicalCompactSortedJson) {
    // Whatever the records hold, the bytes equal what a JSON library writes for the same
    // document in its compact, key-sorted form.
    Store::Index index;
    index.lastRunAt = Date(-0.5);
    ShelfItem item = makeItem("q\"uote\\ \n\t\x01 é 😀", 1e-300);
    item.sourcePath = "/tmp/ /x";
    item.fileURL = QUrl::fromLocalFile("/tmp/a b/ü#?.png");
    item.remoteURL = QUrl("https://example.com/p?q=1&r=%20");
    item.width = -1;
    item.height = std::numeric_limits<qint64>::max() / 2;
    item.seenAt = Date(123456789.123456789);
    item.captureID = "toolu#3";
    item.promptID = "";
    index.items = {item, makeItem("b", 2)};
    Session session = makeSession("s", 1, 2);
    session.aiTitle = "\u0000";
    index.sessions = {session};
    index.prompts = {makePrompt("p", "s", 3)};
    index.hidden = QStringList{"z", "a"};
    index.hiddenItems = QList<HiddenRecord>{HiddenRecord{makeItem("h", 4), Date(5)}};
    index.deleted = QHash<QString, Date>{{"b", Date(1)}, {"a", Date(2)}, {"B", Date(3)}};
    index.deletedPaths = QHash<QString, Date>{{"/p/é", Date(1)}, {"/p/e", Date(2)}};
    index.titleChecks = QHash<QString, Date>{};
    // An inode past the signed range, as some file systems give, comes back the same.
    FileIdentity file;
    file.device = 2049;
    file.inode = static_cast<ino_t>(0xFFFF'FFFF'FFFF'FFF0ULL);
    file.size = 7;
    file.modified = 1'765'000'000'123'456'789;
    index.removing = QList<Store::Removal>{{"items/a.png", file}, {"thumbs/a.jpg", std::nullopt}};
    const QByteArray ours = index.encode();
    QJsonParseError error{};
    const QJsonDocument parsed = QJsonDocument::fromJson(ours, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << ours.toStdString();
    EXPECT_EQ(ours, parsed.toJson(QJsonDocument::Compact));
    const auto back = Store::Index::decode(ours);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->items.value(0), item);
    EXPECT_EQ(back->sessions.value(0), session);
    EXPECT_EQ(back->removing, index.removing);
}

TEST_F(StoreFiles, LoadingKeepsFirstDuplicateAndIgnoresVersion) {
    QJsonArray items{makeItem("x", 1).toJson(), makeItem("x", 2).toJson()};
    writeIndex(QJsonDocument(QJsonObject{{"version", 7},
                                         {"items", items},
                                         {"sessions", QJsonArray{}},
                                         {"prompts", QJsonArray{}}})
                   .toJson());
    auto store = open();
    EXPECT_FALSE(store->isFirstRun());
    EXPECT_FALSE(store->previousRunAt());
    EXPECT_EQ(store->items().value("x").createdAt, Date(1));
    EXPECT_EQ(partlyFiles().size(), 1); // the other one is lost from the tables, not the disk
    store->flush();
    EXPECT_EQ(test::parseObject(read("index.json")).value("version"), 1);
}

TEST_F(StoreFiles, BadElementsDropAloneInOneLineButAMissingListSetsTheFileAside) {
    QJsonObject badItem = makeItem("bad", 1).toJson();
    badItem.insert("createdAt", "yesterday");
    // An optional field of another type spoils its item as a missing required one does.
    QJsonObject badPath = makeItem("path", 1).toJson();
    badPath.insert("sourcePath", 5);
    QJsonObject badRecord{{"item", makeItem("h", 1).toJson()}, {"hiddenAt", "x"}};
    const QJsonObject badSession{{"id", "s"}, {"startedAt", 1}};
    const QJsonObject base{
        {"items", QJsonArray{badItem, badItem, badPath, makeItem("ok", 2).toJson()}},
        {"hiddenItems", QJsonArray{badRecord}},
        {"sessions", QJsonArray{badSession, makeSession("t", 1, 2).toJson()}},
        {"prompts", QJsonArray{}},
        {"deleted", QJsonObject{{"a", "2024-01-01"}}},
        {"hidden", QJsonArray{1}}};
    writeIndex(QJsonDocument(base).toJson());
    {
        test::LogCapture log;
        auto store = open();
        EXPECT_FALSE(store->isFirstRun());
        EXPECT_EQ(store->items().keys(), QStringList{"ok"});
        EXPECT_TRUE(store->hiddenItems().isEmpty());
        EXPECT_EQ(store->sessions().keys(), QStringList{"t"});
        EXPECT_TRUE(store->deleted().isEmpty());
        EXPECT_TRUE(asideFiles().isEmpty());
        const QStringList said = log.matching("did not read");
        ASSERT_EQ(said.size(), 1);
        EXPECT_TRUE(said[0].contains("3 items; 1 sessions")) << said[0].toStdString();
        // The index as it was stays beside it, once however often the same bytes are read.
        ASSERT_EQ(partlyFiles().size(), 1);
        EXPECT_EQ(read(partlyFiles()[0]), QJsonDocument(base).toJson());
        EXPECT_TRUE(said[0].contains(path(partlyFiles()[0]))) << said[0].toStdString();
    }
    open();
    open()->flush();
    open();
    EXPECT_EQ(partlyFiles().size(), 1);
    // Damaged again, into other bytes of the same length: those are kept aside too.
    QByteArray again = QJsonDocument(base).toJson();
    again.replace("yesterday", "yesterdaz");
    writeIndex(again);
    open();
    ASSERT_EQ(partlyFiles().size(), 2);
    EXPECT_EQ((QSet<QByteArray>{read(partlyFiles()[0]), read(partlyFiles()[1])}),
              (QSet<QByteArray>{QJsonDocument(base).toJson(), again}));

    // Of whose items none reads (one damaged item, or a form this reader does not know): read in
    // part all the same, keeping the marks and the offsets.
    QJsonObject noItemReads = base;
    noItemReads.insert("items", QJsonArray{badItem, badPath});
    noItemReads.insert("hidden", QJsonArray{"h"});
    noItemReads.insert("deleted", QJsonObject{{"d", 5}});
    writeIndex(QJsonDocument(noItemReads).toJson());
    dir.write("support/offsets.json", R"({"/t.jsonl":7})");
    {
        auto store = open();
        EXPECT_FALSE(store->isFirstRun());
        EXPECT_TRUE(store->items().isEmpty());
        EXPECT_TRUE(store->isHidden("h"));
        EXPECT_TRUE(store->deleted().contains("d"));
        EXPECT_EQ(store->offsets().value("/t.jsonl"), 7u);
        EXPECT_EQ(partlyFiles().size(), 3);
        EXPECT_TRUE(asideFiles().isEmpty());
    }

    const auto expectSetAside = [&](const QByteArray& index, const char* why) {
        for (const QString& f : asideFiles()) {
            QFile::remove(path(f));
        }
        writeIndex(index);
        auto store = open();
        EXPECT_TRUE(store->isFirstRun()) << why;
        EXPECT_TRUE(store->items().isEmpty()) << why;
        EXPECT_EQ(asideFiles().size(), 1) << why;
        EXPECT_FALSE(QFile::exists(path("index.json"))) << why;
    };
    QJsonObject noPrompts = base;
    noPrompts.remove("prompts");
    expectSetAside(QJsonDocument(noPrompts).toJson(), "no prompts");
    expectSetAside(QJsonDocument(base).toJson(QJsonDocument::Compact).chopped(1), "a tail cut off");
}

TEST_F(StoreFiles, AnIndexThatReadInPartIsNeverReplacedWhileItCannotBeKept) {
    QJsonObject later = makeItem("later", 1).toJson();
    later.insert("kind", "hologram");
    later.insert("title", QString(8192, u'x'));
    writeIndex(QJsonDocument(QJsonObject{{"items", QJsonArray{makeItem("ok", 2).toJson(), later}},
                                         {"sessions", QJsonArray{}},
                                         {"prompts", QJsonArray{}}})
                   .toJson());
    const QByteArray original = read("index.json");
    dir.write("support/thumbs/ok.jpg", "thumbnail");
    {
        // Room for the index without the item that did not read, not for its copy.
        const test::FileSizeLimit full(4096);
        auto store = open();
        EXPECT_EQ(store->items().keys(), QStringList{"ok"});
        store->upsert(makeItem("new", 3));
        // Deleted in a run whose deletion never reaches the disk: the index there brings the
        // item back, with its picture.
        store->deleteItems({"ok"});
        store->flush();
    }
    EXPECT_EQ(read("index.json"), original);
    EXPECT_TRUE(QFile::exists(path("thumbs/ok.jpg")));
    EXPECT_TRUE(partlyFiles().isEmpty());
    open()->flush();
    ASSERT_EQ(partlyFiles().size(), 1);
    EXPECT_EQ(read(partlyFiles()[0]), original);
}

TEST_F(StoreFiles, PathsHoldingANulCharacterAreRefusedWhenTheIndexIsRead) {
    const QString crafted = QStringLiteral("/home/u/.ssh/id_rsa") + QChar(u'\0') + ".html";
    {
        auto store = open(false);
        ShelfItem item = makeItem("crafted", 1);
        item.sourcePath = crafted;
        store->upsert(item);
        store->upsert(makeItem("plain", 2));
        Session session = makeSession("s1", 1, 2);
        session.cwd = crafted;
        store->upsert(session);
        store->setOffset(5, crafted);
        store->flush();
    }
    test::LogCapture log;
    auto store = open();
    EXPECT_EQ(store->items().keys(), QStringList{"plain"});
    EXPECT_FALSE(store->sessions().value("s1").cwd);
    EXPECT_TRUE(store->offsets().isEmpty());
    EXPECT_EQ(log.matching("NUL").size(), 2); // one line for the index, one for the offsets
}

TEST_F(StoreFiles, ADeletionStampWhosePathHoldsANulCharacterIsRefusedWhenTheIndexIsRead) {
    const QString crafted = QStringLiteral("/home/u/.ssh/id_rsa") + QChar(u'\0') + ".html";
    {
        auto store = open(false);
        for (const char* id : {"crafted", "plain"}) {
            ShelfItem item = makeItem(id, 1);
            item.sourcePath = id == QLatin1String("crafted") ? crafted : "/home/u/plain.html";
            store->upsert(item);
        }
        store->deleteItems({"crafted", "plain"});
        store->flush();
    }
    auto store = open();
    EXPECT_EQ(store->deletedPaths().keys(), QStringList{"/home/u/plain.html"});
}

TEST_F(StoreFiles, UnreadableIndexIsSetAsideWithStampAndThenUuid) {
    clock = 0; // 2001-01-01T00:00:00Z
    writeIndex("{not json");
    auto first = open();
    EXPECT_TRUE(first->isFirstRun());
    EXPECT_EQ(asideFiles(), QStringList{"index.unreadable-20010101T000000.json"});
    EXPECT_EQ(dir.read("support/index.unreadable-20010101T000000.json"), "{not json");

    writeIndex("[]");
    auto second = open();
    const QStringList aside = asideFiles();
    ASSERT_EQ(aside.size(), 2);
    const QString uuidName = aside.filter("-20010101T000000-").value(0);
    EXPECT_TRUE(QRegularExpression("^index\\.unreadable-20010101T000000-[0-9A-F]{8}-[0-9A-F]{4}-"
                                   "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.json$")
                    .match(uuidName)
                    .hasMatch())
        << uuidName.toStdString();
    EXPECT_EQ(dir.read("support/" + uuidName), "[]");
}

TEST_F(StoreFiles, AFolderInPlaceOfTheIndexIsSetAside) {
    QDir().mkpath(path("index.json"));
    auto store = open();
    EXPECT_TRUE(store->isFirstRun());
    EXPECT_EQ(asideFiles().size(), 1);
    store->flush();
    EXPECT_TRUE(QFileInfo(path("index.json")).isFile());
}

TEST_F(StoreFiles, AnIndexThatCannotBeOpenedIsKeptAndNeverOverwritten) {
    writeIndex(QJsonDocument(QJsonObject{{"items", QJsonArray{makeItem("keep", 1).toJson()}},
                                         {"sessions", QJsonArray{}},
                                         {"prompts", QJsonArray{}}})
                   .toJson());
    const QByteArray original = read("index.json");
    ::chmod(path("index.json").toUtf8().constData(), 0);
    // Permission denied says nothing about the content: no set-aside, no overwrite.
    ::chmod(dir.path().toUtf8().constData(), 0711);
    const int result = test::runUnprivileged(path(""), [&] {
        auto store = Store::make(
            root(), [] { return Date(5); }, queue);
        store->upsert(makeItem("new", 2));
        queue->advance(2.1); // the delayed write, not tried again either
        const bool again = queue->nextDeadline().has_value();
        store->flush();
        return store->canWriteIndex() || again ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    ::chmod(path("index.json").toUtf8().constData(), 0600);
    EXPECT_EQ(read("index.json"), original);
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST_F(StoreFiles, AnIndexThatCannotBeMovedIsCopiedAside) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a file of another user in a sticky folder";
    }
    open();
    writeIndex("garbage");
    // In a sticky, world-writable folder only a file's owner may move it; anyone may copy it.
    ::chmod(dir.path().toUtf8().constData(), 0711);
    ::chmod(path("").toUtf8().constData(), 01777);
    ::chmod(path("index.json").toUtf8().constData(), 0644);
    const int result = test::runUnprivileged({}, [&] {
        auto store = Store::make(root(), [] { return Date(0); });
        return store->canWriteIndex() && store->isFirstRun() ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dir.read("support/index.unreadable-20010101T000000.json"), "garbage");
}

TEST_F(StoreFiles, AnIndexThatCannotBeSetAsideIsNeverOverwritten) {
    open(); // creates the folders
    writeIndex("garbage");
    // A folder the process may read but not write: neither a move nor a copy can keep the
    // content aside, so this run writes no index at all rather than replace the only copy.
    ::chmod(dir.path().toUtf8().constData(), 0711);
    ::chmod(path("").toUtf8().constData(), 0755);
    ::chmod(path("index.json").toUtf8().constData(), 0644);
    const int result = test::runUnprivileged({}, [&] {
        auto store = Store::make(root(), [] { return Date(5); });
        store->flush();
        return store->canWriteIndex() ? 1 : 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read("index.json"), "garbage");
}

TEST_F(StoreFiles, BrokenOffsetsStartEmptyAndStayUntilReplaced) {
    QDir().mkpath(path(""));
    dir.write("support/offsets.json", "[1,2]");
    auto store = open();
    EXPECT_TRUE(store->offsets().isEmpty());
    EXPECT_EQ(read("offsets.json"), "[1,2]");
    EXPECT_TRUE(asideFiles().isEmpty());
    dir.write("support/offsets.json", R"({"/a":-1})");
    EXPECT_TRUE(open()->offsets().isEmpty());
    dir.write("support/offsets.json", R"({"/a":1.5})");
    EXPECT_TRUE(open()->offsets().isEmpty());
}

TEST_F(StoreFiles, AFifoOrALinkToADeviceInPlaceOfTheOffsetsIsSetAsideUnread) {
    QDir().mkpath(path(""));
    const QByteArray offsets = QFile::encodeName(path("offsets.json"));
    ASSERT_EQ(::mkfifo(offsets.constData(), 0600), 0);
    test::LogCapture log;
    EXPECT_TRUE(open()->offsets().isEmpty());
    EXPECT_EQ(log.matching("offsets set aside").size(), 1);
    ASSERT_EQ(::symlink("/dev/zero", offsets.constData()), 0);
    EXPECT_TRUE(open()->offsets().isEmpty());
    EXPECT_EQ(QDir(path("")).entryList({"offsets.unreadable-*"}, QDir::Files | QDir::System).size(),
              2);
}

TEST_F(StoreFiles, ASetAsideIndexTakesItsOffsetsAlongAndSaysWhere) {
    clock = 0;
    writeIndex("{truncated");
    dir.write("support/offsets.json", R"({"/t.jsonl":4096})");
    test::LogCapture log;
    auto store = open();
    EXPECT_TRUE(store->indexSetAside());
    // Lines the lost index held must be read again, so nothing may say they were read.
    EXPECT_TRUE(store->offsets().isEmpty());
    EXPECT_FALSE(QFile::exists(path("offsets.json")));
    EXPECT_EQ(dir.read("support/offsets.unreadable-20010101T000000.json"), R"({"/t.jsonl":4096})");
    const QStringList said = log.matching("set aside");
    ASSERT_EQ(said.size(), 2) << said.join('\n').toStdString();
    EXPECT_TRUE(said[0].contains(path("index.json")));
    EXPECT_TRUE(said[0].contains(path("index.unreadable-20010101T000000.json")));

    // A readable index keeps its offsets.
    store->setOffset(10, "/t.jsonl");
    store->flush();
    auto next = open();
    EXPECT_FALSE(next->indexSetAside());
    EXPECT_EQ(next->offsets().value("/t.jsonl"), 10u);
}

TEST_F(StoreFiles, LinksToRegularFilesAreReadAndOnlyOtherTargetsSetAside) {
    auto first = open();
    first->upsert(makeItem("kept", 1));
    first->setOffset(7, "/t.jsonl");
    first->flush();
    first.reset();
    const QString elsewhere = dir.file("elsewhere");
    QDir().mkpath(elsewhere);
    for (const QString name : {"index.json", "offsets.json"}) {
        ASSERT_TRUE(QFile::rename(path(name), elsewhere + "/" + name));
        ASSERT_TRUE(QFile::link(elsewhere + "/" + name, path(name)));
    }
    auto linked = open();
    EXPECT_FALSE(linked->isFirstRun());
    EXPECT_TRUE(linked->items().contains("kept"));
    EXPECT_EQ(linked->offsets().value("/t.jsonl"), 7u);
    EXPECT_TRUE(asideFiles().isEmpty());

    // Read through, but never written through: the links go aside, and so do links at a copy's
    // or a thumbnail's name; what they lead to stays as it was.
    const QByteArray theirs = "the user's own";
    for (const QString name : {"items/b.png", "thumbs/b.jpg"}) {
        ASSERT_TRUE(
            QFile::link(dir.write("elsewhere/" + QFileInfo(name).fileName(), theirs), path(name)));
    }
    const QByteArray index = dir.read("elsewhere/index.json");
    linked->setOffset(9, "/t.jsonl");
    withCopy(*linked, "b");
    ASSERT_FALSE(linked->writeThumbnail("b", "jpeg"));
    linked->flush();
    EXPECT_EQ(dir.read("elsewhere/index.json"), index);
    EXPECT_EQ(dir.read("elsewhere/offsets.json"), R"({"/t.jsonl":7})");
    for (const QString name : {"index.json", "offsets.json", "items/b.png", "thumbs/b.jpg"}) {
        EXPECT_FALSE(QFileInfo(path(name)).isSymLink()) << name.toStdString();
        EXPECT_EQ(QDir(QFileInfo(path(name)).absolutePath())
                      .entryList({QFileInfo(name).fileName() + ".unusable-*"},
                                 QDir::AllEntries | QDir::System)
                      .size(),
                  1)
            << name.toStdString();
    }
    EXPECT_EQ(dir.read("elsewhere/b.png"), theirs);
    EXPECT_EQ(dir.read("elsewhere/b.jpg"), theirs);
    EXPECT_EQ(read("thumbs/b.jpg"), "jpeg");
    linked.reset();
    // A link in place of one of ours at the start is the user's choice of folder, when the
    // folder it leads to is the user's; not one to another user's folder.
    for (const QString name : {"items", "thumbs"}) {
        QDir(path(name)).removeRecursively();
        QDir().mkpath(dir.file("elsewhere/" + name));
        ASSERT_TRUE(QFile::link(dir.file("elsewhere/" + name), path(name)));
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(
            ::chown(QFile::encodeName(dir.file("elsewhere/thumbs")).constData(), 65534, 65534), 0);
    }
    linked = open();
    withCopy(*linked, "c");
    ASSERT_FALSE(linked->writeThumbnail("c", "jpeg"));
    EXPECT_EQ(dir.read("elsewhere/items/c.png"), "bytes of c");
    EXPECT_TRUE(QFileInfo(path("items")).isSymLink());
    if (::geteuid() == 0) {
        EXPECT_TRUE(QDir(dir.file("elsewhere/thumbs")).isEmpty());
        EXPECT_EQ(read("thumbs/c.jpg"), "jpeg");
    }
    linked.reset();
    for (const QString name : {"index.json", "offsets.json"}) {
        QFile::remove(path(name));
    }

    // A link that leads nowhere, or to a folder, is not an index.
    for (const QString& target : {dir.file("missing.json"), elsewhere}) {
        QFile::remove(path("index.json"));
        ASSERT_TRUE(QFile::link(target, path("index.json")));
        auto store = open();
        EXPECT_TRUE(store->isFirstRun());
        EXPECT_TRUE(store->indexSetAside());
    }
    EXPECT_EQ(asideFiles().size(), 2);
    EXPECT_TRUE(QFileInfo(elsewhere).isDir());
}

TEST_F(StoreFiles, OffsetsUpToTheLargestUnsignedValueAreRead) {
    QDir().mkpath(path(""));
    dir.write("support/offsets.json",
              R"({"/big":18446744073709551615,"/max":9223372036854775807,"/small":5})");
    auto store = open();
    const auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    EXPECT_EQ(store->offsets().value("/big"), largest);
    EXPECT_EQ(store->offsets().value("/max"), largest);
    EXPECT_EQ(store->offsets().value("/small"), 5u);
    store->flush();
    EXPECT_EQ(open()->offsets(), store->offsets());

    dir.write("support/offsets.json", R"({"/past":36893488147419103232,"/small":5})");
    EXPECT_TRUE(open()->offsets().isEmpty());
}

TEST_F(StoreFiles, DatesThatAreNotFiniteNeverReachTheIndex) {
    clock = std::numeric_limits<double>::quiet_NaN();
    auto store = open();
    const double inf = std::numeric_limits<double>::infinity();
    store->upsert(makeItem("ok", 1));
    store->upsert(makeItem("bad", inf));
    ShelfItem seenBadly = makeItem("seen", 1);
    seenBadly.seenAt = Date(-inf);
    store->upsert(seenBadly);
    store->upsert(makeSession("s1", 1, inf));
    store->upsert(makePrompt("p1", "s1", std::nan("")));
    store->markSeen({"ok"}, Date(inf));
    store->setTitleChecked("s1", Date(inf));
    store->hide("ok");
    store->flush();

    clock = 10;
    auto next = open();
    EXPECT_FALSE(next->isFirstRun());
    EXPECT_TRUE(asideFiles().isEmpty());
    EXPECT_EQ(next->hiddenItems().keys(), QStringList{"ok"});
    EXPECT_TRUE(std::isfinite(next->hiddenItems().value("ok").hiddenAt.seconds));
    EXPECT_TRUE(next->items().isEmpty());
    EXPECT_TRUE(next->sessions().isEmpty());
    EXPECT_TRUE(next->prompts().isEmpty());
    EXPECT_TRUE(next->titleChecks().isEmpty());
    ASSERT_TRUE(next->previousRunAt());
    EXPECT_TRUE(std::isfinite(next->previousRunAt()->seconds));
}
