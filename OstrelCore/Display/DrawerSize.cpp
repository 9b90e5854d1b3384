#include "OstrelCore/Display/DrawerSize.h"

#include "OstrelCore/Display/DisplayLayout.h"

#include <algorithm>
#include <cmath>

namespace ostrel::DrawerSize {

namespace {

QSizeF preferred(ShelfLayoutKind kind, const QRectF& screen) {
    switch (kind) {
    case ShelfLayoutKind::rail:
        return {720, 320};
    case ShelfLayoutKind::stacks:
        return {880, 176};
    case ShelfLayoutKind::column:
        return {480, std::min(std::max(0.72 * screen.height(), 360.0), 720.0)};
    case ShelfLayoutKind::sideStacks:
        return {sideStacksWidth, 880};
    }
    return {};
}

double positiveOrZero(double x) {
    return x > 0 ? x : 0;
}

} // namespace

QSizeF expanded(ShelfLayoutKind kind, const QRectF& screen, const std::optional<QRectF>& visible) {
    const double m = DisplayLayout::margin;
    double availH = screen.height() - 2 * m;
    if (visible) {
        availH = std::min(availH, visible->height() - 2 * DisplayLayout::peekGap - messageRoom);
    }
    const QSizeF want = preferred(kind, screen);
    return {positiveOrZero(std::min(screen.width() - 2 * m, want.width())),
            positiveOrZero(std::min(availH, want.height()))};
}

QSizeF panel(const DisplayStyle& style, const QRectF& screen,
             const std::optional<QRectF>& visible) {
    const bool side = isSide(style.position());
    const auto a = side ? ShelfLayoutKind::column : ShelfLayoutKind::rail;
    const auto b = side ? ShelfLayoutKind::sideStacks : ShelfLayoutKind::stacks;
    const auto narrowing = style.isPill() ? visible : std::nullopt;
    const QSizeF sa = expanded(a, screen, narrowing);
    const QSizeF sb = expanded(b, screen, narrowing);
    return {std::max(sa.width(), sb.width()), std::max(sa.height(), sb.height()) + messageRoom};
}

QSizeF fillingCard(double column, double behind) {
    const double width = column - behind;
    return {width, std::round(width * 3 * 0.25)};
}

} // namespace ostrel::DrawerSize
