#pragma once

#include "OstrelCore/Records/Env.h"

#include <QLoggingCategory>
#include <QString>
#include <QUrl>

#include <optional>

namespace ostrel {

// The four folders the system works with, resolved from the environment and the preferences.
struct OstrelPaths {
    QUrl claudeHome;
    QUrl scratchRoot;
    QUrl supportDir;
    QUrl chromeRoot;

    // Claude Code's session transcripts.
    QUrl projectsRoot() const;

    // Environment over preference over built-in default. Nothing is created or tested here.
    static OstrelPaths resolve(const Environment& env, const std::optional<QString>& claudeHome,
                               const std::optional<QString>& scratchRoot);
    // The path with every link, "." and ".." resolved; the input unchanged when that fails.
    static QString canonical(const QString& path);

    // A path from a transcript, the preferences or the index that holds U+0000 is refused: the
    // text after the NUL would decide what the file is taken for, the bytes before it which file
    // is opened. True for such a path, with one log line naming where it came from.
    static bool refusesNul(const QString& path, const QLoggingCategory& category, const char* from);

    // "OSTREL_SCRATCH_ROOT" verbatim when set, else "/tmp/claude-" and the user id.
    static QUrl defaultScratchRoot(const Environment& env);

    // A file URL for a folder path, always built the same way so that equal folders compare
    // equal (no trailing slash, except for the root).
    static QUrl folderURL(const QString& path);

    friend bool operator==(const OstrelPaths& a, const OstrelPaths& b);
};

} // namespace ostrel
