#include "OstrelCore/Records/Hex.h"

#include "Platform/Sha256.h"

namespace ostrel::Hex {

QString sha256(QByteArrayView bytes) {
    return QString::fromLatin1(Sha256::digest(bytes).toHex());
}

} // namespace ostrel::Hex
