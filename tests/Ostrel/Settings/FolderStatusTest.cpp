#include "Ostrel/Settings/FolderStatus.h"
#include "Ostrel/Settings/RelativeDate.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>

using namespace ostrel;
using ostrel::test::TempDir;

namespace {

void setModified(const QString& path, Date date) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(date.toUnix());
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

const Date now = Date::fromUnix(1'800'000'000);

} // namespace

TEST(RelativeDate, UsesTheLargestWholeUnit) {
    EXPECT_EQ(RelativeDate::shortText(now, now), "now");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-30), now), "30 sec. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-299), now), "4 min. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-3600 * 5), now), "5 hr. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-86400), now), "1 day ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-86400 * 3), now), "3 days ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-86400 * 15), now), "2 wk. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-86400 * 70), now), "2 mo. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(-86400 * 800), now), "2 yr. ago");
    EXPECT_EQ(RelativeDate::shortText(now.adding(120), now), "in 2 min.")
        << "a clock set back shows the future, not a negative age";
}

TEST(FolderStatus, TellsFoldersFromEverythingElse) {
    TempDir dir;
    EXPECT_EQ(FolderStatus::describe(dir.path(), now).text, "Watching");
    EXPECT_TRUE(FolderStatus::describe(dir.path(), now).found);

    const QString file = dir.write(QStringLiteral("plain.txt"), "x");
    EXPECT_FALSE(FolderStatus::describe(file, now).found);
    EXPECT_EQ(FolderStatus::describe(file, now).text, "Not found");
    EXPECT_EQ(FolderStatus::describe(dir.file(QStringLiteral("missing")), now).text, "Not found");

    // A link to a folder is the folder.
    QDir().mkpath(dir.file(QStringLiteral("real")));
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("real")), dir.file(QStringLiteral("link"))));
    EXPECT_TRUE(FolderStatus::describe(dir.file(QStringLiteral("link")), now).found);
}

TEST(FolderStatus, ReportsTheLatestVisibleActivity) {
    TempDir dir;
    const QString hidden = dir.write(QStringLiteral(".hidden"), "x");
    setModified(hidden, now.adding(-10));
    EXPECT_EQ(FolderStatus::describe(dir.path(), now).text, "Watching")
        << "hidden entries do not count";

    setModified(dir.write(QStringLiteral("old.png"), "x"), now.adding(-86400 * 3));
    QDir().mkpath(dir.file(QStringLiteral("session")));
    setModified(dir.file(QStringLiteral("session")), now.adding(-300));
    EXPECT_EQ(FolderStatus::describe(dir.path(), now).text, "Watching · last activity 5 min. ago")
        << "folders count with their own date";
}

TEST(FolderStatus, LooksOnlyAtTheFirstThousandListedEntries) {
    TempDir dir;
    for (int i = 0; i < FolderStatus::entryLimit + 1; ++i) {
        setModified(dir.write(QStringLiteral("f%1").arg(i), QByteArray()), now.adding(-7200));
    }
    // Make the entry the listing returns last the newest.
    QString last;
    DIR* d = ::opendir(QFile::encodeName(dir.path()).constData());
    ASSERT_NE(d, nullptr);
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') {
            last = QFile::decodeName(e->d_name);
        }
    }
    ::closedir(d);
    setModified(dir.file(last), now.adding(-5));
    EXPECT_EQ(FolderStatus::describe(dir.path(), now).text, "Watching · last activity 2 hr. ago");
}
