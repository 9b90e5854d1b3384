#include "Ostrel/Model/MenuAction.h"

#include <QMenu>

namespace ostrel {

MenuAction::MenuAction(const QString& title, std::function<void()> handler, QObject* parent)
    : QAction(escaped(title), parent), handler_(std::move(handler)) {
    connect(this, &QAction::triggered, this, [this] { run(); });
}

MenuAction* MenuAction::item(const QString& title, std::function<void()> handler, QObject* parent) {
    return new MenuAction(title, std::move(handler), parent);
}

QString MenuAction::escaped(const QString& title) {
    QString text = title;
    text.replace(u'&', QStringLiteral("&&"));
    return text;
}

void MenuAction::fill(QMenu& menu, const QList<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        if (entry.separator) {
            menu.addSeparator();
            continue;
        }
        if (!entry.submenu.isEmpty()) {
            QMenu* sub = menu.addMenu(escaped(entry.title));
            fill(*sub, entry.submenu);
            continue;
        }
        QString title = entry.title;
        if (entry.count) {
            // Two spaces, then the count; the tab puts it in the shortcut column, where the menu
            // style draws it in its secondary colour.
            title += QStringLiteral("\t") + QString::number(*entry.count);
        }
        auto* action = item(title, entry.action, &menu);
        action->setEnabled(entry.enabled && entry.action != nullptr);
        if (entry.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        menu.addAction(action);
    }
}

} // namespace ostrel
