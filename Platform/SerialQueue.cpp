#include "Platform/SerialQueue.h"

#include "Platform/HandOff.h"
#include "Platform/OpenSsl.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace ostrel {

namespace {

// Ends with the thread's own clean-up, so that it is done before wait() returns: Qt 6.4 starts
// its threads detached, and work left to the thread's exit handlers may still run after that.
class QueueThread final : public QThread {
protected:
    void run() override {
        exec();
        OpenSsl::releaseThread();
    }
};

class ThreadQueue final : public SerialQueue {
public:
    explicit ThreadQueue(const QString& label) : label_(label) {
        // Linux keeps 15 characters of a thread name; keep the distinctive end of the label.
        QString name = label;
        if (name.size() > 15) {
            name = name.right(15);
        }
        thread_.setObjectName(name);
        context_.moveToThread(&thread_);
        thread_.start();
    }

    ~ThreadQueue() override {
        Q_ASSERT(!isCurrent());
        // Timers must be stopped on their own thread; drop them there, then release the context
        // so that it can be destroyed here.
        postTo(
            &context_,
            [this] {
                qDeleteAll(context_.findChildren<QTimer*>(Qt::FindDirectChildrenOnly));
                context_.moveToThread(nullptr);
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

    QString label() const override { return label_; }

    void async(Job job) override { postTo(&context_, std::move(job)); }

    Handle after(double seconds, Job job) override {
        auto flag = std::make_shared<std::atomic<bool>>(false);
        const int ms = toMilliseconds(seconds);
        postTo(&context_, [this, flag, ms, job = std::move(job)]() mutable {
            QTimer::singleShot(ms, Qt::PreciseTimer, &context_, [flag, job = std::move(job)] {
                if (!flag->load()) {
                    job();
                }
            });
        });
        return Handle(flag);
    }

    Handle every(double interval, Job job) override {
        auto flag = std::make_shared<std::atomic<bool>>(false);
        const int ms = toMilliseconds(interval);
        postTo(&context_, [this, flag, ms, job = std::move(job)]() mutable {
            auto* timer = new QTimer(&context_);
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(ms);
            QObject::connect(timer, &QTimer::timeout, timer, [timer, flag, job] {
                if (flag->load()) {
                    timer->stop();
                    timer->deleteLater();
                    return;
                }
                job();
            });
            timer->start();
        });
        return Handle(flag);
    }

    void sync(Job job) override {
        Q_ASSERT(!isCurrent());
        postTo(&context_, std::move(job), Qt::BlockingQueuedConnection);
    }

    bool isCurrent() const override { return QThread::currentThread() == &thread_; }

private:
    static int toMilliseconds(double seconds) {
        if (!(seconds > 0)) {
            return 0;
        }
        return static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2.0e9));
    }

    QString label_;
    QueueThread thread_;
    QObject context_;
};

} // namespace

std::shared_ptr<SerialQueue> SerialQueue::make(const QString& label) {
    return std::make_shared<ThreadQueue>(label);
}

} // namespace ostrel
