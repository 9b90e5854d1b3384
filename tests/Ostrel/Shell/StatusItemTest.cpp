#include "Ostrel/Shell/StatusItem.h"
#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Shell/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <cmath>

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
        const QImage image = StatusItem::iconImage(dark, 72);
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

// A tray draws the icon into its slot at the desktop's scale: roomy (the icon's own 18 points) or
// a slot 22 pixels high. At every scale it is the largest square on whole pixels there, centred,
// its sides and its top and bottom edges whole pixels without a fringe.
TEST(StatusItem, TheIconIsCrispInATraySlotAtEveryScale) {
    const QIcon icon = StatusItem::icon(false);
    for (const double ratio : {1.0, 1.25, 1.5, 1.75, 2.0}) {
        const int tight = int(std::lround(22 / ratio));
        for (const QRect slot : {QRect(3, 2, 24, 24), QRect(1, 0, tight + 4, tight)}) {
            SCOPED_TRACE(testing::Message()
                         << ratio << " " << slot.width() << "x" << slot.height());
            const QSize device = (QSizeF(slot.size() + QSize(4, 4)) * ratio).toSize();
            QImage image(device, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            {
                QPainter painter(&image);
                icon.paint(&painter, slot);
            }
            QRect drawn;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (qAlpha(image.pixel(x, y)) > 0) {
                        drawn |= QRect(x, y, 1, 1);
                    }
                }
            }
            // The rounded square takes 15 of the icon's 18 units.
            const double side = std::min(slot.height() * ratio, 18 * ratio) * 15 / 18;
            EXPECT_EQ(drawn.width(), drawn.height());
            EXPECT_NEAR(drawn.width(), side, 1.5);
            const QPointF centre = QRectF(slot).center() * ratio;
            EXPECT_LE(std::abs(QRectF(drawn).center().x() - centre.x()), 0.5);
            EXPECT_LE(std::abs(QRectF(drawn).center().y() - centre.y()), 0.5);
            const auto alpha = [&](int x, int y) { return qAlpha(image.pixel(x, y)); };
            // Its sides below the lid and above the rounded corners: whole pixels of ink from the
            // outer edge in, then nothing.
            const int row = drawn.top() + int(drawn.height() * 0.64);
            for (const int from : {drawn.left(), drawn.right()}) {
                const int in = from == drawn.left() ? 1 : -1;
                int x = from;
                while (alpha(x, row) == 255) {
                    x += in;
                }
                EXPECT_NE(x, from) << row;
                EXPECT_EQ(alpha(x, row), 0) << x << "," << row;
            }
            const int column = drawn.left() + drawn.width() / 2;
            EXPECT_EQ(alpha(column, drawn.top()), 255);
            EXPECT_EQ(alpha(column, drawn.bottom()), 255);
        }
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
