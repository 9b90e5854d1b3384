#include "Ostrel/Settings/SettingsNavigation.h"

#include "Platform/UserDefaults.h"

namespace ostrel {

QString rawValue(Pane pane) {
    switch (pane) {
    case Pane::general:
        return QStringLiteral("general");
    case Pane::displays:
        return QStringLiteral("displays");
    case Pane::shelf:
        return QStringLiteral("shelf");
    case Pane::files:
        return QStringLiteral("files");
    case Pane::folders:
        return QStringLiteral("folders");
    case Pane::about:
        return QStringLiteral("about");
    }
    return QStringLiteral("general");
}

std::optional<Pane> paneFromRaw(const QString& raw) {
    for (const Pane pane : allPanes) {
        if (rawValue(pane) == raw) {
            return pane;
        }
    }
    return std::nullopt;
}

QString title(Pane pane) {
    switch (pane) {
    case Pane::general:
        return QStringLiteral("General");
    case Pane::displays:
        return QStringLiteral("Displays");
    case Pane::shelf:
        return QStringLiteral("Shelf");
    case Pane::files:
        return QStringLiteral("Files");
    case Pane::folders:
        return QStringLiteral("Folders");
    case Pane::about:
        return QStringLiteral("About");
    }
    return {};
}

QString symbol(Pane pane) {
    switch (pane) {
    case Pane::general:
        return QStringLiteral("gearshape.fill");
    case Pane::displays:
        return QStringLiteral("display");
    case Pane::shelf:
        return QStringLiteral("rectangle.topthird.inset.filled");
    case Pane::files:
        return QStringLiteral("doc.fill");
    case Pane::folders:
        return QStringLiteral("folder.fill");
    case Pane::about:
        return QStringLiteral("info.circle.fill");
    }
    return {};
}

SystemColor tint(Pane pane) {
    switch (pane) {
    case Pane::general:
    case Pane::about:
        return SystemColor::gray;
    case Pane::displays:
        return SystemColor::blue;
    case Pane::shelf:
        return SystemColor::orange;
    case Pane::files:
        return SystemColor::indigo;
    case Pane::folders:
        return SystemColor::teal;
    }
    return SystemColor::gray;
}

SettingsNavigation::SettingsNavigation(UserDefaults& defaults, QObject* parent)
    : QObject(parent), defaults_(defaults) {
    const QJsonValue stored = defaults_.value(paneKey);
    pane_ = paneFromRaw(stored.toString()).value_or(Pane::general);
}

void SettingsNavigation::setPane(Pane pane) {
    const bool changed = pane != pane_;
    pane_ = pane;
    defaults_.set(paneKey, rawValue(pane));
    if (changed) {
        emit paneChanged(pane);
    }
    if (onPaneChange) {
        onPaneChange();
    }
}

void SettingsNavigation::setVisible(bool visible) {
    if (visible != visible_) {
        visible_ = visible;
        emit visibleChanged(visible);
    }
}

} // namespace ostrel
