#pragma once

#include "Ostrel/Widgets/SettingsColors.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace ostrel {

class UserDefaults;

// The panes of the Settings window, in sidebar order.
enum class Pane { general, displays, shelf, files, folders, about };

inline constexpr std::array<Pane, 6> allPanes{Pane::general, Pane::displays, Pane::shelf,
                                              Pane::files,   Pane::folders,  Pane::about};

QString rawValue(Pane pane);
std::optional<Pane> paneFromRaw(const QString& raw);
// The pane's name in the sidebar and above the pane.
QString title(Pane pane);
// The symbol drawn white on the pane's tile.
QString symbol(Pane pane);
SystemColor tint(Pane pane);

// Which pane the Settings window shows, remembered across launches, and whether the window can
// be seen (the previews play only then).
class SettingsNavigation : public QObject {
    Q_OBJECT
public:
    static inline const QString paneKey = QStringLiteral("preferencesPane");

    // Restores the pane from the store: a missing or unknown value gives General.
    explicit SettingsNavigation(UserDefaults& defaults, QObject* parent = nullptr);

    Pane pane() const { return pane_; }
    // Every assignment, even of the pane already shown, stores it and then runs `onPaneChange`.
    void setPane(Pane pane);
    std::function<void()> onPaneChange;

    bool visible() const { return visible_; }
    void setVisible(bool visible);

signals:
    void paneChanged(ostrel::Pane pane);
    void visibleChanged(bool visible);

private:
    UserDefaults& defaults_;
    Pane pane_ = Pane::general;
    bool visible_ = false;
};

} // namespace ostrel
