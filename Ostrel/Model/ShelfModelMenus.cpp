#include "Ostrel/Model/ShelfModel.h"

#include "Ostrel/Model/ShelfModelParts.h"

#include <QWidget>

#include <algorithm>

// The header's menus as data (shelf, project, kind) and the filters they change.

namespace ostrel {

using namespace shelfModelParts;

MenuEntry ShelfModel::menuTitle(const QString& title, qint64 count,
                                std::function<void()> action) const {
    MenuEntry entry = MenuEntry::item(title, std::move(action));
    entry.count = count;
    return entry;
}

QList<MenuEntry> ShelfModel::shelfMenu() {
    const QPointer<ShelfModel> self(this);
    QList<MenuEntry> entries;
    entries.append(MenuEntry::item(QStringLiteral("Settings…"), [self] {
        if (self && self->commands.settings) {
            self->commands.settings();
        }
    }));
    const QList<ShelfItem> hidden = visibleSnapshot_.hidden;
    if (!hidden.isEmpty()) {
        QList<MenuEntry> submenu;
        for (qsizetype i = 0; i < std::min<qsizetype>(hidden.size(), 10); ++i) {
            const ShelfItem item = hidden[i];
            submenu.append(MenuEntry::item(item.title, [self, item] {
                if (self) {
                    self->unhide({item});
                }
            }));
        }
        submenu.append(MenuEntry::divider());
        const QString all = hidden.size() == 1
                                ? QStringLiteral("Unhide")
                                : QStringLiteral("Unhide All ") + QString::number(hidden.size());
        submenu.append(MenuEntry::item(all, [self, hidden] {
            if (self) {
                self->unhide(hidden);
            }
        }));
        entries.append(MenuEntry::parent(QStringLiteral("Recently Hidden"), submenu));
    }
    entries.append(MenuEntry::divider());
    if (visibleSnapshot_.items.isEmpty() && visibleSnapshot_.hidden.isEmpty()) {
        entries.append(MenuEntry::disabled(QStringLiteral("Delete All Items")));
    } else {
        entries.append(MenuEntry::item(QStringLiteral("Delete All Items"), [self] {
            if (self) {
                self->deleteAll();
            }
        }));
    }
    entries.append(MenuEntry::divider());
    entries.append(MenuEntry::item(QStringLiteral("Quit Ostrel"), [self] {
        if (self && self->commands.quit) {
            self->commands.quit();
        }
    }));
    return entries;
}

QList<MenuEntry> ShelfModel::projectMenu() {
    const QPointer<ShelfModel> self(this);
    QList<MenuEntry> entries;
    MenuEntry all = MenuEntry::item(QStringLiteral("All Projects"), [self] {
        if (self) {
            self->setProject(std::nullopt);
        }
    });
    all.checked = !filter_.project.has_value();
    entries.append(all);
    entries.append(MenuEntry::divider());
    for (const ShelfFilter::ProjectCount& project : ShelfFilter::projects(visibleSnapshot_)) {
        const QString name = project.name;
        MenuEntry entry = menuTitle(name, project.count, [self, name] {
            if (self) {
                self->setProject(name);
            }
        });
        entry.checked = filter_.project == name;
        entries.append(entry);
    }
    return entries;
}

QList<MenuEntry> ShelfModel::kindMenu() {
    const QPointer<ShelfModel> self(this);
    const auto counts = filter_.kindCounts(visibleSnapshot_, dotIDs_);
    QList<MenuEntry> entries;
    for (const KindFilter kind : allKindFilters) {
        const auto found = counts.find(kind);
        MenuEntry entry =
            menuTitle(title(kind), found == counts.end() ? 0 : found->second, [self, kind] {
                if (self) {
                    self->toggleKind(kind);
                }
            });
        entry.checked = filter_.kinds.contains(kind);
        entries.append(entry);
    }
    entries.append(MenuEntry::divider());
    MenuEntry onlyNew = MenuEntry::item(QStringLiteral("Only New"), [self] {
        if (self) {
            self->toggleOnlyNew();
        }
    });
    onlyNew.checked = filter_.onlyNew;
    entries.append(onlyNew);
    entries.append(MenuEntry::divider());
    if (filter_.isFiltering()) {
        entries.append(MenuEntry::item(QStringLiteral("Clear Filters"), [self] {
            if (self) {
                self->clearKinds();
            }
        }));
    } else {
        entries.append(MenuEntry::disabled(QStringLiteral("Clear Filters")));
    }
    return entries;
}

void ShelfModel::showMenu(const QList<MenuEntry>& entries, QWidget* control) {
    if (!menus_->canShow(control)) {
        return;
    }
    const QPointer<ShelfModel> self(this);
    isMenuOpen_ = true;
    menus_->run(entries, control);
    // The menu ran its own event loop: the model may be gone now.
    if (!self) {
        return;
    }
    isMenuOpen_ = false;
    if (onInteractionEnded) {
        onInteractionEnded();
    }
}

void ShelfModel::showShelfMenu(QWidget* control) {
    showMenu(shelfMenu(), control);
}

void ShelfModel::showProjectMenu(QWidget* control) {
    showMenu(projectMenu(), control);
}

void ShelfModel::showKindMenu(QWidget* control) {
    showMenu(kindMenu(), control);
}

QString ShelfModel::projectLabel() const {
    return filter_.project.value_or(QStringLiteral("All projects"));
}

void ShelfModel::setProject(const std::optional<QString>& project) {
    ShelfFilter next = filter_;
    next.project = project;
    if (next != filter_) {
        applyFilter(next);
    }
}

void ShelfModel::toggleKind(KindFilter kind) {
    ShelfFilter next = filter_;
    if (next.kinds.contains(kind)) {
        next.kinds.erase(kind);
    } else {
        next.kinds.insert(kind);
    }
    applyFilter(next);
}

void ShelfModel::toggleOnlyNew() {
    ShelfFilter next = filter_;
    next.onlyNew = !next.onlyNew;
    applyFilter(next);
}

void ShelfModel::clearKinds() {
    ShelfFilter next = filter_;
    next.kinds.clear();
    next.onlyNew = false;
    if (next != filter_) {
        applyFilter(next);
    }
}

void ShelfModel::applyFilter(const ShelfFilter& filter) {
    Animating scope(*this, Motion::modelChange(motionContext(scale_)));
    setFilterValue(filter);
    if (selectedSessionID_) {
        selectedSessionID_.reset();
        emit selectedSessionIDChanged();
    }
    validateSelection();
    rebuild();
}

} // namespace ostrel
