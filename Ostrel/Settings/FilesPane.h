#pragma once

#include "Ostrel/Widgets/SettingsForm.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <array>

class QLineEdit;

namespace ostrel {

class AppSettings;
class SettingToggle;

// Which kinds of file join the shelf, extra extensions, and whether files inside the project
// folder are left out.
class FilesPane : public SettingsForm {
public:
    struct KindRow {
        ShelfItemKind kind;
        const char* title;
        QString detail;
    };
    // Every kind but plain files, in the order shown.
    static const std::array<KindRow, 7>& kindRows();

    explicit FilesPane(AppSettings& settings, QWidget* parent = nullptr);

    SettingToggle* kindToggle(ShelfItemKind kind) const;
    QLineEdit* extras() const { return extras_; }
    SettingToggle* outsideProjectOnly() const { return outsideProjectOnly_; }

    void refresh();

private:
    void setKind(ShelfItemKind kind, bool on);
    void commitExtensions(const QString& text);

    AppSettings& settings_;
    QList<std::pair<ShelfItemKind, SettingToggle*>> kinds_;
    QLineEdit* extras_;
    SettingToggle* outsideProjectOnly_;
};

} // namespace ostrel
