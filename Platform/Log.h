#pragma once

#include <QLoggingCategory>
#include <QString>

// The unified log: subsystem "app.ostrel", one category per concern.
Q_DECLARE_LOGGING_CATEGORY(lcIngest)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

namespace ostrel::Log {

// A private argument is never written to the log as is.
inline QString privateArg(const QString&) {
    return QStringLiteral("<private>");
}

} // namespace ostrel::Log
