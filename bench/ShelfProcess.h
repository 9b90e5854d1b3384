#pragma once

// The real binary started on a private X server, for the benchmarks that measure it as the user
// runs it: its own temporary and Claude folders, the shelf's item limit, motion at its own pace
// and a quiet log.
#include "support/XServer.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QString>

namespace ostrel::bench {

// Starts `binary` on `x` with `env` and the settings every such benchmark shares; false when it
// did not start.
inline bool startShelfProcess(test::XServer& x, const QString& binary, QProcessEnvironment env,
                              int maxItems) {
    env.insert(QStringLiteral("TMPDIR"), x.home().file(QStringLiteral("tmp")));
    env.insert(QStringLiteral("OSTREL_MAX_ITEMS"), QString::number(maxItems));
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("app.ostrel.*=false"));
    QDir().mkpath(x.home().file(QStringLiteral("tmp")));
    QDir().mkpath(x.home().file(QStringLiteral("claude/projects")));
    x.scratchpad();
    return x.startApp(binary, {}, env);
}

} // namespace ostrel::bench
