#include "OstrelCore/Engine/TranscriptRecord.h"

namespace ostrel {

QString TranscriptImage::fileExtension() const {
    // Exact and case-sensitive on purpose: an unexpected spelling falls back to "png".
    if (mediaType == QLatin1String("image/jpeg")) {
        return QStringLiteral("jpg");
    }
    if (mediaType == QLatin1String("image/gif")) {
        return QStringLiteral("gif");
    }
    if (mediaType == QLatin1String("image/webp")) {
        return QStringLiteral("webp");
    }
    return QStringLiteral("png");
}

std::optional<QByteArray> TranscriptImage::data() const {
    auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return std::move(decoded.decoded);
}

QString SessionTitle::rawValue(Kind kind) {
    switch (kind) {
    case Kind::agentName:
        return QStringLiteral("agent-name");
    case Kind::custom:
        return QStringLiteral("custom-title");
    case Kind::ai:
        return QStringLiteral("ai-title");
    }
    return {};
}

std::optional<SessionTitle::Kind> SessionTitle::kindFromRaw(const QString& raw) {
    for (const Kind k : allKinds) {
        if (raw == rawValue(k)) {
            return k;
        }
    }
    return std::nullopt;
}

QString SessionTitle::jsonKey(Kind kind) {
    switch (kind) {
    case Kind::agentName:
        return QStringLiteral("agentName");
    case Kind::custom:
        return QStringLiteral("customTitle");
    case Kind::ai:
        return QStringLiteral("aiTitle");
    }
    return {};
}

} // namespace ostrel
