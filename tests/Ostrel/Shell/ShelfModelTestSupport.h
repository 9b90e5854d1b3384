#pragma once

#include "Ostrel/Shell/AppSettings.h"
#include "Ostrel/Shell/ShelfModel.h"
#include "Platform/MainClock.h"
#include "Platform/RecordingDesktop.h"
#include "support/FakeShelfEngine.h"
#include "support/ShellFakes.h"
#include "support/TempDir.h"

#include <memory>

namespace ostrel::test {

// A model over a fake engine, a hand-moved clock and recording desktop services, with its
// settings in a temporary folder.
struct ModelRig {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::shared_ptr<FakeShelfEngine::Log> log = std::make_shared<FakeShelfEngine::Log>();
    std::shared_ptr<ManualMainClock> clock = std::make_shared<ManualMainClock>();
    std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
    FakePreview* preview = nullptr;
    FakeTips* tips = nullptr;
    FakeDragOut* dragOut = nullptr;
    FakeMenuRunner* menus = nullptr;
    Environment environment;
    std::unique_ptr<ShelfModel> model;

    explicit ModelRig(double scale = 1.0, const Preferences& prefs = Preferences()) {
        defaults = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        prefs.save(*defaults);
        settings = std::make_unique<AppSettings>(defaults);
        environment.insert(QStringLiteral("OSTREL_SUPPORT_DIR"), dir.file("support"));
        environment.insert(QStringLiteral("OSTREL_CLAUDE_HOME"), dir.file("claude"));
        environment.insert(QStringLiteral("OSTREL_SCRATCH_ROOT"), dir.file("scratch"));
        ShelfModel::Services services;
        services.makeEngine = FakeShelfEngine::factory(log);
        services.clock = clock;
        services.environment = [this] { return environment; };
        services.motionScale = scale;
        services.desktop = desktop;
        auto p = std::make_unique<FakePreview>();
        auto t = std::make_unique<FakeTips>();
        auto d = std::make_unique<FakeDragOut>();
        auto m = std::make_unique<FakeMenuRunner>();
        preview = p.get();
        tips = t.get();
        dragOut = d.get();
        menus = m.get();
        services.preview = std::move(p);
        services.tips = std::move(t);
        services.dragOut = std::move(d);
        services.menus = std::move(m);
        services.pointer = [] { return QPointF(10, 10); };
        model = std::make_unique<ShelfModel>(*settings, std::move(services));
    }

    FakeShelfEngine& engine() { return log->current(); }
    void publish(const Snapshot& snapshot) { engine().publish(snapshot); }
};

} // namespace ostrel::test
