#include "support/HostilePictures.h"
#include "support/ShelfModelTestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(ShelfModelSelection, ClicksSelectPreviewAndOpen) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    int previews = 0;
    rig.model->onPreviewOpened = [&] { ++previews; };
    rig.model->pressBegan();
    rig.model->click(shelfItem("a"), 2);
    EXPECT_EQ(rig.model->selectedItemID(), "a");
    EXPECT_EQ(previews, 1);
    ASSERT_EQ(rig.desktop->opened.size(), 1);
    EXPECT_EQ(rig.desktop->opened[0], *shelfItem("a").fileURL);
    ASSERT_EQ(rig.sent("markSeen").size(), 1u);

    // A single click moves an open preview along; with the preview closed it only selects.
    rig.model->click(shelfItem("b"), 1);
    EXPECT_TRUE(rig.preview->shown.isEmpty());
    rig.model->showQuickLook(shelfItem("a"));
    rig.model->click(shelfItem("b"), 1);
    ASSERT_EQ(rig.preview->shown.size(), 2);
    EXPECT_EQ(rig.preview->shown.back().title, "b");

    // A drag since the press: no click.
    rig.model->pressDragged();
    rig.model->click(shelfItem("a"), 1);
    EXPECT_EQ(rig.model->selectedItemID(), "b");
}

TEST(ShelfModelSelection, EscapeStepsBackOneLayerAtATime) {
    ModelRig rig;
    ShelfItem a = shelfItem("a"), b = shelfItem("b");
    rig.startWith(snapshotOf({a, b}));
    rig.model->setOpenScreen(1);
    const Turn turn = rig.model->groups().front().turns.front();
    rig.model->clickDeck(turn, a, 1); // opens the deck, uses the click up
    EXPECT_TRUE(rig.model->fan().clickedOpen.has_value());
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
    rig.model->clickDeck(turn, a, 1);
    EXPECT_EQ(rig.model->selectedItemID(), "a");
    rig.model->handleKey(ShelfKey::space);
    EXPECT_TRUE(rig.preview->visible);

    rig.model->handleKey(ShelfKey::escape);
    EXPECT_FALSE(rig.preview->visible);
    rig.model->handleKey(ShelfKey::escape);
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
    rig.model->handleKey(ShelfKey::escape);
    EXPECT_FALSE(rig.model->fan().clickedOpen.has_value());
    QSignalSpy anything(rig.model.get(), &ShelfModel::fanChanged);
    rig.model->handleKey(ShelfKey::escape);
    rig.model->handleKey(ShelfKey::space); // nothing selected, nothing shows
    EXPECT_EQ(anything.count(), 0);
    EXPECT_EQ(rig.preview->shown.size(), 1);
    EXPECT_GE(rig.tips->refreshes, 5);
}

// Space reaching the shelf after it closed (pressed while the drawer goes) shows nothing: no
// preview may stand over a closed shelf, where no key would close it.
TEST(ShelfModelSelection, SpaceAfterTheShelfClosedShowsNoPreview) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    rig.model->setOpenScreen(1);
    rig.model->handleKey(ShelfKey::right);
    ASSERT_EQ(rig.model->selectedItemID(), "a");
    rig.model->setOpenScreen(std::nullopt);
    rig.model->handleKey(ShelfKey::space);
    EXPECT_TRUE(rig.preview->shown.isEmpty());
}

TEST(ShelfModelSelection, ArrowsWalkTheItemsAndCollapsingDropsAHiddenSelection) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b"), shelfItem("c")}));
    rig.model->setOpenScreen(1);
    rig.model->handleKey(ShelfKey::right);
    const auto first = rig.model->selectedItemID();
    ASSERT_TRUE(first.has_value());
    rig.model->handleKey(ShelfKey::left); // already at the start
    EXPECT_EQ(rig.model->selectedItemID(), first);
    rig.model->handleKey(ShelfKey::right);
    EXPECT_NE(rig.model->selectedItemID(), first);

    const QString turnID = rig.model->groups().front().turns.front().id;
    rig.model->toggleCollapsed(turnID);
    EXPECT_TRUE(rig.model->collapsed().contains(turnID));
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
}

TEST(ShelfModelSelection, ItemActionsUseTheDesktopSafely) {
    ModelRig rig;
    const QString png = rig.dir.file("pic.png");
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(png));
    ShelfItem picture = shelfItem("pic");
    picture.fileURL = QUrl::fromLocalFile(png);
    ShelfItem pdf = shelfItem("doc", "s1", false, ShelfItemKind::pdf);
    pdf.fileURL = QUrl::fromLocalFile(png);
    ShelfItem page = shelfItem("page");
    page.fileURL.reset();
    page.remoteURL = QUrl(QStringLiteral("https://claude.ai/a?x=1"));
    ShelfItem local = shelfItem("evil");
    local.fileURL.reset();
    local.remoteURL = QUrl(QStringLiteral("file:///usr/bin/xterm"));
    rig.startWith(snapshotOf({picture, pdf, page, local}));

    rig.model->copyImage(pdf);
    EXPECT_TRUE(rig.desktop->copiedImage.isNull());
    rig.model->copyImage(picture);
    EXPECT_EQ(rig.desktop->copiedImage.size(), QSize(8, 8));
    rig.model->copyLink(picture);
    EXPECT_EQ(rig.desktop->copiedText, png);
    rig.model->copyLink(page);
    EXPECT_EQ(rig.desktop->copiedText, "https://claude.ai/a?x=1");

    rig.model->openInDefaultApp(page);
    rig.model->openInDefaultApp(local); // a remote link that is no web address is not opened
    EXPECT_EQ(rig.desktop->opened, QList<QUrl>{page.remoteURL.value()});
    rig.model->revealInFinder(picture);
    rig.model->revealInFinder(page);
    EXPECT_EQ(rig.desktop->revealed, QStringList{png});

    // A preview falls back to the source file only when that is a readable regular file.
    ShelfItem gone = shelfItem("gone");
    gone.fileURL.reset();
    gone.sourcePath = rig.dir.file("missing.png");
    rig.model->showQuickLook(gone);
    EXPECT_TRUE(rig.preview->shown.isEmpty());
    gone.sourcePath = png;
    rig.model->selectAndPreview(gone);
    ASSERT_EQ(rig.preview->shown.size(), 1);
    EXPECT_EQ(rig.preview->shown[0].url, QUrl::fromLocalFile(png));
    EXPECT_EQ(rig.model->selectedItemID(), "gone");
}

// Copy Image of a drawing stored under a picture's name puts the drawing on the clipboard, without
// the private picture it names.
TEST(ShelfModelSelection, CopyImageOfADrawingNamedAsAPictureCopiesNoFileItNames) {
    ModelRig rig;
    const QString secret =
        HostilePictures::writePrivatePicture(rig.dir.file("private.png"), Qt::red);
    ShelfItem drawing = shelfItem("drawing");
    drawing.fileURL =
        QUrl::fromLocalFile(rig.dir.write("diagram.png", HostilePictures::drawingNaming(secret)));
    rig.startWith(snapshotOf({drawing}));
    rig.model->copyImage(drawing);
    ASSERT_EQ(rig.desktop->copiedImage.size(), QSize(40, 40));
    EXPECT_EQ(HostilePictures::pixelsNear(rig.desktop->copiedImage, Qt::red), 0);
    EXPECT_GT(HostilePictures::pixelsNear(rig.desktop->copiedImage, QColor(0, 192, 0)), 1000);
}
