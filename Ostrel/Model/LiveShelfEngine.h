#pragma once

#include "Ostrel/Model/ShelfEngine.h"

#include <memory>

namespace ostrel {

// The capture engine itself, each on a fresh queue "app.ostrel.engine".
class LiveShelfEngine final : public ShelfEngine {
public:
    explicit LiveShelfEngine(const Engine::Config& config, Clock now = &Date::now);
    ~LiveShelfEngine() override;

    static ShelfEngineFactory factory();

    Generation generation() const override { return engine_->generation(); }
    void setOnSnapshot(SnapshotHandler handler) override;
    void start(bool watch) override;
    void stop() override;
    void update(const Engine::Config& config) override;
    void hide(const QStringList& ids) override;
    void unhide(const QStringList& ids) override;
    void deleteItems(const QStringList& ids) override;
    void deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering) override;
    void markSeen(const QStringList& ids) override;
    QUrl thumbURL(const QString& id) const override;
    QUrl storeRoot() const override;

    const std::shared_ptr<Engine>& engine() const { return engine_; }

private:
    std::shared_ptr<Engine> engine_;
    bool stopped_ = false;
};

} // namespace ostrel
