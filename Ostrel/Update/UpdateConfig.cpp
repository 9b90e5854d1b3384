#include "Ostrel/Update/UpdateConfig.h"

#include "OstrelCore/Update/UpdateFeed.h"
#include "Platform/BundleInfo.h"

namespace ostrel {

UpdateConfig
UpdateConfig::fromInfo(const std::function<std::optional<QString>(const QString&)>& text) {
    UpdateConfig config;
    if (const auto url = text(QStringLiteral("OstrelAppcastURL"))) {
        config.feedURL = UpdateFeed::releaseURL(*url, false);
    }
    if (const auto key = text(QStringLiteral("OstrelUpdatePublicKey"))) {
        config.publicKey = UpdateFeed::publicKey(*key);
    }
    return config;
}

UpdateConfig UpdateConfig::current() {
    const BundleInfo& info = BundleInfo::main();
    return fromInfo([&info](const QString& key) { return info.text(key); });
}

} // namespace ostrel
