#include "Ostrel/Shell/MissingProjectsNotice.h"

#include "Platform/UserDefaults.h"

#include <QFile>

#include <sys/stat.h>

namespace ostrel::MissingProjectsNotice {

bool claim(UserDefaults& defaults, const QString& projectsRoot) {
    // A dangling link or a plain file at the place still counts as something being there.
    struct stat st {};
    if (::lstat(QFile::encodeName(projectsRoot).constData(), &st) == 0) {
        return false;
    }
    if (defaults.value(shownKey).toBool(false)) {
        return false;
    }
    defaults.set(shownKey, true);
    return true;
}

} // namespace ostrel::MissingProjectsNotice
