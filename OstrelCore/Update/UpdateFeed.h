#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <array>
#include <cstdint>
#include <optional>

namespace ostrel {

// The running system's version as three numbers: on Linux the C library's (major, minor, patch),
// the floor our binaries run on.
struct SystemVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;
    friend bool operator==(const SystemVersion&, const SystemVersion&) = default;
};

// The newest release as the update feed announces it, validated field by field. Nothing here
// trusts the network: a feed that breaks any rule does not parse at all.
struct UpdateFeed {
    struct Release {
        QString version;
        std::int64_t build = 0;
        std::optional<QString> date;
        QStringList notes;
        friend bool operator==(const Release&, const Release&) = default;
    };

    enum class Offer { upToDate, available, skipped, needsNewerSystem };

    QString version;
    std::int64_t build = 0;
    QString minimumSystemVersion;
    QUrl url;
    QString sha256;
    QByteArray signature;
    std::optional<QUrl> changelogURL;
    QList<Release> releases;

    friend bool operator==(const UpdateFeed&, const UpdateFeed&) = default;

    // Hosts for which plain http is acceptable when local feeds are allowed.
    static const QSet<QString>& localHosts();

    static std::optional<UpdateFeed> parse(const QByteArray& bytes, bool allowInsecureLocal);
    static std::optional<QUrl> releaseURL(const QString& text, bool allowInsecureLocal);
    static std::optional<QByteArray> publicKey(const QString& text);
    static std::optional<std::array<std::int64_t, 3>> versionComponents(const QString& text);

    // Whether the archive's digest is the feed's and its signature verifies under the key.
    bool verify(const QByteArray& zip, const QByteArray& publicKey) const;

    // The releases newer than `build`, highest build first.
    QList<Release> notes(std::int64_t since) const;
    bool isSystemOlder(const SystemVersion& system) const;
    Offer offer(std::int64_t currentBuild, const SystemVersion& system,
                std::optional<std::int64_t> skippedBuild, bool manual) const;
};

} // namespace ostrel
