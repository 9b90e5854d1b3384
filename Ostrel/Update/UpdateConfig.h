#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace ostrel {

// Where the updater looks and whose signature it trusts, as the build states it.
struct UpdateConfig {
    std::optional<QUrl> feedURL;
    std::optional<QByteArray> publicKey;
    bool allowInsecureLocal = false;

    // Reads "OstrelAppcastURL" (https only) and "OstrelUpdatePublicKey" through `text`, which gives
    // a key's text value or nothing.
    static UpdateConfig fromInfo(const std::function<std::optional<QString>(const QString&)>& text);

    // The configuration the application runs with: this build's values, never local http.
    static UpdateConfig current();

    bool isConfigured() const { return feedURL.has_value() && publicKey.has_value(); }
};

} // namespace ostrel
