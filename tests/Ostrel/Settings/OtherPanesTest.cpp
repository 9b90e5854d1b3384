#include "SettingsTestSupport.h"
#include "support/Contrast.h"
#include "support/WholeFrames.h"

#include "Ostrel/Settings/AboutPane.h"
#include "Ostrel/Settings/DisplaysPane.h"
#include "Ostrel/Settings/FilesPane.h"
#include "Ostrel/Settings/FolderRow.h"
#include "Ostrel/Settings/FoldersPane.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "Platform/MainClock.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace ostrel;

namespace {

class PaneTest : public test::SettingsFixture {};

QStringList strings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& v : value.toArray()) {
        list << v.toString();
    }
    return list;
}

} // namespace

TEST_F(PaneTest, DisplaysPaneRemembersTheSideWhileShown) {
    auto settings = makeSettings();
    DisplaysPane pane(*settings);
    pane.show();
    SegmentedPicker* style = pane.style();
    const auto click = [&](int segment) {
        QTest::mouseClick(style, Qt::LeftButton, Qt::NoModifier,
                          style->segmentRect(segment).center());
    };
    EXPECT_TRUE(pane.positionSection()->isHidden());
    click(1);
    EXPECT_EQ(stored().value("displayStyle"), "pill-bottom");
    EXPECT_FALSE(pane.positionSection()->isHidden());
    pane.position()->setCurrentIndex(2);
    emit pane.position()->activated(2);
    EXPECT_EQ(stored().value("displayStyle"), "pill-right");
    click(0);
    EXPECT_EQ(stored().value("displayStyle"), "notch");
    click(1);
    EXPECT_EQ(stored().value("displayStyle"), "pill-right");
    EXPECT_EQ(pane.position()->itemText(0), "Left");
}

TEST_F(PaneTest, DisplaysPaneListsTheDisplaysAsTheyChange) {
    auto settings = makeSettings();
    DisplaysPane pane(*settings);
    const auto rows = [&] { return pane.displaysSection()->visibleRows(); };
    ASSERT_EQ(rows().size(), 1);
    EXPECT_EQ(static_cast<ToneLabel*>(rows()[0])->text(), "No displays found.");

    settings->setDisplays(
        {DisplayInfo{"a", "DELL U2720Q", QRectF(0, 0, 1512.7, 982.4), {}},
         DisplayInfo{"b", "screen", QRectF(0, 0, 800, 600), PixelSize{3840, 2160}}});
    QApplication::processEvents();
    ASSERT_EQ(rows().size(), 2);
    auto* first = static_cast<SettingRow*>(rows()[0]);
    EXPECT_EQ(first->label()->title()->text(), "DELL U2720Q");
    EXPECT_EQ(static_cast<ToneLabel*>(first->control())->text(), "1512 × 982");
    EXPECT_EQ(static_cast<ToneLabel*>(static_cast<SettingRow*>(rows()[1])->control())->text(),
              "3840 × 2160");
}

TEST_F(PaneTest, FilesPaneCommitsEveryKeystroke) {
    writeStore({{"fileTypes", QJsonArray{"file", "image", "pdf"}}});
    auto settings = makeSettings();
    FilesPane pane(*settings);
    pane.show();
    QLineEdit* extras = pane.extras();
    QTest::keyClicks(extras, QStringLiteral("Md, .CSV;;tar.gz"));
    EXPECT_EQ(strings(stored().value("extraExtensions")), (QStringList{"md", "csv"}))
        << "a piece with an inner dot is no extension";
    extras->insert(QStringLiteral("\tpng png"));
    EXPECT_EQ(strings(stored().value("extraExtensions")), (QStringList{"md", "csv", "png"}));
    EXPECT_EQ(extras->text(), "Md, .CSV;;tar.gz\tpng png") << "the field keeps the user's spelling";

    FilesPane again(*settings);
    EXPECT_EQ(again.extras()->text(), "md, csv, png");

    QTest::mouseClick(pane.kindToggle(ShelfItemKind::image)->toggle(), Qt::LeftButton);
    EXPECT_EQ(strings(stored().value("fileTypes")), QStringList{"pdf"});
    EXPECT_FALSE(again.kindToggle(ShelfItemKind::image)->isOn());
    EXPECT_TRUE(again.kindToggle(ShelfItemKind::pdf)->isOn());
}

// The "Extra extensions" placeholder reads on the field at 4.5:1 on every palette, switched while
// the pane is open, a field lighter than its window among them, and still reads fainter than what
// is typed there.
TEST_F(PaneTest, FilesPanePlaceholderReadsOnEveryPalette) {
    auto settings = makeSettings();
    FilesPane pane(*settings);
    pane.show();
    QLineEdit* extras = pane.extras();
    // The field's inside, its frame left out.
    const auto ink = [&] {
        return test::legibility(extras->grab().toImage(), extras->rect().adjusted(4, 4, -4, -4));
    };
    // As desktops give them: the placeholder colour left as Qt has it, black at half strength.
    const auto desktops = [](bool black) {
        QPalette palette = test::highContrastPalette(black);
        palette.setColor(QPalette::PlaceholderText,
                         lightPalette().color(QPalette::PlaceholderText));
        return palette;
    };
    // A dark window whose fields are light, as some themes have them.
    QPalette lightFields = darkPalette();
    lightFields.setColor(QPalette::Base, Qt::white);
    lightFields.setColor(QPalette::Text, Qt::black);
    const std::pair<const char*, QPalette> palettes[] = {{"light", lightPalette()},
                                                         {"black", desktops(true)},
                                                         {"white", desktops(false)},
                                                         {"dark", darkPalette()},
                                                         {"light fields", lightFields}};
    for (const auto& [name, palette] : palettes) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        extras->clear();
        const double placeholder = ink();
        EXPECT_GE(placeholder, 4.5) << name;
        extras->setText(QStringLiteral("md, csv"));
        EXPECT_GT(ink(), placeholder * 1.5) << name;
    }
}

TEST_F(PaneTest, FoldersPaneKeepsWatchedFoldersFreeOfRepeats) {
    const QString decomposed = QStringLiteral("/tmp/Cafe\u0301");
    const QString composed = QStringLiteral("/tmp/Caf\u00e9");
    writeStore({{"watchedFolders", QJsonArray{decomposed, "/tmp/other", composed}}});
    auto settings = makeSettings();
    std::optional<QString> chosen;
    QStringList prompts;
    FoldersPane pane(*settings, {}, [&](const QString& prompt) {
        prompts << prompt;
        return chosen;
    });
    pane.show();
    EXPECT_EQ(pane.watchedList()->count(), 3);
    EXPECT_FALSE(pane.removeButton()->isEnabled());
    EXPECT_TRUE(pane.emptyNote()->isHidden());

    chosen = composed;
    QTest::mouseClick(pane.addButton(), Qt::LeftButton);
    EXPECT_EQ(prompts, QStringList{"Watch Folder"});
    EXPECT_EQ(settings->prefs().watchedFolders.size(), 3) << "an equal path is not added again";
    EXPECT_EQ(pane.selection(), std::nullopt);

    chosen = std::nullopt;
    pane.addWatchedFolder();
    EXPECT_EQ(settings->prefs().watchedFolders.size(), 3);

    pane.watchedList()->setCurrentRow(0);
    EXPECT_EQ(pane.selection(), decomposed);
    EXPECT_TRUE(pane.removeButton()->isEnabled());
    QTest::mouseClick(pane.removeButton(), Qt::LeftButton);
    EXPECT_EQ(strings(stored().value("watchedFolders")), QStringList{"/tmp/other"})
        << "both spellings of the path go";
    EXPECT_EQ(pane.selection(), std::nullopt);

    chosen = QStringLiteral("/tmp/new");
    pane.addWatchedFolder();
    EXPECT_EQ(strings(stored().value("watchedFolders")), (QStringList{"/tmp/other", "/tmp/new"}));
    EXPECT_EQ(pane.selection(), "/tmp/new");
    EXPECT_EQ(pane.watchedList()->currentRow(), 1);
    // The selected row stays inside the list's border at fractional scales.
    for (const double ratio : {1.25, 1.5, 1.75}) {
        EXPECT_GE(test::expectFramesWhole(&pane, ratio, "selected"), 1);
    }

    // Without a chooser of its own, the pane asks with a folder dialog titled by what it sets.
    FoldersPane asking(*settings);
    asking.show();
    const auto titleOfChooser = [](QAbstractButton* button) {
        QString title;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&title] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                title = dialog->windowTitle();
                dialog->reject();
            }
        });
        poll.start(10);
        QTest::mouseClick(button, Qt::LeftButton);
        return title;
    };
    EXPECT_EQ(titleOfChooser(asking.addButton()), "Watch Folder");
    EXPECT_EQ(titleOfChooser(asking.scratchpadsRow()->changeButton()), "Use Folder");
    EXPECT_EQ(strings(stored().value("watchedFolders")), (QStringList{"/tmp/other", "/tmp/new"}));
}

TEST_F(PaneTest, FolderRowsShowTheFoldersTheEngineUses) {
    test::TempDir home;
    QDir().mkpath(home.file(QStringLiteral("env/projects")));
    auto settings = makeSettings();
    const Environment env{{"OSTREL_CLAUDE_HOME", home.file(QStringLiteral("env"))}};
    QString next = home.file(QStringLiteral("chosen"));
    FoldersPane pane(*settings, env, [&](const QString&) { return next; });
    pane.show();
    EXPECT_TRUE(pane.sessionsRow()->found());
    EXPECT_TRUE(pane.sessionsRow()->statusLine().startsWith(home.file("env/projects") + " · "));
    EXPECT_TRUE(pane.sessionsRow()->useDefaultButton()->isHidden());

    QTest::mouseClick(pane.sessionsRow()->changeButton(), Qt::LeftButton);
    EXPECT_EQ(stored().value("claudeHome"), next);
    EXPECT_FALSE(pane.sessionsRow()->useDefaultButton()->isHidden())
        << "overridden, even while the environment wins";
    EXPECT_TRUE(pane.sessionsRow()->statusLine().startsWith(home.file("env/projects")));

    QTest::mouseClick(pane.sessionsRow()->useDefaultButton(), Qt::LeftButton);
    EXPECT_FALSE(stored().contains("claudeHome"));
    EXPECT_TRUE(pane.sessionsRow()->useDefaultButton()->isHidden());

    // Each row's buttons name their folder to a screen reader, and Return or Enter presses them.
    const auto heard = [](QWidget* button) {
        const QAccessibleInterface* read = QAccessible::queryAccessibleInterface(button);
        return read->text(QAccessible::Name) + u'/' + QString::number(read->role());
    };
    const QString button = u'/' + QString::number(QAccessible::Button);
    EXPECT_EQ(heard(pane.sessionsRow()->changeButton()), "Change Sessions Folder" + button);
    EXPECT_EQ(heard(pane.scratchpadsRow()->changeButton()), "Change Scratchpads Folder" + button);
    EXPECT_EQ(heard(pane.scratchpadsRow()->useDefaultButton()),
              "Use Default Scratchpads Folder" + button);
    QTest::keyClick(pane.scratchpadsRow()->changeButton(), Qt::Key_Return);
    EXPECT_EQ(stored().value("scratchRoot"), next);
    next = home.file(QStringLiteral("other"));
    QTest::keyClick(pane.scratchpadsRow()->changeButton(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(stored().value("scratchRoot"), next);

    FolderRow missing(QStringLiteral("Scratchpads"), home.file(QStringLiteral("nowhere")), false,
                      Date::now());
    EXPECT_FALSE(missing.found());
    EXPECT_TRUE(missing.statusLine().endsWith(" · Not found"));

    const QString file = home.write(QStringLiteral("plain"), "x");
    EXPECT_FALSE(WatchedFolderRow(file).missing()) << "a watched path only has to exist";
    EXPECT_TRUE(WatchedFolderRow(QStringLiteral("~/surely-not-here-0x51")).missing());
    EXPECT_EQ(abbreviatedPath(QDir::homePath() + "/work"), "~/work");
}

TEST_F(PaneTest, EveryFolderRowLooksAgainAfterAChangeMadeInThePane) {
    test::TempDir home;
    home.write(QStringLiteral("claude/projects/session.jsonl"), "{}");
    QDir().mkpath(home.file(QStringLiteral("scratch")));
    const QString later = home.file(QStringLiteral("later"));
    writeStore({{"watchedFolders", QJsonArray{later}}});
    auto settings = makeSettings();
    const Environment env{{"OSTREL_CLAUDE_HOME", home.file(QStringLiteral("claude"))},
                          {"OSTREL_SCRATCH_ROOT", home.file(QStringLiteral("scratch"))}};
    Date now = Date::now().adding(90);
    FoldersPane pane(
        *settings, env, [&](const QString&) { return home.file("added"); }, [&] { return now; });
    pane.show();
    EXPECT_TRUE(
        pane.sessionsRow()->statusLine().endsWith(" · Watching · last activity 1 min. ago"));
    EXPECT_TRUE(pane.scratchpadsRow()->statusLine().endsWith(" · Watching"));
    const auto laterRow = [&] {
        return dynamic_cast<WatchedFolderRow*>(
            pane.watchedList()->itemWidget(pane.watchedList()->item(0)));
    };
    ASSERT_NE(laterRow(), nullptr);
    EXPECT_TRUE(laterRow()->missing());

    // Hours later, with a scratchpad written and the missing folder made, a folder is added.
    now = now.adding(3 * 3600);
    home.write(QStringLiteral("scratch/note.png"), "x");
    QDir().mkpath(later);
    QPushButton* change = pane.sessionsRow()->changeButton();
    pane.addWatchedFolder();
    EXPECT_TRUE(pane.sessionsRow()->statusLine().endsWith(" · last activity 3 hr. ago"));
    EXPECT_TRUE(pane.scratchpadsRow()->statusLine().endsWith(" · last activity 3 hr. ago"));
    EXPECT_FALSE(laterRow()->missing());
    EXPECT_EQ(pane.sessionsRow()->changeButton(), change) << "the row is looked at in place";
    QDir(later).removeRecursively();
    pane.chooseScratchRoot();
    EXPECT_TRUE(laterRow()->missing());
}

TEST_F(PaneTest, AboutPaneShowsOnlyConfiguredLinks) {
    auto settings = makeSettings();
    bool feed = false;
    int checks = 0;
    BundleInfo info;
    info.values = {{BundleInfo::websiteKey, "http://ostrel.example"},
                   {BundleInfo::changelogKey, "https://ostrel.example/changes"},
                   {BundleInfo::shortVersionKey, "1.4"}};
    AboutPane pane(*settings, UpdateActions{[&] { return !feed; }, [&] { ++checks; }, {}}, info);
    pane.show();
    ASSERT_EQ(pane.linkRows().size(), 1);
    EXPECT_EQ(pane.linkRows()[0]->text(), "Changelog");
    EXPECT_EQ(pane.updatesRow()->label()->detailText(),
              "This build checks the website for a newer version.");
    EXPECT_FALSE(pane.autoCheck()->toggle()->isEnabled());
    // The title keeps its margin inside the button's border on both sides.
    const QImage button = pane.checkButton()->grab().toImage();
    int first = button.width();
    int last = -1;
    for (int x = 3; x < button.width() - 3; ++x) {
        for (int y = 4; y < button.height() - 4; ++y) {
            if (qGray(button.pixel(x, y)) < 110) {
                first = std::min(first, x);
                last = x;
            }
        }
    }
    EXPECT_GE(first, 10);
    EXPECT_GE(button.width() - 1 - last, 10);
    QTest::mouseClick(pane.checkButton(), Qt::LeftButton);
    EXPECT_EQ(checks, 1);
    QTest::keyClick(pane.checkButton(), Qt::Key_Return);
    EXPECT_EQ(checks, 2);
    // Held down, Return presses once: the key's repeats press nothing.
    for (int i = 0; i < 3; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(pane.checkButton(), &repeat);
    }
    EXPECT_EQ(checks, 2);
    int opened = 0;
    QObject::connect(pane.linkRows()[0], &QAbstractButton::clicked, [&] { ++opened; });
    QTest::keyClick(pane.linkRows()[0], Qt::Key_Return);
    EXPECT_EQ(opened, 1) << "a link opens with Return";

    EXPECT_TRUE(pane.linksSection()->header()->isVisibleTo(&pane));

    feed = true;
    AboutPane withFeed(*settings, UpdateActions{[&] { return !feed; }, [] {}, {}}, BundleInfo{});
    EXPECT_TRUE(withFeed.linkRows().isEmpty());
    // No links, no "Links": below the update rows' box the pane shows nothing but its ground.
    withFeed.resize(583, 608);
    withFeed.show();
    test::settleLayouts();
    EXPECT_FALSE(withFeed.linksSection()->header()->isVisibleTo(&withFeed));
    const QWidget* box = withFeed.sections().first()->box();
    const int below = box->mapTo(&withFeed, QPoint(0, box->height())).y() + 1;
    const QImage shot = withFeed.grab().toImage();
    const QColor ground = shot.pixelColor(2, shot.height() - 2);
    int marked = 0;
    for (int y = below; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            marked += shot.pixelColor(x, y) != ground;
        }
    }
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(withFeed.updatesRow()->label()->detailText(),
              "Checks whether a newer version of Ostrel is out.");
    // Without a copyright its line holds no empty text for a screen reader to land on.
    for (const QLabel* label : withFeed.findChildren<QLabel*>()) {
        EXPECT_FALSE(label->isVisibleTo(&withFeed) && label->text().isEmpty());
    }
    withFeed.show();
    // The disabled row's lines are dimmed with its switch, each to half its own tone: the title's
    // ink and the detail's stand half as far from their ground as in the enabled row.
    const auto contrast = [](QWidget* line) {
        const QImage image = line->grab().toImage();
        const int ground = qGray(image.pixel(0, 0));
        int darkest = ground;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
            }
        }
        return double(ground - darkest);
    };
    const RowLabel* dimmed = pane.autoCheck()->label();
    const RowLabel* shown = withFeed.autoCheck()->label();
    ASSERT_FALSE(dimmed->isEnabled());
    ASSERT_TRUE(shown->isEnabled());
    ASSERT_GT(contrast(shown->title()), 150);
    EXPECT_NEAR(contrast(dimmed->title()) / contrast(shown->title()), 0.5, 0.04);
    const auto detail = [](const RowLabel* label) {
        for (ToneLabel* line : label->findChildren<ToneLabel*>()) {
            if (line != label->title() && line->isVisibleTo(label)) {
                return line;
            }
        }
        return static_cast<ToneLabel*>(nullptr);
    };
    ASSERT_TRUE(detail(dimmed) && detail(shown));
    EXPECT_NEAR(contrast(detail(dimmed)) / contrast(detail(shown)), 0.5, 0.04);
    QTest::mouseClick(withFeed.autoCheck()->toggle(), Qt::LeftButton);
    EXPECT_EQ(stored().value("autoCheckUpdates"), true);

    // Neither a feed nor a website: said plainly, and nothing to press.
    AboutPane nowhere(*settings, UpdateActions{[] { return true; }, [] {}, [] { return false; }},
                      BundleInfo{});
    EXPECT_EQ(nowhere.updatesRow()->label()->detailText(), "This build has no update source.");
    EXPECT_FALSE(nowhere.checkButton()->isEnabled());
}

TEST_F(PaneTest, DisplaysPaneSurvivesItsDisplaysGoing) {
    auto settings = makeSettings();
    settings->setDisplays({DisplayInfo{"a", "Built-in", QRectF(0, 0, 1920, 1080), {}}});
    DisplaysPane pane(*settings);
    pane.show();
    settings->setDisplays({});
    QApplication::processEvents();
    const auto rows = pane.displaysSection()->visibleRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(static_cast<ToneLabel*>(rows[0])->text(), "No displays found.");
}

TEST_F(PaneTest, PositionSectionGrowsInWithThePillAndFoldsAwayWithTheNotch) {
    auto settings = makeSettings();
    auto clock = std::make_shared<ManualMainClock>();
    DisplaysPane pane(*settings);
    pane.setClock(clock);
    pane.resize(560, 700);
    pane.show();
    const auto height = [&] {
        test::settleLayouts();
        return pane.widget()->layout()->sizeHint().height();
    };
    const auto pick = [&](int segment) {
        QTest::mouseClick(pane.style(), Qt::LeftButton, Qt::NoModifier,
                          pane.style()->segmentRect(segment).center());
    };
    const int notch = height();
    pick(1);
    clock->advance(0.09);
    const int between = height();
    clock->advance(0.3);
    const int pill = height();
    EXPECT_LT(notch, between);
    EXPECT_LT(between, pill);
    pick(0);
    EXPECT_TRUE(pane.positionSection()->isHidden());
    clock->advance(0.09);
    EXPECT_LT(height(), pill);
    EXPECT_GT(height(), notch);
    clock->advance(0.3);
    EXPECT_EQ(height(), notch);
}
