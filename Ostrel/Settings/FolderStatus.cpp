#include "Ostrel/Settings/FolderStatus.h"

#include "Ostrel/Settings/RelativeDate.h"
#include "Platform/FileStat.h"

#include <QFile>

#include <dirent.h>

#include <optional>

namespace ostrel::FolderStatus {

std::optional<Date> latestActivity(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    DIR* dir = ::opendir(native.constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::optional<Date> latest;
    int looked = 0;
    while (looked < entryLimit) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break;
        }
        if (entry->d_name[0] == '.') {
            continue; // hidden, and "." and ".."
        }
        ++looked;
        const QString child = path + u'/' + QFile::decodeName(entry->d_name);
        if (const auto stat = FileStat::lstat(child)) {
            if (!latest || stat->modified > *latest) {
                latest = stat->modified;
            }
        }
    }
    ::closedir(dir);
    return latest;
}

Status describe(const QString& path, Date now) {
    const auto stat = FileStat::stat(path);
    if (!stat || !stat->isDirectory()) {
        return {false, QStringLiteral("Not found")};
    }
    if (const auto latest = latestActivity(path)) {
        return {true, QStringLiteral("Watching · last activity ") +
                          RelativeDate::shortText(*latest, now)};
    }
    return {true, QStringLiteral("Watching")};
}

} // namespace ostrel::FolderStatus
