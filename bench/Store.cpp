// The persisted index at the size of a long-used shelf: 20,000 items (5,000 of them hidden),
// 2,000 sessions, 20,000 prompts and 10,000 transcript offsets.
#include "OstrelCore/Records/Store.h"
#include "BenchMain.h"
#include "HeavyIndex.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

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

} // namespace

int main(int argc, char** argv) {
    return ostrel::bench::runBenchmarks(argc, argv);
}
