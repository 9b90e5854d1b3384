// The shelf model over a full shelf: 5,000 items in 500 sessions. One snapshot with one new item
// goes down the whole road (state, visible snapshot, regrouping, counts, every signal); then the
// full rebuild a filter change runs.
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Model/AppSettings.h"
#include "Platform/OpenSsl.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QUuid>

#include <random>

using namespace ostrel;

namespace {

constexpr int itemCount = 5000;
constexpr int sessionCount = 500;
constexpr int promptsPerSession = 10;

// An engine that does nothing but hand the model what the benchmark publishes.
class QuietEngine final : public ShelfEngine {
public:
    Generation generation() const override { return 1; }
    void setOnSnapshot(SnapshotHandler handler) override { handler_ = std::move(handler); }
    void start(bool) override {}
    void stop() override {}
    void update(const Engine::Config&) override {}
    void hide(const QStringList&) override {}
    void unhide(const QStringList&) override {}
    void deleteItems(const QStringList&) override {}
    void deleteAll(const QSet<QString>&, const QSet<QString>&) override {}
    void markSeen(const QStringList&) override {}
    QUrl thumbURL(const QString&) const override { return {}; }
    QUrl storeRoot() const override { return {}; }
    void publish(const Snapshot& snapshot) { handler_(snapshot, 1); }

private:
    SnapshotHandler handler_;
};

QString uuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

ShelfItem makeItem(std::mt19937& random, const Snapshot& snap, const QStringList& sessionIDs,
                   int i) {
    const int s = int(random() % sessionCount);
    ShelfItem item;
    item.id = uuid();
    item.kind = allShelfItemKinds[random() % allShelfItemKinds.size()];
    item.title = QStringLiteral("item-%1.png").arg(i);
    item.sessionID = sessionIDs[s];
    const int p = int(random() % promptsPerSession);
    item.promptID = snap.prompts[s * promptsPerSession + p].id;
    item.createdAt = Date(7.0e8 + s * 1000.0 + p * 90.0 + double(random() % 60));
    if (random() % 3 != 0) {
        item.seenAt = item.createdAt.adding(5);
    }
    return item;
}

struct Shelf {
    Snapshot full;
    // The same with one new unread item first.
    Snapshot plusOne;
};

const Shelf& shelf() {
    static const Shelf made = [] {
        std::mt19937 random(11);
        Shelf out;
        QStringList sessionIDs;
        for (int s = 0; s < sessionCount; ++s) {
            const QString id = uuid();
            sessionIDs.append(id);
            const double started = 7.0e8 + s * 1000.0;
            out.full.sessions.append(
                Session(id, std::nullopt, QStringLiteral("/home/me/project-%1").arg(s % 40),
                        QStringLiteral("main"), Date(started), Date(started + 900)));
            for (int p = 0; p < promptsPerSession; ++p) {
                out.full.prompts.append(Prompt{uuid(), id, Date(started + p * 90.0), QString()});
            }
        }
        for (int i = 0; i < itemCount; ++i) {
            out.full.items.append(makeItem(random, out.full, sessionIDs, i));
        }
        std::sort(out.full.items.begin(), out.full.items.end(),
                  [](const ShelfItem& a, const ShelfItem& b) { return a.createdAt > b.createdAt; });
        out.plusOne = out.full;
        ShelfItem fresh = makeItem(random, out.full, sessionIDs, itemCount);
        fresh.createdAt = Date(8.0e8);
        fresh.seenAt.reset();
        out.plusOne.items.prepend(fresh);
        return out;
    }();
    return made;
}

struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<AppSettings> settings;
    QuietEngine* engine = nullptr;
    std::unique_ptr<ShelfModel> model;
    int emitted = 0;

    Rig() {
        settings = std::make_unique<AppSettings>(
            std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults")));
        ShelfModel::Services services;
        services.makeEngine = [this](const Engine::Config&) -> std::unique_ptr<ShelfEngine> {
            auto made = std::make_unique<QuietEngine>();
            engine = made.get();
            return made;
        };
        services.clock = std::make_shared<ManualMainClock>();
        services.environment = [this] {
            return Environment{{QStringLiteral("OSTREL_SUPPORT_DIR"), dir.path()}};
        };
        model = std::make_unique<ShelfModel>(*settings, std::move(services));
        // Every view observes: each signal costs a call.
        for (const auto signal : {&ShelfModel::groupsChanged, &ShelfModel::versionChanged,
                                  &ShelfModel::arrivalTickChanged, &ShelfModel::unreadCountChanged,
                                  &ShelfModel::signalUnreadChanged}) {
            QObject::connect(model.get(), signal, model.get(), [this] { ++emitted; });
        }
        model->start();
    }
};

void BM_SnapshotWithOneNewItem(benchmark::State& state) {
    Rig rig;
    rig.engine->publish(shelf().full);
    bool plus = false;
    for (auto _ : state) {
        plus = !plus;
        rig.engine->publish(plus ? shelf().plusOne : shelf().full);
    }
    state.counters["groups"] = double(rig.model->groups().size());
    state.counters["signals/iter"] = double(rig.emitted) / double(state.iterations());
}
BENCHMARK(BM_SnapshotWithOneNewItem)->Unit(benchmark::kMillisecond);

void BM_SameSnapshotAgain(benchmark::State& state) {
    Rig rig;
    rig.engine->publish(shelf().full);
    for (auto _ : state) {
        rig.engine->publish(shelf().full);
    }
}
BENCHMARK(BM_SameSnapshotAgain)->Unit(benchmark::kMillisecond);

void BM_FullRebuildOnFilterChange(benchmark::State& state) {
    Rig rig;
    rig.engine->publish(shelf().full);
    for (auto _ : state) {
        rig.model->toggleOnlyNew();
    }
}
BENCHMARK(BM_FullRebuildOnFilterChange)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
