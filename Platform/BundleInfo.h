#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace ostrel {

// What the application knows about its own build: version texts, links and the update feed.
// The values are fixed when the build is configured and installed beside the binary as
// "share/ostrel/Info.json"; a value the build was not given is absent, never an empty text.
struct BundleInfo {
    // The keys of Info.json, as the update staging check and the About pane read them.
    static inline const QString shortVersionKey = QStringLiteral("CFBundleShortVersionString");
    static inline const QString versionKey = QStringLiteral("CFBundleVersion");
    static inline const QString copyrightKey = QStringLiteral("NSHumanReadableCopyright");
    static inline const QString websiteKey = QStringLiteral("OstrelWebsiteURL");
    static inline const QString changelogKey = QStringLiteral("OstrelChangelogURL");
    static inline const QString feedbackKey = QStringLiteral("OstrelFeedbackEmail");
    static inline const QString feedKey = QStringLiteral("OstrelAppcastURL");
    static inline const QString publicKeyKey = QStringLiteral("OstrelUpdatePublicKey");

    // Every key this build was given, each a text.
    QJsonObject values;

    // A text value, or none when the key is absent or not a text.
    std::optional<QString> text(const QString& key) const;

    // The running build's values.
    static const BundleInfo& main();
    // The values compiled into this build.
    static BundleInfo compiled();
    // Reads an Info.json (an install folder's); none when it cannot be read or holds no object.
    static std::optional<BundleInfo> read(const QString& path);
};

} // namespace ostrel
