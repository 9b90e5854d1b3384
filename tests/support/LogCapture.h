#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace ostrel::test {

// Collects the log messages written while it lives, the store's and the engine's information
// messages included.
class LogCapture {
public:
    LogCapture() {
        QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*.info=true"));
        instance().store(this);
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        instance().store(nullptr);
    }
    // A list of its own, made under the lock: one sharing the array that other threads append to
    // would be detached, or let go, outside it, where the sanitizer cannot see Qt's counts order
    // the two.
    QStringList messages() const {
        std::lock_guard guard(lock_);
        QStringList copy;
        copy.reserve(messages_.size());
        for (const QString& message : messages_) {
            copy.append(message);
        }
        return copy;
    }
    // Messages that contain `text` anywhere.
    QStringList matching(const QString& text) const {
        QStringList out;
        for (const QString& message : messages()) {
            if (message.contains(text)) {
                out.append(message);
            }
        }
        return out;
    }
    bool contains(const QString& start) const {
        for (const QString& message : messages()) {
            if (message.startsWith(start)) {
                return true;
            }
        }
        return false;
    }

private:
    // Other threads reach the handler through Qt, which tells ThreadSanitizer nothing.
    static std::atomic<LogCapture*>& instance() {
        static std::atomic<LogCapture*> current = nullptr;
        return current;
    }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        if (LogCapture* capture = instance().load()) {
            std::lock_guard guard(capture->lock_);
            capture->messages_.append(message);
        }
    }

    mutable std::mutex lock_;
    QStringList messages_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace ostrel::test
