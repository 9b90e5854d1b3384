#include "Platform/BundleInfo.h"

#include <QFile>
#include <QJsonDocument>

namespace ostrel {

namespace {

// The build passes each configured value as a string literal; an unconfigured one is not defined.
void put(QJsonObject& values, const QString& key, const char* value) {
    if (value != nullptr && *value != '\0') {
        values.insert(key, QString::fromUtf8(value));
    }
}

} // namespace

std::optional<QString> BundleInfo::text(const QString& key) const {
    const QJsonValue value = values.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

BundleInfo BundleInfo::compiled() {
    BundleInfo info;
#ifdef OSTREL_BUNDLE_SHORT_VERSION
    put(info.values, shortVersionKey, OSTREL_BUNDLE_SHORT_VERSION);
#endif
#ifdef OSTREL_BUNDLE_VERSION
    put(info.values, versionKey, OSTREL_BUNDLE_VERSION);
#endif
#ifdef OSTREL_BUNDLE_COPYRIGHT
    put(info.values, copyrightKey, OSTREL_BUNDLE_COPYRIGHT);
#endif
#ifdef OSTREL_BUNDLE_WEBSITE
    put(info.values, websiteKey, OSTREL_BUNDLE_WEBSITE);
#endif
#ifdef OSTREL_BUNDLE_CHANGELOG
    put(info.values, changelogKey, OSTREL_BUNDLE_CHANGELOG);
#endif
#ifdef OSTREL_BUNDLE_FEEDBACK
    put(info.values, feedbackKey, OSTREL_BUNDLE_FEEDBACK);
#endif
#ifdef OSTREL_BUNDLE_FEED
    put(info.values, feedKey, OSTREL_BUNDLE_FEED);
#endif
#ifdef OSTREL_BUNDLE_PUBLIC_KEY
    put(info.values, publicKeyKey, OSTREL_BUNDLE_PUBLIC_KEY);
#endif
    return info;
}

const BundleInfo& BundleInfo::main() {
    static const BundleInfo info = compiled();
    return info;
}

std::optional<BundleInfo> BundleInfo::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        return std::nullopt;
    }
    return BundleInfo{document.object()};
}

} // namespace ostrel
