#include "OstrelCore/Engine/DirectoryWatcher.h"

namespace ostrel {

DirectoryWatcher::DirectoryWatcher(QStringList paths, double latency, bool noDefer,
                                   std::shared_ptr<SerialQueue> queue, Handler handler,
                                   FileEventStream::Options scope)
    : paths_(std::move(paths)), latency_(latency), noDefer_(noDefer),
      queue_(queue ? std::move(queue) : SerialQueue::make(QStringLiteral("app.ostrel.fsevents"))),
      box_(std::make_shared<Box>()), scope_(std::move(scope)) {
    box_->handler = std::move(handler);
}

DirectoryWatcher::~DirectoryWatcher() {
    stop();
}

void DirectoryWatcher::start() {
    if (stream_) {
        return;
    }
    FileEventStream::Options options = scope_;
    options.latency = latency_;
    options.noDefer = noDefer_;
    // The stream holds the box, never the watcher: a batch can never reach a watcher that is
    // gone, and the handler runs outside the lock so that it may stop its own watcher.
    auto stream = std::make_unique<FileEventStream>(
        paths_, queue_,
        [box = box_](const QStringList& paths, const QList<quint32>& flags) {
            Handler handler;
            {
                std::lock_guard guard(box->lock);
                handler = box->handler;
            }
            if (handler) {
                handler(paths, flags);
            }
        },
        std::move(options));
    if (!stream->start()) {
        return;
    }
    stream_ = std::move(stream);
}

void DirectoryWatcher::stop() {
    {
        std::lock_guard guard(box_->lock);
        box_->handler = nullptr;
    }
    if (stream_) {
        stream_->stop();
        stream_.reset();
    }
}

} // namespace ostrel
