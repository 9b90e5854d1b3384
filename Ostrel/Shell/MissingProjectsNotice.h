#pragma once

#include <QString>

namespace ostrel {

class UserDefaults;

// Claude Code's projects folder missing is no error (the engine runs with what exists), but the
// user is shown the folders pane once so they can point the shelf elsewhere; never again after.
namespace MissingProjectsNotice {

inline const QString shownKey = QStringLiteral("shownMissingClaudeFolder");

// True when nothing exists at `projectsRoot` and the notice was never given; it then counts as
// given.
bool claim(UserDefaults& defaults, const QString& projectsRoot);

} // namespace MissingProjectsNotice
} // namespace ostrel
