#include "Ostrel/Views/PreviewPanelController.h"

#include "Platform/PreviewPanel.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace ostrel;

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

TEST(PreviewPanelController, AFirstShowFitsThePanelIntoTheVisibleFrameAndCentresIt) {
    EXPECT_EQ(PreviewPanelController::centredFrame({1600, 1000}, {0, 0, 1440, 875}),
              QRect(40, 40, 1360, 795));
    EXPECT_EQ(PreviewPanelController::centredFrame({1600, 1000}, {1440, 25, 1440, 875}),
              QRect(1480, 65, 1360, 795));
    // A panel that fits keeps its size.
    EXPECT_EQ(PreviewPanelController::centredFrame({600, 400}, {0, 0, 1440, 875}),
              QRect(420, 237, 600, 400));

    Preview p;
    const QRect visible = p.screen()->availableGeometry();
    p.controller.show(p.file, QStringLiteral("Notes"), p.screen(), {}, QImage());
    ASSERT_TRUE(p.controller.isVisible());
    EXPECT_EQ(p.made, 1);
    EXPECT_EQ(p.changes, 1);
    // Placed by its outer frame, where a window manager's title bar goes.
    const auto placed = [&] {
        return QRect(p.controller.panel()->frameGeometry().topLeft(), p.controller.panel()->size());
    };
    EXPECT_EQ(placed(), PreviewPanelController::centredFrame(PreviewPanel::defaultSize, visible));
    EXPECT_EQ(p.controller.panel()->windowTitle(), QStringLiteral("Notes"));
    ASSERT_TRUE(p.controller.item());
    EXPECT_EQ(p.controller.item()->url, p.file);
    EXPECT_EQ(p.controller.frame(), QRectF(p.controller.panel()->frameGeometry()));

    // The user moves the panel; the next item shows where the panel now is.
    const QRect moved(5, 7, 300, 200);
    p.controller.panel()->setGeometry(moved);
    const QUrl other = QUrl::fromLocalFile(p.dir.write("b.txt", "b\n"));
    p.controller.show(other, QStringLiteral("B"), p.screen(), {}, QImage());
    EXPECT_EQ(p.controller.panel()->geometry(), moved);
    EXPECT_EQ(p.controller.item()->url, other);
    EXPECT_EQ(p.made, 1);
    EXPECT_EQ(p.changes, 2);

    // Once closed, the next show is a first show again.
    p.controller.close();
    EXPECT_FALSE(p.controller.isVisible());
    EXPECT_FALSE(p.controller.frame());
    EXPECT_EQ(p.changes, 3);
    ASSERT_TRUE(p.controller.item()); // the item stays
    p.controller.show(other, QStringLiteral("B"), p.screen(), {}, QImage());
    EXPECT_EQ(placed(), PreviewPanelController::centredFrame({300, 200}, visible));
}

TEST(PreviewPanelController, ClosingThePanelItselfTellsTheShelf) {
    Preview p;
    p.controller.show(p.file, QStringLiteral("Notes"), p.screen(), {}, QImage());
    p.controller.panel()->close(); // the window's own close button
    EXPECT_EQ(p.changes, 2);
    EXPECT_FALSE(p.controller.isVisible());
}

TEST(PreviewPanelController, ShelfKeysInThePanelSteerTheShelf) {
    Preview p;
    p.controller.show(p.file, QStringLiteral("Notes"), p.screen(), {}, QImage());
    PreviewPanel* panel = p.controller.panel();
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

TEST(PreviewPanelController, TheCardsPictureGrowsIntoThePanelAndBack) {
    Preview p;
    const QRectF card(10, 20, 112, 84);
    QImage thumb(160, 120, QImage::Format_RGB32);
    thumb.fill(Qt::green);
    p.controller.show(
        p.file, QString(), p.screen(), [&] { return card; }, thumb);
    QPointer<QWidget> zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), QRect(10, 20, 112, 84));
    EXPECT_TRUE(zoom->isVisible());
    // It ends in the panel, keeping the picture's proportions, and goes away.
    const QRect panel = p.controller.panel()->geometry();
    EXPECT_TRUE(test::waitUntil([&] { return !zoom; }, 10));

    // A second show while the panel is up does not zoom again.
    p.controller.show(
        p.file, QString(), p.screen(), [&] { return card; }, thumb);
    EXPECT_FALSE(p.controller.zoomWindow());

    // Closing shrinks it back into the card; without a card or a picture nothing moves.
    p.controller.close();
    zoom = p.controller.zoomWindow();
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->geometry(), panel);
    EXPECT_TRUE(test::waitUntil([&] { return !zoom; }, 10));
    p.controller.show(p.file, QString(), p.screen(), {}, thumb);
    EXPECT_FALSE(p.controller.zoomWindow());
    p.controller.close();
    p.controller.show(
        p.file, QString(), p.screen(), [&] { return card; }, QImage());
    EXPECT_FALSE(p.controller.zoomWindow());
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
