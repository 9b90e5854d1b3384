#pragma once

#include "Platform/Date.h"

#include <QString>

#include <optional>

namespace ostrel {

// Whether a folder is there and when something in it last changed, as a folder row shows it.
namespace FolderStatus {

// Only the first entries of a listing are looked at, so a huge folder costs a bounded amount.
inline constexpr int entryLimit = 1000;

struct Status {
    bool found = false;
    QString text;
};

// "Not found" when the path is not a folder (links to folders count as folders); else "Watching"
// and, when some visible entry has a readable modification date, " · last activity " with the
// latest of them relative to `now`.
Status describe(const QString& path, Date now);

// The latest modification date of the first `entryLimit` visible entries; none when there is
// none to read.
std::optional<Date> latestActivity(const QString& path);

} // namespace FolderStatus

} // namespace ostrel
