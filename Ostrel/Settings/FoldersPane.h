#pragma once

#include "Ostrel/Widgets/SettingsForm.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/Preferences.h"
#include "Platform/Date.h"

#include <functional>
#include <optional>

class QListWidget;
class QToolButton;

namespace ostrel {

class AppSettings;
class FolderRow;
class ToneLabel;

// Claude Code's folders as the engine really uses them, with overrides, and the extra watched
// folders.
class FoldersPane : public SettingsForm {
public:
    // Asks the user for a folder; the text titles the chooser and its accept button ("Use
    // Folder", "Watch Folder"). None when cancelled.
    using FolderChooser = std::function<std::optional<QString>(const QString& prompt)>;

    FoldersPane(AppSettings& settings, Environment env = Env::process(),
                FolderChooser chooser = nullptr, Clock clock = nullptr, QWidget* parent = nullptr);

    // Equal as Unicode text under canonical equivalence.
    static bool samePath(const QString& a, const QString& b);

    FolderRow* sessionsRow() const { return sessions_; }
    FolderRow* scratchpadsRow() const { return scratchpads_; }
    QListWidget* watchedList() const { return list_; }
    ToneLabel* emptyNote() const { return empty_; }
    QToolButton* addButton() const { return add_; }
    QToolButton* removeButton() const { return remove_; }
    std::optional<QString> selection() const { return selection_; }

    void chooseClaudeHome();
    void chooseScratchRoot();
    void addWatchedFolder();
    void removeSelected();
    void refresh();

private:
    void showFolders();
    void showWatched();
    void select(const std::optional<QString>& path);

    AppSettings& settings_;
    Environment env_;
    FolderChooser chooser_;
    Clock clock_;
    SettingsSection* folders_;
    FolderRow* sessions_ = nullptr;
    FolderRow* scratchpads_ = nullptr;
    QListWidget* list_;
    ToneLabel* empty_;
    QToolButton* add_;
    QToolButton* remove_;
    std::optional<QString> selection_;
    Preferences shown_;
    bool updating_ = false;
};

} // namespace ostrel
