#pragma once

#include <QRectF>

#include <gtest/gtest.h>

#include <ostream>

// Rectangles compared component by component, printed readably on failure.
inline ::testing::AssertionResult rectIs(const QRectF& r, double x, double y, double w, double h,
                                         double tolerance = 1e-9) {
    const auto near = [&](double a, double b) { return std::abs(a - b) <= tolerance; };
    if (near(r.x(), x) && near(r.y(), y) && near(r.width(), w) && near(r.height(), h)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height()
           << ") is not (" << x << ", " << y << ", " << w << ", " << h << ")";
}
