#pragma once

#include <QString>

#include <cerrno>
#include <cstring>

namespace ostrel {

// A failure as the logs report it: the family of the error and its number.
struct Error {
    QString domain;
    long code = 0;
    QString message;

    static Error posix(int err) {
        return Error{QStringLiteral("POSIX"), err, QString::fromLocal8Bit(std::strerror(err))};
    }
    static Error fromErrno() { return posix(errno); }
    // The reason in lower-case words, as a log line reads it: "no space left on device".
    static QString describe(const Error& error) {
        if (error.message.isEmpty()) {
            return QStringLiteral("error %1").arg(error.code);
        }
        QString text = error.message;
        if (text.size() > 1 && text.at(0).isUpper() && text.at(1).isLower()) {
            text[0] = text.at(0).toLower();
        }
        return text;
    }
};

} // namespace ostrel
