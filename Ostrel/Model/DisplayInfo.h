#pragma once

#include "OstrelCore/Display/NotchGeometry.h"

#include <QRectF>
#include <QString>

#include <optional>

namespace ostrel {

// One connected display as the Settings window lists it.
struct DisplayInfo {
    // The display's UUID text.
    QString id;
    QString name;
    QRectF frame;
    std::optional<PixelSize> resolution;

    friend bool operator==(const DisplayInfo& a, const DisplayInfo& b) {
        return a.id == b.id && a.name == b.name && a.frame.x() == b.frame.x() &&
               a.frame.y() == b.frame.y() && a.frame.width() == b.frame.width() &&
               a.frame.height() == b.frame.height() && a.resolution == b.resolution;
    }
};

} // namespace ostrel
