// The persisted index at the size of a long-used shelf: 20,000 items (5,000 of them hidden),
// 2,000 sessions, 20,000 prompts and 10,000 transcript offsets.
#include "OstrelCore/Records/Store.h"
#include "BenchMain.h"
#include "HeavyIndex.h"
#include "OstrelCore/Records/Hex.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

using namespace ostrel;
using namespace ostrel::bench;

namespace {

struct Fixture {
    QTemporaryDir dir;
    QUrl root;
    Fixture() : root(QUrl::fromLocalFile(dir.filePath("support"))) {
        auto store = Store::make(root, [] { return Date(now); });
        fillHeavyIndex(*store, dir.filePath("support"));
        store->flush();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_Load(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        auto store = Store::make(f.root, [] { return Date(now); });
        benchmark::DoNotOptimize(store->items().size());
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
    Fixture& f = fixture();
    auto store = Store::make(f.root, [] { return Date(now); });
    for (auto _ : state) {
        store->flush();
    }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_EncodeOnly(benchmark::State& state) {
    Fixture& f = fixture();
    auto store = Store::make(f.root, [] { return Date(now); });
    Store::Index index;
    index.items = store->items().values();
    index.sessions = store->sessions().values();
    index.prompts = store->prompts().values();
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.encode().size());
    }
}
BENCHMARK(BM_EncodeOnly)->Unit(benchmark::kMillisecond);

void BM_Snapshot(benchmark::State& state) {
    Fixture& f = fixture();
    auto store = Store::make(f.root, [] { return Date(now); });
    for (auto _ : state) {
        store->setNeedsSave(); // a new revision, so every snapshot is built afresh
        benchmark::DoNotOptimize(store->snapshot(state.range(0)).items.size());
    }
}
BENCHMARK(BM_Snapshot)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_PurgeNothing(benchmark::State& state) {
    Fixture& f = fixture();
    auto store = Store::make(f.root, [] { return Date(now); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(store->purge(Date(now - 365 * 86400)).size());
    }
}
BENCHMARK(BM_PurgeNothing)->Unit(benchmark::kMillisecond);

void BM_Purge10000Expired(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        auto store = Store::make(f.root, [] { return Date(now); });
        state.ResumeTiming();
        // Items are one second apart: everything older than 15,000 s goes, ~10,000 of them.
        benchmark::DoNotOptimize(store->purge(Date(now - 15000)).size());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Purge10000Expired)->Unit(benchmark::kMillisecond)->Iterations(5);

// The store's part of one new capture: a copy of 50 KB written into the items folder and its
// item stored, as before (argument 0), beside the same with the note that brings the capture back
// after a kill written and synced first (argument 1). The store is begun afresh every 1,000
// captures, as an index written would empty the journal. To alternate the two in one run:
//   bench_Store --benchmark_filter=Capture --benchmark_repetitions=10
//               --benchmark_enable_random_interleaving=true
void BM_Capture(benchmark::State& state) {
    const bool noted = state.range(0) != 0;
    QTemporaryDir dir;
    const QUrl root = QUrl::fromLocalFile(dir.filePath("support"));
    std::shared_ptr<Store> store;
    QByteArray bytes(50 * 1024, 'c');
    qint64 made = 0;
    for (auto _ : state) {
        if (made % 1000 == 0) {
            state.PauseTiming();
            store.reset();
            QDir(dir.filePath("support")).removeRecursively();
            store = Store::make(root, [] { return Date(now); });
            state.ResumeTiming();
        }
        std::memcpy(bytes.data(), &made, sizeof made);
        ++made;
        ShelfItem item;
        item.id = Hex::sha256(bytes);
        item.kind = ShelfItemKind::image;
        item.title = QStringLiteral("shot.png");
        item.sessionID = QStringLiteral("session");
        item.sourcePath =
            QStringLiteral("/tmp/claude-1000/-work-project/session/scratchpad/shot.png");
        item.createdAt = Date(now);
        item.fileURL = store->copyURL(item.id, QStringLiteral("png"));
        if (noted && store->noteCapture(item)) {
            state.SkipWithError("the note was not written");
            break;
        }
        benchmark::DoNotOptimize(store->copyIn(bytes, item.id, QStringLiteral("png")));
        store->upsert(item);
    }
}
BENCHMARK(BM_Capture)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return ostrel::bench::runBenchmarks(argc, argv);
}
