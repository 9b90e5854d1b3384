#pragma once

#include "Platform/FileEventStream.h"
#include "Platform/SerialQueue.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

namespace ostrel {

// A thin owner of one file event stream over a few folder trees: it hands each batch of changed
// paths with their flag words to its handler on the given queue, as the stream delivers it, and
// does no filtering, settling or deduplication of its own.
class DirectoryWatcher {
public:
    using Handler = FileEventStream::Handler;

    // The handler holder the stream's batches go through, so that none reaches the handler once
    // the watcher is stopped.
    struct Box {
        std::mutex lock;
        Handler handler;
    };

    static constexpr double defaultLatency = 0.25;

    // `scope` carries what the stream needs beyond latency and no-defer (a shallow root's folder
    // filter, the batch limit); its own latency and no-defer are replaced by the arguments. A
    // null queue gives the watcher a queue of its own, "app.ostrel.fsevents".
    DirectoryWatcher(QStringList paths, double latency = defaultLatency, bool noDefer = true,
                     std::shared_ptr<SerialQueue> queue = nullptr, Handler handler = nullptr,
                     FileEventStream::Options scope = {});
    ~DirectoryWatcher();

    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    // Creates and starts the stream when there is none; a creation failure leaves the watcher
    // idle and silent.
    void start();
    // Drops the handler, then ends the stream. Safe to repeat, and before start(); a stopped
    // watcher is not revived.
    void stop();

    bool isRunning() const { return stream_ != nullptr; }
    const QStringList& paths() const { return paths_; }
    double latency() const { return latency_; }
    bool noDefer() const { return noDefer_; }
    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }

    // True when a flag word says events were lost or a whole tree must be scanned again.
    static bool mustRescan(quint32 flags) {
        return (flags & (FileEventStream::mustScanSubDirs | FileEventStream::userDropped |
                         FileEventStream::kernelDropped)) != 0;
    }

private:
    std::unique_ptr<FileEventStream> stream_;
    QStringList paths_;
    double latency_;
    bool noDefer_;
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<Box> box_;
    FileEventStream::Options scope_;
};

} // namespace ostrel
