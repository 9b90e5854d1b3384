#include "OstrelCore/Display/ActiveDisplay.h"

#include "OstrelCore/Display/Geometry.h"

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

double overlapArea(const QRectF& a, const QRectF& b) {
    const auto common = Geometry::intersection(a, b);
    return common ? common->width() * common->height() : 0.0;
}

// The display (lowest identifier first on ties) holding the largest positive part of `bounds`.
std::optional<quint32> largestPart(const QRectF& bounds, const ActiveDisplay::Displays& displays) {
    std::optional<quint32> best;
    double bestArea = 0;
    for (const auto& [id, frame] : displays) {
        const double area = overlapArea(frame, bounds);
        if (area > bestArea) {
            best = id;
            bestArea = area;
        }
    }
    return best;
}

} // namespace

std::optional<quint32> ActiveDisplay::pick(const std::vector<Window>& windows,
                                           std::optional<qint32> frontPID, const Displays& displays,
                                           std::optional<quint32> previous) {
    const std::optional<quint32> fallback =
        previous && displays.count(*previous) ? previous : std::nullopt;
    if (!frontPID || windows.empty()) {
        return fallback;
    }
    for (const Window& w : windows) {
        if (w.pid != *frontPID || w.layer != 0 || !(w.alpha > 0) ||
            w.bounds.width() < minimumSide || w.bounds.height() < minimumSide) {
            continue;
        }
        if (const auto display = largestPart(w.bounds, displays)) {
            return display;
        }
    }
    return fallback;
}

ActiveDisplay::Hit ActiveDisplay::hit(const QPointF& point, const std::vector<Window>& windows,
                                      const Displays& displays) {
    for (const Window& w : windows) {
        if (w.alpha > 0 && Geometry::contains(w.bounds, point)) {
            if (w.layer == 0) {
                return OnWindow{};
            }
            return Other{};
        }
    }
    for (const auto& [id, frame] : displays) {
        if (Geometry::contains(frame, point)) {
            return Desktop{id};
        }
    }
    return Other{};
}

std::optional<quint32> ActiveDisplay::shown(std::optional<quint32> active,
                                            std::optional<quint32> current, bool busy,
                                            const QSet<quint32>& displays,
                                            std::optional<quint32> fallback) {
    if (current && displays.contains(*current) && busy) {
        return current;
    }
    if (active && displays.contains(*active)) {
        return active;
    }
    if (current && displays.contains(*current)) {
        return current;
    }
    if (fallback && displays.contains(*fallback)) {
        return fallback;
    }
    if (displays.isEmpty()) {
        return std::nullopt;
    }
    return *std::min_element(displays.begin(), displays.end());
}

void ActiveDisplay::Tracker::click(const Hit& hit, std::optional<qint32> frontPID,
                                   std::optional<qint32> finderPID) {
    if (const auto* desktop = std::get_if<Desktop>(&hit)) {
        Pin p{desktop->display, {}};
        if (frontPID) {
            p.pids.insert(*frontPID);
        }
        if (finderPID) {
            p.pids.insert(*finderPID);
        }
        pin = p;
    } else if (std::holds_alternative<OnWindow>(hit)) {
        pin.reset();
    }
}

bool ActiveDisplay::Tracker::update(const std::vector<Window>& windows,
                                    std::optional<qint32> frontPID, std::optional<qint32> finderPID,
                                    const Displays& displays) {
    const std::optional<quint32> before = active;
    if (pin && frontPID && pin->pids.contains(*frontPID) && displays.count(pin->display)) {
        if (finderPID && *finderPID == *frontPID) {
            pin->pids = {*frontPID};
        }
        active = pin->display;
        return before != active;
    }
    pin.reset();
    active = pick(windows, frontPID, displays, before);
    return before != active;
}

QSet<quint32> FullscreenCheck::displays(const std::vector<Window>& windows,
                                        const ActiveDisplay::Displays& bounds) {
    QSet<quint32> result;
    for (const Window& w : windows) {
        if (!w.fullscreen || w.hidden) {
            continue;
        }
        std::optional<quint32> covered;
        for (const auto& [id, frame] : bounds) {
            if (std::abs(frame.x() - w.bounds.x()) < 1 && std::abs(frame.y() - w.bounds.y()) < 1 &&
                std::abs(frame.width() - w.bounds.width()) < 1 &&
                std::abs(frame.height() - w.bounds.height()) < 1) {
                covered = id;
                break;
            }
        }
        if (!covered) {
            covered = largestPart(w.bounds, bounds);
        }
        if (covered) {
            result.insert(*covered);
        }
    }
    return result;
}

} // namespace ostrel
