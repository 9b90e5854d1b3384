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
};

} // namespace ostrel
