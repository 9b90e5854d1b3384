#pragma once

#include "Ostrel/Widgets/SettingsForm.h"
#include "Platform/BundleInfo.h"

#include <QAbstractButton>

#include <functional>

class QPushButton;

namespace ostrel {

class AppSettings;
class SettingRow;
class UpdateController;
class SettingToggle;

// What the About pane asks of the updater.
struct UpdateActions {
    // True when the build has no update feed, so a check opens the website instead.
    std::function<bool()> usesWebsite;
    std::function<void()> checkNow;
    // False when the build has neither a feed nor a website; unset counts as true.
    std::function<bool()> hasSource;

    // The application's update controller; the actions do nothing once it is gone.
    static UpdateActions of(UpdateController& controller);
};

// A row that opens an outside link: a glyph, the title, and an arrow pointing out.
class LinkRow : public QAbstractButton {
public:
    LinkRow(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString symbol_;
};

// Who the application is, the update check and the links this build was given.
class AboutPane : public SettingsForm {
public:
    AboutPane(AppSettings& settings, UpdateActions updates,
              const BundleInfo& info = BundleInfo::main(), QWidget* parent = nullptr);

    SettingRow* updatesRow() const { return updatesRow_; }
    QPushButton* checkButton() const { return check_; }
    SettingToggle* autoCheck() const { return autoCheck_; }
    SettingsSection* linksSection() const { return links_; }
    QList<LinkRow*> linkRows() const;

    void refresh();

private:
    AppSettings& settings_;
    UpdateActions updates_;
    SettingRow* updatesRow_;
    QPushButton* check_;
    SettingToggle* autoCheck_;
    SettingsSection* links_;
};

} // namespace ostrel
