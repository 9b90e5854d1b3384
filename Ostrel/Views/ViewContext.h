#pragma once

#include "Platform/Date.h"
#include "Platform/MainClock.h"

#include <QGraphicsObject>
#include <QSizeF>
#include <QTimeZone>

#include <functional>
#include <memory>

namespace ostrel {

class ShelfModel;
class ShelfTips;
class ThumbnailView;
struct ShelfItem;

// What every view of one display's drawer shares: the model it reads and calls, the display it
// shows on, the interface clock its animations and timers run on, the wall clock and zone its
// times are written in, and the tip center its labels register with (none: no tips).
struct ViewContext {
    // Builds the card of an item for a grid cell or a deck. The container sets the card's options,
    // shows it, places it and deletes it when it leaves the view. None: no cards are built.
    using CardFactory =
        std::function<ThumbnailView*(const ShelfItem& item, QSizeF size, QGraphicsItem* parent)>;

    ShelfModel* model = nullptr;
    quint32 display = 0;
    std::shared_ptr<MainClock> clock = MainClock::system();
    std::function<Date()> today = [] { return Date::now(); };
    QTimeZone zone = QTimeZone::systemTimeZone();
    ShelfTips* tips = nullptr;
    CardFactory makeCard;

    // Whether changes on this display animate: only while its shelf is the open one.
    bool isOpenHere() const;
};

} // namespace ostrel
