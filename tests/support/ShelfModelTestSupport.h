#pragma once

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Platform/MainClock.h"
#include "Platform/RecordingDesktop.h"
#include "support/FakeShelfEngine.h"
#include "support/ShellFakes.h"
#include "support/TempDir.h"

#include <QSignalSpy>

#include <memory>

namespace ostrel::test {

// An item of session `session` (prompt "p-" + session), unread unless `seen`.
inline ShelfItem shelfItem(const QString& id, const QString& session = QStringLiteral("s1"),
                           bool seen = false, ShelfItemKind kind = ShelfItemKind::image) {
    ShelfItem item;
    item.id = id;
    item.kind = kind;
    item.title = id;
    item.sessionID = session;
    item.promptID = QStringLiteral("p-") + session;
    item.createdAt = Date(1000);
    if (seen) {
        item.seenAt = Date(2000);
    }
    item.fileURL =
        QUrl::fromLocalFile(QStringLiteral("/nonexistent/") + id + QStringLiteral(".png"));
    return item;
}

inline Snapshot snapshotOf(const QList<ShelfItem>& items, const QList<ShelfItem>& hidden = {}) {
    Snapshot snapshot;
    snapshot.items = items;
    snapshot.hidden = hidden;
    QSet<QString> sessions;
    for (const ShelfItem& item : items) {
        if (!sessions.contains(item.sessionID)) {
            sessions.insert(item.sessionID);
            snapshot.sessions.append(Session(item.sessionID, std::nullopt,
                                             QStringLiteral("/work/") + item.sessionID,
                                             std::nullopt, Date(900), Date(1000)));
        }
    }
    return snapshot;
}

// `count` unread items "i0"... in session "s1".
inline QList<ShelfItem> unreadItems(int count, const QString& prefix = QStringLiteral("i")) {
    QList<ShelfItem> items;
    for (int i = 0; i < count; ++i) {
        items.append(shelfItem(prefix + QString::number(i)));
    }
    return items;
}

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
    // Started, with a first snapshot applied (which brings no arrivals).
    void startWith(const Snapshot& snapshot) {
        model->start();
        publish(snapshot);
    }
    std::vector<FakeShelfEngine::Call> sent(const QString& name) const { return log->named(name); }
    void publish(const Snapshot& snapshot) { engine().publish(snapshot); }
};

} // namespace ostrel::test
