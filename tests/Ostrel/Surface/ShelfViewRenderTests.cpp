#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Surface/Halo.h"
#include "Ostrel/Surface/ShelfView.h"

#include "OstrelCore/Display/DisplayLayout.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFont>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <climits>
#include <memory>

using namespace ostrel;

namespace {

constexpr quint32 display = 1;
const QColor contentColor(48, 96, 192);

// Stands in for the drawer's content: a plain coloured board with a frame, laid out at the size
// it is given.
class Board : public DrawerContentItem {
public:
    void setPlan(const DrawerContentPlan& plan) override {
        prepareGeometryChange();
        plan_ = plan;
        ++plans;
    }
    QRectF boundingRect() const override {
        return QRectF(0, 0, plan_.size.width(), plan_.size.height() + plan_.message);
    }
    void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override {
        p->fillRect(boundingRect(), contentColor);
        p->setPen(QPen(Qt::white, 2));
        p->drawRect(boundingRect().adjusted(20, 40, -20, -20));
    }
    DrawerContentPlan plan_;
    int plans = 0;
};

DisplayLayout layoutFor(const DisplayStyle& style) {
    if (style.isNotch()) {
        return DisplayLayout(style, QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 945),
                             QRectF(656, 945, 200, 37));
    }
    return DisplayLayout(style, QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050), std::nullopt);
}

QString name(const DisplayStyle& style) {
    if (style.isNotch()) {
        return "notch";
    }
    if (style.isHoverNotch()) {
        return "hover-notch";
    }
    switch (*style.pillSide()) {
    case PillSide::left:
        return "pill-left";
    case PillSide::bottom:
        return "pill-bottom";
    case PillSide::right:
        return "pill-right";
    }
    return "?";
}

// A shelf view on a scene, with a clock the test moves.
struct Stage {
    double clock = 100;
    std::vector<bool> peeks;
    int cleared = 0;
    QGraphicsScene scene;
    ShelfView* view;
    Board* board = nullptr;
    ShelfView::Inputs in;

    explicit Stage(const DisplayStyle& style) {
        ShelfView::Hooks hooks;
        hooks.setPeeking = [this](bool on) { peeks.push_back(on); };
        hooks.arrivalCount = [] { return 2; };
        hooks.arrivalImages = [](int) {
            QImage red(40, 30, QImage::Format_ARGB32_Premultiplied);
            red.fill(QColor(220, 60, 60));
            return std::vector<std::optional<QImage>>{red, std::nullopt};
        };
        hooks.clearRegion = [this] { ++cleared; };
        hooks.makeContent = [this](const DrawerContentPlan&) { return board = new Board; };
        hooks.motion = [] { return Motion::Context{}; };
        view = new ShelfView(display, hooks, [this] { return clock; });
        scene.addItem(view);
        in.layout = layoutFor(style);
        in.drawerBuilt = true;
        view->setInputs(in);
    }
    void set(const std::function<void(ShelfView::Inputs&)>& change) {
        change(in);
        view->setInputs(in);
    }
    void at(double t) {
        clock = t;
        view->tick();
    }
    QImage render(double dpr = 1) {
        const QSizeF size = view->boundingRect().size();
        QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        scene.render(&p, QRectF(QPointF(), size), QRectF(QPointF(), size));
        return image;
    }
};

QColor at(const QImage& image, QPointF p) {
    return image.pixelColor((p * image.devicePixelRatio()).toPoint());
}

void save(const QImage& image, const QString& file) {
    QDir().mkpath("surface-png");
    image.save("surface-png/" + file + ".png");
}

bool near(const QColor& a, const QColor& b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance &&
           std::abs(a.alpha() - b.alpha()) <= tolerance;
}

class ShelfViewRender : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setFont(QFont("DejaVu Sans"));
        HaloCache::clear();
    }
};

} // namespace

TEST_F(ShelfViewRender, EveryStyleAtRestHalfOpenAndOpen) {
    for (const auto& style :
         {DisplayStyle::notch(), DisplayStyle::hoverNotch(), DisplayStyle::pill(PillSide::left),
          DisplayStyle::pill(PillSide::bottom), DisplayStyle::pill(PillSide::right)}) {
        SCOPED_TRACE(name(style).toStdString());
        Stage stage(style);
        stage.set([](auto& in) {
            in.signalUnread = 2;
            in.arrivalTick = 1;
            in.pillPreview = false;
        });
        stage.at(100 + 2.5); // pulses settled: the glow rests
        const QImage rest = stage.render();
        save(rest, name(style) + "-rest");
        const auto& f = stage.view->frame();
        const QRectF resting = f.geometry.resting;
        if (style.isNotch()) {
            EXPECT_TRUE(near(at(rest, resting.center()), Qt::black));
            // Lit: the glow shows under the notch and fades out further away.
            const QColor glow = at(rest, QPointF(resting.center().x(), resting.bottom() + 6));
            EXPECT_GT(glow.alpha(), 40);
            EXPECT_GT(glow.red(), glow.blue());
            EXPECT_EQ(at(rest, QPointF(resting.center().x(), resting.bottom() + 200)).alpha(), 0);
        } else if (style.isHoverNotch()) {
            const QRectF line = f.lineRect;
            EXPECT_GT(at(rest, line.center()).red(), 150);
        } else {
            const QRectF line = f.pillLine.rect;
            // The lit line is the accent colour.
            EXPECT_TRUE(near(at(rest, line.center()), QColor(217, 119, 87), 20));
        }

        stage.set([](auto& in) { in.openScreen = display; });
        stage.at(100 + 2.5 + 0.09);
        const double half = stage.view->motion().progress;
        EXPECT_GT(half, 0.2);
        EXPECT_LT(half, 0.9);
        const QImage middle = stage.render();
        save(middle, name(style) + "-half");
        EXPECT_FALSE(stage.view->frame().contentHits);

        stage.at(100 + 2.5 + 3);
        const QImage open = stage.render(2);
        save(open, name(style) + "-open");
        const auto& o = stage.view->frame();
        ASSERT_TRUE(stage.board);
        EXPECT_TRUE(o.contentHits);
        EXPECT_TRUE(near(at(open, o.contentFrame.center()), contentColor));
        // Cut to the outline: the frame's far corner (away from the edge) lies outside it.
        const QPointF corner = style.position() == DisplayStylePosition::left
                                   ? o.contentFrame.bottomRight() + QPointF(-1.5, -1.5)
                                   : o.contentFrame.bottomLeft() + QPointF(1.5, -1.5);
        const QPointF far = style.position() == DisplayStylePosition::bottom
                                ? o.contentFrame.topLeft() + QPointF(1.5, 1.5)
                                : corner;
        EXPECT_LT(at(open, far).alpha(), 40);
        // The outline's edge is smoothed: around the far corner some pixels are partly covered.
        int partial = 0;
        const QRect box = QRectF(far - QPointF(20, 20), QSizeF(40, 40)).toRect();
        for (int x = box.left(); x <= box.right(); ++x) {
            for (int y = box.top(); y <= box.bottom(); ++y) {
                const int a = at(open, QPointF(x, y)).alpha();
                partial += a > 20 && a < 235 ? 1 : 0;
            }
        }
        EXPECT_GT(partial, 4);
    }
}

TEST_F(ShelfViewRender, CountBadgeBesideTheNotch) {
    Stage stage(DisplayStyle::notch());
    stage.set([](auto& in) {
        in.signal = ArrivalSignal::count;
        in.signalUnread = 7;
        in.countWidth = Motion::countWidth(7);
        in.arrivalTick = 1;
    });
    stage.at(102);
    const QImage image = stage.render();
    save(image, "notch-count");
    const auto& f = stage.view->frame();
    EXPECT_EQ(f.badgeText, "7");
    EXPECT_DOUBLE_EQ(f.badgeOpacity, 1);
    // White digit pixels inside the badge, black surface around them.
    int white = 0;
    for (int x = int(f.badgeRect.left()); x < int(f.badgeRect.right()); ++x) {
        for (int y = int(f.badgeRect.top()); y < int(f.badgeRect.bottom()); ++y) {
            white += at(image, QPointF(x, y)).lightness() > 200 ? 1 : 0;
        }
    }
    EXPECT_GT(white, 5);
    EXPECT_EQ(stage.view->accessibleLabel(), "7 new items");
}

TEST_F(ShelfViewRender, PeekPileSlidesOutOfAPill) {
    for (const auto pile : {PeekPileStyle::fan, PeekPileStyle::stack, PeekPileStyle::count}) {
        Stage stage(DisplayStyle::pill(PillSide::bottom));
        stage.set([&](auto& in) {
            in.pillPile = pile;
            in.signalUnread = 2;
            in.arrivalTick = 1;
        });
        EXPECT_EQ(stage.peeks, std::vector<bool>{true});
        stage.at(101);
        const QImage image = stage.render(2);
        const char* names[] = {"fan", "count", "stack"};
        save(image, QString("pill-bottom-peek-") + names[int(pile)]);
        const auto& f = stage.view->frame();
        ASSERT_TRUE(f.cardHitArea.has_value());
        // The front card shows the newest thumbnail.
        EXPECT_TRUE(near(at(image, f.pileRect.center()), QColor(220, 60, 60), 16));
        // The peek ends on its own after four seconds.
        stage.at(105.1);
        EXPECT_EQ(stage.peeks, (std::vector<bool>{true, false}));
        EXPECT_FALSE(stage.view->frame().cardHitArea.has_value());
    }
}

TEST_F(ShelfViewRender, WithoutACompositorTheGlowIsLeftOut) {
    Stage stage(DisplayStyle::notch());
    stage.set([](auto& in) {
        in.signalUnread = 1;
        in.arrivalTick = 1;
    });
    stage.at(103);
    stage.view->setCompositing(false);
    const QImage image = stage.render();
    const QRectF resting = stage.view->frame().geometry.resting;
    EXPECT_EQ(at(image, QPointF(resting.center().x(), resting.bottom() + 6)).alpha(), 0);
}

// Without a compositor the panel's window shows only whole pixels, each kept one opaque and
// inside the window's shape, so nothing faint turns dark and nothing clear turns black.
TEST_F(ShelfViewRender, WithoutACompositorThePanelKeepsOnlyOpaquePixelsInsideItsShape) {
    const auto flat = [](Stage& stage, const QString& file) {
        NotchPanel panel;
        stage.scene.removeItem(stage.view);
        panel.setRootItem(stage.view);
        panel.resize(stage.view->boundingRect().size().toSize());
        panel.winId();
        panel.setCompositing(false);
        const QImage shot = panel.grab().toImage();
        save(shot, file);
        const QRegion cut = panel.windowHandle()->mask();
        int wrong = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const int alpha = qAlpha(shot.pixel(x, y));
                wrong += cut.contains(QPoint(x, y)) ? alpha != 255 : alpha != 0;
            }
        }
        EXPECT_EQ(wrong, 0) << file.toStdString();
        panel.setCompositing(true);
        panel.shelfScene()->removeItem(stage.view);
        stage.scene.addItem(stage.view);
        return std::make_pair(shot, cut);
    };

    // The count's digits stand inside the cut, white on the notch's black.
    Stage notch(DisplayStyle::notch());
    notch.set([](auto& in) {
        in.signal = ArrivalSignal::count;
        in.countWidth = 24;
        in.signalUnread = 7;
    });
    notch.at(101);
    notch.view->setCompositing(false);
    const auto [shot, cut] = flat(notch, "flat-notch-count");
    const QRectF badge = notch.view->frame().badgeRect;
    int digits = 0;
    for (int y = int(badge.top()); y < int(badge.bottom()); ++y) {
        for (int x = int(badge.left()); x < int(badge.right()); ++x) {
            digits += cut.contains(QPoint(x, y)) && qGray(shot.pixel(x, y)) > 200;
        }
    }
    EXPECT_GT(digits, 10);

    // A pill's peek card sliding out and fading in, frame by frame.
    Stage pill(DisplayStyle::pill(PillSide::left));
    pill.view->setCompositing(false);
    pill.set([](auto& in) {
        in.signalUnread = 2;
        in.arrivalTick = 1;
    });
    for (const double t : {100.02, 100.06, 100.12, 100.3}) {
        pill.at(t);
        flat(pill, QString("flat-pill-left-%1").arg(int((t - 100) * 100)));
    }
}

TEST_F(ShelfViewRender, ContentIsBuiltWhileKeptAndToldOfTheMessageBand) {
    Stage stage(DisplayStyle::notch());
    ASSERT_TRUE(stage.board);
    EXPECT_EQ(stage.board->plan_.kind, ShelfLayoutKind::rail);
    EXPECT_EQ(stage.board->plan_.message, 0);
    stage.set([](auto& in) { in.pendingUndo = true; });
    EXPECT_EQ(stage.board->plan_.message, 40);
    EXPECT_EQ(stage.board->plans, 2);
    stage.set([](auto& in) { in.drawerBuilt = false; });
    EXPECT_EQ(stage.view->content(), nullptr);
    EXPECT_EQ(stage.cleared, 1);
    stage.set([](auto& in) { in.glowPulses = 3; }); // no new placeholder, no second clear
    EXPECT_EQ(stage.cleared, 1);
}

// The drawer growing open scales its content: what an item keeps as a picture of itself (a deck's
// cards) is scaled smoothly, not sampled, so fine detail does not break into stripes on the way.
TEST_F(ShelfViewRender, PicturesItemsKeepOfThemselvesScaleSmoothlyWhileTheDrawerGrows) {
    // Stripes one pixel wide, black and white.
    struct Stripes : QGraphicsItem {
        QRectF boundingRect() const override { return {0, 0, 240, 120}; }
        void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override {
            p->fillRect(boundingRect(), Qt::white);
            for (int x = 0; x < 240; x += 2) {
                p->fillRect(QRectF(x, 0, 1, 120), Qt::black);
            }
        }
    };
    Stage stage(DisplayStyle::notch());
    ASSERT_TRUE(stage.board);
    auto* stripes = new Stripes;
    stripes->setParentItem(stage.board);
    stripes->setPos(60, 80);
    stripes->setCacheMode(QGraphicsItem::ItemCoordinateCache, QSize(240, 120));
    stage.set([](auto& in) { in.openScreen = display; });
    stage.at(100 + 0.22);
    const auto& f = stage.view->frame();
    ASSERT_LT(f.contentScale, 0.95);
    ASSERT_GT(f.contentOpacity, 0.5);
    const QImage middle = stage.render();
    // Sampled, neighbouring pixels keep nearly the stripes' whole contrast; scaled smoothly,
    // about half of it.
    const QRect area = stripes->sceneBoundingRect().toAlignedRect().adjusted(3, 3, -3, -3);
    const int y = area.center().y();
    double steps = 0;
    for (int x = area.left(); x < area.right(); ++x) {
        steps += std::abs(qGray(middle.pixel(x, y)) - qGray(middle.pixel(x + 1, y)));
    }
    EXPECT_LT(steps / area.width(), 0.65 * 255 * f.contentOpacity);
}

TEST_F(ShelfViewRender, OpeningSpringOvershootsAndClosingComesToRest) {
    Stage stage(DisplayStyle::pill(PillSide::bottom));
    const auto layout = *stage.in.layout;
    const QRectF open = DrawerMotion::toPanel(
        layout.panelFrame(), layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0));
    stage.set([](auto& in) { in.openScreen = display; });
    double most = 0;
    double tallest = 0;
    for (double t = 100; t < 101; t += 1.0 / 120) {
        stage.at(t);
        most = std::max(most, stage.view->motion().progress);
        tallest = std::max(tallest, stage.view->frame().contentFrame.height());
    }
    // The pill's open spring is under-damped: it passes its target, and the drawer with it.
    EXPECT_GT(most, 1.0);
    EXPECT_GT(tallest, open.height());
    EXPECT_TRUE(stage.view->frame().contentHits);

    stage.set([](auto& in) { in.openScreen = display + 1; }); // opened elsewhere: this one closes
    stage.at(101.05);
    EXPECT_FALSE(stage.view->frame().contentHits);
    stage.at(103);
    EXPECT_DOUBLE_EQ(stage.view->motion().progress, 0);
    EXPECT_TRUE(stage.view->frame().geometry.atRest);
}

TEST_F(ShelfViewRender, CountBadgeRollsItsDigitsOnTheDrawerSpring) {
    Stage stage(DisplayStyle::notch());
    stage.set([](auto& in) {
        in.signal = ArrivalSignal::count;
        in.signalUnread = 7;
        in.countWidth = Motion::countWidth(7);
        in.arrivalTick = 1;
    });
    stage.at(102);
    EXPECT_EQ(stage.view->frame().badgeRoll, 1);
    const QRectF badge = stage.view->frame().badgeRect;
    // The rows the digits light: topmost and bottommost.
    const auto extent = [&](const QImage& image) {
        std::pair<int, int> rows{INT_MAX, INT_MIN};
        for (int x = int(badge.left()); x < int(badge.right()); ++x) {
            for (int y = int(badge.top()); y < int(badge.bottom()); ++y) {
                if (at(image, QPointF(x, y)).lightness() > 60) {
                    rows = {std::min(rows.first, y), std::max(rows.second, y)};
                }
            }
        }
        return rows;
    };
    const auto rest = extent(stage.render());
    ASSERT_LT(rest.first, rest.second);

    stage.set([](auto& in) { in.signalUnread = 8; });
    stage.at(102.08);
    const auto& f = stage.view->frame();
    EXPECT_EQ(f.badgeFrom, "7");
    EXPECT_EQ(f.badgeText, "8");
    EXPECT_GT(f.badgeRoll, 0.1);
    EXPECT_LT(f.badgeRoll, 0.9);
    const QImage rolling = stage.render();
    save(rolling, "notch-count-rolling");
    // The 7 has risen out of the middle and the 8 is still coming up from below.
    const auto mid = extent(rolling);
    EXPECT_LT(mid.first, rest.first - 2);
    EXPECT_GT(mid.second, rest.second + 2);

    // The spring settles well within a second; frames keep coming until it does.
    stage.at(103);
    EXPECT_EQ(stage.view->frame().badgeRoll, 1);
    EXPECT_EQ(stage.view->frame().badgeText, "8");
}

TEST_F(ShelfViewRender, ThePanelWindowIsNamedForAssistiveTechnologyAndKeptCurrent) {
    Stage stage(DisplayStyle::notch());
    stage.set([](auto& in) { in.signalUnread = 3; });
    // Hosted by a panel, the window takes the shelf's label at once.
    stage.scene.removeItem(stage.view);
    NotchPanel panel;
    panel.setRootItem(stage.view);
    EXPECT_EQ(panel.accessibleName(), "3 new items");
    stage.set([](auto& in) { in.signalUnread = 1200; });
    EXPECT_EQ(panel.accessibleName(), "1200 new items");
    stage.set([](auto& in) { in.signalUnread = 0; });
    EXPECT_EQ(panel.accessibleName(), "Ostrel shelf");
}

// Changes arriving faster than the display refreshes (a wheel spun hard, a scroll's steps, pictures
// landing) are painted together: the panel paints at most once a display frame.
TEST_F(ShelfViewRender, ThePanelPaintsAtMostOnceADisplayFrame) {
    NotchPanel panel;
    auto* box = new QGraphicsRectItem(0, 0, 40, 40);
    box->setBrush(Qt::white);
    panel.setRootItem(box);
    panel.resize(400, 100);
    panel.show();
    int paints = 0;
    struct Counter : QObject {
        int* paints;
        explicit Counter(int* n) : paints(n) {}
        bool eventFilter(QObject*, QEvent* event) override {
            *paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter(&paints);
    panel.viewport()->installEventFilter(&counter);

    QTimer step;
    step.setTimerType(Qt::PreciseTimer);
    QObject::connect(&step, &QTimer::timeout, [&] { box->moveBy(box->x() < 300 ? 1 : -300, 0); });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    QElapsedTimer elapsed;
    elapsed.start();
    step.start(1);
    loop.exec();
    const double frameMs = 1000.0 / std::max(1.0, panel.screen()->refreshRate());
    EXPECT_GT(paints, 3);
    EXPECT_LE(paints, int(double(elapsed.elapsed()) / frameMs) + 2);
}
