#include "Ostrel/Views/SessionText.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

TEST(SessionTextTest, TitlesDetailsAndCaptions) {
    Session unnamed(QStringLiteral("s1"), std::nullopt, QStringLiteral("/home/dev/ostrel"),
                    std::nullopt, Date(0), Date(0));
    EXPECT_EQ(SessionText::title(unnamed), QStringLiteral("ostrel"));
    Session named = unnamed;
    named.customTitle = QStringLiteral("Fix the\n\nbuild");
    EXPECT_EQ(SessionText::title(named), QStringLiteral("Fix the build"));

    EXPECT_EQ(SessionText::detail(std::nullopt, QStringLiteral("09:41")), QStringLiteral("09:41"));
    EXPECT_EQ(SessionText::detail(QStringLiteral("ostrel · main"), QStringLiteral("Mon 09:41")),
              QStringLiteral("ostrel · main · Mon 09:41"));

    Turn earlier{QStringLiteral("earlier:s1"), std::nullopt, {}};
    EXPECT_EQ(SessionText::caption(earlier), QStringLiteral("Earlier"));
    Turn prompted{QStringLiteral("p1"),
                  Prompt{QStringLiteral("p1"), QStringLiteral("s1"), Date(0),
                         QStringLiteral("  draw it\nagain ")},
                  {}};
    EXPECT_EQ(SessionText::caption(prompted), QStringLiteral("  draw it\nagain "));
    prompted.prompt->text.clear();
    EXPECT_EQ(SessionText::caption(prompted), QStringLiteral("Prompt"));
    earlier.prompt = prompted.prompt;
    EXPECT_EQ(SessionText::caption(earlier), QStringLiteral("Earlier"));
}

} // namespace
