#include "OstrelCore/Engine/ItemFilter.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

FilterInput input(std::optional<ShelfItemKind> kind, const QString& ext, qint64 bytes,
                  std::optional<qint64> w = std::nullopt, std::optional<qint64> h = std::nullopt) {
    FilterInput in;
    in.kind = kind;
    in.fileExtension = ext;
    in.byteCount = bytes;
    in.pixelWidth = w;
    in.pixelHeight = h;
    in.createdAt = Date(1000);
    return in;
}

Verdict reject(const char* reason) {
    return Verdict::reject(QString::fromUtf8(reason));
}

} // namespace

TEST(ItemFilter, DefaultsMatchThePart) {
    const ItemFilter filter;
    EXPECT_EQ(filter.minBytes, 512);
    EXPECT_EQ(filter.minPixels, 32);
    EXPECT_TRUE(filter.ignoreGlobs.isEmpty());
    EXPECT_FALSE(filter.oldest);
    EXPECT_EQ(filter.kinds, ShelfItemKindRules::shownByDefault());
    EXPECT_TRUE(filter.extraExtensions.isEmpty());
    EXPECT_TRUE(filter.outsideProjectOnly);
}

TEST(ItemFilter, VerdictEquality) {
    EXPECT_EQ(Verdict::accept(), Verdict::accept());
    EXPECT_EQ(reject("a"), reject("a"));
    EXPECT_NE(reject("a"), reject("b"));
    EXPECT_NE(reject("a"), Verdict::accept());
}

TEST(ItemFilter, NoKindIsRejectedFirst) {
    ItemFilter filter;
    filter.oldest = Date(5000);
    FilterInput in = input(std::nullopt, "xyz", 3);
    in.sourcePath = "/a/b.xyz";
    filter.ignoreGlobs = {"*"};
    EXPECT_EQ(filter.accepts(in), reject("not a file type the shelf shows"));
}

TEST(ItemFilter, KindTurnedOff) {
    ItemFilter filter;
    filter.kinds.erase(ShelfItemKind::pdf);
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::pdf, "pdf", 4000)),
              reject("pdf is turned off in Settings"));
    filter.kinds.clear();
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::file, "log", 600)), Verdict::accept());
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, 40, 40)),
              reject("image is turned off in Settings"));
}

TEST(ItemFilter, Retention) {
    ItemFilter filter;
    FilterInput in = input(ShelfItemKind::pdf, "pdf", 4000);
    in.createdAt = Date(-1e12);
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    filter.oldest = Date(100);
    in.createdAt = Date(99.5);
    EXPECT_EQ(filter.accepts(in), reject("older than retention"));
    in.createdAt = Date(100);
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
}

TEST(ItemFilter, IgnoreGlobsWithFnmatchWithoutFlags) {
    ItemFilter filter({"*.tmp"});
    FilterInput in = input(ShelfItemKind::pdf, "tmp", 4000);
    in.kind = ShelfItemKind::file;
    in.sourcePath = "/a/b/c.tmp";
    EXPECT_EQ(filter.accepts(in), reject("matches OSTREL_IGNORE_GLOBS *.tmp"));
    filter.ignoreGlobs = {"*.TMP"};
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    // "*" crosses "/" and matches a leading "." without flags; the first match names itself.
    filter.ignoreGlobs = {"/nothing/*", "/a*c.tmp", "*"};
    EXPECT_EQ(filter.accepts(in), reject("matches OSTREL_IGNORE_GLOBS /a*c.tmp"));
    in.sourcePath = "/a/.hidden/x.tmp";
    filter.ignoreGlobs = {"/a/*/x.tmp"};
    EXPECT_EQ(filter.accepts(in), reject("matches OSTREL_IGNORE_GLOBS /a/*/x.tmp"));
    // A backslash quotes the next character.
    in.sourcePath = "/a/star*.tmp";
    filter.ignoreGlobs = {"/a/star\\*.tmp"};
    EXPECT_EQ(filter.accepts(in), reject("matches OSTREL_IGNORE_GLOBS /a/star\\*.tmp"));
    in.sourcePath = "/a/starx.tmp";
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    // Without a source path no pattern is tried.
    in.sourcePath.reset();
    filter.ignoreGlobs = {"*"};
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
}

TEST(ItemFilter, InsideTheProjectFolder) {
    ItemFilter filter;
    FilterInput in = input(ShelfItemKind::pdf, "pdf", 4000);
    in.projectFolder = "/u/proj/";
    in.source = Source::scratchpad;
    in.sourcePath = "/u/proj";
    EXPECT_EQ(filter.accepts(in), reject("inside the session's project folder"));
    in.sourcePath = "/u/proj/img.png";
    EXPECT_EQ(filter.accepts(in), reject("inside the session's project folder"));
    in.sourcePath = "/u/project/img.png";
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    in.sourcePath = "/u/proj/img.png";
    in.source.reset(); // absent counts as not `folder`
    EXPECT_EQ(filter.accepts(in), reject("inside the session's project folder"));
    in.source = Source::folder;
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    in.source = Source::scratchpad;
    in.projectFolder = "/";
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
    in.projectFolder = "/u/proj";
    filter.outsideProjectOnly = false;
    EXPECT_EQ(filter.accepts(in), Verdict::accept());
}

TEST(ItemFilter, IsInside) {
    EXPECT_TRUE(ItemFilter::isInside("/u/proj", "/u/proj/"));
    EXPECT_TRUE(ItemFilter::isInside("/u/proj/a/b", "/u/proj"));
    EXPECT_FALSE(ItemFilter::isInside("/u/project/x", "/u/proj"));
    EXPECT_FALSE(ItemFilter::isInside("/anything", "/"));
    EXPECT_FALSE(ItemFilter::isInside("", ""));
    EXPECT_FALSE(ItemFilter::isInside("/u", "/u/proj"));
    EXPECT_TRUE(ItemFilter::isInside("/a/", "/a"));
}

TEST(ItemFilter, ArtifactsHaveNoSizeTests) {
    const ItemFilter filter;
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::artifact, "", 0)), Verdict::accept());
    ItemFilter off;
    off.kinds.erase(ShelfItemKind::artifact);
    EXPECT_EQ(off.accepts(input(ShelfItemKind::artifact, "", 0)),
              reject("artifact is turned off in Settings"));
}

TEST(ItemFilter, ByteFloor) {
    const ItemFilter filter;
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::pdf, "pdf", 511)), reject("under 512 bytes"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::pdf, "pdf", 512)), Verdict::accept());
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::file, "log", 0)), reject("under 512 bytes"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 0)), reject("under 512 bytes"));
}

TEST(ItemFilter, PixelTests) {
    const ItemFilter filter;
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, 32, 32)), Verdict::accept());
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, 31, 500)),
              reject("smaller than 32 px"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, 500, 31)),
              reject("smaller than 32 px"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, std::nullopt, 40)),
              reject("unreadable image"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "png", 600, 40, std::nullopt)),
              reject("unreadable image"));
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::image, "SVG", 600)), Verdict::accept());
    EXPECT_EQ(filter.accepts(input(ShelfItemKind::video, "mp4", 600)), Verdict::accept());
}

TEST(ItemFilter, GlobsFromTheEnvironment) {
    EXPECT_EQ(ItemFilter::globs({{"OSTREL_IGNORE_GLOBS", "*.log, , node_modules/*"}}),
              QStringList({"*.log", "node_modules/*"}));
    EXPECT_EQ(ItemFilter::globs({{"OSTREL_IGNORE_GLOBS", " \t*.a,,*.b ,\t*.a"}}),
              QStringList({"*.a", "*.b", "*.a"}));
    EXPECT_TRUE(ItemFilter::globs({}).isEmpty());
    EXPECT_TRUE(ItemFilter::globs({{"OSTREL_IGNORE_GLOBS", "  "}}).isEmpty());
    EXPECT_TRUE(ItemFilter::globs({{"OSTREL_IGNORE_GLOBS", " , ,"}}).isEmpty());
}
