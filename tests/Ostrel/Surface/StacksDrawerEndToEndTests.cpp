// The real binary on a private X server, its shelf arranged as turn stacks over a store of 5,000
// pictures in 2,000 turns: the drawer opens at once, the wheel carries the strip far along, and
// the decks it reaches show their pictures, while the decks left behind stay unread.
#include "StacksRig.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Records/Preferences.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/UserDefaults.h"
#include "support/NoisePicture.h"
#include "support/SavedIndex.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QRect screen(0, 0, 1920, 1080);

QRect drawerRect() {
    const QRectF frame(0, 0, screen.width(), screen.height());
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::fromRawValue(QStringLiteral("notch")).value(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::stacks), 0);
    return QRectF(r.x(), screen.height() - (r.y() + r.height()), r.width(), r.height())
        .toAlignedRect();
}

// 5,000 unread pictures in 2,000 turns of 10 sessions, each with its stored thumbnail (one file
// linked under every name, which is quicker than writing each).
void fillStore(const QString& root) {
    auto store = Store::make(QUrl::fromLocalFile(root), [] { return Date::now(); });
    const QString thumb = root + QStringLiteral("/picture.jpg");
    ASSERT_TRUE(noisePicture(320, 240, 5).save(thumb, "JPG"));
    const double now = Date::now().seconds;
    int item = 0;
    for (int t = 0; t < 2000; ++t) {
        const QString session = QStringLiteral("session-%1").arg(t % 10);
        const double at = now - 3600 + t;
        if (t < 10) {
            store->upsert(Session(session, std::nullopt, QStringLiteral("/work/p%1").arg(t),
                                  QStringLiteral("main"), Date(at), Date(now)));
        }
        const QString prompt = QStringLiteral("prompt-%1").arg(t);
        store->upsert(Prompt{prompt, session, Date(at), QStringLiteral("Turn %1").arg(t)});
        for (const int end = 5000 * (t + 1) / 2000; item < end; ++item) {
            ShelfItem i;
            i.id = QStringLiteral("item-%1").arg(item, 4, 10, QLatin1Char('0'));
            i.title = i.id + QStringLiteral(".png");
            i.sessionID = session;
            i.promptID = prompt;
            i.sourceKinds = {Source::scratchpad};
            i.createdAt = Date(at + 0.1 * (item % 3));
            store->upsert(i);
            ASSERT_EQ(::link(QFile::encodeName(thumb).constData(),
                             QFile::encodeName(store->thumbURL(i.id).toLocalFile()).constData()),
                      0);
        }
    }
    store->flush();
}

} // namespace

TEST(StacksDrawerEndToEnd, AStripOfThousandsOfTurnsScrollsFarAndShowsThePicturesItReaches) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString support = x.home().file(QStringLiteral("data/Ostrel"));
    fillStore(support);
    UserDefaults defaults(x.home().file(QStringLiteral("config/Ostrel")),
                          QStringLiteral("defaults"));
    Preferences prefs;
    prefs.layout = LayoutChoice::stacks;
    prefs.maxItems = 5000;
    prefs.save(defaults);
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY))) << x.appLog().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));

    const QRect drawer = drawerRect();
    const QRect strip(drawer.x() + 20, drawer.y() + 40, drawer.width() - 40, 80);
    x.moveTo(QPoint(screen.width() / 2, 2));
    ASSERT_TRUE(waitUntil([&] { return colourful(x.capture(), strip) > 2000; }, 20))
        << x.appLog().toStdString();
    x.saveCapture(QStringLiteral("stacks-drawer-start"));
    pump(0.8);

    // Three hundred notches, 7,200 points along: the decks there come with their pictures.
    x.moveTo(strip.center());
    pump(0.2);
    for (int i = 0; i < 300; ++i) {
        x.click(5);
    }
    // Once the strip stands where the wheel took it, with the pictures it reached.
    x.steadyCapture(strip);
    ASSERT_TRUE(waitUntil([&] { return colourful(x.capture(), strip) > 2000; }))
        << x.appLog().toStdString();
    x.saveCapture(QStringLiteral("stacks-drawer-far"));

    // What stood on screen was seen, which the index says a moment later; the thousands of
    // items it passed by are still new.
    const auto seenInIndex = [&] {
        int seen = 0;
        for (const auto& value : savedIndexItems(x)) {
            seen += value.toObject().contains(QStringLiteral("seenAt")) ? 1 : 0;
        }
        return seen;
    };
    EXPECT_TRUE(waitUntil([&] { return seenInIndex() > 10; }));
    EXPECT_EQ(x.stopApp(), 0);
    const int seen = seenInIndex();
    EXPECT_GT(seen, 10);
    EXPECT_LT(seen, 200);
}
