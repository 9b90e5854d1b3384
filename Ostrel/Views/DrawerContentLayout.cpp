#include "Ostrel/Views/DrawerContentLayout.h"

#include <algorithm>

namespace ostrel {

DrawerContentLayout DrawerContentLayout::make(const Input& in) {
    DrawerContentLayout out;
    double top = in.messageOnTop ? in.message : 0;
    double bottom = in.size.height() - (in.messageOnTop ? 0 : in.message);
    if (in.band > 0) {
        out.header = QRectF(0, top + in.bandTop, in.size.width(), in.band);
        top = out.header->bottom();
    }
    out.content = QRectF(0, top, in.size.width(), std::max(0.0, bottom - top));
    return out;
}

QRectF DrawerContentLayout::toast(QSizeF drawer, double wanted, bool onTop) {
    const double w = std::max(0.0, std::min({wanted, toastMaxWidth, drawer.width() - 28}));
    const double y = onTop ? 10 : drawer.height() - 10 - toastHeight;
    return QRectF((drawer.width() - w) / 2, y, w, toastHeight);
}

double DrawerContentLayout::emptyTextWidth(const QRectF& content) {
    return std::max(0.0, std::min(180.0, content.width() - 40));
}

QRectF DrawerContentLayout::emptyStack(const QRectF& content, double width, double height) {
    return QRectF(content.center().x() - width / 2, content.center().y() - height / 2, width,
                  height);
}

RailLayout RailLayout::make(const QRectF& area, double sidebar, const QMarginsF& margins) {
    RailLayout out;
    const QRectF split = area.marginsRemoved(margins);
    const double h = std::max(0.0, split.height());
    out.sidebar = QRectF(split.left(), split.top(), sidebar, h);
    out.divider = QRectF(split.left() + sidebar, split.top() + dividerInset, 1,
                         std::max(0.0, h - 2 * dividerInset));
    const double left = out.divider.right() + contentLeading;
    out.content = QRectF(left, split.top(), std::max(0.0, split.right() - left), h);
    return out;
}

} // namespace ostrel
