#include "Ostrel/Views/DragOutSource.h"

#include "support/RunOnADrive.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ostrel;

namespace {

using Event = DragOutSource::PointerEvent;

ShelfItem itemWith(const QString& id) {
    ShelfItem item;
    item.id = id;
    item.kind = ShelfItemKind::image;
    item.title = id;
    return item;
}

ino_t inode(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

// A drag source over a hand-made current event whose sessions are recorded instead of run.
struct Rig {
    test::TempDir dir;
    QWidget window;
    std::optional<Event> event = Event{Event::Type::leftDragged, &window, QPointF(200, 40)};
    QList<DragOutSource::Session> sessions;
    int ends = 0;
    std::optional<QString> liftedDuringRun;
    DragOutSource source{[this] { return event; },
                         [this](const DragOutSource::Session& s) {
                             sessions.append(s);
                             liftedDuringRun = DragLift::shared().liftedID();
                         }};

    Rig() {
        source.onEnd = [this] { ++ends; };
        DragLift::shared().setSupportDir(QUrl::fromLocalFile(dir.file("support")));
    }
    ~Rig() {
        DragLift::shared().takePending();
        DragLift::shared().setSupportDir(std::nullopt);
        DragLift::shared().setLiftedID(std::nullopt);
    }
    ShelfItem fileItem(const QString& id) {
        ShelfItem item = itemWith(id);
        item.fileURL = QUrl::fromLocalFile(dir.write(id + ".png", "png bytes"));
        return item;
    }
};

QImage picture(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    return image;
}

} // namespace

TEST(DragOut, ADragCarriesTheFileForCopyingAndEndsAfterTheSessionReturns) {
    Rig r;
    const ShelfItem item = r.fileItem("a");
    ASSERT_TRUE(r.source.begin(item, picture({512, 256})));
    EXPECT_TRUE(r.source.isActive());
    EXPECT_EQ(DragLift::shared().liftedID(), QStringLiteral("a"));
    // The drag runs after the mouse handler that asked for it has returned.
    EXPECT_TRUE(r.sessions.isEmpty());
    // A second drag while one runs is refused.
    EXPECT_FALSE(r.source.begin(r.fileItem("b"), QImage()));

    QCoreApplication::processEvents();
    ASSERT_EQ(r.sessions.size(), 1);
    const DragOutSource::Session& s = r.sessions.first();
    EXPECT_EQ(s.url, *item.fileURL);
    EXPECT_EQ(s.actions, Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(s.source, &r.window);
    EXPECT_EQ(r.liftedDuringRun, QStringLiteral("a"));
    // The picture at most 120 on its longer side, held in its middle.
    EXPECT_EQ(s.image.size(), QSize(120, 60));
    EXPECT_EQ(s.hotSpot, QPointF(60, 30));
    // Ended once: idle again, nothing lifted.
    EXPECT_EQ(r.ends, 1);
    EXPECT_FALSE(r.source.isActive());
    EXPECT_FALSE(DragLift::shared().liftedID());

    std::unique_ptr<QMimeData> mime(DragOutSource::mimeData(s.url));
    ASSERT_TRUE(mime->hasUrls());
    EXPECT_EQ(mime->urls(), QList<QUrl>{*item.fileURL});
    EXPECT_TRUE(mime->urls().first().isLocalFile());
}

TEST(DragOut, NoDragStartsWithoutAPressOrSomethingToCarry) {
    Rig r;
    const ShelfItem item = r.fileItem("a");
    DragLift::shared().setPending("a", {}, {}, [](double, bool) { return picture({10, 10}); });
    r.event.reset();
    EXPECT_FALSE(r.source.begin(item, QImage()));
    EXPECT_FALSE(DragLift::shared().pending()); // consumed all the same
    r.event = Event{Event::Type::other, &r.window, {}};
    EXPECT_FALSE(r.source.begin(item, QImage()));
    r.event = Event{Event::Type::leftDown, nullptr, {}};
    EXPECT_FALSE(r.source.begin(item, QImage()));
    r.event = Event{Event::Type::leftDown, &r.window, {}};
    EXPECT_FALSE(r.source.begin(itemWith("nothing"), QImage()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(r.sessions.isEmpty());
    EXPECT_EQ(r.ends, 0);
    EXPECT_FALSE(DragLift::shared().liftedID());
    EXPECT_TRUE(r.source.begin(item, QImage()));
}

TEST(DragOut, ALiftedCardIsHeldWhereItWasGrabbed) {
    Rig r;
    DragLift::shared().setPending("a", QPointF(20, 30), QPointF(5, -3), [](double, bool) {
        return picture({144, 116});
    });
    ASSERT_TRUE(r.source.begin(r.fileItem("a"), picture({50, 50})));
    QCoreApplication::processEvents();
    ASSERT_EQ(r.sessions.size(), 1);
    EXPECT_EQ(r.sessions[0].image.size(), QSize(144, 116));
    // The grab point plus the pointer's move since, inside the 16-point margin.
    EXPECT_EQ(r.sessions[0].hotSpot, QPointF(41, 43));

    // A lift armed for another card, or one that draws nothing, falls back to the icon.
    DragLift::shared().setPending("other", QPointF(20, 30), {}, [](double, bool) {
        return picture({9, 9});
    });
    ASSERT_TRUE(r.source.begin(r.fileItem("b"), picture({100, 50})));
    DragLift::shared().setPending("c", QPointF(20, 30), {}, [](double, bool) { return QImage(); });
    QCoreApplication::processEvents();
    ASSERT_TRUE(r.source.begin(r.fileItem("c"), QImage()));
    QCoreApplication::processEvents();
    ASSERT_EQ(r.sessions.size(), 3);
    EXPECT_EQ(r.sessions[1].image.size(), QSize(100, 50));
    EXPECT_EQ(r.sessions[1].hotSpot, QPointF(50, 25));
    // No picture: the file's icon, at most 120 points.
    EXPECT_FALSE(r.sessions[2].image.isNull());
    EXPECT_LE(r.sessions[2].image.deviceIndependentSize().width(), 120);
}

TEST(DragOut, IconsAreFittedNeverEnlarged) {
    EXPECT_EQ(DragOutSource::fittedIconSize({512, 256}), QSizeF(120, 60));
    EXPECT_EQ(DragOutSource::fittedIconSize({256, 512}), QSizeF(60, 120));
    EXPECT_EQ(DragOutSource::fittedIconSize({100, 50}), QSizeF(100, 50));
    EXPECT_EQ(DragOutSource::fittedIconSize({0, 0}), QSizeF(64, 64));
    EXPECT_EQ(DragOutSource::fittedIconSize({100, 0}), QSizeF(64, 64));
}

TEST(DragOut, TheFileFallsBackToTheSourceThenToALinkFile) {
    test::TempDir dir;
    const QUrl support = QUrl::fromLocalFile(dir.file("support"));
    ShelfItem item = itemWith("sess:item:1");
    item.fileURL = QUrl::fromLocalFile(dir.file("copy.png")); // gone
    EXPECT_FALSE(DragOutSource::dragURL(item, support));

    const QString source = dir.write("found.png", "x");
    item.sourcePath = source;
    EXPECT_EQ(DragOutSource::dragURL(item, support), QUrl::fromLocalFile(source));

    QDir().mkpath(dir.file("folder.png"));
    item.sourcePath = dir.file("folder.png");
    EXPECT_FALSE(DragOutSource::dragURL(item, support));

    item.remoteURL = QUrl(QStringLiteral("https://claude.ai/public/artifacts/abc?x=1&y=2"));
    EXPECT_FALSE(DragOutSource::dragURL(item, std::nullopt)); // no support folder known yet
    const auto link = DragOutSource::dragURL(item, support);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->toLocalFile(), dir.file("support/items/sess-item-1.webloc"));
    const QByteArray bytes = dir.read("support/items/sess-item-1.webloc");
    EXPECT_EQ(bytes.count("<key>"), 1);
    EXPECT_TRUE(bytes.contains("<key>URL</key>"));
    EXPECT_TRUE(
        bytes.contains("<string>https://claude.ai/public/artifacts/abc?x=1&amp;y=2</string>"));
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
    EXPECT_TRUE(bytes.contains("<plist version=\"1.0\">"));
    EXPECT_EQ(QFileInfo(dir.file("support/items")).permissions() & QFile::ReadOther,
              QFile::Permissions());

    // The same address again: the file is found, not written anew.
    const ino_t first = inode(link->toLocalFile());
    ASSERT_EQ(DragOutSource::dragURL(item, support), link);
    EXPECT_EQ(inode(link->toLocalFile()), first);
    // A changed address rewrites it.
    item.remoteURL = QUrl(QStringLiteral("https://claude.ai/public/artifacts/def"));
    ASSERT_EQ(DragOutSource::dragURL(item, support), link);
    EXPECT_TRUE(dir.read("support/items/sess-item-1.webloc")
                    .contains("<string>https://claude.ai/public/artifacts/def</string>"));

    // A readable file always wins.
    const QString copy = dir.write("copy.png", "y");
    EXPECT_EQ(DragOutSource::dragURL(item, support), QUrl::fromLocalFile(copy));
}

TEST(DragOut, ALinkFileStaysInsideItsFolder) {
    test::TempDir dir;
    EXPECT_EQ(DragOutSource::weblocName(QStringLiteral("a:b::c")), QStringLiteral("a-b--c.webloc"));
    EXPECT_EQ(DragOutSource::weblocName(QStringLiteral("../../x")),
              QStringLiteral("..-..-x.webloc"));
    const auto link = DragOutSource::writeWebloc(QUrl(QStringLiteral("https://example.com/")),
                                                 QStringLiteral("../evil"), dir.file("items"));
    ASSERT_TRUE(link);
    EXPECT_EQ(QFileInfo(link->toLocalFile()).absolutePath(), dir.file("items"));
    EXPECT_FALSE(QFile::exists(dir.file("evil.webloc")));

    // A folder that cannot be made gives no file.
    dir.write("blocker", "x");
    EXPECT_FALSE(DragOutSource::writeWebloc(QUrl(QStringLiteral("https://example.com/")),
                                            QStringLiteral("a"), dir.file("blocker/items")));
}

// A link file's name is at most 255 bytes, as a file system takes it: an artifact id one byte
// longer than that allows gets a hashed name, and its link file is written.
TEST(DragOut, ALinkFileOfAnIdTooLongForItsNameIsWrittenUnderAHashedName) {
    test::TempDir dir;
    const QString fits(255 - 7, u'x');
    EXPECT_EQ(DragOutSource::weblocName(fits), fits + ".webloc");
    const auto link = DragOutSource::writeWebloc(QUrl(QStringLiteral("https://example.com/")),
                                                 fits + u'x', dir.file("items"));
    ASSERT_TRUE(link);
    EXPECT_TRUE(QFileInfo(link->toLocalFile()).fileName().startsWith("link-"));
}

// A file system mounted over the run's support folder is neither written into nor handed out a
// file of, even one holding the very link: no link file, so no drag, until the run's folder is
// back. Nor is a link put in place of the items folder written through.
TEST(DragOut, NoLinkFileIsWrittenIntoAFolderPutInPlaceOfTheRunsOwn) {
    const test::RunOnADrive run;
    if (!run.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QUrl remote(QStringLiteral("https://claude.ai/public/artifacts/abc"));
    const QString items = run.support() + "/items";

    ASSERT_TRUE(run.mount());
    ASSERT_TRUE(run.write("items/b.webloc", DragOutSource::weblocContents(remote)));
    EXPECT_FALSE(DragOutSource::writeWebloc(remote, "a", items));
    EXPECT_FALSE(DragOutSource::writeWebloc(remote, "b", items));
    EXPECT_EQ(QDir(items).entryList(QDir::Files), QStringList{"b.webloc"});

    ASSERT_TRUE(run.unmount());
    const auto link = DragOutSource::writeWebloc(remote, "a", items);
    ASSERT_TRUE(link);
    EXPECT_EQ(run.read("items/a.webloc"), DragOutSource::weblocContents(remote));

    ASSERT_TRUE(QDir().rename(items, items + ".aside"));
    ASSERT_TRUE(QFile::link(items + ".aside", items));
    EXPECT_FALSE(DragOutSource::writeWebloc(remote, "c", items));
    EXPECT_EQ(QDir(items + ".aside").entryList(QDir::Files), QStringList{"a.webloc"});
}
