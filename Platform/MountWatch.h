#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace ostrel {

// Runs `changed` on the main thread each time a file system is mounted or unmounted anywhere in
// the process's view of the system, and never wakes otherwise: the kernel marks the mount table
// (`/proc/self/mountinfo`, or `table`) exceptional for poll(2) at each change, and a poll that
// reports it clears the mark. Without the table (no /proc), it never runs.
class MountWatch : public QObject {
public:
    explicit MountWatch(std::function<void()> changed,
                        const QString& table = QStringLiteral("/proc/self/mountinfo"),
                        QObject* parent = nullptr);
    ~MountWatch() override;
    MountWatch(const MountWatch&) = delete;
    MountWatch& operator=(const MountWatch&) = delete;

private:
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace ostrel
