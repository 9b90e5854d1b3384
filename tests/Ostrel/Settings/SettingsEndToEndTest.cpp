// The real binary on a private X server, without a window manager, under openbox, and under
// openbox with a compositor: Settings on screens smaller than its window, and the keyboard's and
// a screen reader's way through its sidebar.
#include "OstrelCore/Update/LoopbackServer.h"
#include "OstrelCore/Update/ReleaseMaker.h"
#include "support/ClientWindows.h"
#include "support/ScreenReader.h"
#include "support/TempDir.h"
#include "support/TestScreen.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslKey>

#include <iostream>

#include <unistd.h>

#include <optional>

#include <gtest/gtest.h>

using namespace ostrel::test;

namespace {

QString storedPane(XServer& x) {
    QFile file(x.home().file(QStringLiteral("config/Ostrel/defaults.json")));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object().value("preferencesPane").toString();
}

// Starts the application (`binary`) and brings Settings up the way a second launch does; its
// window id.
quint32 openSettings(XServer& x, const QProcessEnvironment& env = {},
                     const QString& binary = QStringLiteral(OSTREL_BINARY)) {
    if (!x.startApp(binary, {}, env) ||
        !waitUntil([&] { return x.appLog().contains("watching "); }, 20)) {
        ADD_FAILURE() << x.appLog().toStdString();
        return 0;
    }
    QProcess again;
    QProcessEnvironment both = x.environment();
    for (const QString& key : env.keys()) {
        both.insert(key, env.value(key));
    }
    again.setProcessEnvironment(both);
    again.start(binary, {});
    again.waitForFinished(30000);
    quint32 settings = 0;
    waitUntil(
        [&] {
            settings = windowNamed(x, "Settings");
            return settings != 0 && x.window(settings) && x.window(settings)->viewable;
        },
        20);
    return settings;
}

} // namespace

// Settings of the real binary with a screen reader's registry on a private bus, read by the
// reader script.
class SettingsReadAloud : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        bus.emplace(screenReaderBusEnvironment(x));
        ASSERT_TRUE(bus->ok()) << bus->error().toStdString();
        if (const QString why = enableAccessibility(*bus); !why.isEmpty()) {
            GTEST_SKIP() << "the accessibility registry could not start: " << why.toStdString();
        }
    }

    // Brings Settings up from `binary` and runs the reader with `arguments`: what it reports,
    // its words kept in `out`. Empty, with the failure reported, when it could not.
    QJsonObject read(const QStringList& arguments = {},
                     const QString& binary = QStringLiteral(OSTREL_BINARY)) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus->address());
        if (openSettings(x, env, binary) == 0) {
            ADD_FAILURE() << "no Settings window: " << x.appLog().toStdString();
            return {};
        }
        const ReaderRun reader = runScreenReader(
            x, *bus, QStringLiteral(OSTREL_TEST_FOLDER "/SettingsAccessibilityReader.py"),
            arguments);
        out = reader.out;
        if (!reader.finished || reader.exitCode != 0) {
            ADD_FAILURE() << (reader.finished ? "the reader failed: " : "the reader hangs: ")
                          << out.toStdString() << reader.err.toStdString();
            return {};
        }
        return QJsonDocument::fromJson(out).object();
    }

    XServer x;
    std::optional<SessionBus> bus;
    QByteArray out;
};

// "Check for Updates" on the About pane: the update window comes up on its check, which fails.
// A screen reader hears the focus move into the window and end on its "OK", which says the
// failure; the window then reads as an alert, and holds no picture or nameless filler.
TEST_F(SettingsReadAloud, TheUpdateWindowKeepsTheFocusAndSaysItsFailure) {
    const QJsonObject result = read({QStringLiteral("update")}, QStringLiteral(OSTREL_FEED_BINARY));
    ASSERT_FALSE(result.isEmpty());
    QStringList heard;
    for (const QJsonValue& v : result.value(QStringLiteral("focus")).toArray()) {
        const QJsonObject e = v.toObject();
        if (e.value("window").toString() == "Software Update") {
            heard.append(e.value("role").toString() + u' ' + e.value("name").toString() + u' ' +
                         e.value("description").toString().section(u'.', 0, 0));
        }
    }
    ASSERT_FALSE(heard.isEmpty()) << out.toStdString();
    EXPECT_EQ(heard.last(), "push button OK Ostrel couldn't check for updates")
        << out.toStdString();
    const QJsonObject window = result.value(QStringLiteral("window")).toObject();
    EXPECT_EQ(window.value("role").toString(), "alert") << out.toStdString();
    EXPECT_EQ(window.value("focused").toString(), "OK") << out.toStdString();
    EXPECT_EQ(window.value("nameless").toArray(), QJsonArray()) << out.toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}

// Debian's own screen reader, Orca, on the real binary through a whole update from the keyboard:
// "Check for Updates" on the About pane brings the offer from the test's own feed, Return on
// "Install" the download, and the archive, slowly received, then fails to install. Orca speaks
// the offer with its default button, the download as a busy bar named for it while the archive
// still trickles in, and the failure as an alert.
TEST_F(SettingsReadAloud, DebiansScreenReaderSpeaksTheOfferTheDownloadAndTheFailure) {
    // Root's copy is refused before anything is downloaded: as root the test runs again, whole,
    // as "nobody".
    if (::geteuid() == 0) {
        const testing::TestInfo* self = testing::UnitTest::GetInstance()->current_test_info();
        QProcess again;
        again.setProcessChannelMode(QProcess::MergedChannels);
        again.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                "--", QCoreApplication::applicationFilePath(),
                                                QStringLiteral("--gtest_filter=%1.%2")
                                                    .arg(QLatin1String(self->test_suite_name()),
                                                         QLatin1String(self->name()))});
        const bool ended = again.waitForFinished(110000);
        const QByteArray said = again.readAll();
        EXPECT_TRUE(ended && again.exitStatus() == QProcess::NormalExit && again.exitCode() == 0 &&
                    said.contains("[  PASSED  ] 1 test."))
            << said.toStdString();
        const qsizetype heard = said.indexOf("The download was heard");
        std::cout << said.mid(heard, said.indexOf('\n', heard) + 1 - heard).toStdString();
        return;
    }
    // The feed's TLS server, with a certificate authority of its own that the build trusts.
    const TempDir keys;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-addext", "basicConstraints=critical,CA:TRUE",
                   "-keyout", keys.file("key.pem"), "-out", keys.file("cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0)
        << openssl.readAllStandardError().toStdString();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    QFile cert(keys.file("cert.pem"));
    QFile key(keys.file("key.pem"));
    ASSERT_TRUE(cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
    tls.setLocalCertificate(QSslCertificate(&cert));
    tls.setPrivateKey(QSslKey(&key, QSsl::Ec));
    LoopbackServer server(tls);
    ReleaseMaker maker;
    maker.root = keys.path();
    // A copy that may update itself: the build in a signed install folder of its own.
    const QString install = maker.installFolder(QStringLiteral("install"), 1, {}, false);
    const QString binary = install + QStringLiteral("/bin/ostrel");
    ASSERT_TRUE(QFile::remove(binary) &&
                QFile::copy(QStringLiteral(OSTREL_TEST_FEED_BINARY), binary));
    maker.signFolder(install);
    server.route("/feed",
                 LoopbackServer::answer(200, maker.feed("archive", 3, server.url("/Ostrel.zip"))));
    // Received whole after three and a half seconds; its signature is not the build's key's.
    server.route("/Ostrel.zip", LoopbackServer::trickling("archive", 500));

    Orca orca(x, *bus, QStringLiteral(OSTREL_TEST_FOLDER "/../../support/OrcaSpeech.py"));
    ASSERT_GE(orca.waitFor(QStringLiteral("Screen reader on"), 0), 0)
        << orca.errors().toStdString();
    QProcessEnvironment env;
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus->address());
    env.insert(QStringLiteral("OSTREL_TEST_FEED"), server.url("/feed"));
    env.insert(QStringLiteral("OSTREL_TEST_AUTHORITY"), keys.file("cert.pem"));
    const quint32 settings = openSettings(x, env, binary);
    ASSERT_NE(settings, 0u);
    const auto heard = [&] { return orca.said().join(u'\n').toStdString(); };

    // Tab to the sidebar, End to the About pane, Tab to its "Check for Updates", Space.
    x.key(QStringLiteral("Tab"));
    ASSERT_GE(orca.waitFor(QStringLiteral("General"), 0), 0) << heard();
    x.key(QStringLiteral("End"));
    ASSERT_GE(orca.waitFor(QStringLiteral("About"), 0), 0) << heard();
    x.key(QStringLiteral("Tab"));
    const int check = orca.waitFor(QStringLiteral("Check for Updates"), 0);
    ASSERT_GE(check, 0) << heard();
    x.key(QStringLiteral("space"));
    // The offer: "Install", its default, which says it.
    const int offer = orca.waitFor(QStringLiteral("Install push button."), check + 1);
    ASSERT_GE(offer, 0) << heard();
    ASSERT_GE(orca.waitFor(QStringLiteral("Ostrel 2.3"), offer + 1), offer + 1) << heard();
    EXPECT_TRUE(orca.said().at(offer + 1).startsWith("Ostrel 2.3 is available. You have "))
        << heard();

    // The download: heard as a busy bar named for it, with no untrue percentage, while the
    // archive still comes in.
    QElapsedTimer sinceReturn;
    sinceReturn.start();
    x.key(QStringLiteral("Return"));
    const int download = orca.waitFor(QStringLiteral("Downloading Ostrel…"), offer + 2);
    const qint64 downloadHeard = sinceReturn.elapsed();
    ASSERT_GE(download, 0) << heard();
    std::cout << "The download was heard " << downloadHeard << " ms after Return.\n";
    const int failure = orca.waitFor(QStringLiteral("alert "), download);
    ASSERT_GE(failure, 0) << heard();
    // Heard first, and no percentage until the failure (the next phase, "Installing…" with its
    // words, may be caught on its way).
    EXPECT_EQ(download, offer + 2) << heard();
    EXPECT_EQ(orca.said().at(download), "Downloading Ostrel… progress bar.") << heard();
    EXPECT_FALSE(orca.said().mid(download, failure - download).join(u' ').contains("percent"))
        << heard();

    // The failure, after the network's answer: an alert that says it, then "OK", which says it
    // again.
    EXPECT_EQ(orca.said().at(failure), "alert Ostrel couldn't install the update.") << heard();
    const int ok = orca.waitFor(QStringLiteral("OK push button."), failure);
    ASSERT_GE(ok, 0) << heard();
    EXPECT_EQ(ok, failure + 2) << heard();

    // Return on "OK" closes the window, and back in Settings (which no window manager here
    // activates again) Space checks again, on a feed that answers slowly and then with 404: the
    // check is heard, and its failure as an alert.
    LoopbackServer::Route slow404 = LoopbackServer::answer(404, "missing");
    slow404.trickle = true;
    slow404.intervalMs = 300;
    server.route("/feed", slow404);
    x.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitUntil([&] { return windowNamed(x, QStringLiteral("Software Update")) == 0; }));
    x.xdotool({QStringLiteral("windowfocus"), QString::number(settings)});
    const int back = orca.waitFor(QStringLiteral("Check for Updates push button."), ok + 1);
    ASSERT_GE(back, 0) << heard();
    x.key(QStringLiteral("space"));
    const int checking = orca.waitFor(QStringLiteral("Checking for updates…"), back + 1);
    ASSERT_GE(checking, 0) << heard();
    const int checkFailure = orca.waitFor(QStringLiteral("alert "), checking + 1);
    ASSERT_GE(checkFailure, 0) << heard();
    EXPECT_EQ(orca.said().at(checkFailure), "alert Ostrel couldn't check for updates.") << heard();
    EXPECT_EQ(x.stopApp(), 0);
}

class SettingsOnSmallScreens : public testing::TestWithParam<TestScreen> {};

// A screen shorter than the window: the whole window lies within the work area, the About row at
// the foot of the sidebar included; Tab reaches the sidebar with its ring, Down shows the next
// pane and End the last.
TEST_P(SettingsOnSmallScreens, TheWindowFitsTheWorkAreaAndTheKeyboardChangesPanes) {
    const TestScreen screen = GetParam();
    XServer x(screen.options());
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.reservePanels(screen.panels);
    const quint32 settings = openSettings(x, screen.environment());
    ASSERT_NE(settings, 0u) << x.appLog().toStdString();
    const QRect work = QRect(QPoint(0, 0), screen.size).marginsRemoved(screen.panels);
    // Fitted again once the window manager's frame is known.
    ASSERT_TRUE(waitUntil([&] { return work.contains(outerFrame(x, settings)); }, 10))
        << outerFrame(x, settings).y() << " " << outerFrame(x, settings).height();
    pump(0.5);
    const QRect inner = x.window(settings)->geometry;
    const double s = screen.scale;
    // The About row's grey tile, near the foot of the sidebar (above a scroll bar, where the
    // window is narrower than the panes): shown, not cut off below the screen.
    const auto px = [&](double v) { return int(std::lround(v * s)); };
    const QImage shot = x.capture();
    x.saveCapture(QStringLiteral("settings-small-") + QLatin1String(screen.name));
    int grey = 0;
    for (int y = inner.bottom() - px(80); y <= inner.bottom(); ++y) {
        const QColor c(shot.pixel(inner.left() + px(8 + 10 + 6 + 3), y));
        grey += std::abs(c.red() - c.blue()) < 12 && c.red() > 100 && c.red() < 175;
    }
    EXPECT_GT(grey, px(12));
    // The keyboard: Tab to the selected pane's row, Down to the next pane.
    x.key(QStringLiteral("Tab"));
    pump(0.3);
    x.key(QStringLiteral("Down"));
    EXPECT_TRUE(waitUntil([&] { return storedPane(x) == QStringLiteral("displays"); }, 10));
    pump(0.5);
    const QImage after = x.capture();
    x.saveCapture(QStringLiteral("settings-small-keyboard-") + QLatin1String(screen.name));
    // The ring around the Displays row: the accent just left of its highlight.
    const int rowMiddle = inner.top() + px(8 + 24 + 36 + 24 + 2 + 40 + 18);
    int accent = 0;
    for (int dx = px(8 + 10 - 5); dx < px(8 + 10); ++dx) {
        const QColor c(after.pixel(inner.left() + dx, rowMiddle));
        accent += c.blue() > c.red() + 60;
    }
    EXPECT_GT(accent, 0);
    // End: the About row, at the foot of the sidebar, and its pane.
    x.key(QStringLiteral("End"));
    EXPECT_TRUE(waitUntil([&] { return storedPane(x) == QStringLiteral("about"); }, 10));
    pump(0.5);
    x.saveCapture(QStringLiteral("settings-small-about-") + QLatin1String(screen.name));
    EXPECT_EQ(x.stopApp(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, SettingsOnSmallScreens,
    testing::Values(
        // A 1920 x 1080 laptop at twice the scale with a 32-point bar at the top.
        TestScreen{"1920x1080-scale2-bar", {1920, 1080}, 2, QMargins(0, 64, 0, 0), false, false},
        TestScreen{
            "1920x1080-scale2-bar-openbox", {1920, 1080}, 2, QMargins(0, 64, 0, 0), true, false},
        TestScreen{"1024x600-openbox-xcompmgr", {1024, 600}, 1, QMargins(), true, true},
        TestScreen{"800x600-scale1.25-left-panel-openbox",
                   {800, 600},
                   1.25,
                   QMargins(40, 0, 0, 0),
                   true,
                   false}),
    TestScreen::testName);

// A screen reader hears the sidebar's pane that takes the keyboard, as a selected list item, and
// each "Change…" of the Folders pane as the folder it changes. Reading every pane, it finds each
// window announced as one, no stop without a name, each segmented control a named group of
// choices with the chosen one checked, the menus named by their rows and the steppers by their
// units.
TEST_F(SettingsReadAloud, AScreenReaderHearsThePaneTheArrowsChooseInTheSidebar) {
    const QJsonObject result = read();
    ASSERT_FALSE(result.isEmpty());
    const QJsonArray events = result.value(QStringLiteral("events")).toArray();
    const auto heard = [&](const QString& name) {
        return std::any_of(events.begin(), events.end(), [&](const QJsonValue& v) {
            const QJsonObject e = v.toObject();
            return e.value("type").toString().endsWith("focused") &&
                   e.value("role").toString() == "list item" &&
                   e.value("name").toString() == name && e.value("selected").toBool();
        });
    };
    EXPECT_TRUE(heard(QStringLiteral("General"))) << out.toStdString();
    // The segment the picker holds as it takes the keyboard, then the one Right chooses.
    QStringList segments;
    for (const QJsonValue& v : events) {
        if (v.toObject().value("role").toString() == "radio button") {
            segments.append(v.toObject().value("name").toString());
        }
    }
    EXPECT_EQ(segments, (QStringList{"Session sidebar", "Turn stacks"})) << out.toStdString();
    EXPECT_TRUE(heard(QStringLiteral("Displays"))) << out.toStdString();
    const QJsonArray list = result.value(QStringLiteral("list")).toArray();
    EXPECT_EQ(list.size(), 6) << out.toStdString();
    const QJsonArray buttons = result.value(QStringLiteral("buttons")).toArray();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Change Sessions Folder"))) << out.toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Change Scratchpads Folder"))) << out.toStdString();

    EXPECT_EQ(result.value("read").toArray().size(), 6) << out.toStdString();
    EXPECT_EQ(result.value("faults").toArray(), QJsonArray()) << out.toStdString();
    const QJsonObject windows = result.value("windows").toObject();
    EXPECT_EQ(windows.value("Settings").toString(), "frame");
    const QJsonObject groups = result.value("groups").toObject();
    EXPECT_EQ(groups, (QJsonObject{{"Shelf style", "Notch"},
                                   {"Shelf arrangement", "Session sidebar"},
                                   {"Signal", "Glow"}}));
    const QJsonObject roles = result.value("roles").toObject();
    EXPECT_EQ(roles.value("Glow strength").toString(), "combo box");
    EXPECT_EQ(roles.value("Pulse count").toString(), "combo box");
    EXPECT_EQ(roles.value("Days").toString(), "spin button");
    EXPECT_EQ(roles.value("Items").toString(), "spin button");
    EXPECT_EQ(roles.value("Keyboard shortcut").toString(), "push button");
    EXPECT_EQ(roles.value("Watched folders").toString(), "list");
    EXPECT_EQ(result.value("listName").toString(), "Settings panes");
    EXPECT_EQ(storedPane(x), QStringLiteral("about"));
    EXPECT_EQ(x.stopApp(), 0);
}

// Tab into a segmented control, forward or back, ends on the chosen segment, the one choice that
// says it has the keyboard, and a Tab that leaves it before it is heard of leaves it unheard of;
// each pane's heading is read as a heading, and no pane holds a picture
// a screen reader would stop at.
TEST_F(SettingsReadAloud, TabEndsOnTheChosenSegmentAndEachPaneHasAHeading) {
    const QJsonObject result = read({QStringLiteral("focus")});
    ASSERT_FALSE(result.isEmpty());

    // What each key brought last: the chosen segment of the picker it reached, or the next stop.
    QStringList last;
    for (const QJsonValue& k : result.value("keys").toArray()) {
        const QJsonArray heard = k.toObject().value("heard").toArray();
        const QJsonObject e = heard.isEmpty() ? QJsonObject() : heard.last().toObject();
        QString said = e.value("role").toString() + u' ' + e.value("name").toString();
        if (e.value("role").toString() == "radio button") {
            said += e.value("checked").toBool() ? QStringLiteral(" checked") : QString();
            said += QStringLiteral(", %1 focused").arg(e.value("focusedChoices").toInt());
        }
        last.append(said);
    }
    EXPECT_EQ(last,
              (QStringList{"list item General", "list item Displays",
                           "radio button Notch checked, 1 focused", "list item Displays",
                           "list item Shelf", "radio button Session sidebar checked, 1 focused",
                           "check box Reveal shelf on active display only",
                           "radio button Glow checked, 1 focused",
                           "check box Reveal shelf on active display only",
                           "radio button Session sidebar checked, 1 focused", "list item Shelf",
                           "check box Reveal shelf on active display only", "list item Shelf",
                           "list item Files", "list item Folders", "list item About"}))
        << out.toStdString();

    const QJsonObject headings = result.value("headings").toObject();
    for (const QString pane : {"General", "Displays", "Shelf", "Files", "Folders", "About"}) {
        EXPECT_EQ(headings.value(pane).toObject(),
                  (QJsonObject{{"role", "heading"}, {"name", pane}}))
            << pane.toStdString() << out.toStdString();
        EXPECT_EQ(result.value("pictures").toObject().value(pane).toArray(), QJsonArray())
            << pane.toStdString();
    }
    EXPECT_EQ(x.stopApp(), 0);
}
