#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace ostrel {

// One entry of a menu the model builds, as plain data: tests read it without showing anything and
// MenuAction turns it into a real menu. An entry is a separator, a submenu or a command.
struct MenuEntry {
    QString title;
    // Shown after the title in the secondary colour with digits of one width ("R&D  3").
    std::optional<qint64> count;
    bool enabled = true;
    bool checked = false;
    bool separator = false;
    // None for a disabled entry and for a submenu's parent.
    std::function<void()> action;
    QList<MenuEntry> submenu;

    static MenuEntry item(QString title, std::function<void()> action) {
        MenuEntry entry;
        entry.title = std::move(title);
        entry.action = std::move(action);
        return entry;
    }
    static MenuEntry divider() {
        MenuEntry entry;
        entry.separator = true;
        return entry;
    }
    static MenuEntry disabled(QString title) {
        MenuEntry entry;
        entry.title = std::move(title);
        entry.enabled = false;
        return entry;
    }
    static MenuEntry parent(QString title, QList<MenuEntry> submenu) {
        MenuEntry entry;
        entry.title = std::move(title);
        entry.submenu = std::move(submenu);
        return entry;
    }
};

} // namespace ostrel
