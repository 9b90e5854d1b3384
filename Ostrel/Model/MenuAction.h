#pragma once

#include "Ostrel/Model/MenuEntry.h"

#include <QAction>
#include <QList>
#include <QString>

#include <functional>

class QMenu;
class QWidget;

namespace ostrel {

// The menu item that runs a closure, and the adapter from menu data to a real menu.
class MenuAction : public QAction {
    Q_OBJECT
public:
    // An item with `title` shown as written ("&" is not a mnemonic) running `handler` when chosen.
    // The action lives as long as its parent.
    MenuAction(const QString& title, std::function<void()> handler, QObject* parent);

    void run() const {
        if (handler_) {
            handler_();
        }
    }

    static MenuAction* item(const QString& title, std::function<void()> handler, QObject* parent);
    // "&" doubled, so that a project named "R&D" shows as R&D.
    static QString escaped(const QString& title);
    // Adds the entries to `menu`, submenus included.
    static void fill(QMenu& menu, const QList<MenuEntry>& entries);

private:
    std::function<void()> handler_;
};

} // namespace ostrel
