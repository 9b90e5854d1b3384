#include "OstrelCore/Update/UpdateFeed.h"
#include "OstrelCore/Update/ReleaseIdentity.h"
#include "OstrelCore/Update/UpdateSchedule.h"
#include "Platform/Ed25519.h"
#include "Platform/Sha256.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

const QString sig64 = QString::fromLatin1(QByteArray(64, 'S').toBase64());

QJsonObject goodFeed() {
    return QJsonObject{{"version", "2.3"},
                       {"build", 42},
                       {"minimumSystemVersion", "2.31"},
                       {"url", "https://example.org/Ostrel.zip"},
                       {"sha256", QString(64, u'a')},
                       {"signature", sig64}};
}

std::optional<UpdateFeed> parse(const QJsonObject& o, bool local = false) {
    return UpdateFeed::parse(QJsonDocument(o).toJson(), local);
}

std::optional<UpdateFeed> with(const QString& key, const QJsonValue& value, bool local = false) {
    QJsonObject o = goodFeed();
    o.insert(key, value);
    return parse(o, local);
}

TEST(UpdateFeed, AddressRules) {
    EXPECT_TRUE(with("url", "http://localhost:8080/a.zip", true));
    EXPECT_TRUE(with("url", "http://[::1]/a.zip", true));
    EXPECT_FALSE(with("url", "http://localhost/a.zip", false));
    EXPECT_FALSE(with("url", "http://example.org/a.zip", true));
    EXPECT_FALSE(with("url", "HTTPS://example.org/a.zip"));
    EXPECT_FALSE(with("url", "https:///a.zip"));
    EXPECT_FALSE(with("url", "ftp://example.org/a.zip", true));
    const auto trimmed = with("url", " \n https://example.org/a.zip\n");
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(trimmed->url, QUrl("https://example.org/a.zip"));

    // A bad change-log address is dropped, the feed stays.
    const auto changelog = with("changelogURL", "http://example.org/log");
    ASSERT_TRUE(changelog);
    EXPECT_FALSE(changelog->changelogURL);
}

TEST(UpdateFeed, DigestSignatureAndKeyText) {
    const auto upper = with("sha256", QString(64, u'A'));
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->sha256, QString(64, u'a'));
    EXPECT_FALSE(with("sha256", QString(63, u'a')));
    EXPECT_FALSE(with("sha256", QString(65, u'a')));
    EXPECT_FALSE(with("sha256", QString(63, u'a') + u'g'));

    EXPECT_FALSE(with("signature", sig64 + u'\n'));
    EXPECT_FALSE(with("signature", QString::fromLatin1(QByteArray(63, 'S').toBase64())));
    EXPECT_FALSE(with("signature", QString::fromLatin1(QByteArray(65, 'S').toBase64())));

    const QString key = QString::fromLatin1(QByteArray(32, 'k').toBase64());
    EXPECT_EQ(UpdateFeed::publicKey(QStringLiteral("  ") + key + QStringLiteral("\n")),
              QByteArray(32, 'k'));
    EXPECT_FALSE(UpdateFeed::publicKey(QString::fromLatin1(QByteArray(31, 'k').toBase64())));
    EXPECT_FALSE(UpdateFeed::publicKey(key.left(20) + QStringLiteral(" ") + key.mid(20)));
}

// What a configure lets into the build (cmake -P on the build's own rules) is what the
// application takes from it, so that a build never carries a feed or key it then ignores.
TEST(UpdateFeed, TheBuildTakesAtConfigureWhatTheApplicationTakes) {
    const auto configureTakes = [](const QString& check, const QString& value) {
        QProcess cmake;
        cmake.start(OSTREL_CMAKE,
                    {"-DCHECK=" + check, "-DVALUE=" + value, "-P", OSTREL_BUILD_VALUES});
        return cmake.waitForFinished(20000) && cmake.exitStatus() == QProcess::NormalExit &&
               cmake.exitCode() == 0;
    };
    for (const QString url : {"https://example.org/feed.json",
                              " https://example.org/feed.json\n",
                              "http://example.org/f",
                              "http://localhost/feed",
                              "HTTPS://example.org/",
                              "https:/example.org/",
                              "https://",
                              "https:///feed",
                              "https:h/x",
                              "",
                              "https://exa mple.org/",
                              "https://h/a b",
                              "https://h:abc/",
                              "https://h:443/x",
                              "https://h:/x",
                              "https://h:65535/",
                              "https://h:65536/",
                              "https://user:pw@h/x",
                              "https://@h/",
                              "https://u@@h/",
                              "https://u%zz@h/",
                              "https://h@/",
                              "https://127.0.0.1:8443/feed.json",
                              "https://a_b.example/",
                              "https://-h/",
                              "https://h-.x/",
                              "https://h..x/",
                              "https://.h/",
                              "https://h./",
                              "https://a!b/",
                              "https://a%41b/",
                              "https://h/%zz",
                              "https://h/%41",
                              "https://h/a?b=c&d#frag",
                              "https://h/a?b=c d",
                              "https://h/a\"b",
                              "https://h/a<b>",
                              "https://h/a{b}",
                              "https://h/a|b",
                              "https://h/a\\b",
                              "https://h/a^b",
                              "https://h/a`b",
                              "https://h/[x]",
                              "https://h/a#b#c",
                              "https://h?x",
                              "https://xn--bcher-kva.de/",
                              "https://[::1]/feed",
                              "https://[::1]:8443/f",
                              "https://[::ffff:1.2.3.4]/",
                              "https://[::ffff:1.2.3.256]/",
                              "https://[1:2:3:4:5:6:7:8]/",
                              "https://[1:2:3:4:5:6:7:8:9]/",
                              "https://[1:2:3:4:5:6:7::8]/",
                              "https://[1::]/",
                              "https://[1:::2]/",
                              "https://[12345::1]/",
                              "https://[1:2]/",
                              "https://[1.2.3.4]/",
                              "https://[::1/feed"}) {
        EXPECT_EQ(configureTakes("feed", url), UpdateFeed::releaseURL(url, false).has_value())
            << url.toStdString();
    }
    const QString key = QString::fromLatin1(QByteArray(32, 'k').toBase64());
    for (const QString& text :
         {key, " " + key + "\n", key.left(20) + " " + key.mid(20), key.chopped(1),
          key.chopped(1) + "==", QString::fromLatin1(QByteArray(31, 'k').toBase64()),
          QString::fromLatin1(QByteArray(33, 'k').toBase64()), "*" + key.mid(1), QString()}) {
        EXPECT_EQ(configureTakes("key", text), UpdateFeed::publicKey(text).has_value())
            << text.toStdString();
    }
}

TEST(UpdateFeed, RequiredFieldsAndVersions) {
    EXPECT_TRUE(parse(goodFeed()));
    for (const char* key :
         {"version", "build", "minimumSystemVersion", "url", "sha256", "signature"}) {
        QJsonObject o = goodFeed();
        o.remove(key);
        EXPECT_FALSE(parse(o)) << key;
        EXPECT_FALSE(with(key, QJsonValue())) << key;
    }
    EXPECT_FALSE(with("build", "42"));
    EXPECT_FALSE(with("build", 0));
    EXPECT_FALSE(with("build", -3));
    EXPECT_FALSE(with("version", ""));
    EXPECT_FALSE(UpdateFeed::parse("not json", false));

    using C = std::array<std::int64_t, 3>;
    EXPECT_EQ(UpdateFeed::versionComponents("14"), (C{14, 0, 0}));
    EXPECT_EQ(UpdateFeed::versionComponents("14.0"), (C{14, 0, 0}));
    EXPECT_EQ(UpdateFeed::versionComponents("13.5"), (C{13, 5, 0}));
    EXPECT_EQ(UpdateFeed::versionComponents("+1.-0.2"), (C{1, 0, 2}));
    for (const char* bad : {"14.0.0.1", "14..1", "", "14a", "a14", " 14", "-1", "14."}) {
        EXPECT_FALSE(UpdateFeed::versionComponents(bad)) << bad;
        EXPECT_FALSE(with("minimumSystemVersion", bad)) << bad;
    }
}

TEST(UpdateFeed, ReleaseNotesAreCleanedOrderedAndCapped) {
    QJsonArray releases;
    for (int build = 1; build <= 25; ++build) {
        releases.append(QJsonObject{{"version", QStringLiteral(" 1.%1 ").arg(build)},
                                    {"build", build},
                                    {"date", build == 3 ? " " : "May"},
                                    {"notes", QJsonArray{" fixed ", ""}}});
    }
    QJsonArray many;
    for (int i = 0; i < 40; ++i) {
        many.append(i == 0 ? "  " : QStringLiteral("n%1").arg(i));
    }
    releases.append(QJsonObject{{"version", "dup"}, {"build", 25}, {"notes", many}});
    releases.append(QJsonObject{{"version", "zero"}, {"build", 0}, {"notes", QJsonArray{"x"}}});
    releases.append(QJsonObject{{"version", "  "}, {"build", 30}, {"notes", QJsonArray{"x"}}});
    releases.append(QJsonObject{{"version", "blank"}, {"build", 31}, {"notes", QJsonArray{" "}}});
    const auto feed = with("releases", releases);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->releases.size(), 20);
    EXPECT_EQ(feed->releases[0].version, "1.25");
    EXPECT_EQ(feed->releases[0].notes, QStringList{"fixed"});
    EXPECT_EQ(feed->releases[1].version, "dup"); // equal builds keep their feed order
    EXPECT_EQ(feed->releases[1].notes.size(), 30);
    EXPECT_EQ(feed->releases[1].notes.first(), "n1");
    EXPECT_FALSE(feed->releases[1].date);
    EXPECT_EQ(feed->releases.last().build, 7);

    // A mistyped release spoils the document.
    EXPECT_FALSE(with("releases", QJsonArray{QJsonObject{{"version", 1}, {"build", 2}}}));

    EXPECT_EQ(feed->notes(24).size(), 2);
    EXPECT_EQ(feed->notes(25).size(), 0);
    EXPECT_EQ(feed->notes(0).size(), 20);
}

TEST(UpdateFeed, VerifyNeedsDigestAndSignatureOfTheSameArchive) {
    const Ed25519::KeyPair key = Ed25519::generate();
    const QByteArray archive = "archive one";
    const QByteArray other = "archive two";
    UpdateFeed feed = *parse(goodFeed());
    feed.sha256 = QString::fromLatin1(Sha256::digest(archive).toHex());
    feed.signature = *Ed25519::sign(key.privateKey, archive);
    EXPECT_TRUE(feed.verify(archive, key.publicKey));
    EXPECT_FALSE(feed.verify(archive, Ed25519::generate().publicKey));

    UpdateFeed mixed = feed;
    mixed.signature = *Ed25519::sign(key.privateKey, other);
    EXPECT_FALSE(mixed.verify(archive, key.publicKey));
    mixed = feed;
    mixed.sha256 = QString::fromLatin1(Sha256::digest(other).toHex());
    EXPECT_FALSE(mixed.verify(archive, key.publicKey));

    QByteArray flipped = archive;
    flipped[3] = flipped[3] ^ 1;
    EXPECT_FALSE(feed.verify(flipped, key.publicKey));
}

TEST(UpdateFeed, Offer) {
    UpdateFeed feed = *parse(goodFeed()); // build 42, needs 2.31
    const SystemVersion ok{2, 36, 0};
    const SystemVersion old{2, 28, 0};
    using O = UpdateFeed::Offer;
    EXPECT_EQ(feed.offer(42, old, 42, false), O::upToDate);
    EXPECT_EQ(feed.offer(50, ok, std::nullopt, true), O::upToDate);
    EXPECT_EQ(feed.offer(41, old, 42, false), O::needsNewerSystem);
    EXPECT_EQ(feed.offer(41, ok, 42, false), O::skipped);
    EXPECT_EQ(feed.offer(41, ok, 42, true), O::available);
    EXPECT_EQ(feed.offer(41, ok, 41, false), O::available);

    feed.minimumSystemVersion = "14.4.1";
    EXPECT_TRUE(feed.isSystemOlder({14, 4, 0}));
    EXPECT_FALSE(feed.isSystemOlder({14, 4, 1}));
    EXPECT_FALSE(feed.isSystemOlder({15, 0, 0}));
    feed.minimumSystemVersion = "14.9.9";
    EXPECT_FALSE(feed.isSystemOlder({15, 0, 0}));
    feed.minimumSystemVersion = "junk";
    EXPECT_EQ(feed.offer(41, ok, std::nullopt, true), O::needsNewerSystem);
}

TEST(UpdateSchedule, IsDue) {
    const Date now(1e9);
    EXPECT_TRUE(UpdateSchedule::isDue(std::nullopt, now, true, true));
    EXPECT_TRUE(UpdateSchedule::isDue(now.adding(-86400), now, true, true));
    EXPECT_FALSE(UpdateSchedule::isDue(now.adding(-86399), now, true, true));
    EXPECT_FALSE(UpdateSchedule::isDue(std::nullopt, now, false, true));
    EXPECT_FALSE(UpdateSchedule::isDue(std::nullopt, now, true, false));
    // A clock that once ran ahead must not stop the checks.
    EXPECT_TRUE(UpdateSchedule::isDue(now.adding(5 * 86400), now, true, true));
}

TEST(ReleaseIdentity, Verdict) {
    using V = ReleaseIdentity::Verdict;
    const BundleIdentity team{QStringLiteral("T1"), true};
    EXPECT_EQ(ReleaseIdentity::verdict(team, team), V::accept);
    EXPECT_EQ(ReleaseIdentity::verdict(team, {QStringLiteral("T1"), false}), V::notSigned);
    EXPECT_EQ(ReleaseIdentity::verdict(team, {QStringLiteral("T2"), false}), V::notSigned);
    EXPECT_EQ(ReleaseIdentity::verdict(team, {QStringLiteral("T2"), true}), V::differentTeam);
    EXPECT_EQ(ReleaseIdentity::verdict(team, {std::nullopt, true}), V::differentTeam);
    EXPECT_EQ(ReleaseIdentity::verdict({std::nullopt, false}, team), V::differentTeam);
    EXPECT_EQ(ReleaseIdentity::verdict({std::nullopt, false}, {std::nullopt, true}), V::accept);
}

} // namespace
} // namespace ostrel
