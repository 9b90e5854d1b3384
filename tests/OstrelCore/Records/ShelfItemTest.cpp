#include "OstrelCore/Records/ShelfItem.h"
#include "RecordsTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace ostrel;

TEST(ShelfItemKind, ExtensionsMapIgnoringCaseButNotDots) {
    using ShelfItemKindRules::forExtension;
    EXPECT_EQ(forExtension("PNG"), ShelfItemKind::image);
    EXPECT_EQ(forExtension("Jpeg"), ShelfItemKind::image);
    EXPECT_EQ(forExtension("HEIC"), ShelfItemKind::image);
    EXPECT_EQ(forExtension("HTM"), ShelfItemKind::html);
    EXPECT_EQ(forExtension("numbers"), ShelfItemKind::document);
    EXPECT_EQ(forExtension("webm"), ShelfItemKind::video);
    EXPECT_EQ(forExtension("flac"), ShelfItemKind::audio);
    EXPECT_EQ(forExtension(""), std::nullopt);
    EXPECT_EQ(forExtension(".png"), std::nullopt);
    EXPECT_EQ(forExtension("log"), std::nullopt);
}

TEST(ShelfItemKind, ExtraExtensionsOnlyClaimWhatNoKindClaims) {
    using ShelfItemKindRules::forExtension;
    EXPECT_EQ(forExtension("log", {"log"}), ShelfItemKind::file);
    EXPECT_EQ(forExtension("LOG", {"log"}), ShelfItemKind::file);
    EXPECT_EQ(forExtension("log", {"LOG"}), std::nullopt);
    EXPECT_EQ(forExtension("png", {"png"}), ShelfItemKind::image);

    const auto shown = ShelfItemKindRules::shownByDefault();
    EXPECT_EQ(shown.size(), 7u);
    EXPECT_FALSE(shown.contains(ShelfItemKind::file));
}

TEST(ShelfItem, SeenAtCountsForReadStateAndEquality) {
    ShelfItem item = test::makeItem("a", 10);
    const ShelfItem before = item;
    EXPECT_TRUE(item.isUnread());
    item.seenAt = Date(11);
    EXPECT_FALSE(item.isUnread());
    EXPECT_NE(item, before);
}

TEST(ShelfItemJson, OptionalKeysAreLeftOutAndReadBackAbsent) {
    const ShelfItem item = test::makeItem("abc", 0);
    const QJsonObject json = item.toJson();
    EXPECT_EQ(json.keys(),
              (QStringList{"createdAt", "id", "kind", "sessionID", "sourceKinds", "title"}));
    const auto back = ShelfItem::fromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, item);
    EXPECT_EQ(back->createdAt.toDateTime().toString(Qt::ISODate), "2001-01-01T00:00:00Z");
}

TEST(ShelfItemJson, FullItemRoundTripsEveryField) {
    ShelfItem item = test::makeItem("id~1", 123.456);
    item.fileURL = QUrl::fromLocalFile("/tmp/store/items/a b%.png");
    item.remoteURL = QUrl("https://example.com/a?x=1");
    item.sourcePath = "/work/ü.png";
    item.promptID = "p";
    item.sourceKinds = {Source::transcript, Source::chrome};
    item.seenAt = Date(1e9 + 0.1);
    item.width = 1 << 20;
    item.height = 3;
    item.captureID = "toolu_1#0";
    const auto back = ShelfItem::fromJson(
        QJsonDocument::fromJson(QJsonDocument(item.toJson()).toJson()).object());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, item);
}

TEST(ShelfItemJson, BadRecordsFailWhole) {
    const QJsonObject good = test::makeItem("a", 1).toJson();
    auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject o = good;
        if (value.isUndefined()) {
            o.remove(key);
        } else {
            o.insert(key, value);
        }
        return ShelfItem::fromJson(o);
    };
    EXPECT_FALSE(with("kind", "Image"));
    EXPECT_FALSE(with("sourceKinds", QJsonArray{"chrome", "Chrome"}));
    EXPECT_FALSE(with("createdAt", "2024-01-01"));
    EXPECT_FALSE(with("title", QJsonValue::Null));
    EXPECT_FALSE(with("id", QJsonValue::Undefined));
    EXPECT_FALSE(with("width", 1.5));
    EXPECT_FALSE(with("width", "12"));
    EXPECT_FALSE(with("fileURL", "not a url"));
    EXPECT_FALSE(with("promptID", 3));

    const auto empty = with("sourceKinds", QJsonArray{});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->sourceKinds.empty());
    const auto twice = with("sourceKinds", QJsonArray{"chrome", "chrome"});
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->sourceKinds, Sources{Source::chrome});
    const auto nulls = with("seenAt", QJsonValue::Null);
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->seenAt);
    EXPECT_TRUE(with("unknownKey", 5));
}

TEST(ShelfItemJson, DatesRoundTripBitExactly) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> span(-1e9, 2e9);
    for (int i = 0; i < 2000; ++i) {
        const double seconds = span(random);
        const ShelfItem item = test::makeItem("x", seconds);
        const QByteArray text = QJsonDocument(item.toJson()).toJson(QJsonDocument::Compact);
        const auto back = ShelfItem::fromJson(QJsonDocument::fromJson(text).object());
        ASSERT_TRUE(back);
        EXPECT_EQ(std::memcmp(&back->createdAt.seconds, &seconds, sizeof seconds), 0)
            << text.data();
    }
}
