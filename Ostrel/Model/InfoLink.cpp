#include "Ostrel/Model/InfoLink.h"

namespace ostrel::InfoLinks {

QString key(InfoLink link) {
    return link == InfoLink::website ? BundleInfo::websiteKey : BundleInfo::changelogKey;
}

std::optional<QUrl> url(InfoLink link, const BundleInfo& info) {
    const auto text = info.text(key(link));
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    const QUrl parsed(*text, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != u"https") {
        return std::nullopt;
    }
    return parsed;
}

void open(InfoLink link, Desktop& desktop, const BundleInfo& info) {
    if (const auto address = url(link, info)) {
        desktop.open(*address);
    }
}

} // namespace ostrel::InfoLinks
