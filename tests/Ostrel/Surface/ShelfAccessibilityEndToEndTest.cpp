// The real application on a private X server and session bus with the desktop's accessibility
// registry: the open shelf as a screen reader reads it over AT-SPI, its filter button pressed
// through its accessible action, and the selection moving under the arrow keys as focus events.
#include "support/NoisePicture.h"
#include "support/ScreenReader.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace ostrel::test;

namespace {

// Every node of the tree, depth first.
void flatten(const QJsonObject& node, QList<QJsonObject>& out) {
    out.append(node);
    for (const auto& child : node.value(QStringLiteral("children")).toArray()) {
        flatten(child.toObject(), out);
    }
}

QStringList childNames(const QJsonObject& node) {
    QStringList out;
    for (const auto& child : node.value(QStringLiteral("children")).toArray()) {
        out << child.toObject().value(QStringLiteral("name")).toString();
    }
    return out;
}

bool heard(const QJsonArray& events, const QString& role, const QString& prefix) {
    return std::any_of(events.begin(), events.end(), [&](const QJsonValue& v) {
        const QJsonObject e = v.toObject();
        return e.value(QStringLiteral("type")).toString().endsWith(QStringLiteral("focused")) &&
               e.value(QStringLiteral("role")).toString() == role &&
               e.value(QStringLiteral("name")).toString().startsWith(prefix);
    });
}

} // namespace

TEST(ShelfAccessibilityEndToEnd, AScreenReaderReadsTheShelfPressesTheFilterButtonAndHearsFocus) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    SessionBus bus(screenReaderBusEnvironment(x));
    ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
    if (const QString why = enableAccessibility(bus); !why.isEmpty()) {
        GTEST_SKIP() << "the accessibility registry could not start: " << why.toStdString();
    }

    x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                   QJsonDocument(QJsonObject{{QStringLiteral("displayStyle"), "notch"},
                                             {QStringLiteral("layout"), "rail"}})
                       .toJson());
    QProcessEnvironment env;
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    ASSERT_TRUE(waitUntil(
        [&] {
            return x.appLog().contains("the shortcut is registered") &&
                   x.appLog().contains("watching ");
        },
        20))
        << x.appLog().toStdString();
    // Three pictures arrive while the application runs: they are new.
    const QString folder = x.scratchpad();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(noisePicture(160, 120, quint32(i + 1))
                        .save(folder + QStringLiteral("/chart-%1.png").arg(i)));
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added ")) >= 3; }, 20))
        << x.appLog().toStdString();
    x.moveTo(QPoint(960, 900));
    x.xdotool({QStringLiteral("key"), QStringLiteral("alt+space")});

    const ReaderRun reader =
        runScreenReader(x, bus, QStringLiteral(OSTREL_TEST_FOLDER "/ShelfAccessibilityReader.py"));
    ASSERT_TRUE(reader.finished) << "the reader hangs";
    const QByteArray out = reader.out;
    ASSERT_EQ(reader.exitCode, 0) << out.toStdString() << reader.err.toStdString()
                                  << x.appLog().toStdString();
    const QJsonObject result = QJsonDocument::fromJson(out).object();

    QList<QJsonObject> nodes;
    flatten(result.value(QStringLiteral("tree")).toObject(), nodes);
    const auto node = [&](const QString& role) {
        return std::find_if(nodes.begin(), nodes.end(), [&](const QJsonObject& n) {
            return n.value(QStringLiteral("role")).toString() == role;
        });
    };
    const auto header = node(QStringLiteral("tool bar"));
    ASSERT_NE(header, nodes.end()) << out.toStdString();
    EXPECT_EQ(childNames(*header),
              (QStringList{"Project: All projects", "3 new", "Filters", "Ostrel menu"}))
        << out.toStdString();
    QStringList cards;
    for (const QJsonObject& n : nodes) {
        const QString name = n.value(QStringLiteral("name")).toString();
        if (n.value(QStringLiteral("role")).toString() == QStringLiteral("push button") &&
            name.startsWith(QStringLiteral("chart-"))) {
            cards << name.section(QStringLiteral(", "), 0, 1);
            EXPECT_TRUE(n.value(QStringLiteral("actions")).toArray().contains("Press"));
        }
    }
    cards.sort();
    EXPECT_EQ(cards,
              (QStringList{"chart-0.png, Image", "chart-1.png, Image", "chart-2.png, Image"}))
        << out.toStdString();

    // The press opened the kind menu, whose first entry took the focus on Down; the arrow on
    // the shelf then put the focus on a card.
    const QJsonArray events = result.value(QStringLiteral("events")).toArray();
    EXPECT_TRUE(heard(events, QStringLiteral("menu item"), QStringLiteral("Images")))
        << out.toStdString();
    EXPECT_TRUE(heard(events, QStringLiteral("push button"), QStringLiteral("chart-")))
        << out.toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}
