#include "Platform/MountWatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace ostrel {

MountWatch::MountWatch(std::function<void()> changed, const QString& table, QObject* parent)
    : QObject(parent),
      fd_(::open(QFile::encodeName(table).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    if (fd_ < 0) {
        return;
    }
    // The file is never read: a change shows as an exception (POLLPRI with POLLERR), while the
    // file is always readable.
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this,
            [changed = std::move(changed)] { changed(); });
}

MountWatch::~MountWatch() {
    delete notifier_;
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace ostrel
