#include "Ostrel/Shell/StatusItem.h"
#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Shell/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QStringList titles(const QMenu* menu) {
    QStringList out;
    for (const QAction* action : menu->actions()) {
        out.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return out;
}

QAction* find(const QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title) {
            return action;
        }
    }
    return nullptr;
}

} // namespace

TEST(StatusItem, MenuFollowsTheCountAndTheFeedbackAddressAndRunsTheCommands) {
    qint64 unread = 0;
    bool feedback = false;
    bool updates = true;
    QStringList ran;
    ShelfCommands commands([&] { ran.append("settings"); }, [&] { ran.append("updates"); },
                           [&] { ran.append("feedback"); }, [&] { ran.append("quit"); });
    StatusItem item([&] { return commands; }, [&] { ran.append("toggle"); }, [&] { return unread; },
                    [&] { return feedback; }, [&] { return updates; });
    EXPECT_EQ(item.item(), nullptr);
    item.setVisible(true);
    ASSERT_NE(item.item(), nullptr);
    QSystemTrayIcon* const first = item.item();
    item.setVisible(true);
    EXPECT_EQ(item.item(), first) << "no second item";
    EXPECT_EQ(titles(item.menu()), (QStringList{"Show Shelf", "-", "Settings…",
                                                "Check for Updates…", "-", "Quit Ostrel"}));
    EXPECT_EQ(find(item.menu(), "Settings…")->shortcut(), QKeySequence("Ctrl+,"));

    unread = 3;
    feedback = true;
    item.rebuildMenu();
    EXPECT_EQ(titles(item.menu()),
              (QStringList{"Show Shelf (3 new)", "-", "Settings…", "Check for Updates…",
                           "Send Feedback…", "-", "Quit Ostrel"}));
    for (const char* title : {"Show Shelf (3 new)", "Settings…", "Check for Updates…",
                              "Send Feedback…", "Quit Ostrel"}) {
        find(item.menu(), QString::fromUtf8(title))->trigger();
    }
    EXPECT_EQ(ran, (QStringList{"toggle", "settings", "updates", "feedback", "quit"}));

    // A build with nowhere to look for updates offers no check that would do nothing.
    updates = false;
    item.rebuildMenu();
    EXPECT_EQ(find(item.menu(), "Check for Updates…"), nullptr);

    item.setVisible(false);
    EXPECT_EQ(item.item(), nullptr);
    item.setVisible(true);
    EXPECT_NE(item.item(), nullptr);
}

TEST(StatusItem, IconIsALidOverARoundedSquareInBothInks) {
    for (const bool dark : {false, true}) {
        const QImage image = StatusItem::iconImage(dark, 4);
        ASSERT_EQ(image.size(), QSize(72, 72));
        const QColor ink = dark ? Qt::white : Qt::black;
        const auto at = [&](double x, double y) {
            return image.pixelColor(int(x * 4), int(y * 4));
        };
        // The filled top, the stroked left edge in the lower half, the empty inside below the
        // lid and the transparent corner outside the rounded square.
        EXPECT_EQ(at(9, 5), ink);
        EXPECT_EQ(at(9, 5).alpha(), 255);
        EXPECT_EQ(at(2.25, 13), ink);
        EXPECT_EQ(at(9, 13).alpha(), 0);
        EXPECT_EQ(at(0.5, 0.5).alpha(), 0);
    }
}

TEST(MainMenu, ControlKeysOpenSettingsQuitAndCloseTheActiveWindowUnlessRecording) {
    int settings = 0;
    int quits = 0;
    MainMenu menu([&] { ++settings; }, [&] { ++quits; });
    QLineEdit field;
    field.show();
    QApplication::setActiveWindow(&field);
    const auto send = [&](int key, QWidget* to = nullptr) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(to ? to : &field, &press);
    };
    send(Qt::Key_Comma);
    send(Qt::Key_Q);
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quits, 1);
    menu.setRecording(true);
    send(Qt::Key_Q);
    EXPECT_EQ(quits, 1);
    menu.setRecording(false);

    // A shelf panel holding the keyboard keeps the combinations to itself.
    NotchPanel panel;
    panel.show();
    QApplication::setActiveWindow(&panel);
    for (const int key : {Qt::Key_Comma, Qt::Key_Q, Qt::Key_W}) {
        send(key, &panel);
    }
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(panel.isVisible());

    QApplication::setActiveWindow(&field);
    send(Qt::Key_W);
    EXPECT_FALSE(field.isVisible());
}
