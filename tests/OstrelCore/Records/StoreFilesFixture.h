// A store over a support folder of its own, with a hand-driven queue and clock, and the helpers
// that read back what it wrote.
#pragma once

#include "OstrelCore/Records/Store.h"
#include "Platform/ManualSerialQueue.h"
#include "RecordsTestSupport.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace ostrel::test {

class StoreFiles : public ::testing::Test {
protected:
    test::TempDir dir;
    double clock = 1000.0;
    std::shared_ptr<ManualSerialQueue> queue = std::make_shared<ManualSerialQueue>();

    QUrl root() const { return QUrl::fromLocalFile(dir.file("support")); }
    std::shared_ptr<Store> open(bool autosave = true) {
        return Store::make(
            root(), [this] { return Date(clock); }, autosave ? queue : nullptr);
    }
    QString path(const QString& name) const { return dir.file("support/" + name); }
    QByteArray read(const QString& name) const { return dir.read("support/" + name); }
    void writeIndex(const QByteArray& bytes) {
        QDir().mkpath(dir.file("support"));
        dir.write("support/index.json", bytes);
    }
    QStringList asideFiles() const {
        return QDir(dir.file("support"))
            .entryList({"index.unreadable-*"},
                       QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System);
    }
    QStringList partlyFiles() const {
        return QDir(dir.file("support")).entryList({"index.partly-unreadable-*"}, QDir::Files);
    }
    // Stores an item with a copy of its own; the copy's path.
    static QString withCopy(Store& store, const QString& id) {
        ShelfItem item = makeItem(id, 1);
        item.fileURL = std::get<QUrl>(store.copyIn("bytes of " + id.toUtf8(), id, "png"));
        store.upsert(item);
        return item.fileURL->toLocalFile();
    }
    // A store at `support` writing on `writer`, where an index without "a" has just been written:
    // a's copy is due to go.
    std::shared_ptr<Store> withCopyToGo(const QString& support,
                                        const std::shared_ptr<ManualSerialQueue>& writer) {
        auto store = Store::make(
            QUrl::fromLocalFile(support), [this] { return Date(clock); }, queue);
        store->setWriter(writer);
        withCopy(*store, "a");
        store->flush();
        store->deleteItems({"a"});
        queue->advance(2.1);
        writer->runUntilIdle();
        return store;
    }
    // Where the index at its name is still the run's: deleting "a" writes it, with the deletion,
    // and removes a's copy at `copy`, saying nothing of another index.
    void expectStillOwn(Store& store, const QString& copy) {
        const test::LogCapture log;
        store.deleteItems({"a"});
        store.flush();
        EXPECT_TRUE(
            test::parseObject(read("index.json")).value("deleted").toObject().contains("a"));
        EXPECT_FALSE(QFile::exists(copy));
        EXPECT_TRUE(log.matching("is not the index this run read or wrote").isEmpty());
    }
    // lastRunAt of the index on disk, i.e. when it was written.
    std::optional<double> writtenAt() const {
        const QJsonObject o = test::parseObject(read("index.json"));
        if (!o.contains("lastRunAt")) {
            return std::nullopt;
        }
        return o.value("lastRunAt").toDouble();
    }
};

inline mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(path.toUtf8().constData(), &st);
    return st.st_mode & 0777;
}

} // namespace ostrel::test
