#include "Platform/PreviewPanel.h"

#include "Platform/RecordingDesktop.h"
#include "support/Contrast.h"
#include "support/HostilePictures.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPdfView>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace ostrel;
using Content = PreviewPanel::Content;
using ostrel::test::ground;
using ostrel::test::legibility;
namespace Hostile = ostrel::test::HostilePictures;

namespace {

// Two frames, red then blue, 8 x 8.
const QByteArray animatedGif = QByteArray::fromBase64(
    "R0lGODlhCAAIAPAAAP8AAAAAACH5BAAAAAAAIf8LTkVUU0NBUEUyLjADAQAAACwAAAAACAAIAAACB4SPqcvtXQAAIfkEAA"
    "AAAAAsAAAAAAgACACAAAD/AAAAAgeEj6nL7V0AADs=");

const QByteArray drawing = "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'>"
                           "<rect width='100' height='50' fill='#00c000'/></svg>";

class PreviewPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"))); }

    QString png(const QString& name, const QImage& image, QSize size) {
        const QString path = dir.file(name);
        image.scaled(size).save(path);
        return path;
    }

    QString pdf(const QString& name) {
        const QString path = dir.file(name);
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::A5));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height() / 3), QColor(20, 60, 200));
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 24));
        painter.drawText(QRect(0, writer.height() / 2, writer.width(), writer.height() / 4),
                         Qt::AlignCenter, QStringLiteral("Turn report"));
        painter.end();
        return path;
    }

    // What the panel shows once it has drawn, saved beside the test run when asked for.
    QImage shot(PreviewPanel& panel, const QString& name) {
        QImage image = panel.grab().toImage();
        if (const QString keep = qEnvironmentVariable("OSTREL_TEST_SHOTS"); !keep.isEmpty()) {
            QDir().mkpath(keep);
            image.save(QDir(keep).filePath(name));
        }
        return image;
    }

    test::TempDir dir;
};

QImage solid(QSize size, QColor color) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

} // namespace

TEST_F(PreviewPanelTest, FilesAreShownByWhatTheyHoldNotOnlyByTheirName) {
    EXPECT_EQ(PreviewPanel::classify(png("a.png", solid({4, 4}, Qt::red), {4, 4})), Content::image);
    EXPECT_EQ(PreviewPanel::classify(dir.write("anim.gif", animatedGif)), Content::movie);
    EXPECT_EQ(PreviewPanel::classify(dir.write("d.svg", drawing)), Content::svg);
    EXPECT_EQ(PreviewPanel::classify(pdf("r.pdf")), Content::pdf);
    EXPECT_EQ(PreviewPanel::classify(dir.write("notes.txt", "hello\n")), Content::text);
    EXPECT_EQ(PreviewPanel::classify(dir.write("run.log", "a\nb\n")), Content::text);
    EXPECT_EQ(PreviewPanel::classify(dir.write("empty.txt", "")), Content::text);
    // A web page goes to the browser rather than showing its markup.
    EXPECT_EQ(PreviewPanel::classify(dir.write("page.html", "<html><body>x</body></html>")),
              Content::page);
    EXPECT_EQ(PreviewPanel::classify(dir.write("blob.bin", QByteArray("\x00\x01\x02\xff", 4))),
              Content::other);
    // A picture by name whose bytes are not one is no picture.
    EXPECT_EQ(PreviewPanel::classify(dir.write("fake.png", "not a picture at all")),
              Content::other);
    EXPECT_EQ(PreviewPanel::classify(dir.file("missing.png")), Content::unreadable);
    QDir().mkpath(dir.file("folder.txt"));
    EXPECT_EQ(PreviewPanel::classify(dir.file("folder.txt")), Content::unreadable);
}

TEST_F(PreviewPanelTest, APictureIsFittedAndCentredWithoutBeingEnlarged) {
    QImage picture = solid({400, 200}, QColor(230, 120, 20));
    QPainter(&picture).fillRect(QRect(0, 0, 400, 20), QColor(20, 20, 200));
    const QString path = dir.file("shot.png");
    picture.save(path);

    PreviewPanel panel;
    panel.resize(600, 500);
    panel.setItem(QUrl::fromLocalFile(path), QStringLiteral("Screenshot"));
    panel.show();
    EXPECT_EQ(panel.content(), Content::image);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Screenshot"));
    const QImage image = shot(panel, "preview-image.png");
    ASSERT_EQ(image.size(), QSize(600, 500));
    // Natural size (400 x 200), centred: 100..500 across, 150..350 down; the blue band on top.
    EXPECT_EQ(image.pixelColor(300, 250), QColor(230, 120, 20));
    EXPECT_EQ(image.pixelColor(300, 160), QColor(20, 20, 200));
    EXPECT_NE(image.pixelColor(50, 250), QColor(230, 120, 20));
    EXPECT_NE(image.pixelColor(300, 100), QColor(230, 120, 20));
    EXPECT_EQ(panel.pictureFrame(), QRect(100, 150, 400, 200));

    // A smaller window fits the picture inside it, keeping its proportions.
    panel.resize(300, 300);
    const QImage small = shot(panel, "preview-image-small.png");
    EXPECT_EQ(small.pixelColor(150, 150), QColor(230, 120, 20));
    EXPECT_NE(small.pixelColor(150, 60), QColor(230, 120, 20));
}

TEST_F(PreviewPanelTest, AnAnimatedPicturePlaysAndADrawingFillsThePanel) {
    PreviewPanel panel;
    panel.resize(300, 300);
    panel.setItem(QUrl::fromLocalFile(dir.write("anim.gif", animatedGif)), QString());
    panel.show();
    EXPECT_EQ(panel.content(), Content::movie);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("anim.gif"));
    bool red = false;
    bool blue = false;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            const QColor c = panel.grab().toImage().pixelColor(150, 150);
            red = red || c == QColor(255, 0, 0);
            blue = blue || c == QColor(0, 0, 255);
            return red && blue;
        },
        5));

    panel.setItem(QUrl::fromLocalFile(dir.write("d.svg", drawing)), QStringLiteral("Drawing"));
    EXPECT_EQ(panel.content(), Content::svg);
    const QImage image = shot(panel, "preview-svg.png");
    EXPECT_EQ(image.pixelColor(150, 150), QColor(0, 192, 0));
    EXPECT_NE(image.pixelColor(150, 20), QColor(0, 192, 0));
    // Within the panel's margins, in its own proportions.
    EXPECT_EQ(panel.pictureFrame(), QRect(16, 83, 268, 134));
}

// A drawing under any picture's name shows as a drawing, without the private picture it names,
// and nothing it paints reaches beyond its own viewport into the window's margin.
TEST_F(PreviewPanelTest, ADrawingShowsWithinItsViewportAndNeverAFileItNames) {
    PreviewPanel panel;
    panel.resize(600, 500);
    panel.show();
    const QString secret = Hostile::writePrivatePicture(dir.file("private.png"), Qt::red);
    for (const char* name : {"naming.svg", "naming.png", "naming.jpg", "naming.webp"}) {
        panel.setItem(QUrl::fromLocalFile(dir.write(name, Hostile::drawingNaming(secret))),
                      QStringLiteral("Drawing"));
        EXPECT_EQ(panel.content(), Content::svg) << name;
        const QImage image = panel.grab().toImage();
        EXPECT_EQ(Hostile::pixelsNear(image, Qt::red), 0) << name;
        EXPECT_GT(Hostile::pixelsNear(image, QColor(0, 192, 0)), 1000) << name;
    }

    // 100 x 50 fitted into 568 x 468 (16 off every edge): 568 x 284, from 108 to 392 down.
    const QByteArray skewed =
        "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 100 50'><rect width='100' "
        "height='50' fill='#00c000'/><polygon points='0,0 100,0 400,300 -300,300' "
        "fill='#ff8000' transform='skewX(30)'/></svg>";
    panel.setItem(QUrl::fromLocalFile(dir.write("skewed.png", skewed)), QString());
    const QImage image = shot(panel, "preview-svg-clipped.png");
    const QColor orange(255, 128, 0);
    EXPECT_GT(Hostile::pixelsNear(image.copy(16, 110, 568, 280), orange), 1000);
    EXPECT_EQ(Hostile::pixelsNear(image.copy(0, 0, 600, 106), orange), 0);
    EXPECT_EQ(Hostile::pixelsNear(image.copy(0, 394, 600, 106), orange), 0);
    EXPECT_EQ(image.pixelColor(300, 450), image.pixelColor(5, 5)); // the window's own ground
}

TEST_F(PreviewPanelTest, APdfShowsItsFirstPageWholeAndCentred) {
    PreviewPanel panel;
    // The file comes before the panel has its size, as it does when the panel first shows.
    panel.setItem(QUrl::fromLocalFile(pdf("report.pdf")), QStringLiteral("Report"));
    panel.resize(900, 700);
    panel.show();
    ASSERT_EQ(panel.content(), Content::pdf);
    // Pages render in the background: wait for the blue band of the first page.
    QImage image;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            image = panel.grab().toImage();
            const QColor c = image.pixelColor(450, 60);
            return c.blue() > 150 && c.red() < 80;
        },
        10));
    image = shot(panel, "preview-pdf.png");
    // Across the page's lower half: white paper with as much room left as right of it.
    const int row = 500;
    const int viewport = panel.findChild<QPdfView*>()->viewport()->width();
    int first = -1;
    int last = -1;
    for (int x = 0; x < viewport; ++x) {
        if (image.pixelColor(x, row) == QColor(Qt::white)) {
            first = first < 0 ? x : first;
            last = x;
        }
    }
    ASSERT_GE(first, 0);
    EXPECT_NEAR(first, viewport - 1 - last, 2);
    // Around the page only the window's ground: no line along the view's top or left edge.
    const QColor ground(38, 38, 40);
    int lined = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < first - 1; ++x) {
            lined += image.pixelColor(x, y) != ground;
        }
    }
    for (int x = 0; x < image.width(); ++x) {
        lined += image.pixelColor(x, 16) != ground && image.pixelColor(x, 16) != QColor(Qt::white);
    }
    EXPECT_EQ(lined, 0);
    EXPECT_LT(last - first, viewport * 3 / 4); // the whole page, not its width filled
    // Down the middle: the whole page within the window's margins, nothing to scroll.
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(450, y) == QColor(Qt::white)) {
            bottom = y;
        }
    }
    EXPECT_LE(bottom, image.height() - 1 - 16);
    EXPECT_GE(bottom, image.height() - 1 - 16 - 6); // the view's own spacing below a page
    EXPECT_FALSE(panel.findChild<QPdfView*>()->verticalScrollBar()->isVisible());
}

TEST_F(PreviewPanelTest, TextIsShownAndAHugeFileOnlyInPart) {
    PreviewPanel panel;
    panel.resize(500, 300);
    panel.setItem(QUrl::fromLocalFile(dir.write("notes.md", "# Plan\n\n- ship the shelf\n")),
                  QStringLiteral("notes.md"));
    panel.show();
    ASSERT_EQ(panel.content(), Content::text);
    const QImage image = shot(panel, "preview-text.png");
    // Some light glyph pixels on the dark page near the top left.
    int ink = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 200; ++x) {
            ink += image.pixelColor(x, y).lightness() > 150;
        }
    }
    EXPECT_GT(ink, 20);

    // One endless line: shown in part, broken into lines the view lays out quickly.
    const QByteArray big(4 * PreviewPanel::textLimit, 'x');
    panel.setItem(QUrl::fromLocalFile(dir.write("big.txt", big)), QString());
    ASSERT_EQ(panel.content(), Content::text);
    const QString shown = panel.findChild<QPlainTextEdit*>()->toPlainText();
    EXPECT_LT(shown.size(), PreviewPanel::textLimit + 1000);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("(the rest of the file is not shown)")));

    EXPECT_EQ(PreviewPanel::shownText("ab\ncd"), QStringLiteral("ab\ncd"));
    const QString broken =
        PreviewPanel::shownText(QByteArray(2 * PreviewPanel::lineLimit + 5, 'y'));
    EXPECT_EQ(broken.split(QLatin1Char('\n')).size(), 3);
    EXPECT_EQ(broken.split(QLatin1Char('\n')).first().size(), PreviewPanel::lineLimit);
}

// A long text scrolls with scroll bars in the window's dark colours, not the desktop's light ones,
// beside a page of the same scheme.
TEST_F(PreviewPanelTest, ScrollBarsSuitTheDarkWindow) {
    PreviewPanel panel;
    panel.resize(500, 300);
    QByteArray lines;
    for (int i = 0; i < 400; ++i) {
        lines += "line " + QByteArray::number(i) + " of a long build log\n";
    }
    panel.setItem(QUrl::fromLocalFile(dir.write("build.log", lines)), QString());
    panel.show();
    const QImage image = shot(panel, "preview-text-long.png");
    const QScrollBar* bar = panel.findChild<QPlainTextEdit*>()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    const QRect area(bar->mapTo(&panel, QPoint(0, 0)), bar->size());
    qint64 lightness = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            lightness += image.pixelColor(x, y).lightness();
        }
    }
    EXPECT_LT(lightness / (area.width() * area.height()), 70);
    const QWidget* page = panel.findChild<QPlainTextEdit*>()->viewport();
    const QColor paper = ground(image, QRect(page->mapTo(&panel, QPoint(0, 0)), page->size()));
    EXPECT_LT(std::abs(paper.lightness() - ground(image, area).lightness()), 16)
        << paper.name().toStdString();
}

// Every text a preview shows reads on its ground (at least 4.5:1): a file's name, a note, a
// button, a text file's lines, and the title the window shows where no title bar names it.
TEST_F(PreviewPanelTest, EveryTextReadsOnItsGround) {
    PreviewPanel panel;
    panel.resize(600, 400);
    panel.setTitleShown(true);
    panel.show();
    const QStringList files = {
        dir.write("page.html", "<html><body>x</body></html>"),
        dir.write("blob.bin", QByteArray("\x00\x01\x02\xff", 4)),
        dir.file("gone.png"),
        dir.write("notes.txt", "The plan\nship the shelf\n"),
    };
    for (const QString& file : files) {
        panel.setItem(QUrl::fromLocalFile(file), QStringLiteral("A report with a long name"));
        const QImage image = shot(panel, QFileInfo(file).fileName() + ".png");
        int checked = 0;
        for (const QWidget* widget : panel.findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(widget);
            const auto* text = qobject_cast<const QPlainTextEdit*>(widget);
            const bool shown = widget->isVisible() && widget->width() > 0;
            if (!shown || !((label && !label->text().isEmpty()) || text ||
                            qobject_cast<const QPushButton*>(widget))) {
                continue;
            }
            ++checked;
            const QWidget* area = text ? text->viewport() : widget;
            EXPECT_GE(legibility(image, QRect(area->mapTo(&panel, QPoint(0, 0)), area->size())),
                      4.5)
                << QFileInfo(file).fileName().toStdString() << " "
                << widget->metaObject()->className();
        }
        EXPECT_GE(checked, 2) << QFileInfo(file).fileName().toStdString();
    }
}

// Whatever the kind, what the preview shows lies the same distance inside the window's edges.
TEST_F(PreviewPanelTest, EveryKindKeepsTheSameFrame) {
    PreviewPanel panel;
    panel.resize(300, 300);
    panel.show();
    panel.setItem(QUrl::fromLocalFile(dir.write("d.svg", drawing)), QString());
    const auto framed = panel.pictureFrame();
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->left(), 16);
    // A picture of the same shape, larger than the window.
    panel.setItem(QUrl::fromLocalFile(png("big.png", solid({4, 2}, Qt::red), {1000, 500})),
                  QString());
    EXPECT_EQ(panel.pictureFrame(), framed);
    const QImage image = panel.grab().toImage();
    EXPECT_EQ(image.pixelColor(150, framed->top() + 2), QColor(Qt::red));
    EXPECT_NE(image.pixelColor(8, 150), QColor(Qt::red));
    // Text begins as far in.
    panel.setItem(QUrl::fromLocalFile(dir.write("t.txt", "MMMM\n")), QString());
    const QImage text = panel.grab().toImage();
    int left = text.width();
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 100; ++x) {
            if (text.pixelColor(x, y).lightness() > 150) {
                left = std::min(left, x);
            }
        }
    }
    EXPECT_NEAR(left, framed->left(), 3);
}

TEST_F(PreviewPanelTest, OtherFilesOfferTheDefaultApplication) {
    auto desktop = std::make_shared<RecordingDesktop>();
    PreviewPanel panel(desktop);
    // The shelf keeps its copy under a hash: the item's title names it.
    const QString page = dir.write(QString(64, u'c') + ".html", "<html></html>");
    panel.setItem(QUrl::fromLocalFile(page), QStringLiteral("report.html"));
    panel.show();
    EXPECT_EQ(panel.content(), Content::page);
    QStringList labels;
    for (const QLabel* label : panel.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("report.html"))) << labels.join(u'|').toStdString();
    auto* open = panel.findChild<QPushButton*>();
    ASSERT_NE(open, nullptr);
    open->click();
    ASSERT_EQ(desktop->opened.size(), 1);
    EXPECT_EQ(desktop->opened.first(), QUrl::fromLocalFile(page));
    shot(panel, "preview-other.png");

    // A file that is gone cannot be opened either.
    panel.setItem(QUrl::fromLocalFile(dir.file("gone.pdf")), QString());
    EXPECT_EQ(panel.content(), Content::unreadable);
    EXPECT_EQ(panel.findChild<QPushButton*>(), nullptr);
}

TEST_F(PreviewPanelTest, KeysGoToTheHookFirstAndClosingIsReported) {
    PreviewPanel panel;
    panel.setItem(QUrl::fromLocalFile(dir.write("notes.txt", "x\n")), QString());
    QList<int> keys;
    panel.keyHook = [&](const QKeyEvent& e) {
        keys.append(e.key());
        return e.key() == Qt::Key_Space || e.key() == Qt::Key_Escape;
    };
    int closed = 0;
    panel.onClosed = [&] { ++closed; };
    panel.show();
    QTest::keyClick(&panel, Qt::Key_Space);
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_TRUE(panel.isVisible()); // the hook took Escape
    QTest::keyClick(&panel, Qt::Key_PageDown);
    EXPECT_EQ(keys, (QList<int>{Qt::Key_Space, Qt::Key_Escape, Qt::Key_PageDown}));
    EXPECT_EQ(closed, 0);

    // Without the hook Escape closes the panel, which reports it.
    panel.keyHook = nullptr;
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(closed, 1);
}
