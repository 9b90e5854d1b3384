#include "Ostrel/Settings/AppIcon.h"

#include "Ostrel/Settings/SettingsResources.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

namespace ostrel::AppIcon {

namespace {

constexpr int side = 512;

QImage make() {
    SettingsResources::ensureLoaded();
    QSvgRenderer renderer(QStringLiteral(":/settings/AppIcon.svg"));
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
