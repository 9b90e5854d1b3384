#pragma once

#include "Ostrel/Model/ShelfCommands.h"

#include <QIcon>
#include <QImage>
#include <QObject>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace ostrel {

// The application's tray item: an icon drawn in code with a menu, opened by either button, that
// opens the shelf (with the number of new items), Settings, the update check (for a build that has
// somewhere to look), feedback (for a build given an address) and quit. Where the desktop has no
// tray the item is absent and nothing else changes. Main thread only.
class StatusItem : public QObject {
    Q_OBJECT
public:
    StatusItem(std::function<ShelfCommands()> commands, std::function<void()> toggleShelf,
               std::function<qint64()> unread,
               std::function<bool()> hasFeedback = defaultHasFeedback(),
               std::function<bool()> hasUpdateSource = defaultHasUpdateSource(),
               QObject* parent = nullptr);
    ~StatusItem() override;

    // Creates or removes the tray item; the state that already holds changes nothing.
    void setVisible(bool visible);
    QSystemTrayIcon* item() const { return item_.get(); }
    QMenu* menu() const { return menu_.get(); }

    // Refills the menu; called when the count of new items may have changed and before it opens.
    void rebuildMenu();
    // The same from the event loop, once for a burst of changes: a change may come from a
    // command of the menu itself, whose action must outlive its own call.
    void scheduleRebuild();

    // "Show Shelf (3 new)", or "Show Shelf" without new items.
    static QString shelfTitle(qint64 unread);
    // The icon `pixels` device pixels a side (18 at a scale of 1, at most 512): black strokes for
    // light panels, white for dark.
    static QImage iconImage(bool dark, int pixels);
    // Drawn at the size and pixel ratio it is shown at.
    static QIcon icon(bool dark);

private:
    static std::function<bool()> defaultHasFeedback();
    static std::function<bool()> defaultHasUpdateSource();
    static bool darkPanel();

    std::function<ShelfCommands()> commands_;
    std::function<void()> toggleShelf_;
    std::function<qint64()> unread_;
    std::function<bool()> hasFeedback_;
    std::function<bool()> hasUpdateSource_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> item_;
    bool dark_ = false;
    bool rebuildPending_ = false;
};

} // namespace ostrel
