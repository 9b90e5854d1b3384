#include "Ostrel/Views/ThumbnailView.h"

#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfStyle.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "support/HostilePictures.h"
#include "support/ShelfModelTestSupport.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace ostrel;
using ostrel::test::ModelRig;

namespace {

constexpr quint32 display = 7;

ShelfItem makeItem(const QString& id, ShelfItemKind kind, const QString& title,
                   bool withFile = true) {
    ShelfItem item;
    item.id = id;
    item.kind = kind;
    item.title = title;
    if (kind == ShelfItemKind::artifact) {
        item.remoteURL = QUrl(QStringLiteral("https://example.com/") + id);
    } else if (withFile) {
        item.fileURL = QUrl::fromLocalFile(QStringLiteral("/tmp/") + id);
    }
    return item;
}

QImage solid(QSize size, QColor color) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Near enough in every channel.
::testing::AssertionResult near(QRgb actual, QColor expected, int tolerance = 12) {
    const QColor a = QColor::fromRgb(actual);
    if (std::abs(a.red() - expected.red()) <= tolerance &&
        std::abs(a.green() - expected.green()) <= tolerance &&
        std::abs(a.blue() - expected.blue()) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << a.name().toStdString() << " is not near " << expected.name().toStdString();
}

int brightness(QRgb pixel) {
    return qGray(pixel);
}

class ThumbnailViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans"))); }
    void SetUp() override {
        Thumbnailer::cache().clear();
        DragLift::shared().setLiftedID(std::nullopt);
    }
    void TearDown() override {
        Thumbnailer::waitForIdle();
        Thumbnailer::cache().clear();
    }

    ThumbnailView* addCard(const ShelfItem& item, QSizeF size, ThumbnailView::Options options,
                           QPointF at = {}) {
        auto* card =
            new ThumbnailView(rig.model.get(), display, item, size, options, nullptr, rig.clock);
        card->setPos(at);
        scene.addItem(card);
        return card;
    }

    // The scene over the panel's dark ground, at one pixel per point.
    QImage render(QSizeF size) {
        QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(40, 40, 46));
        QPainter painter(&image);
        scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
        painter.end();
        return image;
    }

    static QString pngPath(const QString& name) {
        return QDir(QCoreApplication::applicationDirPath()).filePath(name);
    }

    ModelRig rig;
    QGraphicsScene scene;
};

// One card of every kind: pictures, symbols, badges, the unread dot, the selection ring and titles,
// at the rail's and the deck's card sizes.
TEST_F(ThumbnailViewTest, DemoSceneOfEveryKind) {
    for (const QSizeF size : {QSizeF(160, 120), QSizeF(112, 84)}) {
        scene.clear();
        Thumbnailer::cache().clear();
        const double gap = 12;
        int column = 0;
        QList<ThumbnailView*> cards;
        for (const ShelfItemKind kind : allShelfItemKinds) {
            const QString id = QStringLiteral("k%1").arg(column);
            ShelfItem item =
                makeItem(id, kind, rawValue(kind) + QStringLiteral(" of the demo scene"));
            // The picture and the pdf carry a picture; the others draw their symbol.
            if (kind == ShelfItemKind::image) {
                Thumbnailer::cache().insert(Thumbnailer::cacheKey(id, Thumbnailer::side(size)),
                                            solid({400, 300}, QColor(200, 40, 40)), 1);
            } else if (kind == ShelfItemKind::pdf) {
                Thumbnailer::cache().insert(Thumbnailer::cacheKey(id, Thumbnailer::side(size)),
                                            solid({150, 300}, QColor(240, 240, 240)), 1);
            }
            ThumbnailView::Options options;
            options.dot = column % 2 == 0;
            options.selected = column == 3;
            cards << addCard(item, size, options,
                             QPointF(gap + column * (size.width() + gap), gap));
            ++column;
        }
        const QSizeF sceneSize(gap + column * (size.width() + gap), size.height() + 2 * gap);
        const QImage image = render(sceneSize);
        const QString name = QStringLiteral("cards-%1x%2.png").arg(size.width()).arg(size.height());
        ASSERT_TRUE(image.save(pngPath(name)));

        const auto at = [&](int card, double x, double y) {
            return image.pixel(int(cards[card]->pos().x() + x), int(cards[card]->pos().y() + y));
        };
        const double w = size.width();
        const double h = size.height();
        // The picture covers the card, with no badge on an image.
        EXPECT_TRUE(near(at(0, w / 2, h / 2 - 10), QColor(200, 40, 40)));
        EXPECT_TRUE(near(at(0, 15, 15), QColor(200, 40, 40)));
        // A tall page covers the card too: its width fills, the excess height is cut.
        EXPECT_TRUE(near(at(2, w - 20, h / 2), QColor(240, 240, 240)));
        // The badge disc sits at the top-leading corner of every other kind, darker than the card.
        EXPECT_LT(brightness(at(1, 7, 15)), brightness(at(1, 40, 15)));
        // Outside the rounded corner the ground shows.
        EXPECT_TRUE(near(at(1, 0.5, 0.5), QColor(40, 40, 46), 6));
        // The unread dot in the accent colour at the top-trailing corner.
        EXPECT_TRUE(near(at(0, w - 6 - 3.5, 6 + 3.5), ShelfStyle::accent(), 20));
        EXPECT_TRUE(near(at(1, w - 6 - 3.5, 6 + 3.5), QColor(40, 40, 46), 20));
        // The selection ring along the edge of the selected card.
        EXPECT_TRUE(
            near(at(3, 1, h / 2), QGuiApplication::palette().color(QPalette::Highlight), 30));
        EXPECT_FALSE(
            near(at(4, 1, h / 2), QGuiApplication::palette().color(QPalette::Highlight), 30));
        // A kind symbol in the middle of a card without a picture: lighter strokes on the fill.
        const double glyph = std::min(0.26 * h, 22.0);
        int lightest = 0;
        for (int dy = -int(glyph / 2); dy < int(glyph / 2); ++dy) {
            for (int dx = -int(glyph / 2); dx < int(glyph / 2); ++dx) {
                lightest = std::max(lightest, brightness(at(5, w / 2 + dx, h / 2 + dy)));
            }
        }
        EXPECT_GT(lightest, brightness(at(5, w / 2, 12)) + 40);
        // The title capsule at the bottom-leading corner: dark, with light text on it.
        const ThumbnailCard::Title title = cards[5]->card().title();
        EXPECT_NEAR(title.capsule.left(), 5, 0.01);
        EXPECT_NEAR(title.capsule.bottom(), h - 5, 0.01);
        EXPECT_LE(title.capsule.right(), w - 5 + 0.01);
        EXPECT_EQ(title.cut, size.width() < 150);
        EXPECT_EQ(cards[5]->titleCut(), title.cut);
        int textLight = 0;
        for (int x = int(title.capsule.left() + 6); x < int(title.capsule.right() - 6); ++x) {
            textLight = std::max(textLight, brightness(at(5, x, title.capsule.center().y())));
        }
        EXPECT_GT(textLight, 150);
        EXPECT_LT(brightness(at(5, title.capsule.left() + 2, title.capsule.center().y())), 40);
    }
}

TEST_F(ThumbnailViewTest, TitleFitsOrIsCutInTheMiddle) {
    ThumbnailCard card;
    card.size = QSizeF(160, 120);
    card.item = makeItem("t", ShelfItemKind::pdf, QStringLiteral("Report"));
    auto title = card.title();
    EXPECT_FALSE(title.cut);
    EXPECT_EQ(title.text, QStringLiteral("Report"));
    EXPECT_NEAR(title.textAt.x(), 11, 0.01);

    card.item.title = QStringLiteral("first line\nsecond line");
    title = card.title();
    EXPECT_TRUE(title.cut);
    EXPECT_TRUE(title.text.startsWith(QStringLiteral("first line")));
    EXPECT_TRUE(title.text.endsWith(QChar(0x2026)));

    card.item.title = QString(10'000, QLatin1Char('w')) + QStringLiteral("END");
    title = card.title();
    EXPECT_TRUE(title.cut);
    EXPECT_TRUE(title.text.endsWith(QStringLiteral("END")));
    EXPECT_LE(title.capsule.right(), 155.01);
}

// A card laid out anew at another width cuts its title to it, and its tip follows.
TEST_F(ThumbnailViewTest, AResizedCardCutsItsTitleToItsWidth) {
    ThumbnailView* card = addCard(makeItem("w", ShelfItemKind::pdf, "quarterly-report-final.pdf"),
                                  QSizeF(300, 200), {});
    EXPECT_FALSE(card->titleCut());
    card->setSize(QSizeF(100, 80));
    EXPECT_TRUE(card->titleCut());
    EXPECT_TRUE(card->card().title().cut);
    EXPECT_EQ(card->card().titleLayout->text, card->card().title().text);
}

TEST_F(ThumbnailViewTest, MenusAndLabelsFollowTheKind) {
    const auto titles = [](const QList<MenuEntry>& entries) {
        QStringList out;
        for (const MenuEntry& e : entries) {
            out << (e.separator ? QStringLiteral("-") : e.title);
        }
        return out;
    };
    ThumbnailView* artifact = addCard(
        makeItem("artifact:a", ShelfItemKind::artifact, QStringLiteral("Deck")), {160, 120}, {});
    EXPECT_EQ(titles(artifact->contextMenu()),
              QStringList({"Open in Browser", "-", "Copy Link", "-", "Hide from Shelf", "Delete"}));
    EXPECT_EQ(ThumbnailKinds::cardSymbol(ShelfItemKind::artifact), "sparkles.rectangle.stack");
    EXPECT_EQ(ThumbnailKinds::badgeSymbol(ShelfItemKind::artifact), "sparkles");
    EXPECT_FALSE(ThumbnailKinds::badgeSymbol(ShelfItemKind::image));

    ThumbnailView* image =
        addCard(makeItem("i", ShelfItemKind::image, QStringLiteral("Shot")), {160, 120}, {});
    EXPECT_EQ(titles(image->contextMenu()),
              QStringList({"Quick Look", "Open", "Reveal in Files", "-", "Copy Path", "Copy Image",
                           "-", "Hide from Shelf", "Delete"}));

    // Every symbol a kind names is drawn for this application.
    for (const ShelfItemKind kind : allShelfItemKinds) {
        EXPECT_TRUE(Symbols::exists(ThumbnailKinds::cardSymbol(kind)))
            << rawValue(kind).toStdString();
        if (const auto badge = ThumbnailKinds::badgeSymbol(kind)) {
            EXPECT_TRUE(Symbols::exists(*badge)) << badge->toStdString();
        }
    }

    ShelfItem page = makeItem("h", ShelfItemKind::html, QStringLiteral("Index"));
    page.seenAt = Date(1);
    ThumbnailView* html = addCard(page, {160, 120}, {});
    EXPECT_EQ(html->accessibleLabel(), QStringLiteral("Index, HTML page"));
    page.seenAt.reset();
    html->setItem(page);
    EXPECT_EQ(html->accessibleLabel(), QStringLiteral("Index, HTML page, new"));

    // Choosing "Hide from Shelf" reaches the model; a gone model makes entries do nothing.
    const auto entries = image->contextMenu();
    for (const MenuEntry& e : entries) {
        if (e.title == QStringLiteral("Hide from Shelf")) {
            e.action();
        }
    }
    ASSERT_TRUE(rig.model->pendingUndo());
    rig.model.reset();
    for (const MenuEntry& e : entries) {
        if (e.action) {
            e.action();
        }
    }
}

TEST_F(ThumbnailViewTest, AnchorsFollowTheCardsItem) {
    const auto count = [&](const QString& id) {
        const auto& anchors = rig.model->anchors();
        return anchors.contains(id) ? anchors.value(id).size() : 0;
    };
    ThumbnailView* first = addCard(makeItem("a", ShelfItemKind::pdf, "A"), {160, 120}, {});
    ThumbnailView* second = addCard(makeItem("a", ShelfItemKind::pdf, "A"), {160, 120}, {});
    EXPECT_EQ(count("a"), 2);
    EXPECT_TRUE(first->anchor()->inherits("ostrel::TipAnchorView"));

    first->setItem(makeItem("b", ShelfItemKind::pdf, "B"));
    EXPECT_EQ(count("a"), 1);
    EXPECT_EQ(count("b"), 1);
    EXPECT_EQ(rig.model->anchors().value("a").first(), second->anchor());

    delete second;
    EXPECT_FALSE(rig.model->anchors().contains("a"));
    // A card outliving its model takes nothing down with it.
    rig.model.reset();
    delete first;
}

TEST_F(ThumbnailViewTest, PointerClicksDragsAndHover) {
    QGraphicsView view(&scene);
    view.setFixedSize(400, 300);
    view.setSceneRect(0, 0, 400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ShelfItem item = makeItem("c", ShelfItemKind::pdf, "C");
    ThumbnailView* card = addCard(item, {160, 120}, {}, {20, 20});
    QList<int> taps;
    card->setOnTap([&](int count) { taps << count; });
    QWidget* viewport = view.viewport();
    const QPoint inside = view.mapFromScene(QPointF(100, 80));

    QTest::mouseClick(viewport, Qt::LeftButton, {}, inside);
    EXPECT_EQ(taps, QList<int>({1}));
    // The second click of a double click arrives as a double-click press.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, inside);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, inside);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, inside);
    EXPECT_EQ(taps, QList<int>({1, 1, 2}));

    // Without its own handler a click selects the item in the model.
    card->setOnTap({});
    QTest::mouseClick(viewport, Qt::LeftButton, {}, inside);
    EXPECT_EQ(rig.model->selectedItemID(), std::optional<QString>("c"));

    // A drag starts the drag-out only from 3 points of movement, once, and clicks nothing.
    taps.clear();
    card->setOnTap([&](int count) { taps << count; });
    QTest::mousePress(viewport, Qt::LeftButton, {}, inside);
    QMouseEvent small(QEvent::MouseMove, inside + QPoint(2, 0),
                      viewport->mapToGlobal(inside + QPoint(2, 0)), Qt::NoButton, Qt::LeftButton,
                      {});
    QCoreApplication::sendEvent(viewport, &small);
    EXPECT_TRUE(rig.dragOut->started.isEmpty());
    for (int step = 3; step <= 12; step += 3) {
        QMouseEvent move(QEvent::MouseMove, inside + QPoint(step, 0),
                         viewport->mapToGlobal(inside + QPoint(step, 0)), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &move);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, inside + QPoint(12, 0));
    EXPECT_EQ(rig.dragOut->started, QStringList({"c"}));
    ASSERT_TRUE(DragLift::shared().pending());
    EXPECT_EQ(DragLift::shared().pending()->itemID, QStringLiteral("c"));
    EXPECT_EQ(DragLift::shared().pending()->relative, QPointF(3, 0));
    EXPECT_TRUE(taps.isEmpty());
    const QImage lifted = DragLift::shared().pending()->render(2, true);
    EXPECT_EQ(lifted.deviceIndependentSize(), QSizeF(192, 152));
    lifted.save(pngPath(QStringLiteral("lifted-card.png")));
    rig.dragOut->end();

    // A card that leaves drags to its strip arms nothing.
    DragLift::shared().takePending();
    auto options = card->options();
    options.dragsOut = false;
    card->setOptions(options);
    QTest::mousePress(viewport, Qt::LeftButton, {}, inside);
    QMouseEvent far(QEvent::MouseMove, inside + QPoint(20, 0),
                    viewport->mapToGlobal(inside + QPoint(20, 0)), Qt::NoButton, Qt::LeftButton,
                    {});
    QCoreApplication::sendEvent(viewport, &far);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, inside + QPoint(20, 0));
    EXPECT_EQ(rig.dragOut->started.size(), 1);
    EXPECT_FALSE(DragLift::shared().pending());

    // The item being dragged out dims its cards.
    DragLift::shared().setLiftedID(QStringLiteral("c"));
    EXPECT_DOUBLE_EQ(card->opacity(), 0.4);
    DragLift::shared().setLiftedID(std::nullopt);
    EXPECT_DOUBLE_EQ(card->opacity(), 1.0);

    // Hover sets the model's hovered item; leaving clears it only while it is still this card's.
    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    scene.sendEvent(card, &enter);
    EXPECT_TRUE(card->isHovering());
    ASSERT_TRUE(rig.model->hoveredItem());
    QGraphicsSceneHoverEvent leave(QEvent::GraphicsSceneHoverLeave);
    rig.model->setHoveredItem(makeItem("other", ShelfItemKind::pdf, "O"));
    scene.sendEvent(card, &leave);
    EXPECT_EQ(rig.model->hoveredItem()->id, QStringLiteral("other"));
    scene.sendEvent(card, &enter);
    scene.sendEvent(card, &leave);
    EXPECT_FALSE(rig.model->hoveredItem());
}

TEST_F(ThumbnailViewTest, ShownCardsLoadTheirPictureAndReportBeingSeen) {
    const ShelfItem item = makeItem("s1", ShelfItemKind::html, "Page");
    const QUrl thumb = rig.model->thumbURL(item.id);
    QDir().mkpath(QFileInfo(thumb.toLocalFile()).path());
    ASSERT_TRUE(ImageProbe::writeJPEG(solid({320, 240}, Qt::darkGreen), thumb));

    ThumbnailView* card = addCard(item, {160, 120}, {});
    EXPECT_FALSE(card->image());
    card->setShown(true);
    EXPECT_TRUE(rig.model->visibility().visible(display).contains("s1"));
    ASSERT_TRUE(test::waitUntil([&] { return card->image().has_value(); }));
    // The shelf is closed: the picture shows at once.
    EXPECT_DOUBLE_EQ(card->card().pictureOpacity, 1.0);
    card->setShown(false);
    EXPECT_FALSE(rig.model->visibility().visible(display).contains("s1"));

    // A card built later draws the cached picture in its first frame.
    ThumbnailView* again = addCard(item, {160, 120}, {});
    EXPECT_TRUE(again->image());

    // On the open shelf of its display the picture fades in over 0.12 s.
    Thumbnailer::cache().clear();
    rig.model->setOpenScreen(display);
    ThumbnailView* fading = addCard(item, {160, 120}, {});
    fading->setShown(true);
    ASSERT_TRUE(test::waitUntil([&] { return fading->image().has_value(); }));
    EXPECT_LT(fading->card().pictureOpacity, 0.01);
    rig.clock->advance(0.06);
    EXPECT_GT(fading->card().pictureOpacity, 0.3);
    EXPECT_LT(fading->card().pictureOpacity, 1.0);
    rig.clock->advance(0.07);
    EXPECT_DOUBLE_EQ(fading->card().pictureOpacity, 1.0);
    EXPECT_EQ(DragLift::shared().supportDir(), rig.model->storeRoot());
}

// A banner's stored thumbnail (360 × 60) is long enough by its longer side, yet a quarter of the
// height its card takes at a pixel ratio of 2: drawn there, the card covers itself with the
// banner's own file decoded to its pixels, and its fine stripes keep their contrast.
TEST_F(ThumbnailViewTest, AWideBannersCardIsCoveredWithoutEnlargingAtItsPixelRatio) {
    test::TempDir dir;
    QImage banner(3000, 500, QImage::Format_RGB32);
    for (int x = 0; x < banner.width(); ++x) {
        const QRgb ink = (x / 4) % 2 != 0 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        for (int y = 0; y < banner.height(); ++y) {
            banner.setPixel(x, y, ink);
        }
    }
    ShelfItem item = makeItem("b1", ShelfItemKind::image, "banner.png");
    item.fileURL = QUrl::fromLocalFile(dir.file("banner.png"));
    ASSERT_TRUE(banner.save(item.fileURL->toLocalFile()));
    const QUrl thumb = rig.model->thumbURL(item.id);
    QDir().mkpath(QFileInfo(thumb.toLocalFile()).path());
    ASSERT_TRUE(ImageProbe::writeThumbnail(*ImageProbe::source(*item.fileURL), thumb));

    ThumbnailView* card = addCard(item, {160, 120}, {});
    card->setShown(true);
    QImage drawn(QSize(320, 240), QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(2);
    const auto draw = [&] {
        drawn.fill(Qt::black);
        QPainter painter(&drawn);
        scene.render(&painter, QRectF(0, 0, 160, 120), QRectF(0, 0, 160, 120));
    };
    ASSERT_TRUE(test::waitUntil([&] {
        draw();
        return card->image() && card->image()->height() >= 240 && card->image()->width() >= 320;
    }));
    draw();
    int darkest = 255;
    int lightest = 0;
    for (int x = 40; x < 280; ++x) {
        darkest = std::min(darkest, brightness(drawn.pixel(x, 100)));
        lightest = std::max(lightest, brightness(drawn.pixel(x, 100)));
    }
    EXPECT_GT(lightest - darkest, 150);

    // Drawn finer still after its file has gone (and its picture left the cache), the card asks
    // for more and gets the stored thumbnail: it keeps the sharper picture it has.
    Thumbnailer::waitForIdle();
    test::pump(0.1);
    const QImage had = *card->image();
    ASSERT_TRUE(QFile::remove(item.fileURL->toLocalFile()));
    Thumbnailer::cache().clear();
    QImage finer(QSize(480, 360), QImage::Format_ARGB32_Premultiplied);
    finer.setDevicePixelRatio(3);
    {
        QPainter painter(&finer);
        scene.render(&painter, QRectF(0, 0, 160, 120), QRectF(0, 0, 160, 120));
    }
    ASSERT_TRUE(test::waitUntil([&] { return Thumbnailer::cachedImage(item, 320).has_value(); }));
    Thumbnailer::waitForIdle();
    test::pump(0.1);
    EXPECT_EQ(card->image()->cacheKey(), had.cacheKey());
}

// A picture as wide as the card's pixels but shorter leaves a band of them enlarged: the card asks
// for one that covers it. And a picture exactly as sharp as the one the card holds, made again
// from the item's file changed in place, takes its place.
TEST_F(ThumbnailViewTest, ACardAsksForAPictureThatCoversItAndTakesOneAsSharpMadeAgain) {
    test::TempDir dir;
    ShelfItem item = makeItem("c1", ShelfItemKind::image, "photo.png");
    item.fileURL = QUrl::fromLocalFile(dir.file("photo.png"));
    ASSERT_TRUE(solid({320, 240}, Qt::red).save(item.fileURL->toLocalFile()));
    Thumbnailer::cache().insert(Thumbnailer::cacheKey(item.id, 320), solid({320, 239}, Qt::green),
                                1);
    ThumbnailView* card = addCard(item, {160, 120}, {});
    ASSERT_TRUE(card->image());
    card->setShown(true);
    const auto draw = [&](double ratio) {
        QImage drawn((QSizeF(160, 120) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(ratio);
        QPainter painter(&drawn);
        scene.render(&painter, QRectF(0, 0, 160, 120), QRectF(0, 0, 160, 120));
    };
    draw(2);
    ASSERT_TRUE(test::waitUntil([&] { return card->image()->height() == 240; }, 2.0));
    EXPECT_EQ(card->image()->pixelColor(10, 10), QColor(Qt::red));

    // Drawn finer, it asks again, and the file (320 × 240, changed meanwhile) gives all it has.
    ASSERT_TRUE(solid({320, 240}, Qt::blue).save(item.fileURL->toLocalFile()));
    draw(3);
    Thumbnailer::waitForIdle();
    ASSERT_TRUE(test::waitUntil(
        [&] { return card->image()->pixelColor(10, 10) == QColor(Qt::blue); }, 2.0));
    EXPECT_EQ(card->image()->size(), QSize(320, 240));
}

// A drawer coming to rest may draw its cards a hair smaller for a moment. Less than half a device
// pixel off, a card is drawn as it stands, every pixel as before; scaled by that hair, its picture
// (1440 pixels wide for a banner) would be scaled to 1439 and each of its lines spread over two.
TEST_F(ThumbnailViewTest, ACardDrawnAHairSmallerDrawsThePixelsItHad) {
    QImage banner(1440, 240, QImage::Format_RGB32);
    for (int x = 0; x < banner.width(); ++x) {
        const QRgb ink = x % 3 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        for (int y = 0; y < banner.height(); ++y) {
            banner.setPixel(x, y, ink);
        }
    }
    const ShelfItem item = makeItem("h1", ShelfItemKind::html, "banner.html");
    Thumbnailer::cache().insert(Thumbnailer::cacheKey("h1", 320), banner, 1);
    addCard(item, {160, 120}, {}, QPointF(10, 10));
    const auto draw = [&](double scale) {
        QImage drawn(QSize(360, 280), QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(2);
        drawn.fill(Qt::black);
        QPainter painter(&drawn);
        scene.render(&painter, QRectF(0, 0, 180 * scale, 140 * scale), QRectF(0, 0, 180, 140));
        return drawn;
    };
    // The first paint asks for the picture at the view's ratio: settled once it has come.
    draw(1);
    Thumbnailer::waitForIdle();
    test::pump(0.1);
    const QImage settled = draw(1);
    for (const double hair : {0.9995, 1.0007}) {
        const QImage swung = draw(hair);
        int differing = 0;
        for (int y = 20; y < 260; ++y) {
            for (int x = 20; x < 340; ++x) {
                differing += swung.pixel(x, y) != settled.pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(differing, 0) << hair;
    }
}

// A drawing stored under a picture's name shows on its card, and on the card lifted as the drag
// image, without the private picture it names.
TEST_F(ThumbnailViewTest, ADrawingNamedAsAPictureShowsNoFileItNamesOnTheCardOrWhenDragged) {
    test::TempDir dir;
    const QString secret =
        test::HostilePictures::writePrivatePicture(dir.file("private.png"), Qt::red);
    ShelfItem item = makeItem("drawing", ShelfItemKind::image, "diagram.png");
    item.fileURL = QUrl::fromLocalFile(
        dir.write("diagram.png", test::HostilePictures::drawingNaming(secret, 240)));
    ThumbnailView* card = addCard(item, {160, 120}, {});
    card->setShown(true);
    ASSERT_TRUE(test::waitUntil([&] { return card->image().has_value(); }));
    const QImage lifted = LiftedCard::render(card->card());
    const QColor green(0, 192, 0);
    for (const QImage& image :
         {*card->image(), lifted, *Thumbnailer::cachedImage(item, Thumbnailer::side({160, 120}))}) {
        EXPECT_EQ(test::HostilePictures::pixelsNear(image, Qt::red), 0);
        EXPECT_GT(test::HostilePictures::pixelsNear(image, green), 100);
    }
}

// The drag image's shadow is one soft Gaussian edge, black at 0.45 blurred by 10 points and 5
// points down, falling off pixel by pixel at every scale rather than in bands.
TEST_F(ThumbnailViewTest, TheLiftedCardCastsOneSoftShadowAtEveryScale) {
    ThumbnailCard card;
    card.size = QSizeF(160, 120);
    for (const double ratio : {1.0, 1.5, 2.0}) {
        const QImage lifted = LiftedCard::render(card, ratio);
        ASSERT_FALSE(lifted.isNull());
        const int x = lifted.width() / 2;
        const int from = int(std::ceil((LiftedCard::margin + card.size.height()) * ratio));
        const auto alpha = [&](int y) { return qAlpha(lifted.pixel(x, y)) / 255.0; };
        const auto edge = [&](int y) {
            const double below = (y + 0.5) / ratio - (LiftedCard::margin + card.size.height() + 5);
            return 0.45 * 0.5 * std::erfc(below / (5 * std::sqrt(2.0)));
        };
        EXPECT_NEAR(alpha(from), edge(from), 0.04) << ratio;
        int bands = 0;
        for (int y = from; alpha(y) > 0.03 && y + 1 < lifted.height(); ++y) {
            bands += alpha(y + 1) >= alpha(y) ? 1 : 0;
        }
        EXPECT_EQ(bands, 0) << ratio;
    }
}

} // namespace

// A card is drawn once into the view's cache and then copied while it scrolls: the copy shows the
// pixels a fresh paint of the card draws, also once its state has changed since it was cached.
TEST_F(ThumbnailViewTest, ACachedCardDrawsTheSamePixelsAsAFreshPaint) {
    QImage picture(400, 250, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(x * 255 / 400, y, (x + y) % 256));
        }
    }
    const ShelfItem item = makeItem("c1", ShelfItemKind::html, "a-page-with-a-long-title.html");
    Thumbnailer::cache().insert(Thumbnailer::cacheKey("c1", 320), picture, 1);
    ThumbnailView::Options options;
    options.dot = true;
    ThumbnailView* card = addCard(item, QSizeF(160, 120), options, QPointF(12, 12));
    QGraphicsView view(&scene);
    view.setFrameStyle(0);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setSceneRect(0, 0, 184, 144);
    view.resize(184, 144);
    view.viewport()->setAutoFillBackground(false);

    const auto same = [&] {
        QImage cached(QSize(184, 144), QImage::Format_ARGB32_Premultiplied);
        cached.fill(QColor(40, 40, 46));
        QImage fresh = cached;
        view.viewport()->render(&cached, QPoint(), QRegion(), QWidget::DrawChildren);
        QPainter painter(&fresh);
        painter.translate(12, 12);
        card->card().paint(painter);
        painter.end();
        return cached == fresh;
    };
    EXPECT_TRUE(same());
    options.dot = false;
    card->setOptions(options);
    EXPECT_TRUE(same());
}

// A card made again for a picture (scrolled out of the view and back) takes the copy scaled for
// the card before; another size or pixel ratio is scaled anew.
TEST_F(ThumbnailViewTest, APictureIsScaledForItsCardOnce) {
    const QImage picture = solid(QSize(320, 200), QColor(200, 90, 40));
    const QImage first = ThumbnailCard::cover(picture, QSizeF(160, 120), 1);
    EXPECT_EQ(first.size(), QSize(192, 120));
    EXPECT_EQ(ThumbnailCard::cover(picture, QSizeF(160, 120), 1).cacheKey(), first.cacheKey());
    const QImage sharper = ThumbnailCard::cover(picture, QSizeF(160, 120), 1.5);
    EXPECT_EQ(sharper.size(), QSize(288, 180));
    EXPECT_NE(ThumbnailCard::cover(picture, QSizeF(141, 106), 1).cacheKey(), first.cacheKey());
}

// A rectangle filled a run of rows at a time ends where it ends, whatever its height against the
// run's length and at any pixel ratio: the last run is cut short, not filled whole.
TEST(RasterBands, AFilledRectangleStopsAtItsBottom) {
    for (const double ratio : {1.0, 2.0}) {
        QImage image((QSizeF(20, 200) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            RasterBands::fillRect(painter, QRectF(2, 3, 10, 100), Qt::red);
        }
        const int x = int(5 * ratio);
        EXPECT_EQ(image.pixelColor(x, int(3 * ratio)), QColor(Qt::red)) << ratio;
        EXPECT_EQ(image.pixelColor(x, int(103 * ratio) - 1), QColor(Qt::red)) << ratio;
        EXPECT_EQ(image.pixelColor(x, int(103 * ratio)).alpha(), 0) << ratio;
        EXPECT_EQ(image.pixelColor(x, int(3 * ratio) - 1).alpha(), 0) << ratio;
    }
}

// A card whose picture fades in looks at every step of the fade as a fresh paint of it does (near
// enough: a cross-fade), also once it is hovered midway.
TEST_F(ThumbnailViewTest, AFadingPictureLooksAsAFreshPaintOfTheCard) {
    const ShelfItem item = makeItem("f1", ShelfItemKind::html, "a-page.html");
    const QUrl thumb = rig.model->thumbURL(item.id);
    QDir().mkpath(QFileInfo(thumb.toLocalFile()).path());
    QImage picture(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgb(255 - x * 255 / 320, 60 + y / 2, 200));
        }
    }
    ASSERT_TRUE(ImageProbe::writeJPEG(picture, thumb));
    rig.model->setOpenScreen(display);
    ThumbnailView* card = addCard(item, {160, 120}, {});
    card->setShown(true);
    ASSERT_TRUE(test::waitUntil([&] { return card->image().has_value(); }));

    // The largest difference in any channel between the scene's paint and a fresh one.
    const auto farthest = [&] {
        const QImage shown = render({160, 120});
        QImage fresh(shown.size(), QImage::Format_ARGB32_Premultiplied);
        fresh.fill(QColor(40, 40, 46));
        QPainter painter(&fresh);
        card->card().paint(painter);
        painter.end();
        int most = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y);
                const QRgb b = fresh.pixel(x, y);
                most = std::max({most, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                 std::abs(qBlue(a) - qBlue(b))});
            }
        }
        return most;
    };
    rig.clock->advance(0.03);
    EXPECT_LE(farthest(), 24);
    rig.clock->advance(0.03);
    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    scene.sendEvent(card, &enter);
    ASSERT_GT(card->card().pictureOpacity, 0.3);
    ASSERT_LT(card->card().pictureOpacity, 1.0);
    EXPECT_LE(farthest(), 24);
}
