// The shelf rules over a full shelf: 5,000 items in 500 sessions with 5,000 prompts.
#include "BenchMain.h"
#include "OstrelCore/Shelf/CollapsedSections.h"
#include "OstrelCore/Shelf/ShelfFilter.h"
#include "OstrelCore/Shelf/ShelfGroups.h"
#include "OstrelCore/Shelf/ShelfState.h"

#include <benchmark/benchmark.h>

#include <QUuid>

#include <random>

using namespace ostrel;

namespace {

constexpr int itemCount = 5000;
constexpr int sessionCount = 500;
constexpr int promptsPerSession = 10;

QString uuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

Snapshot fullShelf() {
    std::mt19937 random(7);
    Snapshot snap;
    QStringList sessionIDs;
    for (int s = 0; s < sessionCount; ++s) {
        const QString id = s == 0 ? Session::unsortedID : uuid();
        sessionIDs.append(id);
        // A tenth of the projects carry an accent, some of them decomposed.
        const QString folder = s % 10 == 0 ? QStringLiteral("proje\u0301t-%1").arg(s % 40)
                                           : QStringLiteral("project-%1").arg(s % 40);
        const double started = 7.0e8 + s * 1000.0;
        snap.sessions.append(Session(id, std::nullopt, QStringLiteral("/home/me/") + folder,
                                     QStringLiteral("main"), Date(started), Date(started + 900)));
        for (int p = 0; p < promptsPerSession; ++p) {
            snap.prompts.append(Prompt{uuid(), id, Date(started + p * 90.0), QString()});
        }
    }
    for (int i = 0; i < itemCount; ++i) {
        const int s = int(random() % sessionCount);
        ShelfItem item;
        item.id = uuid();
        item.kind = allShelfItemKinds[random() % allShelfItemKinds.size()];
        item.title = QStringLiteral("item-%1.png").arg(i);
        item.sessionID = sessionIDs[s];
        const int p = int(random() % (promptsPerSession + 1));
        if (p < promptsPerSession) { // one in eleven has no prompt
            item.promptID = snap.prompts[s * promptsPerSession + p].id;
        }
        // Whole seconds, so that many items share a time and ties are broken by id.
        item.createdAt = Date(7.0e8 + s * 1000.0 + p * 90.0 + double(random() % 60));
        if (random() % 3 != 0) {
            item.seenAt = item.createdAt.adding(5);
        }
        snap.items.append(item);
    }
    std::sort(snap.items.begin(), snap.items.end(),
              [](const ShelfItem& a, const ShelfItem& b) { return a.createdAt > b.createdAt; });
    return snap;
}

const Snapshot& shelf() {
    static const Snapshot snap = fullShelf();
    return snap;
}

void BM_Regroup(benchmark::State& state) {
    const Snapshot& snap = shelf();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ShelfGroups::build(snap));
    }
}
BENCHMARK(BM_Regroup)->Unit(benchmark::kMillisecond);

// The model's rebuild: visible snapshot with a held delete, filter, group.
void BM_VisibleFilterRegroup(benchmark::State& state) {
    ShelfState shelfState;
    shelfState.apply(shelf());
    shelfState.hold(PendingUndo::deleteItems({shelf().items[10].id, shelf().items[20].id}));
    ShelfFilter filter;
    filter.onlyNew = true;
    filter.kinds = {KindFilter::images, KindFilter::documents};
    for (auto _ : state) {
        const Snapshot shown = filter.apply(shelfState.visible(), {});
        benchmark::DoNotOptimize(ShelfGroups::build(shown));
    }
}
BENCHMARK(BM_VisibleFilterRegroup)->Unit(benchmark::kMillisecond);

void BM_FilterByProject(benchmark::State& state) {
    ShelfFilter filter;
    filter.project = QStringLiteral("proj\u00E9t-0");
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.apply(shelf(), {}));
    }
}
BENCHMARK(BM_FilterByProject)->Unit(benchmark::kMillisecond);

void BM_KindCounts(benchmark::State& state) {
    ShelfFilter filter;
    filter.onlyNew = true;
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.kindCounts(shelf(), {}));
    }
}
BENCHMARK(BM_KindCounts)->Unit(benchmark::kMillisecond);

void BM_Projects(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(ShelfFilter::projects(shelf()));
    }
}
BENCHMARK(BM_Projects)->Unit(benchmark::kMillisecond);

void BM_ApplySnapshot(benchmark::State& state) {
    ShelfState shelfState;
    shelfState.apply(shelf());
    for (auto _ : state) {
        benchmark::DoNotOptimize(shelfState.apply(shelf()));
    }
}
BENCHMARK(BM_ApplySnapshot)->Unit(benchmark::kMillisecond);

// One arrow key in the stacks strip: the frame over all 5,000 items, then the step.
void BM_SelectionStepStrip(benchmark::State& state) {
    const auto groups = ShelfGroups::build(shelf());
    const CollapsedSections collapsed;
    std::optional<QString> selected;
    for (auto _ : state) {
        const auto frame = collapsed.selection(ShelfLayoutKind::sideStacks, groups, nullptr);
        auto next = ShelfSelection::move(selected, ShelfSelection::Direction::down, frame.sections,
                                         frame.columns);
        selected = next == selected ? std::nullopt : next; // walk, and start over at the end
    }
}
BENCHMARK(BM_SelectionStepStrip)->Unit(benchmark::kMicrosecond);

// One arrow key in the rail: the selected session's turns, then the step.
void BM_SelectionStepRail(benchmark::State& state) {
    const auto groups = ShelfGroups::build(shelf());
    const CollapsedSections collapsed;
    std::optional<QString> selected;
    for (auto _ : state) {
        const auto frame = collapsed.selection(ShelfLayoutKind::rail, groups, &groups[0]);
        auto next = ShelfSelection::move(selected, ShelfSelection::Direction::right, frame.sections,
                                         frame.columns);
        selected = next == selected ? std::nullopt : next;
        benchmark::DoNotOptimize(
            collapsed.canSelect(*next, ShelfLayoutKind::rail, groups, &groups[0]));
    }
}
BENCHMARK(BM_SelectionStepRail)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return ostrel::bench::runBenchmarks(argc, argv);
}
