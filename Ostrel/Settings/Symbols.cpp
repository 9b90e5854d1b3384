#include "Ostrel/Settings/Symbols.h"

#include "Ostrel/Settings/SettingsResources.h"

#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace ostrel::Symbols {

QPixmap pixmap(const QString& name, const QColor& colour, int size, qreal pixelRatio) {
    SettingsResources::ensureLoaded();
    QSvgRenderer renderer(QStringLiteral(":/settings/symbols/") + name + QStringLiteral(".svg"));
    if (!renderer.isValid()) {
        return {};
    }
    const int side = static_cast<int>(std::ceil(size * pixelRatio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, side, side));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), colour);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(pixelRatio);
    return result;
}

} // namespace ostrel::Symbols
