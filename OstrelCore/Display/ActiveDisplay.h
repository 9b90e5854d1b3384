#pragma once

#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QtGlobal>

#include <map>
#include <optional>
#include <variant>
#include <vector>

namespace ostrel {

// Which display the user works on, from the frontmost application's windows and clicks on the
// desktop. Rectangles and points share one global coordinate space (any, as long as windows and
// displays use the same).
namespace ActiveDisplay {

// The smallest window that can make its display active, per side.
inline constexpr double minimumSide = 80;

struct Window {
    qint32 pid = 0;
    // 0 for ordinary application windows.
    qint64 layer = 0;
    double alpha = 1;
    QRectF bounds;
    friend bool operator==(const Window& a, const Window& b) {
        return a.pid == b.pid && a.layer == b.layer && a.alpha == b.alpha && a.bounds == b.bounds;
    }
};

using Displays = std::map<quint32, QRectF>;

// What a click landed on.
struct Desktop {
    quint32 display = 0;
    friend bool operator==(const Desktop&, const Desktop&) = default;
};
struct OnWindow {
    friend bool operator==(const OnWindow&, const OnWindow&) = default;
};
struct Other {
    friend bool operator==(const Other&, const Other&) = default;
};
using Hit = std::variant<Desktop, OnWindow, Other>;

// The display the frontmost application works on; windows front to back.
std::optional<quint32> pick(const std::vector<Window>& windows, std::optional<qint32> frontPID,
                            const Displays& displays, std::optional<quint32> previous);

Hit hit(const QPointF& point, const std::vector<Window>& windows, const Displays& displays);

// The display the shelf is shown on.
std::optional<quint32> shown(std::optional<quint32> active, std::optional<quint32> current,
                             bool busy, const QSet<quint32>& displays,
                             std::optional<quint32> fallback);

// Follows the active display across events.
struct Tracker {
    struct Pin {
        quint32 display = 0;
        QSet<qint32> pids;
        friend bool operator==(const Pin&, const Pin&) = default;
    };
    std::optional<quint32> active;
    std::optional<Pin> pin;

    void click(const Hit& hit, std::optional<qint32> frontPID, std::optional<qint32> finderPID);
    // True when `active` changed.
    bool update(const std::vector<Window>& windows, std::optional<qint32> frontPID,
                std::optional<qint32> finderPID, const Displays& displays);
    friend bool operator==(const Tracker&, const Tracker&) = default;
};

} // namespace ActiveDisplay

// Which displays a full-screen window covers.
namespace FullscreenCheck {

struct Window {
    QRectF bounds;
    bool fullscreen = false;
    bool hidden = false;
    friend bool operator==(const Window&, const Window&) = default;
};

// A shown window flagged full screen marks the display whose bounds it matches (each edge within
// a point), else the display holding the largest part of it.
QSet<quint32> displays(const std::vector<Window>& windows, const ActiveDisplay::Displays& bounds);

} // namespace FullscreenCheck

} // namespace ostrel
