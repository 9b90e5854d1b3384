#pragma once

#include <QByteArrayView>
#include <QString>

namespace ostrel::Hex {

// Lower-case hexadecimal SHA-256 of the bytes: always 64 characters.
QString sha256(QByteArrayView bytes);

} // namespace ostrel::Hex
