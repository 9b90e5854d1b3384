#include "OstrelCore/Engine/ChromeScreenshots.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

TEST(ChromeScreenshotsTest, MatchesOnlyScreenshotJpegsDirectlyInTheirFolder) {
    const QString folder = QStringLiteral("/tmp/claude-chrome-screenshots-abc");
    EXPECT_TRUE(ChromeScreenshots::matches(folder + "/screenshot-1.jpg"));
    EXPECT_TRUE(ChromeScreenshots::matches(folder + "/screenshot-1.JPG"));
    EXPECT_FALSE(ChromeScreenshots::matches(folder + "/deeper/screenshot-1.jpg"));
    EXPECT_FALSE(ChromeScreenshots::matches(folder + "/screenshot-1.jpeg"));
    EXPECT_FALSE(ChromeScreenshots::matches(folder + "/screenshot-1.png"));
    EXPECT_FALSE(ChromeScreenshots::matches(folder + "/shot-1.jpg"));
    EXPECT_FALSE(ChromeScreenshots::matches("/tmp/other/screenshot-1.jpg"));
    EXPECT_FALSE(ChromeScreenshots::matches("screenshot-1.jpg"));
}

namespace {

class ChromeScreenshotsFolderTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    QString folder = tmp.file("claude-chrome-screenshots-1");
    const Date now = Date::now();

    void SetUp() override {
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    QStringList found() const {
        QStringList names;
        for (const QUrl& url :
             ChromeScreenshots::files(QUrl::fromLocalFile(tmp.path()), 600, now)) {
            names.append(url.toLocalFile().mid(QDir(tmp.path()).canonicalPath().size() + 1));
        }
        return names;
    }
};

} // namespace

TEST_F(ChromeScreenshotsFolderTest, ListsRecentRegularScreenshots) {
    const QString shot = tmp.write("claude-chrome-screenshots-1/screenshot-1.jpg", "jpeg");
    tmp.write("claude-chrome-screenshots-1/screenshot-2.png", "png");
    tmp.write("claude-chrome-screenshots-1/deep/screenshot-3.jpg", "jpeg");
    tmp.write("unrelated/screenshot-4.jpg", "jpeg");
    const QString old = tmp.write("claude-chrome-screenshots-1/screenshot-5.jpg", "jpeg");
    const time_t past = time_t(now.toUnix()) - 3600;
    const timespec times[2]{{past, 0}, {past, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(old).constData(), times, 0);
    // Anyone may plant a link in the temporary folder; it is never taken for a screenshot.
    ::symlink(
        "/etc/passwd",
        QFile::encodeName(tmp.file("claude-chrome-screenshots-1/screenshot-6.jpg")).constData());

    EXPECT_EQ(found(), QStringList{"claude-chrome-screenshots-1/screenshot-1.jpg"});
    EXPECT_TRUE(ChromeScreenshots::accepts(shot));
    EXPECT_FALSE(
        ChromeScreenshots::accepts(tmp.file("claude-chrome-screenshots-1/screenshot-6.jpg")));
    EXPECT_TRUE(
        ChromeScreenshots::files(QUrl::fromLocalFile(tmp.file("absent")), 600, now).isEmpty());
}

// The temporary folder is shared: a screenshot folder counts only when it is plainly the user's.
TEST_F(ChromeScreenshotsFolderTest, IgnoresFoldersOthersCouldHavePlanted) {
    const QString shot = tmp.write("claude-chrome-screenshots-1/screenshot-1.jpg", "jpeg");
    ASSERT_EQ(found().size(), 1);

    ::chmod(QFile::encodeName(folder).constData(), 0777);
    EXPECT_TRUE(found().isEmpty());
    EXPECT_FALSE(ChromeScreenshots::accepts(shot));
    ::chmod(QFile::encodeName(folder).constData(), 0720);
    EXPECT_TRUE(found().isEmpty());
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(found().size(), 1);

    if (::getuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 4242, 4242), 0);
        EXPECT_TRUE(found().isEmpty());
        EXPECT_FALSE(ChromeScreenshots::accepts(shot));
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 0, 0), 0);
    }

    // A link named like a screenshot folder is not followed, even to the user's own folder.
    const QString own = tmp.file("mine");
    tmp.write("mine/screenshot-9.jpg", "jpeg");
    ::chmod(QFile::encodeName(own).constData(), 0700);
    ASSERT_EQ(::symlink(QFile::encodeName(own).constData(),
                        QFile::encodeName(tmp.file("claude-chrome-screenshots-2")).constData()),
              0);
    EXPECT_EQ(found().size(), 1);
    EXPECT_FALSE(
        ChromeScreenshots::accepts(tmp.file("claude-chrome-screenshots-2/screenshot-9.jpg")));
}
