#include "OstrelCore/Engine/ScratchpadScanner.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/OstrelPaths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace ostrel;

TEST(Env, StringTrimsSpacesAndTabsButKeepsLineBreaks) {
    const Environment env{{"A", "  /tmp/x\t"}, {"B", " \t "}, {"C", "x\n"}, {"D", "\u00A0y\u2003"}};
    EXPECT_EQ(Env::string("A", env), "/tmp/x");
    EXPECT_EQ(Env::string("B", env), std::nullopt);
    EXPECT_EQ(Env::string("C", env), "x\n");
    EXPECT_EQ(Env::string("D", env), "y");
    EXPECT_EQ(Env::string("missing", env), std::nullopt);
}

TEST(Env, IntegerReadsStrictlyAndNeverClamps) {
    const ClosedRange<qint64> days{1, 365};
    const auto read = [&](const QString& value) {
        return Env::integer("N", 30, days, Environment{{"N", value}});
    };
    EXPECT_EQ(read("30"), 30);
    EXPECT_EQ(read(" +7 "), 7);
    EXPECT_EQ(read("0042"), 42);
    EXPECT_EQ(read("-3"), 30);
    EXPECT_EQ(read("0"), 30);
    EXPECT_EQ(read("400"), 30);
    EXPECT_EQ(read("12d"), 30);
    EXPECT_EQ(read("1 2"), 30);
    EXPECT_EQ(read("+"), 30);
    EXPECT_EQ(read("99999999999999999999"), 30);
    EXPECT_EQ(read("\u0663"), 30); // an Arabic-Indic digit is not an ASCII digit
    const ClosedRange<qint64> all{std::numeric_limits<qint64>::min(),
                                  std::numeric_limits<qint64>::max()};
    EXPECT_EQ(Env::integer("N", 0, all, {{"N", "-9223372036854775808"}}),
              std::numeric_limits<qint64>::min());
    EXPECT_EQ(Env::integer("N", 0, all, {{"N", "9223372036854775807"}}),
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(Env::integer("N", 0, all, {{"N", "9223372036854775808"}}), 0);
}

TEST(Env, DecimalMustBeFiniteWholeTextInRange) {
    const auto read = [](const QString& value, ClosedRange<double> range = {0.1, 10}) {
        return Env::decimal("D", 1.0, range, Environment{{"D", value}});
    };
    EXPECT_EQ(read("1.5"), 1.5);
    EXPECT_EQ(read(" 2e0 "), 2.0);
    EXPECT_EQ(read("inf"), 1.0);
    EXPECT_EQ(read("nan"), 1.0);
    EXPECT_EQ(read("1e999"), 1.0);
    EXPECT_EQ(read("2", {0, 1}), 1.0);
    EXPECT_EQ(read("\n2"), 1.0);
    EXPECT_EQ(read("2,5"), 1.0);
    EXPECT_EQ(read("2.5x"), 1.0);
}

TEST(Env, FlagAcceptsOnlyThreeWords) {
    for (const char* yes : {"YES", "True", "1", " yes "}) {
        EXPECT_TRUE(Env::flag("F", {{"F", yes}})) << yes;
    }
    for (const char* no : {"on", "0", "no", ""}) {
        EXPECT_FALSE(Env::flag("F", {{"F", no}})) << no;
    }
    EXPECT_FALSE(Env::flag("F", {}));
}

TEST(OstrelPaths, DefaultsComeFromHomeUserAndTemporaryFolder) {
    const OstrelPaths paths = OstrelPaths::resolve({}, std::nullopt, std::nullopt);
    const QString home = QDir::homePath();
    EXPECT_EQ(paths.claudeHome.toLocalFile(), home + "/.claude");
    EXPECT_EQ(paths.projectsRoot().toLocalFile(), home + "/.claude/projects");
    EXPECT_EQ(paths.scratchRoot.toLocalFile(), "/tmp/claude-" + QString::number(getuid()));
    EXPECT_EQ(paths.supportDir.toLocalFile(), home + "/.local/share/Ostrel");
    EXPECT_EQ(paths.chromeRoot.toLocalFile(), QDir::tempPath());

    const OstrelPaths xdg =
        OstrelPaths::resolve({{"XDG_DATA_HOME", "/data"}}, std::nullopt, std::nullopt);
    EXPECT_EQ(xdg.supportDir.toLocalFile(), "/data/Ostrel");
}

TEST(OstrelPaths, EnvironmentWinsOverPreferenceOverDefault) {
    const Environment env{{"OSTREL_CLAUDE_HOME", "  "},
                          {"OSTREL_SCRATCH_ROOT", "/s/env"},
                          {"OSTREL_SUPPORT_DIR", "/sup/"}};
    const OstrelPaths paths = OstrelPaths::resolve(env, QString("~/pref"), QString("/s/pref"));
    EXPECT_EQ(paths.claudeHome.toLocalFile(), "~/pref");
    EXPECT_EQ(paths.scratchRoot.toLocalFile(), "/s/env");
    EXPECT_EQ(paths.supportDir.toLocalFile(), "/sup");
    EXPECT_EQ(OstrelPaths::resolve({}, std::nullopt, QString("~/s")).scratchRoot.toLocalFile(),
              "~/s");
    EXPECT_EQ(ScratchpadScanner::defaultRoot({{"OSTREL_SCRATCH_ROOT", " ~/x "}}).toLocalFile(),
              "~/x");

    // Equal folders written with and without a trailing slash are the same paths.
    EXPECT_EQ(OstrelPaths::resolve({{"OSTREL_SUPPORT_DIR", "/a/"}}, {}, {}),
              OstrelPaths::resolve({{"OSTREL_SUPPORT_DIR", "/a"}}, {}, {}));
    EXPECT_FALSE(OstrelPaths::resolve({{"OSTREL_SUPPORT_DIR", "/a"}}, {}, {}) ==
                 OstrelPaths::resolve({{"OSTREL_SUPPORT_DIR", "/b"}}, {}, {}));
}

TEST(OstrelPaths, CanonicalResolvesLinksAndKeepsMissingPaths) {
    QTemporaryDir dir;
    const QString real = dir.filePath("real");
    QDir().mkpath(real);
    ASSERT_EQ(::symlink(real.toUtf8().constData(), dir.filePath("link").toUtf8().constData()), 0);
    const QString canonicalReal = OstrelPaths::canonical(real);
    EXPECT_EQ(OstrelPaths::canonical(dir.filePath("link")), canonicalReal);
    EXPECT_EQ(OstrelPaths::canonical(dir.filePath("link/../link/.")), canonicalReal);
    EXPECT_EQ(OstrelPaths::canonical("/no/such/place"), "/no/such/place");
}

TEST(Hex, Sha256IsLowerCaseHex) {
    EXPECT_EQ(Hex::sha256(QByteArray()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex::sha256(QByteArray("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
