#pragma once

#include <QtGlobal>

#include <optional>

class QScreen;

namespace ostrel {

// Display numbers for Qt's screens and back. This base knows none; the panels install the real
// table (RandR outputs) once they exist.
class ScreenDirectory {
public:
    virtual ~ScreenDirectory() = default;
    virtual QScreen* screen(quint32 display) const {
        (void)display;
        return nullptr;
    }
    virtual std::optional<quint32> display(const QScreen* screen) const {
        (void)screen;
        return std::nullopt;
    }
};

} // namespace ostrel
