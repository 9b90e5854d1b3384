#pragma once

#include "OstrelCore/Engine/Engine.h"
#include "OstrelCore/Records/Snapshot.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace ostrel {

// What the shelf model asks of its capture engine; the live one wraps `Engine`, tests use a fake.
// Every command returns at once and is carried out in call order; after stop() none has effect.
class ShelfEngine {
public:
    using Generation = Engine::Generation;
    using SnapshotHandler = Engine::SnapshotHandler;

    virtual ~ShelfEngine() = default;

    // Tells this engine's snapshots from those of the engine it replaced.
    virtual Generation generation() const = 0;
    // Set before start(); called on the main thread with each published snapshot.
    virtual void setOnSnapshot(SnapshotHandler handler) = 0;
    virtual void start(bool watch) = 0;
    // Returns once everything queued before it is done and the index is on disk.
    virtual void stop() = 0;
    virtual void update(const Engine::Config& config) = 0;

    virtual void hide(const QStringList& ids) = 0;
    virtual void unhide(const QStringList& ids) = 0;
    virtual void deleteItems(const QStringList& ids) = 0;
    // Deletes the `covering` ids that are not spared; nothing the user was not shown.
    virtual void deleteAll(const QSet<QString>& sparing, const QSet<QString>& covering) = 0;
    virtual void markSeen(const QStringList& ids) = 0;

    // Where the store keeps an item's thumbnail (the file may not exist), and its root folder.
    virtual QUrl thumbURL(const QString& id) const = 0;
    virtual QUrl storeRoot() const = 0;
};

// Builds the engine for a configuration, not started.
using ShelfEngineFactory = std::function<std::unique_ptr<ShelfEngine>(const Engine::Config&)>;

} // namespace ostrel
