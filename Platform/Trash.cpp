#include "Platform/Trash.h"

#include "Platform/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::Trash {

QString home() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !data.startsWith(u'/')) {
        data = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return data + QStringLiteral("/Trash");
}

std::optional<Reservation> reserve(const QString& originalPath, const QString& name,
                                   const QString& trashHome) {
    const QString files = trashHome + QStringLiteral("/files");
    const QString info = trashHome + QStringLiteral("/info");
    if (!AtomicFile::makeFolder(files, 0700) || !AtomicFile::makeFolder(info, 0700)) {
        return std::nullopt;
    }
    const QByteArray record =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(originalPath, "/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(u"yyyy-MM-ddThh:mm:ss").toLatin1() + "\n";
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1 %2").arg(name).arg(n);
        const QString infoPath = info + u'/' + candidate + QStringLiteral(".trashinfo");
        const QString filesPath = files + u'/' + candidate;
        const int fd = ::open(QFile::encodeName(infoPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return std::nullopt;
        }
        struct stat st {};
        if (::lstat(QFile::encodeName(filesPath).constData(), &st) == 0) {
            // A leftover without its record: leave it alone and take the next name.
            ::close(fd);
            ::unlink(QFile::encodeName(infoPath).constData());
            continue;
        }
        const bool written =
            ::write(fd, record.constData(), static_cast<size_t>(record.size())) == record.size();
        ::close(fd);
        if (!written) {
            ::unlink(QFile::encodeName(infoPath).constData());
            return std::nullopt;
        }
        return Reservation{filesPath, infoPath};
    }
    return std::nullopt;
}

} // namespace ostrel::Trash
