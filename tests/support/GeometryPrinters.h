#pragma once

// Lets GoogleTest print Qt's geometry values readably in failure messages.
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <ostream>

inline void PrintTo(const QRectF& r, std::ostream* os) {
    *os << "QRectF(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
inline void PrintTo(const QPointF& p, std::ostream* os) {
    *os << "QPointF(" << p.x() << ", " << p.y() << ')';
}
inline void PrintTo(const QSizeF& s, std::ostream* os) {
    *os << "QSizeF(" << s.width() << ", " << s.height() << ')';
}
