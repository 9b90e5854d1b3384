#include "Ostrel/Model/MenuAction.h"

#include "Ostrel/Model/MenuCountStyle.h"

#include <QMenu>

#include <algorithm>

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
    // Setting a style repolishes the whole menu, so it is set once.
    if (std::any_of(entries.cbegin(), entries.cend(),
                    [](const MenuEntry& entry) { return entry.count.has_value(); })) {
        menu.setStyle(MenuCountStyle::instance());
    }
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
            // After a tab, so that the menu makes room for it; the menu's style draws it after the
            // title.
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
