#include "Ostrel/Widgets/AppIcon.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

#include <mutex>

// The drawing lives in a static library, whose resources must be registered by hand.
static void loadAppIconResource() {
    Q_INIT_RESOURCE(AppIcon);
}

namespace ostrel::AppIcon {

namespace {

constexpr int side = 512;

QImage make() {
    static std::once_flag once;
    std::call_once(once, loadAppIconResource);
    QSvgRenderer renderer(QStringLiteral(":/widgets/AppIcon.svg"));
    if (renderer.isValid()) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, side, side));
        return image;
    }
    // The drawing is compiled in, so this is a broken build; the window icon stands in.
    QImage fallback = QGuiApplication::windowIcon().pixmap(side, side).toImage();
    if (fallback.isNull()) {
        fallback = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        fallback.fill(Qt::transparent);
    }
    return fallback;
}

} // namespace

const QImage& image() {
    static const QImage icon = make();
    return icon;
}

} // namespace ostrel::AppIcon
