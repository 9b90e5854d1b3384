#include "Platform/HandOff.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <memory>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace ostrel {

namespace {

#if defined(__SANITIZE_THREAD__)
// The job with the token its giver released. It acquires the token before it runs and also as
// it is destroyed, since a queue that goes away drops jobs that never ran.
struct Parcel {
    std::shared_ptr<char> token;
    std::function<void()> job;

    Parcel(std::shared_ptr<char> t, std::function<void()> j)
        : token(std::move(t)), job(std::move(j)) {}
    Parcel(const Parcel&) = default;
    Parcel(Parcel&&) = default;
    Parcel& operator=(const Parcel&) = delete;
    Parcel& operator=(Parcel&&) = delete;
    ~Parcel() {
        if (token) {
            __tsan_acquire(token.get());
        }
    }
    void operator()() const {
        __tsan_acquire(token.get());
        job();
        __tsan_release(token.get());
    }
};
#endif

void pass(std::function<void()> job, const std::function<void(std::function<void()>)>& give,
          [[maybe_unused]] bool waits) {
#if defined(__SANITIZE_THREAD__)
    auto token = std::make_shared<char>();
    __tsan_release(token.get());
    // The wrapper, and the copies Qt makes of it, are written after the release and read on the
    // other side before the acquire can run. Their writes are kept out of TSan's view (their
    // memory counts as fresh); the job's own data was written before the release.
    __tsan_ignore_thread_begin();
    give(Parcel{token, std::move(job)});
    __tsan_ignore_thread_end();
    if (waits) {
        __tsan_acquire(token.get());
    }
#else
    give(std::move(job));
#endif
}

} // namespace

void handOver(std::function<void()> job, const std::function<void(std::function<void()>)>& give) {
    pass(std::move(job), give, false);
}

void postTo(QObject* target, std::function<void()> job, Qt::ConnectionType type) {
    pass(
        std::move(job),
        [target, type](std::function<void()> wrapped) {
            QMetaObject::invokeMethod(target, std::move(wrapped), type);
        },
        type == Qt::BlockingQueuedConnection);
}

namespace {

// The application that posts to the main thread go to, from its construction until its teardown
// begins. A worker may read the application just as the main thread starts destroying it (a
// thumbnail decode ending as the process exits): the post is made under this lock, which the
// teardown takes before it goes on, so a post either lands while the application is whole or
// finds none.
std::mutex mainGate;
QCoreApplication* mainTarget = nullptr;

void closeMain() {
    const std::lock_guard lock(mainGate);
    mainTarget = nullptr;
}

void openMain() {
    {
        const std::lock_guard lock(mainGate);
        mainTarget = QCoreApplication::instance();
    }
    // Post routines run in the application's destructor while the object is still whole.
    qAddPostRoutine(closeMain);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(openMain)

bool postToMain(std::function<void()> job) {
    const std::lock_guard lock(mainGate);
    if (mainTarget == nullptr) {
        return false;
    }
    postTo(mainTarget, std::move(job));
    return true;
}

} // namespace ostrel
