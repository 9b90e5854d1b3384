#include "Ostrel/Update/UpdateWindow.h"
#include "Ostrel/Update/UpdateController.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Platform/UserDefaults.h"

#include "OstrelCore/Update/LoopbackServer.h"
#include "OstrelCore/Update/ReleaseMaker.h"
#include "support/Contrast.h"
#include "support/FocusStops.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextList>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using Kind = UpdateController::Phase::Kind;

// A screen reader's knowledge of the window: it keeps the role it first read of each object, as
// Qt tells it of no change of role.
class RolesRead {
public:
    // Reads every object of `window`'s tree.
    void read(QWidget* window) {
        const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
            remembered(node);
            for (int i = 0; i < node->childCount(); ++i) {
                walk(node->child(i));
            }
        };
        walk(QAccessible::queryAccessibleInterface(window));
    }

    // Whether the focus lies in an alert named `title`, by the roles the reader knows.
    bool focusInAlert(const QString& title) {
        QAccessibleInterface* focus = QAccessible::queryAccessibleInterface(qApp->focusWidget());
        for (QAccessibleInterface* p = focus ? focus->parent() : nullptr; p; p = p->parent()) {
            if (remembered(p) == QAccessible::AlertMessage && p->text(QAccessible::Name) == title) {
                return true;
            }
        }
        return false;
    }

private:
    QAccessible::Role remembered(QAccessibleInterface* node) {
        auto known = roles_.find(node->object());
        if (known == roles_.end() || !known->first) {
            known = roles_.insert(node->object(), {node->object(), node->role()});
        }
        return known->second;
    }

    QHash<QObject*, std::pair<QPointer<QObject>, QAccessible::Role>> roles_;
};

class UpdateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
        maker.root = tmp.path();
        const QByteArray archive = "archive";
        feed = maker.feed(archive, 3, "https://example.org/Ostrel.zip");
        feed.chop(1);
        feed += ",\"changelogURL\":\"https://example.org/changes\",\"releases\":["
                "{\"version\":\"2.3\",\"build\":3,\"date\":\"7 December\",\"notes\":["
                "\"Updates arrive signed and are checked before they are installed.\","
                "\"The shelf opens a little faster on large screens, and a very long note wraps "
                "onto a second line instead of widening the window.\"]},"
                "{\"version\":\"2.2\",\"build\":2,\"notes\":[\"Fixes.\"]},"
                "{\"version\":\"2.1\",\"build\":1,\"notes\":[\"Already installed.\"]}]}";
        server.route("/feed", test::LoopbackServer::answer(200, feed));
    }

    std::unique_ptr<UpdateController> make() {
        UpdateConfig config;
        config.feedURL = QUrl(server.url("/feed"));
        config.publicKey = maker.key.publicKey;
        config.allowInsecureLocal = true;
        UpdateController::Environment env;
        env.defaults = &defaults;
        env.runningBuild = 1;
        env.appVersion = "2.1";
        env.system = {2, 36, 0};
        env.openUrl = [this](const QUrl& url) { opened.append(url); };
        return std::make_unique<UpdateController>(tmp.file("support"), config, env);
    }

    std::unique_ptr<UpdateController> offered() {
        auto c = make();
        c->checkNow();
        EXPECT_TRUE(test::waitUntil([&] { return !c->isWorking(); }));
        EXPECT_EQ(c->phase()->kind, Kind::available);
        return c;
    }

    static QStringList buttons(const QWidget* w) {
        QStringList out;
        for (const QPushButton* b : w->findChildren<QPushButton*>()) {
            if (b->objectName() != "changelog") {
                out.append(b->text() + (b->isEnabled() ? "" : " (off)"));
            }
        }
        return out;
    }

    // The headings a screen reader finds among the notes, each with its version.
    static QList<QAccessibleInterface*> headings(QTextEdit* notes) {
        QList<QAccessibleInterface*> out;
        const QAccessibleInterface* text = QAccessible::queryAccessibleInterface(notes);
        for (int i = 0; i < text->childCount(); ++i) {
            if (text->child(i)->role() == QAccessible::Heading) {
                out.append(text->child(i));
            }
        }
        return out;
    }
    static QStringList versions(QTextEdit* notes) {
        QStringList out;
        for (const QAccessibleInterface* heading : headings(notes)) {
            out.append(heading->text(QAccessible::Name));
        }
        return out;
    }

    void save(QWidget* w, const QString& name) {
        const QPixmap shot = w->grab();
        EXPECT_TRUE(shot.save(QDir::temp().filePath(name))) << shot.width() << "x" << shot.height();
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
    test::LoopbackServer server;
    UserDefaults defaults{tmp.file("config"), "defaults"};
    QByteArray feed;
    QList<QUrl> opened;
};

TEST_F(UpdateWindowTest, OfferShowsNewerNotesAndTheThreeButtons) {
    auto c = offered();
    UpdateWindow* w = c->window();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->windowTitle(), "Software Update");
    EXPECT_EQ(w->width(), 600);
    EXPECT_EQ(w->findChild<QLabel*>("title")->text(), "Ostrel 2.3 is available");
    EXPECT_EQ(w->findChild<QLabel*>("subtitle")->text(), "You have 2.1.");
    EXPECT_EQ(buttons(w), (QStringList{"Skip This Version", "Later", "Install"}));
    auto* notes = w->findChild<QTextEdit*>("notes");
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->height(), 250);
    EXPECT_EQ(notes->accessibleName(), "Release notes");
    const QString shown = notes->toPlainText();
    EXPECT_TRUE(shown.contains("2.2"));
    EXPECT_TRUE(shown.contains("7 December"));
    EXPECT_FALSE(shown.contains("Already installed."));
    EXPECT_EQ(versions(notes), (QStringList{"2.3", "2.2"}));
    save(w, "update-available.png");

    // "Full changelog" ends in the arrow symbol, 4 pixels after the text, in the link's colour.
    auto* link = w->findChild<QPushButton*>("changelog");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->text(), "Full changelog");
    const QImage shot = link->grab().toImage();
    const int text = link->fontMetrics().horizontalAdvance(link->text());
    const QRect arrow((link->width() - (text + 4 + 10)) / 2 + text + 4, (link->height() - 10) / 2,
                      10, 10);
    int ink = 0;
    for (int y = arrow.top(); y <= arrow.bottom(); ++y) {
        for (int x = arrow.left(); x <= arrow.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            ink += c.blue() > c.red() + 60 ? 1 : 0;
        }
    }
    EXPECT_GT(ink, 10);
    link->click();
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://example.org/changes")});

    // Without newer notes or a change log: header and buttons only.
    server.route("/feed", test::LoopbackServer::answer(
                              200, maker.feed("archive", 3, "https://example.org/Ostrel.zip")));
    c->dismiss();
    c->checkNow();
    ASSERT_TRUE(test::waitUntil([&] { return !c->isWorking(); }));
    EXPECT_FALSE(c->window()->findChild<QTextEdit*>("notes"));
    EXPECT_FALSE(c->window()->findChild<QPushButton*>("changelog"));
}

// On a black and on a white high-contrast palette, where the palette's link colour may be the
// pure blue Qt falls back on, "Full changelog" reads 4.5:1 on the window.
TEST_F(UpdateWindowTest, TheChangelogLinkAndTheNotesFrameShowOnAHighContrastPalette) {
    const auto restore =
        qScopeGuard([before = QApplication::palette()] { QApplication::setPalette(before); });
    for (const bool black : {true, false}) {
        QApplication::setPalette(test::highContrastPalette(black));
        auto c = offered();
        auto* link = c->window()->findChild<QPushButton*>("changelog");
        ASSERT_TRUE(link);
        EXPECT_GE(test::legibility(link->grab().toImage(), link->rect()), 4.5)
            << (black ? "black" : "white");
        // The notes' frame against the window's ground just above it.
        auto* notes = c->window()->findChild<QTextEdit*>("notes");
        ASSERT_TRUE(notes);
        const QImage window = c->window()->grab().toImage();
        const qreal ratio = window.devicePixelRatio();
        const QPoint top = notes->mapTo(c->window(), QPoint(notes->width() / 2, 0)) * ratio;
        EXPECT_GE(test::contrast(window.pixelColor(top), window.pixelColor(top - QPoint(0, 3))),
                  3.0)
            << (black ? "black" : "white");
    }
}

TEST_F(UpdateWindowTest, EveryTabStopShowsItsFocus) {
    auto c = offered();
    UpdateWindow* w = c->window();
    ASSERT_TRUE(w);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    const auto stops =
        test::tabStops(w, SettingsColors::accent(false),
                       static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width)));
    // The three buttons and the change log link at least.
    EXPECT_GE(stops.size(), 4);
    for (const test::TabStop& stop : stops) {
        EXPECT_TRUE(stop.ringed) << stop.name.toStdString();
        EXPECT_FALSE(stop.inner) << stop.name.toStdString() << ": one outline, the ring's";
    }

    // "OK" alone, which the window's activation gave the focus: Tab leaves the focus there and
    // the ring shows all the same.
    server.route("/feed", test::LoopbackServer::answer(404, "no"));
    c->dismiss();
    c->checkNow();
    ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
    w = c->window();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    QApplication::setActiveWindow(nullptr); // and back, as after a click elsewhere
    QApplication::setActiveWindow(w);
    auto* ok = w->findChild<QPushButton*>();
    ASSERT_EQ(QApplication::focusWidget(), ok);
    const auto alone =
        test::tabStops(w, SettingsColors::accent(false),
                       static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width)));
    ASSERT_EQ(alone.size(), 1);
    EXPECT_TRUE(alone[0].ringed);
    EXPECT_FALSE(alone[0].inner);
}

// A window a key press opened (Space on a button elsewhere) shows the ring where its focus lands,
// on "Install", and then on the progress bar Return brings, as after Tab; one a click opened shows
// none.
TEST_F(UpdateWindowTest, AWindowAKeyOpensShowsTheRingWhereTheFocusLands) {
    server.route("/Ostrel.zip", test::LoopbackServer::trickling("x", 5000));
    std::unique_ptr<UpdateController> c;
    QPushButton opener(QStringLiteral("Check for Updates"));
    QObject::connect(&opener, &QPushButton::clicked, [&] {
        c = make();
        c->checkNow();
    });
    opener.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&opener));
    for (const bool key : {true, false}) {
        QApplication::setActiveWindow(&opener);
        if (key) {
            QTest::keyClick(&opener, Qt::Key_Space);
        } else {
            QTest::mouseClick(&opener, Qt::LeftButton);
        }
        ASSERT_TRUE(test::waitUntil([&] { return c && !c->isWorking(); }));
        UpdateWindow* w = c->window();
        QApplication::setActiveWindow(w);
        auto* install = qobject_cast<QPushButton*>(QApplication::focusWidget());
        ASSERT_TRUE(install);
        EXPECT_EQ(install->text(), "Install");
        const FocusRing* ring = w->findChild<FocusRing*>();
        EXPECT_EQ(ring->ring() != nullptr && ring->target() == install, key) << key;
        if (key) {
            save(w, "update-offer-by-keyboard.png");
            QTest::keyClick(install, Qt::Key_Return);
            auto* progress = w->findChild<QProgressBar*>("progress");
            ASSERT_TRUE(progress);
            EXPECT_TRUE(ring->ring() != nullptr && ring->target() == progress);
            save(w, "update-download-by-keyboard.png");
        }
        c->dismiss();
    }
}

// The header as drawn: the application's icon reaching 6.25 pixels left of the content's edge, so
// that its drawing (inside a margin of 100/1024 of its side) starts at the edge, and the titles in
// pixel sizes, 9.75 pixels right of the icon and 4 pixels apart.
TEST_F(UpdateWindowTest, TheHeaderShowsTheIconAtItsOverhangAndTextsInPixels) {
    auto c = offered();
    UpdateWindow* w = c->window();
    w->resize(w->sizeHint());
    const QImage shot = w->grab().toImage();
    auto* title = w->findChild<QLabel*>("title");
    EXPECT_EQ(title->font().pixelSize(), 13);
    EXPECT_EQ(w->findChild<QLabel*>("subtitle")->font().pixelSize(), 12);
    EXPECT_EQ(title->mapTo(w, QPoint()).x(), 88);
    const QWidget* subtitle = w->findChild<QLabel*>("subtitle");
    EXPECT_EQ(subtitle->y() - (title->y() + title->height()), 4);
    // The icon is centred beside the titles, which are centred on one another.
    const int middle =
        (title->mapTo(w, QPoint()).y() + subtitle->mapTo(w, QPoint()).y() + subtitle->height()) / 2;
    const QRgb background = shot.pixel(4, middle);
    int first = -1;
    int last = -1;
    for (int x = 0; x < 120; ++x) {
        if (shot.pixel(x, middle) != background) {
            first = first < 0 ? x : first;
            last = x < title->mapTo(w, QPoint()).x() ? x : last;
        }
    }
    EXPECT_NEAR(first, 20, 1);
    EXPECT_NEAR(last, 71, 1);
    save(w, "update-header.png");
}

TEST_F(UpdateWindowTest, BusyPhasesOfferOnlyADisabledOk) {
    auto c = make();
    c->checkNow();
    UpdateWindow* w = c->window();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->findChild<QLabel*>("title")->text(), "Checking for updates…");
    EXPECT_FALSE(w->findChild<QLabel*>("subtitle"));
    EXPECT_EQ(buttons(w), QStringList{"OK (off)"});
    EXPECT_FALSE(w->findChild<QProgressBar*>("progress"));
    ASSERT_TRUE(test::waitUntil([&] { return !c->isWorking(); }));

    server.route("/Ostrel.zip", test::LoopbackServer::trickling("x", 5000));
    c->install();
    EXPECT_TRUE(c->window()->findChild<QProgressBar*>("progress"));
    EXPECT_EQ(buttons(c->window()), QStringList{"OK (off)"});
    save(c->window(), "update-downloading.png");
}

TEST_F(UpdateWindowTest, ClosingDismissesOnceAndAVisibleWindowStaysPut) {
    auto c = offered();
    UpdateWindow* w = c->window();
    w->move(40, 30);
    const QPoint placed = w->pos();
    c->install(); // a new phase while visible
    EXPECT_EQ(c->window(), w);
    EXPECT_EQ(w->pos(), placed);

    int changes = 0;
    QObject::connect(c.get(), &UpdateController::phaseChanged, [&] { ++changes; });
    w->close();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(c->phase());
    EXPECT_FALSE(c->window());
}

// Return presses the button that has the focus, else the default one; Escape closes the window as
// its close button does.
TEST_F(UpdateWindowTest, TheKeysPressTheFocusedButtonTheDefaultOneOrClose) {
    auto c = offered();
    const auto button = [&](const QString& text) {
        for (QPushButton* b : c->window()->findChildren<QPushButton*>()) {
            if (b->text() == text) {
                return b;
            }
        }
        return static_cast<QPushButton*>(nullptr);
    };
    QTest::keyClick(button("Later"), Qt::Key_Return);
    EXPECT_FALSE(c->window()) << "\"Later\" took Return, not \"Install\"";

    server.route("/feed", test::LoopbackServer::answer(404, "no"));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        c->checkNow();
        ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
        // From the window itself, where no button has the focus, and from "OK".
        QTest::keyClick(key == Qt::Key_Return ? static_cast<QWidget*>(c->window()) : button("OK"),
                        key);
        EXPECT_FALSE(c->window()) << QKeySequence(key).toString().toStdString();
    }

    // Held down, Return that no button took presses "OK" once: its repeats leave the failure shown.
    c->checkNow();
    ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(c->window(), &repeat);
    EXPECT_TRUE(c->window());

    // The offer's default is "Install", whichever button comes first in the window.
    server.route("/feed", test::LoopbackServer::answer(200, feed));
    server.route("/Ostrel.zip", test::LoopbackServer::trickling("x", 5000));
    c->dismiss();
    c->checkNow();
    ASSERT_TRUE(test::waitUntil([&] { return !c->isWorking(); }));
    QTest::keyClick(c->window(), Qt::Key_Return);
    EXPECT_EQ(c->phase()->kind, Kind::downloading);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdateWindowTest, ANewerSystemIsNamedTheLinuxWay) {
    UpdateController::Environment env;
    env.system = {2, 36, 0};
    UpdateFeed f;
    f.version = "2.3";
    f.minimumSystemVersion = "2.38";
    const UpdateController::Phase phase{Kind::needsNewerSystem, f, {}, {}};
    EXPECT_EQ(UpdateWindow::texts(phase, env).title, "Ostrel 2.3 needs a newer system");
    EXPECT_EQ(UpdateWindow::texts(phase, env).subtitle,
              "It needs system version 2.38 or later. You're on 2.36.");
    env.system = {2, 36, 1};
    EXPECT_EQ(UpdateWindow::texts(phase, env).subtitle,
              "It needs system version 2.38 or later. You're on 2.36.1.");
}

TEST_F(UpdateWindowTest, ALongFailureWrapsInsteadOfWidening) {
    server.route("/feed", test::LoopbackServer::answer(404, "no"));
    auto c = make();
    c->checkNow();
    ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
    UpdateWindow* w = c->window();
    EXPECT_EQ(buttons(w), QStringList{"OK"});
    EXPECT_EQ(w->width(), 600);
    auto* subtitle = w->findChild<QLabel*>("subtitle");
    EXPECT_TRUE(subtitle->wordWrap());
    EXPECT_LE(subtitle->geometry().right(), 600);
    save(w, "update-failed.png");
}

// To a screen reader the window is a dialog whose default is "Install", an alert once it shows a
// failure; "Full changelog" says it opens a web page.
TEST_F(UpdateWindowTest, AScreenReaderHearsADialogItsDefaultButtonAndAFailureAsAnAlert) {
    auto c = offered();
    const auto read = [](QObject* o) { return QAccessible::queryAccessibleInterface(o); };
    EXPECT_EQ(read(c->window())->role(), QAccessible::Dialog);
    for (QPushButton* b : c->window()->findChildren<QPushButton*>()) {
        EXPECT_EQ(read(b)->state().defaultButton, b->text() == "Install")
            << b->text().toStdString();
    }
    EXPECT_EQ(
        read(c->window()->findChild<QPushButton*>("changelog"))->text(QAccessible::Description),
        "Opens the full changelog in your web browser");

    server.route("/feed", test::LoopbackServer::answer(404, "no"));
    c->dismiss();
    c->checkNow();
    UpdateWindow* w = c->window();
    w->show();
    QApplication::setActiveWindow(w);
    EXPECT_EQ(read(w)->role(), QAccessible::Dialog);
    RolesRead reader;
    reader.read(w);
    ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
    EXPECT_EQ(c->window(), w);
    EXPECT_EQ(read(w)->role(), QAccessible::AlertMessage);
    // The focus, which was on the window read as a dialog, enters an alert that says the failure.
    EXPECT_TRUE(reader.focusInAlert("Ostrel couldn't check for updates"));
    // The next check is a dialog again.
    c->checkNow();
    EXPECT_EQ(c->window(), w);
    EXPECT_EQ(read(w)->role(), QAccessible::Dialog);
}

// At every phase the focus stays in the window: on the phase's default button, else on its
// progress bar, which Tab finds, else (a check running) on the window itself; what holds it says
// the phase's words. No nameless filler or picture is there to stop at: not the icon, the rows
// that hold the controls, nor the focus ring.
TEST_F(UpdateWindowTest, TheFocusStaysInTheWindowAndTellsEachPhase) {
    const auto focused = [](QWidget* expected) {
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(expected);
        return QApplication::focusWidget() == expected && read->state().focused;
    };
    const auto words = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
    };
    server.route("/feed", test::LoopbackServer::answer(
                              200, maker.feed("archive", 3, server.url("/Ostrel.zip"))));
    server.route("/Ostrel.zip", test::LoopbackServer::answer(404, "no"));
    // Outlives the window, which tells of the focus it drops as it goes.
    QStringList lost;
    auto c = make();
    c->checkNow();
    UpdateWindow* w = c->window();
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    ASSERT_EQ(c->phase()->kind, Kind::checking);
    // Each phase's widgets go only once the next phase's hold the focus: it never falls on
    // nothing, nor out of the window, on the way.
    QObject::connect(qApp, &QApplication::focusChanged, w, [&](QWidget* old, QWidget* now) {
        if (now == nullptr || now->window() != w) {
            lost.append(old ? old->metaObject()->className() : "nothing");
        }
    });
    EXPECT_TRUE(focused(w));
    EXPECT_EQ(words(w), "Checking for updates…");

    ASSERT_TRUE(test::waitUntil([&] { return !c->isWorking(); }));
    auto* install = qobject_cast<QPushButton*>(QApplication::focusWidget());
    ASSERT_TRUE(install);
    EXPECT_EQ(install->text(), "Install");
    EXPECT_TRUE(focused(install));
    EXPECT_EQ(words(install), "Ostrel 2.3 is available. You have 2.1.");
    EXPECT_EQ(words(w), "");
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            EXPECT_FALSE(
                child->text(QAccessible::Name).isEmpty() &&
                (child->role() == QAccessible::Client || child->role() == QAccessible::Graphic))
                << child->object()->metaObject()->className();
            walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(w));
    // Nor is the focus ring Tab brings.
    QTest::keyClick(install, Qt::Key_Backtab);
    ASSERT_TRUE(w->findChild<FocusRing*>()->ring());
    walk(QAccessible::queryAccessibleInterface(w));

    install->click();
    auto* progress = w->findChild<QProgressBar*>("progress");
    ASSERT_TRUE(progress);
    RolesRead reader;
    reader.read(w);
    EXPECT_TRUE(focused(progress));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(progress)->text(QAccessible::Name),
              "Downloading Ostrel…");
    // Tab finds it from wherever the focus is, and stays on it.
    w->setFocus();
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_TRUE(focused(progress));
    QTest::keyClick(progress, Qt::Key_Tab);
    EXPECT_TRUE(focused(progress));

    ASSERT_TRUE(test::waitUntil([&] { return c->phase()->kind == Kind::failed; }));
    auto* ok = qobject_cast<QPushButton*>(QApplication::focusWidget());
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(focused(ok));
    EXPECT_TRUE(words(ok).startsWith("Ostrel couldn't install the update. "))
        << words(ok).toStdString();
    EXPECT_TRUE(reader.focusInAlert("Ostrel couldn't install the update"));
    EXPECT_EQ(lost, QStringList());
}

// The notes are one read-only text, each version a heading over the list of its notes, with a
// scroll bar only when they are longer than their box, opening at their start: one note, then two
// hundred.
TEST_F(UpdateWindowTest, TheNotesAreOneTextThatScrollsOnlyWhenTheyAreLong) {
    for (const int count : {1, 200}) {
        QByteArrayList notes;
        for (int i = 0; i < count; ++i) {
            notes.append("\"Note " + QByteArray::number(i) + ".\"");
        }
        QByteArray offer = maker.feed("archive", 3, "https://example.org/Ostrel.zip");
        offer.chop(1);
        offer += ",\"releases\":[{\"version\":\"2.3\",\"build\":3,\"notes\":[" + notes.join(',') +
                 "]}]}";
        server.route("/feed", test::LoopbackServer::answer(200, offer));
        auto c = offered();
        UpdateWindow* w = c->window();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        auto* text = w->findChild<QTextEdit*>("notes");
        ASSERT_TRUE(text);
        EXPECT_EQ(text->verticalScrollBar()->isVisible(), count > 1) << count;
        EXPECT_EQ(text->verticalScrollBar()->value(), 0) << "opens at the start";
        const QTextBlock heading = text->document()->firstBlock();
        EXPECT_EQ(heading.text(), "2.3");
        EXPECT_EQ(heading.blockFormat().headingLevel(), 3);
        ASSERT_TRUE(heading.next().textList());
        // A release keeps its first 30 notes.
        EXPECT_EQ(heading.next().textList()->count(), std::min(count, 30));
        const QAccessibleInterface* read = QAccessible::queryAccessibleInterface(text);
        EXPECT_EQ(read->role(), QAccessible::EditableText);
        EXPECT_TRUE(read->state().readOnly);
        EXPECT_EQ(read->text(QAccessible::Name), "Release notes");
        // The version's heading lies over its words, and leaves with them as they scroll away.
        ASSERT_EQ(versions(text), QStringList{"2.3"}) << count;
        const QAccessibleInterface* version = headings(text).constFirst();
        EXPECT_FALSE(version->state().invisible);
        const QTextCursor under =
            text->cursorForPosition(text->viewport()->mapFromGlobal(version->rect().center()));
        EXPECT_EQ(under.blockNumber(), 0);
        EXPECT_LT(under.positionInBlock(), 3);
        text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum());
        EXPECT_EQ(version->state().invisible, count > 1) << count;
    }
}

} // namespace
} // namespace ostrel
