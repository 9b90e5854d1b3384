#include "OstrelCore/Engine/ScratchpadScanner.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

namespace {

void chmodPath(const QString& path, mode_t mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

class ScratchpadScannerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QString root = dir.file(QStringLiteral("claude-1000"));

    void SetUp() override {
        QDir().mkpath(root);
        chmodPath(root, 0700);
    }
    ScratchpadScanner scanner(QSet<QString> extra = {}) const {
        return ScratchpadScanner(QUrl::fromLocalFile(root), std::move(extra));
    }
    QString put(const QString& relative, const QByteArray& bytes = "x") {
        return dir.write(QStringLiteral("claude-1000/") + relative, bytes);
    }
    static void setTimes(const QString& path, time_t seconds) {
        const timespec times[2]{{seconds, 0}, {seconds, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
};

} // namespace

TEST_F(ScratchpadScannerTest, DefaultRoot) {
    const QString uid = QString::number(::getuid());
    EXPECT_EQ(ScratchpadScanner::defaultRoot({}), QUrl::fromLocalFile("/tmp/claude-" + uid));
    EXPECT_EQ(ScratchpadScanner::defaultRoot({{"OSTREL_SCRATCH_ROOT", "  "}}),
              QUrl::fromLocalFile("/tmp/claude-" + uid));
    EXPECT_EQ(ScratchpadScanner::defaultRoot({{"OSTREL_SCRATCH_ROOT", " /srv/scratch "}}),
              QUrl::fromLocalFile("/srv/scratch"));
}

TEST_F(ScratchpadScannerTest, ListsKnownRegularFilesNewestCreatedFirst) {
    const QString a = put("-proj-a/s-1/scratchpad/chart.png");
    const QString b = put("-proj-b/s-2/scratchpad/.hidden.html");
    const QString c = put("-proj-a/s-1/scratchpad/data.CSV");
    put("-proj-a/s-1/scratchpad/notes.txt"); // no kind, not an extra extension
    put("-proj-a/s-1/scratchpad/deeper/inner.png");
    put("-proj-a/s-1/other/outside.png");
    put("stray.png"); // a file where a project folder should be
    // Links are never followed into a capture, whatever they point at.
    ASSERT_EQ(
        ::symlink(
            "/etc/passwd",
            QFile::encodeName(dir.file("claude-1000/-proj-a/s-1/scratchpad/link.png")).constData()),
        0);
    ASSERT_EQ(
        ::mkfifo(
            QFile::encodeName(dir.file("claude-1000/-proj-a/s-1/scratchpad/pipe.png")).constData(),
            0600),
        0);

    const auto files = scanner({QStringLiteral("csv")}).files();
    ASSERT_EQ(files.size(), 3);
    QStringList paths;
    for (const auto& f : files) {
        paths.append(f.path);
    }
    EXPECT_TRUE(paths.contains(a) && paths.contains(b) && paths.contains(c));
    for (qsizetype i = 1; i < files.size(); ++i) {
        EXPECT_GE(files[i - 1].created, files[i].created);
    }
    const auto chart =
        std::find_if(files.begin(), files.end(), [&](const ScratchFile& f) { return f.path == a; });
    EXPECT_EQ(chart->slug, QStringLiteral("-proj-a"));
    EXPECT_EQ(chart->sessionID, QStringLiteral("s-1"));
    EXPECT_EQ(chart->size, 1);

    EXPECT_EQ(scanner().files().size(), 2); // "csv" only as an extra
}

TEST_F(ScratchpadScannerTest, OneScratchpadInListingOrder) {
    const QString pad = dir.file("claude-1000/-p/s/scratchpad");
    put("-p/s/scratchpad/one.png");
    setTimes(put("-p/s/scratchpad/two.pdf"), 1700000000);
    const auto files = scanner().files(QUrl::fromLocalFile(pad));
    ASSERT_EQ(files.size(), 2);
    const auto two = std::find_if(files.begin(), files.end(), [](const ScratchFile& f) {
        return f.path.endsWith(QLatin1String("/two.pdf"));
    });
    EXPECT_EQ(two->modified, Date::fromUnix(1700000000));
    EXPECT_TRUE(scanner().files(QUrl::fromLocalFile(dir.file("nothing"))).isEmpty());
}

// The root lies in the shared temporary folder: anything not plainly the user's own is ignored.
TEST_F(ScratchpadScannerTest, UntrustedRootsSeeNothing) {
    const QString file = put("-p/s/scratchpad/a.png");
    const QString pad = dir.file("claude-1000/-p/s/scratchpad");
    ASSERT_TRUE(scanner().rootIsTrusted());
    EXPECT_EQ(scanner().scratchpad(file), QUrl::fromLocalFile(pad));

    chmodPath(root, 0755);
    EXPECT_TRUE(scanner().rootIsTrusted());
    for (mode_t mode : {mode_t(0770), mode_t(0707), mode_t(0777), mode_t(01777)}) {
        chmodPath(root, mode);
        EXPECT_FALSE(scanner().rootIsTrusted()) << std::oct << mode;
        EXPECT_TRUE(scanner().files().isEmpty());
        EXPECT_FALSE(scanner().scratchpad(file));
    }
    chmodPath(root, 0700);

    if (::getuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(root).constData(), 4242, 4242), 0);
        EXPECT_FALSE(scanner().rootIsTrusted());
        EXPECT_TRUE(scanner().files().isEmpty());
        EXPECT_FALSE(scanner().scratchpad(file));
        ASSERT_EQ(::chown(QFile::encodeName(root).constData(), 0, 0), 0);
    }

    ScratchpadScanner missing(QUrl::fromLocalFile(dir.file("absent")), {});
    EXPECT_FALSE(missing.rootIsTrusted());
    ScratchpadScanner plainFile(QUrl::fromLocalFile(file), {});
    EXPECT_FALSE(plainFile.rootIsTrusted());
}

TEST_F(ScratchpadScannerTest, WhichScratchpadHoldsAPath) {
    const QString pad = dir.file("claude-1000/-p/s/scratchpad");
    put("-p/s/scratchpad/a.png");
    const auto s = scanner();
    const QString canonicalPad = QDir(pad).canonicalPath();
    const QString canonicalRoot = QDir(root).canonicalPath();
    EXPECT_EQ(s.scratchpad(canonicalPad), QUrl::fromLocalFile(canonicalPad));
    EXPECT_EQ(s.scratchpad(canonicalPad + "/a.png"), QUrl::fromLocalFile(canonicalPad));
    EXPECT_EQ(s.scratchpad(canonicalPad + "/deep/er/b.png"), QUrl::fromLocalFile(canonicalPad));
    EXPECT_FALSE(s.scratchpad(canonicalRoot + "/-p/s"));
    EXPECT_FALSE(s.scratchpad(canonicalRoot + "/-p/s/scratchpad-old/a.png"));
    EXPECT_FALSE(s.scratchpad("/elsewhere/-p/s/scratchpad/a.png"));

    // Configured through a link: the resolved spelling belongs, the linked one does not.
    const QString link = dir.file("link-root");
    ASSERT_EQ(::symlink(QFile::encodeName(root).constData(), QFile::encodeName(link).constData()),
              0);
    ScratchpadScanner linked(QUrl::fromLocalFile(link), {});
    EXPECT_TRUE(linked.rootIsTrusted());
    EXPECT_EQ(linked.scratchpad(canonicalPad + "/a.png"), QUrl::fromLocalFile(canonicalPad));
    EXPECT_FALSE(linked.scratchpad(link + "/-p/s/scratchpad/a.png"));
}
