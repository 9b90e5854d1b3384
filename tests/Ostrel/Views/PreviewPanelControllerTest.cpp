#include "Ostrel/Views/PreviewPanelController.h"
#include "Ostrel/Views/PreviewPlacement.h"

#include "Platform/PreviewPanel.h"
#include "support/HostilePictures.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace ostrel;
using test::pump;
using test::waitUntil;

namespace {

struct Preview {
    int made = 0;
    int changes = 0;
    QList<ShelfKey> keys;
    test::TempDir dir;
    PreviewPanelController controller{[this] {
        ++made;
        return new PreviewPanel();
    }};
    QUrl file = QUrl::fromLocalFile(dir.write("notes.txt", "hello\n"));

    Preview() {
        controller.onChange = [this] { ++changes; };
        controller.onKey = [this](ShelfKey key) { keys.append(key); };
    }
    QScreen* screen() const { return QGuiApplication::primaryScreen(); }
    // Shows the text file and waits until the panel has grown in.
    PreviewPanel* shown() {
        controller.show(file, QStringLiteral("Notes"), screen(), {}, QImage());
        PreviewPanel* panel = controller.panel();
        return waitUntil([&] { return panel->isVisible(); }, 10) ? panel : nullptr;
    }
};

} // namespace

TEST(PreviewPanelController, AskingAboutAPreviewNeverMakesThePanel) {
    Preview p;
    EXPECT_FALSE(p.controller.isVisible());
    EXPECT_FALSE(p.controller.frame());
    p.controller.close();
    EXPECT_EQ(p.made, 0);
    EXPECT_EQ(p.controller.panel(), nullptr);
    EXPECT_EQ(p.changes, 0);
    EXPECT_EQ(p.controller.sourceFrameOnScreen(), QRectF());
}

TEST(PreviewPanelController, AFirstShowPlacesTheWholeWindowClearOfTheDrawer) {
    Preview p;
    const QRect visible = p.screen()->availableGeometry();
    const QRect drawer(visible.x() + 40, visible.y(), 720, 320);
    const QMargins title(1, 20, 1, 5);
    p.controller.drawerFrame = [&] { return drawer; };
    p.controller.frameExtents = [&](WId) { return title; };
    p.controller.show(p.file, QStringLiteral("Notes"), p.screen(), {}, QImage());
    ASSERT_TRUE(p.controller.isVisible());
    EXPECT_EQ(p.made, 1);
    EXPECT_EQ(p.changes, 1);
    // The window manager's frame, title bar included, is what keeps clear of the drawer.
    const QRect outer =
        PreviewPlacement{PreviewPanel::defaultSize.grownBy(title), visible, drawer, std::nullopt}
            .frame();
    EXPECT_EQ(p.controller.panel()->geometry(), outer.marginsRemoved(title));
    EXPECT_EQ(p.controller.panel()->windowTitle(), QStringLiteral("Notes"));
    ASSERT_TRUE(p.controller.item());
    EXPECT_EQ(p.controller.item()->url, p.file);

    // The user moves and resizes the panel; the next item shows where the panel now is.
    const QRect moved(5, 7, 300, 200);
    p.controller.panel()->setGeometry(moved);
    const QUrl other = QUrl::fromLocalFile(p.dir.write("b.txt", "b\n"));
    p.controller.show(other, QStringLiteral("B"), p.screen(), {}, QImage());
    EXPECT_EQ(p.controller.panel()->geometry(), moved);
    EXPECT_EQ(p.controller.item()->url, other);
    EXPECT_EQ(p.made, 1);
    EXPECT_EQ(p.changes, 2);

    // Once closed, the next show is a first show again, at the size the user gave it.
    p.controller.close();
    EXPECT_FALSE(p.controller.isVisible());
    EXPECT_FALSE(p.controller.frame());
    EXPECT_EQ(p.changes, 3);
    ASSERT_TRUE(p.controller.item()); // the item stays
    p.controller.show(other, QStringLiteral("B"), p.screen(), {}, QImage());
    EXPECT_EQ(p.controller.panel()->geometry().size(), QSize(300, 200));
}

// Where no window manager draws a title bar (none runs, or it draws a bare border), the panel names
// the item itself.
TEST(PreviewPanelController, WithoutATitleBarThePanelNamesTheItem) {
    for (const QMargins frame : {QMargins(), QMargins(2, 2, 2, 2), QMargins(1, 20, 1, 5)}) {
        Preview p;
        p.controller.frameExtents = [&](WId) { return frame; };
        PreviewPanel* panel = p.shown();
        ASSERT_TRUE(panel);
        EXPECT_EQ(panel->titleShown(), frame.top() < 20) << frame.top();
        const QImage shot = panel->grab().toImage();
        EXPECT_EQ(shot.pixelColor(8, 8) != QColor(38, 38, 40), frame.top() < 20) << frame.top();
    }
}

// The panel the controller makes shows a web page as the web-page symbol, not a blank page.
TEST(PreviewPanelController, AWebPageShowsTheWebPageSymbol) {
    test::TempDir dir;
    PreviewPanelController controller;
    controller.show(QUrl::fromLocalFile(dir.write("report.html", "<html><body>x</body></html>")),
                    QStringLiteral("report.html"), QGuiApplication::primaryScreen(), {}, QImage());
    PreviewPanel* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->content(), PreviewPanel::Content::page);
    bool shown = false;
    for (const QLabel* label : panel->findChildren<QLabel*>()) {
        const QImage picture = label->pixmap().toImage();
        if (!picture.isNull()) {
            shown = true;
            // The symbol's strokes, lighter than the window.
            EXPECT_GT(test::HostilePictures::pixelsNear(picture, QColor(200, 200, 204), 30), 500);
        }
    }
    EXPECT_TRUE(shown);
}

TEST(PreviewPanelController, ClosingThePanelItselfTellsTheShelf) {
    Preview p;
    ASSERT_TRUE(p.shown());
    EXPECT_EQ(p.changes, 2);       // asked, and there
    p.controller.panel()->close(); // the window's own close button
    EXPECT_EQ(p.changes, 3);
    EXPECT_FALSE(p.controller.isVisible());
}

TEST(PreviewPanelController, ShelfKeysInThePanelSteerTheShelf) {
    Preview p;
    PreviewPanel* panel = p.shown();
    ASSERT_TRUE(panel);
    QTest::keyClick(panel, Qt::Key_Space);
    QTest::keyClick(panel, Qt::Key_Right);
    QTest::keyClick(panel, Qt::Key_Down);
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_EQ(p.keys, (QList<ShelfKey>{ShelfKey::space, ShelfKey::right, ShelfKey::down,
                                       ShelfKey::escape}));
    // Escape went to the shelf, which decides whether the panel closes.
    EXPECT_TRUE(panel->isVisible());
    // With a modifier the key is the panel's own.
    QTest::keyClick(panel, Qt::Key_Space, Qt::ControlModifier);
    QTest::keyClick(panel, Qt::Key_A);
    EXPECT_EQ(p.keys.size(), 4);
}

TEST(PreviewPanelController, TheZoomSourceIsReadWhenAsked) {
    Preview p;
    std::optional<QRectF> card = QRectF(10, 20, 112, 84);
    QImage thumb(4, 4, QImage::Format_RGB32);
    thumb.fill(Qt::green);
    p.controller.show(
        p.file, QString(), p.screen(), [&] { return card; }, thumb);
    EXPECT_EQ(p.controller.sourceFrameOnScreen(), QRectF(10, 20, 112, 84));
    card.reset(); // the card scrolled away
    EXPECT_EQ(p.controller.sourceFrameOnScreen(), QRectF());
    EXPECT_EQ(p.controller.transitionImage().pixelColor(0, 0), QColor(Qt::green));
}

// One picture at a time: the card's picture moves to where the panel shows it, the panel appears
// under it when it lands, and closing sends it back into the card. A preview closed before its
// picture lands never shows its panel.
TEST(PreviewPanelController, OnePictureMovesFromTheCardToItsPlaceInThePanelAndBack) {
    Preview p;
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::green);
    const QString path = p.dir.file("plot.png");
    ASSERT_TRUE(picture.save(path));
    const QUrl file = QUrl::fromLocalFile(path);
    const QImage thumb = picture.scaled(160, 120);
    const QRectF card(10, 20, 112, 84);
    const auto source = [&] { return std::optional(card); };

    p.controller.show(file, QString(), p.screen(), source, thumb);
    QPointer<QWidget> zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), QRect(10, 20, 112, 84));
    PreviewPanel* panel = p.controller.panel();
    EXPECT_TRUE(p.controller.isVisible());
    EXPECT_FALSE(panel->isVisible());
    // What stands above the shelf is the moving picture, then the panel.
    EXPECT_EQ(p.controller.window(), zoom->winId());
    EXPECT_EQ(p.controller.frame(),
              QRectF(panel->geometry().marginsAdded(panel->windowHandle()->frameMargins())));
    const QRect inner = panel->geometry();
    const QRect place(inner.x() + (inner.width() - 400) / 2, inner.y() + (inner.height() - 300) / 2,
                      400, 300);
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10));
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), place);
    EXPECT_TRUE(waitUntil([&] { return !zoom; }, 10));
    EXPECT_EQ(p.changes, 2); // asked, and there
    EXPECT_EQ(p.controller.window(), panel->winId());

    // A second show while the panel is up does not zoom again.
    p.controller.show(file, QString(), p.screen(), source, thumb);
    EXPECT_FALSE(p.controller.zoomWindow());

    p.controller.close();
    zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), place);
    EXPECT_EQ(p.controller.window(), zoom->winId());
    EXPECT_TRUE(waitUntil([&] { return !zoom; }, 10));
    EXPECT_EQ(p.changes, 5); // shown again, closed, and the picture back in the card
    EXPECT_FALSE(p.controller.window());

    p.controller.show(file, QString(), p.screen(), source, thumb);
    ASSERT_TRUE(p.controller.zoomWindow());
    p.controller.close();
    EXPECT_FALSE(p.controller.isVisible());
    pump(0.6);
    EXPECT_FALSE(panel->isVisible());

    // Without a stored picture the one the panel shows moves from the card all the same.
    ASSERT_TRUE(waitUntil([&] { return !p.controller.zoomWindow(); }, 10));
    p.controller.show(file, QString(), p.screen(), source, QImage());
    zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), QRect(10, 20, 112, 84));
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10));
    EXPECT_EQ(zoom->geometry(), place);
    p.controller.close();

    // Without a card on screen the panel grows out of the zero rectangle at its middle, and goes
    // back into it.
    ASSERT_TRUE(waitUntil([&] { return !p.controller.zoomWindow(); }, 10));
    p.controller.show(file, QString(), p.screen(), {}, thumb);
    zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), QRect(panel->geometry().center(), QSize(1, 1)));
    ASSERT_TRUE(waitUntil([&] { return panel->isVisible(); }, 10));
    EXPECT_EQ(zoom->geometry(), panel->geometry());
    p.controller.close();
    zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), panel->geometry());
    EXPECT_TRUE(waitUntil([&] { return !zoom; }, 10));
}

// A file with no picture at all: the panel itself leaves the card fitted into it, as the panel's
// shape, not stretched to the card's.
TEST(PreviewPanelController, APanelWithoutAPictureLeavesTheCardInItsOwnShape) {
    Preview p;
    const QRect card(10, 20, 240, 60); // flatter than any panel
    p.controller.show(
        p.file, QString(), p.screen(), [&] { return std::optional(QRectF(card)); }, QImage());
    const QPointer<QWidget> zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    const QRect first = zoom->geometry();
    const QSize panel = p.controller.panel()->size();
    EXPECT_TRUE(card.contains(first));
    EXPECT_EQ(first.height(), card.height());
    EXPECT_NEAR(first.width(), double(card.height()) * panel.width() / panel.height(), 1);
    EXPECT_LE((first.center() - card.center()).manhattanLength(), 1);
    EXPECT_TRUE(waitUntil([&] { return p.controller.panel()->isVisible(); }, 10));
}

TEST(PreviewPanelController, NoPanelMeansNothingShows) {
    int changes = 0;
    PreviewPanelController controller([] { return nullptr; });
    controller.onChange = [&] { ++changes; };
    controller.show(QUrl::fromLocalFile(QStringLiteral("/etc/hostname")), QString(), nullptr, {},
                    QImage());
    EXPECT_FALSE(controller.isVisible());
    EXPECT_FALSE(controller.frame());
    EXPECT_FALSE(controller.item());
    EXPECT_EQ(changes, 0);
}
