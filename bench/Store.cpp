// The persisted index at the size of a long-used shelf: 20,000 items (5,000 of them hidden),
// 2,000 sessions, 20,000 prompts and 10,000 transcript offsets.
#include "OstrelCore/Records/Store.h"
#include "Platform/OpenSsl.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace ostrel;

namespace {

constexpr int itemCount = 20000;
constexpr int hiddenCount = 5000;
constexpr int sessionCount = 2000;
constexpr int promptCount = 20000;
constexpr int offsetCount = 10000;
constexpr double now = 800'000'000.0;

QString hexId(int i) {
    return QString::number(i, 16).rightJustified(64, u'0');
}

// Fills a store the way a heavy user's index looks; item i was created i seconds before `now`.
void fill(Store& store, const QString& root) {
    for (int s = 0; s < sessionCount; ++s) {
        Session session(QStringLiteral("session-%1").arg(s),
                        QStringLiteral("-work-project-%1").arg(s % 50),
                        QStringLiteral("/work/project-%1").arg(s % 50), QStringLiteral("main"),
                        Date(now - 30 * 86400 + s), Date(now - s));
        session.firstPrompt = QStringLiteral("Make the chart look better, number %1").arg(s);
        session.firstPromptAt = session.startedAt;
        store.upsert(session);
    }
    for (int p = 0; p < promptCount; ++p) {
        store.upsert(
            Prompt{QStringLiteral("prompt-%1").arg(p),
                   QStringLiteral("session-%1").arg(p % sessionCount), Date(now - p * 2.5),
                   QStringLiteral("Please render the dashboard and take a screenshot %1").arg(p)});
    }
    for (int i = 0; i < itemCount; ++i) {
        ShelfItem item;
        item.id = hexId(i);
        item.kind = i % 7 == 0 ? ShelfItemKind::pdf : ShelfItemKind::image;
        item.fileURL = QUrl::fromLocalFile(root + QStringLiteral("/items/") + item.id + ".png");
        item.sourcePath = QStringLiteral("/tmp/claude-1000/-work-project/%1/scratchpad/shot-%2.png")
                              .arg(i % sessionCount)
                              .arg(i);
        item.title = QStringLiteral("shot-%1.png").arg(i);
        item.sessionID = QStringLiteral("session-%1").arg(i % sessionCount);
        item.sourceKinds = {Source::scratchpad};
        item.createdAt = Date(now - i - 0.123456789);
        if (i % 3 == 0) {
            item.seenAt = Date(now - i + 1.5);
        }
        item.width = 1440;
        item.height = 900;
        store.upsert(item);
    }
    for (int i = 0; i < hiddenCount; ++i) {
        store.hide(hexId(i * 4 + 1));
    }
    for (int o = 0; o < offsetCount; ++o) {
        store.setOffset(static_cast<quint64>(o) * 4096,
                        root + QStringLiteral("/t-%1.jsonl").arg(o));
    }
}

struct Fixture {
    QTemporaryDir dir;
    QUrl root;
    Fixture() : root(QUrl::fromLocalFile(dir.filePath("support"))) {
        auto store = Store::make(root, [] { return Date(now); });
        fill(*store, dir.filePath("support"));
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
    ostrel::OpenSsl::init();
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
