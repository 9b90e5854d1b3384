#include "SettingsTestSupport.h"

#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Settings/ShelfPane.h"
#include "Ostrel/Settings/Stepper.h"
#include "Ostrel/Settings/WholeNumberField.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "Platform/MainClock.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>

using namespace ostrel;

namespace {

class ShelfPaneTest : public test::SettingsFixture {
protected:
    // Types into a field and commits with Return.
    static void type(WholeNumberField* field, const QString& text) {
        field->field()->clear();
        QTest::keyClicks(field->field(), text);
        QTest::keyClick(field->field(), Qt::Key_Return);
    }

    // Which of the new-item rows are shown, in order.
    static QStringList signalRows(const ShelfPane& pane) {
        QStringList shown;
        const QList<std::pair<QWidget*, QString>> rows{{pane.signalRow(), "Signal"},
                                                       {pane.showPreviewRow(), "Show a preview"},
                                                       {pane.pileRow(), "Preview arrangement"},
                                                       {pane.strengthRow(), "Glow strength"},
                                                       {pane.pulsesRow(), "Pulse count"}};
        for (const auto& [row, name] : rows) {
            if (!row->isHidden()) {
                shown << name;
            }
        }
        return shown;
    }
};

} // namespace

TEST_F(ShelfPaneTest, RetentionFieldReadsTypedTextLeniently) {
    auto settings = makeSettings();
    ShelfPane pane(*settings, {});
    WholeNumberField* days = pane.retention();
    EXPECT_EQ(days->field()->text(), "30");

    type(days, QStringLiteral(" 45 "));
    EXPECT_EQ(stored().value("retentionDays"), 45);
    EXPECT_EQ(days->field()->text(), "45");
    type(days, QStringLiteral("0"));
    EXPECT_EQ(stored().value("retentionDays"), 1);
    EXPECT_EQ(days->unit()->text(), "day");
    type(days, QStringLiteral("9999"));
    EXPECT_EQ(stored().value("retentionDays"), 365);
    EXPECT_EQ(days->unit()->text(), "days");
    type(days, QStringLiteral("12.5"));
    EXPECT_EQ(stored().value("retentionDays"), 12);
    type(days, QString(30, u'9'));
    EXPECT_EQ(stored().value("retentionDays"), 365);
    type(days, QStringLiteral("-3"));
    EXPECT_EQ(stored().value("retentionDays"), 1);

    // Letters and a focus loss keep the stored value and put it back.
    days->field()->setText(QStringLiteral("abc"));
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(days->field(), &focusOut);
    EXPECT_EQ(stored().value("retentionDays"), 1);
    EXPECT_EQ(days->field()->text(), "1");
}

TEST_F(ShelfPaneTest, StepperStepsFromTheStoredValueAndClamps) {
    auto settings = makeSettings();
    ShelfPane pane(*settings, {});
    WholeNumberField* items = pane.maxItems();
    EXPECT_EQ(items->field()->text(), "500");

    QTest::keyClick(items->stepper(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(stored().value("maxItems"), 600);
    QTest::mouseClick(items->stepper(), Qt::LeftButton, Qt::NoModifier,
                      items->stepper()->upRect().center());
    EXPECT_EQ(stored().value("maxItems"), 610);
    QTest::mouseClick(items->stepper(), Qt::LeftButton, Qt::ShiftModifier,
                      items->stepper()->downRect().center());
    EXPECT_EQ(stored().value("maxItems"), 510);

    // Typing not committed is dropped by a step.
    items->field()->setText(QStringLiteral("42"));
    QTest::keyClick(items->stepper(), Qt::Key_Down);
    EXPECT_EQ(stored().value("maxItems"), 500);
    EXPECT_EQ(items->field()->text(), "500");

    Preferences prefs = settings->prefs();
    prefs.maxItems = 5000;
    settings->setPrefs(prefs);
    EXPECT_EQ(items->field()->text(), "5000") << "a stored change refills the field";
    QTest::keyClick(items->stepper(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(stored().value("maxItems"), 5000);

    // To a screen reader the stepper is a spin button over the stored value, within the field's
    // range; it and the text field are named by the unit and labelled by the row's title, which
    // is the label of both.
    QAccessibleInterface* spin = QAccessible::queryAccessibleInterface(items->stepper());
    EXPECT_EQ(spin->role(), QAccessible::SpinBox);
    QAccessibleInterface* title =
        QAccessible::queryAccessibleInterface(pane.maxItemsRow()->label()->title());
    for (QWidget* part : QList<QWidget*>{items->field(), items->stepper()}) {
        const QAccessibleInterface* read = QAccessible::queryAccessibleInterface(part);
        EXPECT_EQ(read->text(QAccessible::Name), "Items");
        const auto labels = read->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels.first().first->text(QAccessible::Name), "Maximum items");
        EXPECT_EQ(read->relations(), (decltype(labels){{title, QAccessible::Label}}));
    }
    QObjectList labelled;
    for (const auto& [read, relation] : title->relations()) {
        EXPECT_EQ(relation, QAccessible::Labelled) << "the title is labelled by nothing";
        labelled << read->object();
    }
    EXPECT_EQ(labelled, (QObjectList{items->field(), items->stepper()}));
    EXPECT_EQ(spin->text(QAccessible::Value), "5000 items");
    QAccessibleValueInterface* value = spin->valueInterface();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->minimumValue().toLongLong(), 1);
    value->setCurrentValue(0);
    EXPECT_EQ(stored().value("maxItems"), 1);
    EXPECT_EQ(value->currentValue().toLongLong(), 1);
    EXPECT_EQ(spin->text(QAccessible::Value), "1 item");
    spin->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(stored().value("maxItems"), 11);
}

TEST_F(ShelfPaneTest, SignalRowsFollowTheStyle) {
    auto settings = makeSettings();
    ShelfPane pane(*settings, {});
    EXPECT_EQ(signalRows(pane), (QStringList{"Signal", "Glow strength", "Pulse count"}));
    QTest::mouseClick(pane.signalPicker(), Qt::LeftButton, Qt::NoModifier,
                      pane.signalPicker()->segmentRect(1).center());
    EXPECT_EQ(stored().value("arrivalSignal"), "count");
    EXPECT_EQ(signalRows(pane), QStringList{"Signal"});

    Preferences prefs = settings->prefs();
    prefs.displayStyle = DisplayStyleChoice::pill(PillSide::left);
    settings->setPrefs(prefs);
    EXPECT_EQ(signalRows(pane),
              (QStringList{"Show a preview", "Preview arrangement", "Glow strength"}))
        << "a pill ignores the stored count signal";
    pane.show();
    QTest::mouseClick(pane.showPreview(), Qt::LeftButton);
    EXPECT_EQ(stored().value("pillPreview"), false);
    EXPECT_EQ(signalRows(pane), (QStringList{"Show a preview", "Glow strength", "Pulse count"}));
    EXPECT_EQ(pane.pulses()->count(), 3);
    EXPECT_EQ(pane.pulses()->itemText(2), "3");

    // A menu is named by its row and holds its choice as its value, the choice selected in its
    // list.
    pane.pulses()->setCurrentIndex(2);
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(pane.pulses());
    EXPECT_EQ(menu->role(), QAccessible::ComboBox);
    EXPECT_EQ(menu->text(QAccessible::Name), "Pulse count");
    EXPECT_EQ(menu->text(QAccessible::Value), "3");
    ASSERT_EQ(menu->childCount(), 1);
    EXPECT_EQ(menu->child(0)->text(QAccessible::Name), "Pulse count");
    EXPECT_EQ(pane.pulses()->view()->selectionModel()->selectedIndexes(),
              QModelIndexList{pane.pulses()->model()->index(2, 0)});
}

TEST_F(ShelfPaneTest, NotesEnvironmentOverridesThatHoldText) {
    auto settings = makeSettings();
    const Environment env{{"OSTREL_RETENTION_DAYS", "  \t"}, {"OSTREL_MAX_ITEMS", "lots"}};
    ShelfPane pane(*settings, env);
    EXPECT_EQ(pane.retentionRow()->label()->detailText(), "");
    EXPECT_EQ(pane.maxItemsRow()->label()->detailText(),
              "OSTREL_MAX_ITEMS is set and applies while it is.");
}

TEST_F(ShelfPaneTest, BadStoredValuesShowDefaultsAndAreNotWrittenBack) {
    writeStore({{"retentionDays", 9999}, {"maxItems", "many"}, {"glowPulses", 7}});
    auto settings = makeSettings();
    ShelfPane pane(*settings, {});
    EXPECT_EQ(pane.retention()->field()->text(), "30");
    EXPECT_EQ(pane.maxItems()->field()->text(), "500");
    EXPECT_EQ(pane.pulses()->currentText(), "2");
    EXPECT_EQ(stored().value("retentionDays"), 9999) << "nothing is saved until the user acts";

    QTest::mouseClick(pane.arrangement(), Qt::LeftButton, Qt::NoModifier,
                      pane.arrangement()->segmentRect(1).center());
    EXPECT_EQ(stored().value("layout"), "stacks");
    EXPECT_EQ(stored().value("retentionDays"), 30);
}

TEST_F(ShelfPaneTest, GlowRowsFoldAwayOnTheSettingsCurveWhenTheSignalBecomesACount) {
    auto settings = makeSettings();
    auto clock = std::make_shared<ManualMainClock>();
    ShelfPane pane(*settings, {});
    pane.setClock(clock);
    pane.resize(640, 900);
    pane.show();
    QWidget* box = pane.strengthRow()->parentWidget();
    const auto height = [&] {
        test::settleLayouts();
        return box->height();
    };
    const int glow = height();
    QTest::mouseClick(pane.signalPicker(), Qt::LeftButton, Qt::NoModifier,
                      pane.signalPicker()->segmentRect(1).center());
    EXPECT_EQ(signalRows(pane), QStringList{"Signal"});
    clock->advance(0.09);
    const int between = height();
    clock->advance(0.3);
    EXPECT_LT(between, glow);
    EXPECT_GT(between, height());
}
