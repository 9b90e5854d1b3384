#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "RecordsTestSupport.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

Session withCwdSlug(std::optional<QString> cwd, std::optional<QString> slug,
                    const QString& id = "s") {
    return Session(id, std::move(slug), std::move(cwd), std::nullopt, Date(0), Date(0));
}

} // namespace

TEST(SessionTexts, FolderFallsThroughCwdSlugAndDefault) {
    EXPECT_EQ(withCwdSlug("/work/x", "a-b", Session::unsortedID).folder(), "Unsorted");
    EXPECT_EQ(withCwdSlug("/work/src/shop", std::nullopt).folder(), "shop");
    EXPECT_EQ(withCwdSlug("/work/src/shop/", std::nullopt).folder(), "shop");
    EXPECT_EQ(withCwdSlug(std::nullopt, "-work-src-my-shop").folder(), "shop");
    EXPECT_EQ(withCwdSlug("", "-work-src-my-shop").folder(), "shop");
    EXPECT_EQ(withCwdSlug(std::nullopt, "-").folder(), "Session");
    EXPECT_EQ(withCwdSlug(std::nullopt, "").folder(), "Session");
    EXPECT_EQ(withCwdSlug(std::nullopt, std::nullopt).folder(), "Session");
}

TEST(SessionTexts, BranchLabelHidesDetachedHead) {
    Session s = withCwdSlug(std::nullopt, std::nullopt);
    for (const auto& [branch, label] :
         std::vector<std::pair<std::optional<QString>, std::optional<QString>>>{
             {"HEAD", std::nullopt},
             {"head", "head"},
             {"main", "main"},
             {"", std::nullopt},
             {std::nullopt, std::nullopt}}) {
        s.branch = branch;
        EXPECT_EQ(s.branchLabel(), label);
    }
}

TEST(SessionTexts, NameTakesFirstNonBlankTitleJoiningLines) {
    Session s = withCwdSlug(std::nullopt, std::nullopt);
    EXPECT_EQ(s.name(), std::nullopt);
    s.agentName = "   ";
    s.customTitle = "Fix\n\nlogin";
    EXPECT_EQ(s.name(), "Fix login");
    s.customTitle.reset();
    s.firstPrompt = "a \n b";
    EXPECT_EQ(s.name(), "a   b");
    s.firstPrompt = "\u2028 \t\r\n";
    EXPECT_EQ(s.name(), std::nullopt);
    s.aiTitle = "\r\nGenerated\r\n";
    EXPECT_EQ(s.name(), "Generated");
}

TEST(SessionTexts, RowDetailShowsFolderOnlyBesideAName) {
    Session s = withCwdSlug("/w/shop", std::nullopt);
    s.startedAt = Date(0);
    const QTimeZone utc = QTimeZone::utc();
    s.branch = "main";
    s.customTitle = "Title";
    EXPECT_EQ(s.rowDetail(Date(60), utc).context, QStringLiteral("shop \u00B7 main"));
    s.branch.reset();
    EXPECT_EQ(s.rowDetail(Date(60), utc).context, "shop");
    s.customTitle.reset();
    EXPECT_EQ(s.rowDetail(Date(60), utc).context, std::nullopt);
    s.branch = "dev";
    EXPECT_EQ(s.rowDetail(Date(60), utc).context, "dev");
    EXPECT_EQ(s.rowDetail(Date(60), utc).time, "00:00");
}

TEST(SessionTexts, StartTextUsesTheCalendarsDay) {
    Session s = withCwdSlug(std::nullopt, std::nullopt);
    s.startedAt = Date(0); // Monday 2001-01-01 00:00 UTC
    const QTimeZone utc = QTimeZone::utc();
    EXPECT_EQ(s.startText(Date(3600 * 5), utc), "00:00");
    EXPECT_EQ(s.startText(Date(86400), utc), "Mon 00:00");
    EXPECT_EQ(s.startText(Date(86400 * 21), utc), "Mon 00:00");
    EXPECT_EQ(s.startText(Date(86400), QTimeZone(-3600)), "Sun 23:00");
    s.startedAt = Date(13 * 3600 + 7 * 60 + 59.9);
    EXPECT_EQ(s.startText(Date(14 * 3600), utc), "13:07");
}

TEST(PromptSummary, FirstNonBlankLineCutToTheLimit) {
    EXPECT_EQ(Prompt::summarize("\n \n\t\n"), "");
    EXPECT_EQ(Prompt::summarize("\n\n  first line \nsecond"), "first line");
    const QString exact(220, u'x');
    EXPECT_EQ(Prompt::summarize(exact), exact);
    const QString longer(221, u'y');
    const QString cut = Prompt::summarize(longer);
    EXPECT_EQ(cut, QString(219, u'y') + QStringLiteral("\u2026"));

    // A flag and a skin-toned emoji are one character each.
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");
    QString emoji;
    for (int i = 0; i < 110; ++i) {
        emoji += flag + thumb;
    }
    EXPECT_EQ(Prompt::summarize(emoji), emoji);
    const QString summary = Prompt::summarize(emoji + flag);
    EXPECT_TRUE(summary.endsWith(QStringLiteral("\u2026")));
    EXPECT_TRUE(summary.startsWith(flag + thumb));
    EXPECT_EQ(summary.size(), 219 / 2 * (flag.size() + thumb.size()) + flag.size() + 1);

    // An unpaired surrogate (JSON may escape one) is not kept as it is.
    EXPECT_EQ(Prompt::summarize(QStringLiteral("a ") + QChar(0xDE00)),
              QStringLiteral("a ") + QChar(QChar::ReplacementCharacter));

    // One character may run to thousands of units: it is never cut.
    const QString heavy = QStringLiteral("e") + QString(3000, QChar(0x0301));
    EXPECT_EQ(Prompt::summarize(heavy + QString(300, u'x')),
              heavy + QString(218, u'x') + QStringLiteral("\u2026"));
}

TEST(SessionJson, MinimalSessionRoundTripsWithThreeKeys) {
    const QJsonObject minimal{{"id", "s"}, {"startedAt", 1.5}, {"lastActive", 2.5}};
    const auto s = Session::fromJson(minimal);
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->slug || s->cwd || s->branch || s->agentName || s->firstPromptAt);
    EXPECT_EQ(s->toJson(), minimal);

    EXPECT_FALSE(
        Session::fromJson(QJsonObject{{"id", "s"}, {"startedAt", "x"}, {"lastActive", 1}}));
    EXPECT_FALSE(Session::fromJson(QJsonObject{{"id", "s"}, {"startedAt", 1}}));
    EXPECT_FALSE(Session::fromJson(
        QJsonObject{{"id", "s"}, {"startedAt", 1}, {"lastActive", 1}, {"cwd", 4}}));

    Session full = test::makeSession("f", 1, 2);
    full.slug = "-w";
    full.cwd = "/w";
    full.branch = "b";
    full.agentName = "a";
    full.customTitle = "c";
    full.aiTitle = "i";
    full.firstPrompt = "p";
    full.firstPromptAt = Date(1.25);
    EXPECT_EQ(Session::fromJson(full.toJson()), full);
}

TEST(PromptJson, AllFourKeysRequired) {
    const Prompt p = test::makePrompt("p", "s", 3.75);
    EXPECT_EQ(Prompt::fromJson(p.toJson()), p);
    QJsonObject missing = p.toJson();
    missing.remove("text");
    EXPECT_FALSE(Prompt::fromJson(missing));
    QJsonObject wrong = p.toJson();
    wrong.insert("at", "3.75");
    EXPECT_FALSE(Prompt::fromJson(wrong));
}
