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
    QStringList messages() const {
        std::lock_guard guard(lock_);
        return messages_;
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
