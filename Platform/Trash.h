#pragma once

#include <QString>

#include <optional>

namespace ostrel::Trash {

// The user's freedesktop trash: $XDG_DATA_HOME/Trash (default ~/.local/share/Trash).
QString home();

struct Reservation {
    // Where the trashed item is to be moved ("files/<name>") and its record
    // ("info/<name>.trashinfo").
    QString filesPath;
    QString infoPath;
};

// Reserves a free name in the trash for `originalPath`, starting from `name` and adding " 2",
// " 3"… while one is taken: the record is created exclusively (O_EXCL), so two callers never get
// the same name. The trash folders are created 0700 when missing. Nothing when the trash cannot
// be written.
std::optional<Reservation> reserve(const QString& originalPath, const QString& name,
                                   const QString& trashHome = home());

} // namespace ostrel::Trash
