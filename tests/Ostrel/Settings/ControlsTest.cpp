#include "SettingsTestSupport.h"

#include "Ostrel/Settings/ElidedLabel.h"
#include "Ostrel/Settings/HotkeyRecorder.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingsNavigation.h"
#include "Ostrel/Settings/SettingsSidebar.h"
#include "Ostrel/Settings/SidebarMetrics.h"
#include "Ostrel/Widgets/Accessibility.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace ostrel;

namespace {

class ControlsTest : public test::SettingsFixture {};

} // namespace

TEST_F(ControlsTest, SidebarLinesTheIconUpWithTheTilesAndTakesClicksAcrossTheRow) {
    auto settings = makeSettings();
    SettingsNavigation navigation(*settings->defaults());
    SettingsSidebar sidebar(navigation, QStringLiteral("1.0"));
    sidebar.resize(static_cast<int>(SidebarMetrics::width), 640);
    sidebar.show();
    SidebarRow* folders = sidebar.row(Pane::folders);
    const double iconBody = sidebar.iconRect().left() + SidebarMetrics::iconInset;
    EXPECT_DOUBLE_EQ(iconBody, folders->x() + folders->tileRect().left());
    EXPECT_DOUBLE_EQ(folders->highlightRect().height(), SidebarMetrics::selectionHeight);

    const QPoint rightOfTitle(folders->width() - 15, folders->height() / 2);
    QTest::mouseClick(folders, Qt::LeftButton, Qt::NoModifier, rightOfTitle);
    EXPECT_EQ(navigation.pane(), Pane::folders);
    EXPECT_EQ(stored().value("preferencesPane"), "folders");
    EXPECT_TRUE(folders->selected());

    // About sits at the bottom of the panel whatever its height, its highlight in the middle of
    // its 40-pixel band.
    SidebarRow* about = sidebar.row(Pane::about);
    EXPECT_EQ(about->geometry().bottom() + 1,
              sidebar.height() - static_cast<int>(SidebarMetrics::outerPadding) - 2);
}

TEST_F(ControlsTest, PickerReportsOnlyTheUsersChoices) {
    SegmentedPicker picker({QStringLiteral("Notch"), QStringLiteral("Pill")});
    QList<int> picks;
    picker.onPick = [&](int i) { picks.append(i); };
    picker.setCurrent(1);
    EXPECT_TRUE(picks.isEmpty());
    QTest::keyClick(&picker, Qt::Key_Left);
    QTest::keyClick(&picker, Qt::Key_Left);
    QTest::mouseClick(&picker, Qt::LeftButton, Qt::NoModifier, picker.segmentRect(1).center());
    EXPECT_EQ(picks, (QList<int>{0, 1}));

    // To a screen reader: a named group of radio buttons, the chosen one checked as the choice
    // moves, each pressed as a click does once the request is answered.
    picker.setAccessibleName(QStringLiteral("Shelf style"));
    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(&picker);
    ASSERT_EQ(group->childCount(), 2);
    EXPECT_EQ(group->text(QAccessible::Name), "Shelf style");
    const auto checked = [&] {
        QStringList out;
        for (int i = 0; i < group->childCount(); ++i) {
            EXPECT_EQ(group->child(i)->role(), QAccessible::RadioButton);
            EXPECT_EQ(group->indexOfChild(group->child(i)), i);
            if (group->child(i)->state().checked) {
                out.append(group->child(i)->text(QAccessible::Name));
            }
        }
        return out;
    };
    EXPECT_EQ(checked(), QStringList{"Pill"});
    picker.setCurrent(0);
    EXPECT_EQ(checked(), QStringList{"Notch"});
    group->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(picks, (QList<int>{0, 1}));
    QCoreApplication::processEvents();
    EXPECT_EQ(picks, (QList<int>{0, 1, 1}));
    EXPECT_EQ(checked(), QStringList{"Pill"});

    // With the keyboard on the picker, only the chosen segment says it has it.
    picker.show();
    QApplication::setActiveWindow(&picker);
    picker.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(picker.hasFocus());
    EXPECT_TRUE(group->child(1)->state().focused);
    EXPECT_FALSE(group->child(0)->state().focused);
}

TEST_F(ControlsTest, LongPathsAreCutInTheMiddle) {
    ElidedLabel label(QStringLiteral("/home/someone/projects/very/deep/folder/that/goes/on/"
                                     "and/on/claude-sessions"),
                      ToneLabel::Tone::secondary, 11);
    label.resize(160, 20);
    const QString shown = label.shownText();
    EXPECT_TRUE(shown.startsWith("/home")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("sessions")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
}

TEST_F(ControlsTest, ARecorderDestroyedWhileRecordingLetsKeysThroughAgain) {
    auto settings = makeSettings();
    QList<bool> hook;
    HotkeyRecorder::setRecordingHook([&](bool on) { hook.append(on); });
    QLineEdit field;
    {
        HotkeyRecorder recorder(PrefsAccess::of(*settings));
        recorder.startRecording();
        test::pressKey(&field, Qt::Key_Q, 24, Qt::NoModifier, QStringLiteral("q"));
        EXPECT_TRUE(field.text().isEmpty());
    }
    test::pressKey(&field, Qt::Key_Q, 24, Qt::NoModifier, QStringLiteral("q"));
    EXPECT_EQ(field.text(), "q");
    EXPECT_EQ(hook, (QList<bool>{true, false})) << "the hot key is given back";
    HotkeyRecorder::setRecordingHook(nullptr);
}

// A label Qt has read already (its text changed) is read as a heading once it is marked as one,
// by its text.
TEST_F(ControlsTest, ALabelBecomesAHeadingAfterQtReadIt) {
    QLabel label(QStringLiteral("Files"));
    setAccessibleHeading(&label);
    const QAccessibleInterface* read = QAccessible::queryAccessibleInterface(&label);
    EXPECT_EQ(read->role(), QAccessible::Heading);
    EXPECT_EQ(read->text(QAccessible::Name), "Files");
}
