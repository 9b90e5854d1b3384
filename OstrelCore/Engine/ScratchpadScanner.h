#pragma once

#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/OstrelPaths.h"

#include <QUrl>

#include <unistd.h>

namespace ostrel {

// Finds the files of Claude Code's per-session scratchpads under the scratch root.
class ScratchpadScanner {
public:
    // "OSTREL_SCRATCH_ROOT" verbatim when set, else "/tmp/claude-" and the user id. Kept inline:
    // the folder resolution of the records library needs it without linking the engine.
    static QUrl defaultRoot(const Environment& env) {
        if (const auto root = Env::string(QStringLiteral("OSTREL_SCRATCH_ROOT"), env)) {
            return OstrelPaths::folderURL(*root);
        }
        return OstrelPaths::folderURL(QStringLiteral("/tmp/claude-") + QString::number(::getuid()));
    }
};

} // namespace ostrel
