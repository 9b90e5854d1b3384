#pragma once

#include "Ostrel/Settings/SettingRow.h"
#include "Platform/Date.h"

#include <QWidget>

#include <functional>

class QPushButton;

namespace ostrel {

class ElidedLabel;

// The home folder written as "~" at the start of a path.
QString abbreviatedPath(const QString& path);
// A leading "~" expanded to the home folder.
QString expandedPath(const QString& path);

// A row for one of Claude Code's folders: its path and live status ("Not found", "Watching",
// "Watching · last activity …") after a green or orange dot, and the buttons to override it.
class FolderRow : public SettingRow {
public:
    FolderRow(const QString& title, const QString& path, bool overridden, Date now,
              QWidget* parent = nullptr);

    // Looks at the folder again, in place: the buttons keep their focus.
    void setFolder(const QString& path, bool overridden, Date now);
    bool found() const { return found_; }
    // The path and the status, as one line.
    QString statusLine() const;
    QPushButton* useDefaultButton() const { return useDefault_; }
    QPushButton* changeButton() const { return change_; }
    QWidget* dot() const;

    std::function<void()> onChange;
    std::function<void()> onReset;

private:
    bool found_ = false;
    class StatusDot;
    StatusDot* dot_;
    ElidedLabel* line_;
    QPushButton* useDefault_;
    QPushButton* change_;
};

// One entry of the watched-folders list: a folder glyph, the path, and "Not found" when nothing
// exists there.
class WatchedFolderRow : public QWidget {
public:
    explicit WatchedFolderRow(const QString& path, QWidget* parent = nullptr);

    const QString& path() const { return path_; }
    bool missing() const { return missing_; }
    // Looks at the path again.
    void recheck();

private:
    QString path_;
    bool missing_ = false;
    QWidget* notFound_;
};

} // namespace ostrel
