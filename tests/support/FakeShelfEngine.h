#pragma once

#include "Ostrel/Model/ShelfEngine.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <variant>
#include <vector>

namespace ostrel::test {

// An engine that records every call in one shared log, and publishes what a test hands it.
class FakeShelfEngine final : public ShelfEngine {
public:
    struct Call {
        QString
            name; // "start", "stop", "update", "hide", "unhide", "delete", "deleteAll", "markSeen"
        QStringList ids;
        QSet<QString> sparing;
        QSet<QString> covering;
        std::optional<Engine::Config> config;
        Generation engine = 0;

        explicit Call(QString name, QStringList ids = {})
            : name(std::move(name)), ids(std::move(ids)) {}
    };
    // Shared by every engine one factory makes, so a test sees the whole history across restarts.
    struct Log {
        std::vector<Call> calls;
        std::vector<FakeShelfEngine*> engines; // live ones; null once destroyed
        std::vector<Engine::Config> configs;
        Generation nextGeneration = 1;
        // Where the engines keep thumbnails; none: nowhere that exists.
        QString thumbsFolder;

        std::vector<Call> named(const QString& name) const {
            std::vector<Call> out;
            for (const Call& call : calls) {
                if (call.name == name) {
                    out.push_back(call);
                }
            }
            return out;
        }
        FakeShelfEngine& current() { return *engines.back(); }
    };

    FakeShelfEngine(std::shared_ptr<Log> log, Generation generation, qsizetype index)
        : log_(std::move(log)), generation_(generation), index_(index) {}
    ~FakeShelfEngine() override { log_->engines[size_t(index_)] = nullptr; }

    static ShelfEngineFactory factory(std::shared_ptr<Log> log) {
        return [log](const Engine::Config& config) -> std::unique_ptr<ShelfEngine> {
            log->configs.push_back(config);
            auto engine = std::make_unique<FakeShelfEngine>(log, log->nextGeneration++,
                                                            qsizetype(log->engines.size()));
            log->engines.push_back(engine.get());
            return engine;
        };
    }

    // Delivers a snapshot as the engine's main-thread hop would.
    void publish(const Snapshot& snapshot) { publishAs(snapshot, generation_); }
    void publishAs(const Snapshot& snapshot, Generation generation) {
        if (handler_) {
            handler_(snapshot, generation);
        }
    }
    const SnapshotHandler& handler() const { return handler_; }

    Generation generation() const override { return generation_; }
    void setOnSnapshot(SnapshotHandler handler) override { handler_ = std::move(handler); }
    void start(bool) override { record(Call(QStringLiteral("start"))); }
    void stop() override {
        record(Call(QStringLiteral("stop")));
        stopped = true;
        handler_ = nullptr;
    }
    void update(const Engine::Config& config) override {
        Call call(QStringLiteral("update"));
        call.config = config;
        record(call);
    }
    void hide(const QStringList& ids) override { record(Call(QStringLiteral("hide"), ids)); }
    void unhide(const QStringList& ids) override { record(Call(QStringLiteral("unhide"), ids)); }
    void deleteItems(const QStringList& ids) override {
        record(Call(QStringLiteral("delete"), ids));
    }
    void deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering) override {
        Call call(QStringLiteral("deleteAll"));
        call.sparing = sparing;
        call.covering = covering;
        record(call);
    }
    void markSeen(const QStringList& ids) override {
        record(Call(QStringLiteral("markSeen"), ids));
    }
    QUrl thumbURL(const QString& id) const override {
        const QString folder = log_->thumbsFolder.isEmpty() ? QStringLiteral("/nonexistent/thumbs")
                                                            : log_->thumbsFolder;
        return QUrl::fromLocalFile(folder + QLatin1Char('/') + id + ".jpg");
    }
    QUrl storeRoot() const override { return QUrl::fromLocalFile(QStringLiteral("/nonexistent")); }

    bool stopped = false;

private:
    void record(Call call) {
        if (stopped && call.name != u"stop") {
            return; // a stopped engine ignores commands
        }
        call.engine = generation_;
        log_->calls.push_back(std::move(call));
    }

    std::shared_ptr<Log> log_;
    Generation generation_;
    qsizetype index_;
    SnapshotHandler handler_;
};

} // namespace ostrel::test
