// The journal of captures: a copy placed after its note comes back with its item when no index
// came to name it, the note goes once an index holding the item is written, and what the journal
// holds is read as anything might have written it.
#include "OstrelCore/Records/Hex.h"
#include "StoreFilesFixture.h"
#include "support/AsUser.h"

#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// A new item of `bytes`, noted, then its copy placed, as capture stores it.
ShelfItem captured(Store& store, const QByteArray& bytes) {
    ShelfItem item = makeItem(Hex::sha256(bytes), 1);
    item.fileURL = store.copyURL(item.id, "png");
    EXPECT_FALSE(store.noteCapture(item));
    EXPECT_TRUE(std::holds_alternative<QUrl>(store.copyIn(bytes, item.id, "png")));
    store.upsert(item);
    return item;
}

QByteArray line(const QString& copy, const ShelfItem& item) {
    return QJsonDocument(QJsonObject{{"copy", copy}, {"item", item.toJson()}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

} // namespace

TEST_F(StoreFiles, ANoteGoesOnlyOnceAnIndexHoldingItsItemIsWritten) {
    auto store = open();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    const ShelfItem first = captured(*store, "first");
    EXPECT_EQ(store->unsyncedCount(), 2); // the note is made durable with the copy, not alone
    queue->advance(2.1);                  // the write of an index holding "first" begins
    const ShelfItem second = captured(*store, "second");
    writer->runUntilIdle();
    queue->runUntilIdle();
    EXPECT_EQ(read("captures.jsonl"), line(second.fileURL->fileName(), second));
    // Killed before the next write: "first" is in the index, "second" comes back from its note.
    store.reset();
    store = open();
    EXPECT_EQ(store->items().value(first.id), first);
    EXPECT_EQ(store->items().value(second.id), second);
    EXPECT_EQ(QDir(path("items")).entryList(QDir::Files).size(), 2);
}

// An index put in place of the one just written, before the queue hears of that write (a backup
// restored), lacks the capture: its note stays, and the next start brings the capture back.
TEST_F(StoreFiles, ANoteStaysWhenAnotherIndexTakesThePlaceOfTheOneHoldingItsItem) {
    auto store = open();
    store->flush();
    dir.write("support/kept.json", read("index.json"));
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    const ShelfItem item = captured(*store, "capture");
    queue->advance(2.1);
    writer->runUntilIdle();
    ASSERT_EQ(std::rename(QFile::encodeName(path("kept.json")).constData(),
                          QFile::encodeName(path("index.json")).constData()),
              0);
    queue->runUntilIdle();
    store.reset();
    EXPECT_EQ(open()->items().value(item.id), item);
}

// A folder put in place of the one read, however soon before a capture, keeps its own notes.
TEST_F(StoreFiles, ACaptureIsNotedOnlyInTheFolderThisRunRead) {
    auto store = open();
    ASSERT_TRUE(QDir(dir.path()).rename("support", "read"));
    dir.write("support/captures.jsonl", "the other's notes\n");
    ShelfItem item = makeItem(Hex::sha256("bytes"), 1);
    item.fileURL = store->copyURL(item.id, "png");
    EXPECT_TRUE(store->noteCapture(item));
    EXPECT_EQ(read("captures.jsonl"), "the other's notes\n");
}

TEST_F(StoreFiles, WhatTheCaptureJournalHoldsIsReadAsAnythingMightHaveWrittenIt) {
    open();
    const auto copy = [this](const QString& name, const QByteArray& bytes) {
        dir.write("support/items/" + name, bytes);
        return name;
    };
    const auto item = [](const QByteArray& bytes) { return makeItem(Hex::sha256(bytes), 1); };
    const QString outside = dir.write("outside.png", "outside");
    const ShelfItem good = item("good");
    const ShelfItem cut = item("whole");
    ShelfItem linked = item("linked");
    QFile::link(dir.write("linked.png", "linked"), path("items/" + linked.id + ".png"));
    const ShelfItem deeper = item("deeper");
    const QByteArray journal =
        line(copy(good.id + ".png", "good"), good) + line(copy(cut.id + ".png", "cu"), cut) +
        line(linked.id + ".png", linked) + line(copy("plain.png", "plain"), makeItem("plain", 1)) +
        line("../../outside.png", item("outside")) +
        line(copy(deeper.id + ".p/ng", "deeper"), deeper) +
        line(copy(good.id + ".jpg", "good"), item("another")) + "{\"copy\":\n" + "[]\n" +
        line(copy(item("torn").id + ".png", "torn"), item("torn")).chopped(2);
    dir.write("support/captures.jsonl", journal);
    auto store = open();
    EXPECT_EQ(store->items().keys(), QStringList{good.id});
    EXPECT_EQ(store->items().value(good.id).fileURL->toLocalFile(),
              path("items/" + good.id + ".png"));
    // A copy that did not come whole was placed for an item that cannot come back: it goes with
    // the next index. A link at another's name is no file the store wrote: it stays, and so does
    // what it leads to.
    store->flush();
    EXPECT_FALSE(QFile::exists(path("items/" + cut.id + ".png")));
    EXPECT_TRUE(QFileInfo(path("items/" + linked.id + ".png")).isSymLink());
    EXPECT_EQ(dir.read("linked.png"), "linked");
    EXPECT_EQ(dir.read("outside.png"), "outside");
    EXPECT_TRUE(QFile::exists(path("items/plain.png")));
    EXPECT_TRUE(QFile::exists(path("items/" + good.id + ".jpg")));
    EXPECT_EQ(read("captures.jsonl"), "");
}

// What a start brings back from the notes: the later of two notes of one item, and a note written
// after a line a kill cut short; not an item deleted since. A note of an item the index already
// names with that copy (a kill came between the index's write and the journal's trim) leaves the
// copy be.
TEST_F(StoreFiles, AStartBringsBackTheLastNoteOfEachItemNoIndexHoldsUnlessDeletedSince) {
    auto store = open();
    const ShelfItem named = captured(*store, "named");
    const ShelfItem gone = captured(*store, "gone");
    store->deleteItems({gone.id});
    store->flush();
    dir.write("support/items/" + gone.fileURL->fileName(), "gone");
    ShelfItem twice = makeItem(Hex::sha256("twice"), 1);
    const QString copy = twice.id + ".png";
    dir.write("support/items/" + copy, "twice");
    ShelfItem later = twice;
    later.title = "later";
    dir.write("support/captures.jsonl",
              line(named.fileURL->fileName(), named) + line(copy, twice) + line(copy, later) +
                  line(gone.fileURL->fileName(), gone) + "{\"copy\":\"cut");
    store = open();
    const ShelfItem after = captured(*store, "after");
    store = open(); // the first one killed
    EXPECT_EQ(store->items().value(twice.id).title, "later");
    EXPECT_EQ(store->items().value(after.id), after);
    EXPECT_FALSE(store->items().contains(gone.id));
    store->flush();
    EXPECT_TRUE(QFile::exists(named.fileURL->toLocalFile()));
}

// The journal takes no note that a start would not read back: none past its last line, none
// longer than a line. A note that only its session's first prompt makes that long goes without
// the session.
TEST_F(StoreFiles, TheJournalTakesOnlyNotesAStartReadsBack) {
    open();
    dir.write("support/captures.jsonl", QByteArray(Store::journalEntryLimit - 2, '\n'));
    auto store = open();
    const QString longText(Store::journalLineLimit, u'x');
    const auto note = [&](const QByteArray& bytes, const QString& title,
                          const std::optional<Session>& session) -> std::optional<ShelfItem> {
        ShelfItem item = makeItem(Hex::sha256(bytes), 1);
        item.title = title;
        item.fileURL = store->copyURL(item.id, "png");
        if (store->noteCapture(item, session)) {
            return std::nullopt;
        }
        EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn(bytes, item.id, "png")));
        return item;
    };
    Session session("s1", std::nullopt, std::nullopt, std::nullopt, Date(1), Date(1));
    session.firstPrompt = longText;
    const auto first = note("first", "first", session);
    EXPECT_FALSE(note("long", longText, std::nullopt));
    const auto last = note("last", "last", std::nullopt);
    EXPECT_FALSE(note("past", "past", std::nullopt));
    EXPECT_FALSE(store->mayNote());
    ASSERT_TRUE(first && last);
    store = open();
    EXPECT_EQ(store->items().value(first->id), *first);
    EXPECT_EQ(store->items().value(last->id), *last);
}

// A note that would take the journal past its bytes' bound is not written: a start would not
// read it back. One that fills it to the byte is.
TEST_F(StoreFiles, TheJournalsBoundCountsTheNoteBeingAdded) {
    auto store = open();
    captured(*store, "probe"); // every note of this test is as long as this one
    const qint64 noteSize = QFileInfo(path("captures.jsonl")).size();
    // Lines too long for a note, up to one note's room before the bound.
    QByteArray pad(Store::journalLimit - noteSize, 'x');
    for (qsizetype at = 2 * Store::journalLineLimit; at < pad.size();
         at += 2 * Store::journalLineLimit) {
        pad[at - 1] = '\n';
    }
    pad[pad.size() - 1] = '\n';
    dir.write("support/captures.jsonl", pad);
    store = open();
    const ShelfItem last = captured(*store, "last");
    ShelfItem over = makeItem(Hex::sha256("over"), 1);
    over.fileURL = store->copyURL(over.id, "png");
    EXPECT_TRUE(store->noteCapture(over));
    store = open();
    EXPECT_EQ(store->items().value(last.id), last);
}

// A journal cut back by another hand, within a line, takes the next note right after its last
// whole line, where a start reads it back.
TEST_F(StoreFiles, ANoteInAJournalCutBackByAnotherHandFollowsItsLastWholeLine) {
    auto store = open();
    const ShelfItem first = captured(*store, "first");
    captured(*store, "second");
    const QByteArray firstLine = line(first.fileURL->fileName(), first);
    ASSERT_TRUE(QFile::resize(path("captures.jsonl"), firstLine.size() + 10));
    const ShelfItem third = captured(*store, "third");
    EXPECT_EQ(read("captures.jsonl"), firstLine + line(third.fileURL->fileName(), third));
    store = open(); // the first one killed
    EXPECT_EQ(store->items().value(third.id), third);
}

// A journal longer than a start reads (an earlier version wrote more lines while no index could
// be written): every index written drops what the start read and what the run noted since, never
// the notes past the bound, which the next start brings back.
TEST_F(StoreFiles, NotesPastWhatAStartReadsStayForTheNextStart) {
    open();
    const auto placed = [this](const QByteArray& bytes) {
        ShelfItem item = makeItem(Hex::sha256(bytes), 1);
        item.fileURL = QUrl::fromLocalFile(path("items/" + item.id + ".png"));
        dir.write("support/items/" + item.fileURL->fileName(), bytes);
        return item;
    };
    const ShelfItem last = placed("last read");
    const ShelfItem past = placed("past");
    const ShelfItem later = placed("later");
    const QByteArray unread =
        line(past.fileURL->fileName(), past) + line(later.fileURL->fileName(), later);
    dir.write("support/captures.jsonl", QByteArray(Store::journalEntryLimit - 1, '\n') +
                                            line(last.fileURL->fileName(), last) + unread);
    auto store = open();
    EXPECT_TRUE(store->items().contains(last.id));
    EXPECT_FALSE(store->items().contains(past.id));
    store->flush();
    EXPECT_EQ(read("captures.jsonl"), unread);
    captured(*store, "after the first index");
    store->flush();
    EXPECT_EQ(read("captures.jsonl"), unread);

    store = open();
    EXPECT_EQ(store->items().value(past.id), past);
    EXPECT_EQ(store->items().value(later.id), later);
    store->flush();
    EXPECT_EQ(read("captures.jsonl"), "");
}

// The notes a start could not read (a journal cut back by another hand since it was read, or one
// that could not be read at load) stay through every index written, for the next start to bring
// back; a journal made anew holds only what the run notes there, which an index drops.
TEST_F(StoreFiles, NotesAStartCouldNotReadStayAndAJournalMadeAnewHoldsNoneOfThem) {
    const ShelfItem other = makeItem(Hex::sha256("another run's"), 1);
    const QByteArray otherLine = line(other.id + ".png", other);
    for (const bool cutBack : {true, false}) {
        SCOPED_TRACE(cutBack ? "cut back" : "unreadable at load");
        std::shared_ptr<Store> store;
        if (cutBack) {
            store = open();
            captured(*store, "first");
            captured(*store, "second");
            dir.write("support/captures.jsonl", otherLine);
        } else {
            dir.write("support/captures.jsonl", otherLine);
            const QByteArray journal = QFile::encodeName(path("captures.jsonl"));
            ::chmod(journal.constData(), 0);
            {
                const test::ModesApply modes;
                store = open();
            }
            ::chmod(journal.constData(), 0600);
        }
        captured(*store, "third");
        store->flush();
        captured(*store, "fourth");
        store->flush();
        EXPECT_EQ(read("captures.jsonl"), otherLine);

        ASSERT_TRUE(QFile::remove(path("captures.jsonl")));
        captured(*store, "fifth");
        store->flush();
        EXPECT_EQ(read("captures.jsonl"), "");
        store.reset();
        QDir(path("")).removeRecursively();
    }
}
