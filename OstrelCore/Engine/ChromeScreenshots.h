#pragma once

#include "Platform/Date.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

namespace ostrel {

// The screenshots Claude Code's Chrome integration leaves in
// <temporary folder>/claude-chrome-screenshots-*/screenshot-*.jpg.
namespace ChromeScreenshots {

inline constexpr QLatin1StringView folderPrefix{"claude-chrome-screenshots-"};
inline constexpr QLatin1StringView filePrefix{"screenshot-"};
inline constexpr QLatin1StringView fileExtension{"jpg"};

// The path alone: a "screenshot-*.jpg" (any letter case) directly in a screenshot folder.
bool matches(const QString& path);

// The shared temporary folder is open to every local user, so a folder or file there is only
// taken when it is this user's own: `matches`, a regular file (lstat), directly in a folder
// that is itself no link and passes the scratch root's trust test.
bool accepts(const QString& path);

// The accepted screenshots modified no earlier than `seconds` before `now`, in listing order,
// on the canonical path of `folder`.
// `refused` hears of each screenshot folder skipped for its owner or mode, with the reason.
QList<QUrl>
files(const QUrl& folder, double seconds, Date now,
      const std::function<void(const QString& folder, const QString& reason)>& refused = nullptr);

} // namespace ChromeScreenshots

} // namespace ostrel
