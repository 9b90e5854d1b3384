#include "Ostrel/Model/LiveShelfEngine.h"

#include "Platform/SerialQueue.h"

namespace ostrel {

LiveShelfEngine::LiveShelfEngine(const Engine::Config& config, Clock now)
    : engine_(Engine::make(config, std::move(now),
                           SerialQueue::make(QStringLiteral("app.ostrel.engine")))) {}

LiveShelfEngine::~LiveShelfEngine() {
    // An engine dropped without stop() still writes its index before its queue goes.
    stop();
}

ShelfEngineFactory LiveShelfEngine::factory() {
    return [](const Engine::Config& config) -> std::unique_ptr<ShelfEngine> {
        return std::make_unique<LiveShelfEngine>(config);
    };
}

void LiveShelfEngine::setOnSnapshot(SnapshotHandler handler) {
    engine_->setOnSnapshot(std::move(handler));
}

void LiveShelfEngine::start(bool watch) {
    engine_->start(watch);
}

void LiveShelfEngine::stop() {
    if (!stopped_) {
        stopped_ = true;
        engine_->stop();
    }
}

void LiveShelfEngine::update(const Engine::Config& config) {
    engine_->update(config);
}

void LiveShelfEngine::hide(const QStringList& ids) {
    engine_->hide(ids);
}

void LiveShelfEngine::unhide(const QStringList& ids) {
    engine_->unhide(ids);
}

void LiveShelfEngine::deleteItems(const QStringList& ids) {
    engine_->deleteItems(ids);
}

void LiveShelfEngine::deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering) {
    engine_->deleteAll(sparing, covering);
}

void LiveShelfEngine::markSeen(const QStringList& ids) {
    engine_->markSeen(ids);
}

QUrl LiveShelfEngine::thumbURL(const QString& id) const {
    // The store's folders are fixed at creation, so reading them off the queue is safe.
    return engine_->store()->thumbURL(id);
}

QUrl LiveShelfEngine::storeRoot() const {
    return engine_->store()->root();
}

} // namespace ostrel
