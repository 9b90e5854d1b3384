#include "OstrelCore/Display/DisplayVisibility.h"

namespace ostrel {

void DisplayVisibility::appear(const QString& id, quint32 display) {
    ++appeared_[display][id];
}

void DisplayVisibility::disappear(const QString& id, quint32 display) {
    const auto table = appeared_.find(display);
    if (table == appeared_.end()) {
        return;
    }
    const auto entry = table->find(id);
    if (entry == table->end()) {
        return;
    }
    if (*entry <= 1) {
        table->erase(entry);
    } else {
        --*entry;
    }
}

bool DisplayVisibility::setRegion(const QString& name, const Ids& ids, quint32 display) {
    auto& table = regions_[display];
    const auto existing = table.constFind(name);
    if (existing != table.cend() && *existing == ids) {
        return false;
    }
    table.insert(name, ids);
    return true;
}

DisplayVisibility::Ids DisplayVisibility::visible(std::optional<quint32> display) const {
    Ids result;
    if (!display) {
        return result;
    }
    if (const auto table = appeared_.constFind(*display); table != appeared_.cend()) {
        for (auto it = table->cbegin(); it != table->cend(); ++it) {
            result.insert(it.key());
        }
    }
    if (const auto table = regions_.constFind(*display); table != regions_.cend()) {
        for (const auto& ids : *table) {
            result.unite(ids);
        }
    }
    return result;
}

void DisplayVisibility::keep(const QSet<quint32>& displays) {
    appeared_.removeIf([&](const auto& entry) { return !displays.contains(entry.key()); });
    regions_.removeIf([&](const auto& entry) { return !displays.contains(entry.key()); });
}

void DisplayVisibility::clear(quint32 display) {
    appeared_.remove(display);
    regions_.remove(display);
}

} // namespace ostrel
