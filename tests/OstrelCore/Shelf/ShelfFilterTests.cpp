#include "OstrelCore/Shelf/ShelfFilter.h"

#include "ShelfFixtures.h"
#include "support/ItemIds.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::fixtures;

namespace {

using test::ids;

// Projects: "app" (s1), "café" spelled composed (s2) and decomposed (s3), "Unsorted", "Session".
Snapshot mixed() {
    Snapshot snap;
    snap.sessions = {session("s1", 0, 0, QStringLiteral("/home/me/app")),
                     session("s2", 0, 0, QStringLiteral("/home/me/caf\u00E9")),
                     session("s3", 0, 0, QStringLiteral("/work/cafe\u0301/")),
                     session("s1", 0, 0, QStringLiteral("/elsewhere/other"))};
    snap.items = {item("img", "s1", std::nullopt, 9, true, ShelfItemKind::image),
                  item("pdf", "s2", std::nullopt, 8, false, ShelfItemKind::pdf),
                  item("doc", "s3", std::nullopt, 7, true, ShelfItemKind::document),
                  item("file", "s1", std::nullopt, 6, false, ShelfItemKind::file),
                  item("page", "unsorted", std::nullopt, 5, true, ShelfItemKind::html),
                  item("lost", "gone", std::nullopt, 4, false, ShelfItemKind::video)};
    snap.hidden = {item("hid", "s1", std::nullopt, 1)};
    return snap;
}

} // namespace

TEST(ShelfFilterLabel, CountsKindsAndNewOnlyButNotTheProject) {
    ShelfFilter filter;
    filter.project = QStringLiteral("app");
    EXPECT_EQ(filter.activeCount(), 0);
    EXPECT_FALSE(filter.isFiltering());
    EXPECT_FALSE(filter.chipLabel().has_value());

    filter.kinds = {KindFilter::documents};
    EXPECT_EQ(filter.chipLabel(), QStringLiteral("Documents"));
    filter.kinds.clear();
    filter.onlyNew = true;
    EXPECT_EQ(filter.chipLabel(), QStringLiteral("Only New"));
    filter.kinds = {KindFilter::images, KindFilter::other};
    EXPECT_EQ(filter.chipLabel(), QStringLiteral("3 filters"));
}

TEST(ShelfFilterApply, NoFilterKeepsTheSnapshotAsItIs) {
    const Snapshot snap = mixed();
    EXPECT_EQ(ShelfFilter().apply(snap, {}), snap);
}

TEST(ShelfFilterApply, ProjectMatchesAnyCanonicalSpelling) {
    ShelfFilter filter;
    filter.project = QStringLiteral("cafe\u0301");
    const Snapshot kept = filter.apply(mixed(), {});
    EXPECT_EQ(ids(kept.items), (QStringList{"pdf", "doc"}));
    EXPECT_EQ(kept.hidden, mixed().hidden);
    EXPECT_EQ(kept.sessions, mixed().sessions);

    // The first of two sessions with one id decides; a missing session is "Session".
    filter.project = QStringLiteral("other");
    EXPECT_TRUE(filter.apply(mixed(), {}).items.isEmpty());
    filter.project = QStringLiteral("Session");
    EXPECT_EQ(ids(filter.apply(mixed(), {}).items), QStringList{"lost"});
    filter.project = QStringLiteral("Unsorted");
    EXPECT_EQ(ids(filter.apply(mixed(), {}).items), QStringList{"page"});
}

TEST(ShelfFilterApply, OnlyNewKeepsUnreadAndStillNewItems) {
    ShelfFilter filter;
    filter.onlyNew = true;
    EXPECT_EQ(ids(filter.apply(mixed(), {QStringLiteral("pdf")}).items),
              (QStringList{"img", "pdf", "doc", "page"}));
    filter.kinds = {KindFilter::documents};
    EXPECT_EQ(ids(filter.apply(mixed(), {}).items), QStringList{"doc"});
}

TEST(ShelfFilterCounts, ProjectsLargestFirstThenByName) {
    Snapshot snap = mixed();
    snap.items.append(item("img2", "s1", std::nullopt, 3));
    snap.items.append(item("x", "unsorted", std::nullopt, 2));
    snap.items.append(item("y", "unsorted", std::nullopt, 2));
    const auto projects = ShelfFilter::projects(snap);
    // app 3, Unsorted 3, café 2 (both spellings, named as met first), Session 1.
    const QList<ShelfFilter::ProjectCount> expected{{QStringLiteral("Unsorted"), 3},
                                                    {QStringLiteral("app"), 3},
                                                    {QStringLiteral("caf\u00E9"), 2},
                                                    {QStringLiteral("Session"), 1}};
    EXPECT_EQ(projects, expected);
    EXPECT_TRUE(ShelfFilter::projects(Snapshot()).isEmpty());
}

TEST(ShelfFilterCounts, KindCountsIgnoreTheChosenKinds) {
    ShelfFilter filter;
    filter.kinds = {KindFilter::images};
    filter.project = QStringLiteral("caf\u00E9");
    const std::map<KindFilter, qint64> expected{{KindFilter::documents, 2}};
    EXPECT_EQ(filter.kindCounts(mixed(), {}), expected);

    filter.project.reset();
    filter.onlyNew = true;
    const std::map<KindFilter, qint64> fresh{
        {KindFilter::images, 1}, {KindFilter::documents, 1}, {KindFilter::pages, 1}};
    EXPECT_EQ(filter.kindCounts(mixed(), {}), fresh);
}

TEST(ShelfFilterValidated, DropsOnlyAProjectWithoutItems) {
    ShelfFilter filter;
    filter.project = QStringLiteral("app");
    filter.kinds = {KindFilter::audio};
    filter.onlyNew = true;
    EXPECT_EQ(filter.validated(mixed()), filter);

    Snapshot withoutApp = mixed();
    withoutApp.items.removeIf([](const ShelfItem& i) { return i.sessionID == u"s1"; });
    const ShelfFilter cleared = filter.validated(withoutApp);
    EXPECT_FALSE(cleared.project.has_value());
    EXPECT_EQ(cleared.kinds, filter.kinds);
    EXPECT_TRUE(cleared.onlyNew);
}
