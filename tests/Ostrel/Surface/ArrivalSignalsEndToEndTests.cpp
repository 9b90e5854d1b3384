// How the real application announces an arrival on a private X server, frame by frame, without a
// compositor (the window cut to its shape, pixels unblended) and with xcompmgr (blended): the
// peek card, the pill line, the count and the glow.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QColor pictureGreen(30, 190, 60);

// The shelf's rules on the one screen of `size` logical pixels.
DisplayLayout layoutFor(const QString& style, const QSizeF& size) {
    const QRectF frame(QPointF(), size);
    return DisplayLayout::make(DisplayStyleChoice::fromRawValue(style).value(),
                               NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
}

// A rectangle of the shelf's coordinates (y up) in X pixels (y down) at a display scale.
QRect toX(const QRectF& r, const QSizeF& screen, double scale = 1) {
    return QRectF(r.x() * scale, (screen.height() - (r.y() + r.height())) * scale,
                  r.width() * scale, r.height() * scale)
        .toAlignedRect();
}

bool near(QRgb p, const QColor& c, int tolerance = 40) {
    return std::abs(qRed(p) - c.red()) < tolerance && std::abs(qGreen(p) - c.green()) < tolerance &&
           std::abs(qBlue(p) - c.blue()) < tolerance;
}

bool black(QRgb p) {
    return std::max({qRed(p), qGreen(p), qBlue(p)}) < 24;
}

int countIn(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            n += test(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// Keeps a capture beside the test binary, to be looked at.
void keep(const QImage& image, const QString& name) {
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/captures");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Black pixels of a capture outside `allowed`.
int blackOutside(const QImage& image, const QRect& allowed) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += !allowed.contains(x, y) && black(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// A picture whose upper half is one green band (what the peek card shows of it) and whose lower
// half is noise, so that its file passes the item filter's size floor.
void writePicture(const XServer& x, const QString& name, quint32 seed) {
    QImage picture(320, 240, QImage::Format_RGB32);
    for (int row = 0; row < 240; ++row) {
        for (int col = 0; col < 320; ++col) {
            seed = seed * 1664525u + 1013904223u;
            // Bright noise: nothing of the picture passes for black.
            picture.setPixel(col, row, row < 120 ? pictureGreen.rgb() : ((seed >> 8) | 0x808080u));
        }
    }
    ASSERT_TRUE(picture.save(x.scratchpad() + QLatin1Char('/') + name + QStringLiteral(".png")));
}

void choose(const XServer& x, const QJsonObject& prefs) {
    x.home().write(QStringLiteral("config/Ostrel/defaults.json"), QJsonDocument(prefs).toJson());
}

// Starts the application at the real speed of its animations, and waits for its panel.
bool startShelf(XServer& x, const QProcessEnvironment& extra = {}) {
    QProcessEnvironment env = extra;
    if (!env.contains(QStringLiteral("OSTREL_MOTION_SCALE"))) {
        env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("1"));
    }
    if (!x.startApp(QStringLiteral(OSTREL_BINARY), {}, env)) {
        return false;
    }
    const bool shown = waitUntil(
        [&] {
            const auto windows = x.appWindows();
            return std::any_of(windows.begin(), windows.end(),
                               [](const auto& w) { return w.viewable && w.overrideRedirect; });
        },
        20);
    pump(0.5);
    return shown;
}

// Captures `area` every frame or so, handing each capture to `look`, until `done` says the
// motion watched for is over (or 30 seconds pass).
void watch(XServer& x, const QRect& area, const std::function<void(const QImage&, int)>& look,
           const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    for (int frame = 0; !done() && clock.elapsed() < 30000; ++frame) {
        look(x.capture(area), frame);
        pump(0.01);
    }
}

// Whether a watched motion has ended: true once `shows` held for the frames of `seconds`.
class Lasting {
public:
    explicit Lasting(double seconds) : seconds_(seconds) {}
    void see(bool shows) {
        if (!shows) {
            since_.invalidate();
        } else if (!since_.isValid()) {
            since_.start();
        }
    }
    bool over() const { return since_.isValid() && since_.elapsed() >= seconds_ * 1000; }

private:
    double seconds_;
    QElapsedTimer since_;
};

// A pill's first arrival after start: the peek card slides out with the picture, and no frame
// shows black around the card, the pill line or where a glow would be, before or after a
// compositor starts.
void pillArrival(const QString& style) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    choose(x, QJsonObject{{QStringLiteral("displayStyle"), style},
                          {QStringLiteral("pillPile"), QStringLiteral("count")}});
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    const QSizeF screen(1920, 1080);
    const DisplayLayout layout = layoutFor(style, screen);
    const QRect panel = toX(layout.panelFrame(), screen);
    const QRect card = toX(layout.peekCardRect(), screen).translated(-panel.topLeft());

    writePicture(x, QStringLiteral("chart"), 7);
    int blackFrames = 0;
    int peeking = 0;
    QImage last;
    int kept = 0;
    // From the picture's writing until the card has stood out for a second: its slide is over,
    // and it stays for three more, long enough for the next picture to join it.
    Lasting out(1.0);
    watch(
        x, panel,
        [&](const QImage& frame, int) {
            if (countIn(frame, frame.rect(), black) > 0) {
                if (++blackFrames == 1) {
                    keep(frame, QStringLiteral("arrival-%1-black").arg(style));
                }
            }
            const bool shows = countIn(frame, card, [](QRgb p) { return near(p, pictureGreen); }) >
                               card.width() * card.height() / 4;
            peeking += shows ? 1 : 0;
            out.see(peeking > 0);
            // The frames of the motion itself.
            if (frame != last && kept < 12) {
                keep(frame, QStringLiteral("arrival-%1-%2").arg(style).arg(kept++));
            }
            last = frame;
        },
        [&] { return out.over(); });
    EXPECT_EQ(blackFrames, 0) << style.toStdString();
    EXPECT_GT(peeking, 0) << "the first capture after start brought no peek card";

    // A second picture while the card shows: the count pile's badge says 2 in its 9-pixel
    // font, its digit well under the 12 pixels a 9-point font would take.
    writePicture(x, QStringLiteral("chart-2"), 8);
    // The badge's digit is the only near-black in the card's corner (the dot's rim is lighter).
    const QRect corner(card.right() - 30, card.top(), 30, 30);
    const auto ink = [](QRgb p) { return std::max({qRed(p), qGreen(p), qBlue(p)}) < 60; };
    ASSERT_TRUE(waitUntil([&] { return countIn(x.capture(panel), corner, ink) > 6; }));
    const QImage shown = x.steadyCapture(panel);
    int top = INT_MAX;
    int bottom = -1;
    for (int y = corner.top(); y <= corner.bottom(); ++y) {
        for (int xx = corner.left(); xx <= corner.right(); ++xx) {
            if (ink(shown.pixel(xx, y))) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    keep(shown, QStringLiteral("arrival-%1-badge").arg(style));
    EXPECT_GE(bottom - top + 1, 5);
    EXPECT_LE(bottom - top + 1, 8);

    // A compositor that starts while the card shows: the card stays, blended, with no black
    // around it.
    ASSERT_TRUE(x.startCompositor());
    const auto green = [](QRgb p) { return near(p, pictureGreen); };
    QImage blended;
    EXPECT_TRUE(waitUntil([&] {
        blended = x.capture(panel);
        return countIn(blended, card, green) > card.width() * card.height() / 4 &&
               blackOutside(blended, card) == 0;
    })) << countIn(blended, card, green)
        << " green, " << blackOutside(blended, card) << " black";
    keep(blended, QStringLiteral("arrival-%1-composited").arg(style));
    EXPECT_EQ(x.stopApp(), 0);
}

} // namespace

TEST(ArrivalSignals, AFirstArrivalOnALeftPillPeeksWithoutBlack) {
    pillArrival(QStringLiteral("pill-left"));
}

TEST(ArrivalSignals, AFirstArrivalOnABottomPillPeeksWithoutBlack) {
    pillArrival(QStringLiteral("pill-bottom"));
}

// The count signal beside the notch shows its digits, white on the notch's black, without and
// with a compositor; over a coloured window, so that a hole in the shape would show.
TEST(ArrivalSignals, TheCountShowsItsDigitsWithAndWithoutACompositor) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    choose(x, QJsonObject{{QStringLiteral("arrivalSignal"), QStringLiteral("count")}});
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    x.createWindow(QRect(0, 0, 1920, 300), QColor(40, 80, 220));
    const QSizeF screen(1920, 1080);
    const DisplayLayout layout = layoutFor(QStringLiteral("notch"), screen);
    const QRect panel = toX(layout.panelFrame(), screen);
    writePicture(x, QStringLiteral("chart"), 7);
    // The count's room: the last 24 points of the widened rest shape, 3 points in.
    const QRect rest = toX(layout.restRect(24), screen);
    // Above the shape's rounded lower corner.
    const QRect digits(rest.right() - 24 - 3, rest.top(), 24, rest.height() - 12);
    const auto white = [](QRgb p) { return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200; };
    const auto blue = [](QRgb p) { return near(p, QColor(40, 80, 220), 20); };
    const QRect all(QPoint(), digits.size());
    // Black only where the notch's shape is (its flared ends reach a little beyond), in every
    // frame of the count's widening.
    const QRect shape = rest.translated(-panel.topLeft()).adjusted(-12, 0, 12, 0);
    int blackFrames = 0;
    QImage last;
    int kept = 0;
    // From the picture's writing until the digits have stood still for half a second.
    Lasting still(0.5);
    const QRect digitsInPanel = digits.translated(-panel.topLeft());
    watch(
        x, panel,
        [&](const QImage& frame, int) {
            blackFrames += blackOutside(frame, shape) > 0 ? 1 : 0;
            still.see(frame == last && countIn(frame, digitsInPanel, white) > 4);
            if (frame != last && kept < 8) {
                keep(frame, QStringLiteral("count-%1").arg(kept++));
            }
            last = frame;
        },
        [&] { return still.over(); });
    EXPECT_EQ(blackFrames, 0);
    ASSERT_TRUE(still.over()) << x.saveCapture(QStringLiteral("count-no-digits")).toStdString();
    QImage shot = x.capture(panel);
    keep(shot, QStringLiteral("count-without-compositor"));
    EXPECT_EQ(countIn(x.capture(digits), all, blue), 0);
    EXPECT_EQ(blackOutside(shot, shape), 0);

    // Once the application has seen the compositor come, the digits stand as before.
    ASSERT_TRUE(x.startCompositor());
    EXPECT_TRUE(waitUntil([&] {
        shot = x.capture(panel);
        return countIn(shot, digitsInPanel, white) > 4 && countIn(shot, digitsInPanel, blue) == 0 &&
               blackOutside(shot, shape) == 0;
    })) << countIn(shot, digitsInPanel, white)
        << " white, " << countIn(shot, digitsInPanel, blue) << " blue, "
        << blackOutside(shot, shape) << " black";
    keep(shot, QStringLiteral("count-with-compositor"));
    EXPECT_EQ(x.stopApp(), 0);
}

// With a compositor the glow around the hover notch's line is a soft halo: it pulses the chosen
// three times and settles at its resting strength. A compositor that stops while the drawer is
// open leaves no black behind.
TEST(ArrivalSignals, WithACompositorTheGlowPulsesSoftlyAndSettles) {
    XServer::Options options;
    options.compositor = true;
    XServer x(options);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    choose(x, QJsonObject{{QStringLiteral("glowPulses"), 3}});
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    const QSizeF screen(1920, 1080);
    const DisplayLayout layout = layoutFor(QStringLiteral("notch"), screen);
    const QRect panel = toX(layout.panelFrame(), screen);
    const QRect line = toX(layout.restRect(0), screen);
    const QRect glowArea(line.left() - 30, line.top(), line.width() + 60, 60);
    // Just under the line's middle, where the glow is strong but never the line itself.
    const QPoint probe = QPoint(line.center().x(), line.top() + 12) - glowArea.topLeft();

    // Pulses: rises of the glow's strength well above where it settles, each falling back near
    // it before the next. The glow is captured from the picture's arrival until it has kept
    // still for a second. Captures that pause for longer than the dip between two pulses may
    // run them into one: such a round tells nothing, and another picture brings another.
    std::vector<int> reds;
    int speckled = 0;
    for (int round = 0; round < 5 && reds.empty(); ++round) {
        writePicture(x, QStringLiteral("chart-%1").arg(round), 7 + round);
        std::vector<int> seen;
        std::vector<qint64> times;
        std::vector<QImage> panels;
        QElapsedTimer clock;
        clock.start();
        qint64 still = 0;
        while (clock.elapsed() < 30000 &&
               (times.empty() || still == 0 || times.back() - still < 1000)) {
            const QImage frame = x.capture(glowArea);
            times.push_back(clock.elapsed());
            seen.push_back(qRed(frame.pixel(probe)));
            if (seen.size() > 1 && seen.back() != seen[seen.size() - 2]) {
                still = times.back();
            }
            // Soft: neighbouring pixels of the glow differ little, and it never turns opaque.
            for (int y = 4; y < frame.height() - 1; y += 3) {
                for (int xx = 0; xx < frame.width() - 1; ++xx) {
                    const QRgb a = frame.pixel(xx, y);
                    const QRgb b = frame.pixel(xx + 1, y);
                    const int step =
                        std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
                    speckled += step > 16 ? 1 : 0;
                }
            }
            if (round == 0 && seen.size() % 6 == 1 && panels.size() < 10) {
                panels.push_back(x.capture(panel));
            }
            pump(0.01);
        }
        for (std::size_t n = 0; n < panels.size(); ++n) {
            keep(panels[n], QStringLiteral("glow-%1").arg(n * 6));
        }
        ASSERT_NE(still, 0) << "no glow came";
        ASSERT_GE(times.back() - still, 1000) << "the glow never settled";
        const int settled = seen.back();
        const int peak = *std::max_element(seen.begin(), seen.end());
        // From the first change to the last capture well above the rest.
        std::size_t first = 1;
        while (first < seen.size() && seen[first] == seen[0]) {
            ++first;
        }
        std::size_t last = seen.size() - 1;
        while (last > first && seen[last] <= settled + (peak - settled) / 2) {
            --last;
        }
        qint64 longestPause = 0;
        for (std::size_t n = first; n <= last; ++n) {
            longestPause = std::max(longestPause, times[n] - times[n - 1]);
        }
        if (longestPause <= 100) {
            reds = seen;
        }
    }
    ASSERT_FALSE(reds.empty()) << "no round was captured closely enough to tell its pulses apart";
    const int settled = reds.back();
    EXPECT_GT(settled, 140) << "no glow"; // over xcompmgr's grey of 128
    EXPECT_LT(settled, 200) << "an opaque glow";
    int pulses = 0;
    bool high = false;
    for (const int r : reds) {
        if (!high && r > settled + 8) {
            high = true;
            ++pulses;
        } else if (high && r < settled + 4) {
            high = false;
        }
    }
    EXPECT_EQ(pulses, 3);
    EXPECT_EQ(speckled, 0);

    // The drawer opens; the compositor goes away and comes back.
    x.moveTo(toX(layout.hotZone(0), screen).center());
    const QRect drawer =
        toX(layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0), screen);
    // Clear of the header, the sidebar's rows and the cards: the drawer's black surface.
    const QPoint surface(drawer.width() / 5, drawer.height() * 4 / 5);
    ASSERT_TRUE(waitUntil([&] { return black(x.capture(drawer).pixel(surface)); }));
    ASSERT_TRUE(x.stopCompositor());
    // Until the application has seen the compositor go, its window may still show black.
    QImage shot;
    const QRect inside = drawer.translated(-panel.topLeft()).adjusted(-12, -2, 12, 2);
    EXPECT_TRUE(waitUntil([&] {
        shot = x.capture(panel);
        return blackOutside(shot, inside) == 0;
    })) << blackOutside(shot, inside);
    keep(shot, QStringLiteral("glow-compositor-stopped"));
    EXPECT_TRUE(black(x.capture(drawer).pixel(surface)));
    ASSERT_TRUE(x.startCompositor());
    keep(x.steadyCapture(panel), QStringLiteral("glow-compositor-back"));
    EXPECT_TRUE(black(x.capture(drawer).pixel(surface)));
    EXPECT_EQ(x.stopApp(), 0);
}

// A tiny screen shown at twice the scale, and a huge one: the signal shows, nothing is drawn
// outside the panel and nothing black stands around what is drawn.
TEST(ArrivalSignals, TinyScaledAndHugeScreensSignalInsideThePanel) {
    struct Case {
        QSize pixels;
        double scale;
        QString style;
        QString signal;
    };
    for (const Case& c :
         {Case{QSize(640, 480), 2, QStringLiteral("notch"), QStringLiteral("count")},
          Case{QSize(5120, 2880), 1, QStringLiteral("pill-left"), QStringLiteral("glow")}}) {
        XServer::Options options;
        options.size = c.pixels;
        XServer x(options);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        choose(x, QJsonObject{{QStringLiteral("displayStyle"), c.style},
                              {QStringLiteral("arrivalSignal"), c.signal}});
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(c.scale));
        ASSERT_TRUE(startShelf(x, env)) << x.appLog().toStdString();
        const QSizeF screen = QSizeF(c.pixels) / c.scale;
        const DisplayLayout layout = layoutFor(c.style, screen);
        const QRect panel = toX(layout.panelFrame(), screen, c.scale);
        writePicture(x, QStringLiteral("chart"), 7);
        // The count's digit, or the peek card's picture.
        const QRect shown = c.signal == QStringLiteral("count")
                                ? toX(layout.restRect(24), screen, c.scale)
                                : toX(layout.peekCardRect(), screen, c.scale);
        const auto mark = [&](QRgb p) {
            return c.signal == QStringLiteral("count") ? qGray(p) > 200 : near(p, pictureGreen);
        };
        ASSERT_TRUE(waitUntil([&] {
            return countIn(x.capture(shown), QRect(QPoint(), shown.size()), mark) > 20;
        })) << x.saveCapture(QStringLiteral("screens-") + c.style).toStdString();
        // Once the signal's motion is over.
        ASSERT_FALSE(x.steadyCapture(panel.intersected(QRect(QPoint(), c.pixels))).isNull());
        const QImage whole = x.capture();
        // A notch's panel may reach below a tiny screen.
        const QImage inPanel = whole.copy(panel.intersected(whole.rect()));
        keep(inPanel, QStringLiteral("screens-%1-%2").arg(c.pixels.width()).arg(c.style));
        int outside = 0;
        for (int y = 0; y < whole.height(); y += 2) {
            for (int xx = 0; xx < whole.width(); xx += 2) {
                outside += !panel.contains(xx, y) && whole.pixel(xx, y) != qRgb(255, 255, 255);
            }
        }
        EXPECT_EQ(outside, 0);
        const QRect notch = c.signal == QStringLiteral("count")
                                ? shown.translated(-panel.topLeft()).adjusted(-24, 0, 24, 0)
                                : QRect();
        EXPECT_EQ(blackOutside(inPanel, notch), 0);
        EXPECT_EQ(x.stopApp(), 0);
    }
}
