#include "Ostrel/Widgets/Symbols.h"

#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <mutex>

// The drawings live in a static library, whose resources must be registered by hand.
static void loadWindowSymbols() {
    Q_INIT_RESOURCE(WindowSymbols);
}

namespace ostrel::Symbols {

QPixmap pixmap(const QString& name, const QColor& colour, int size, qreal pixelRatio) {
    static std::once_flag once;
    std::call_once(once, loadWindowSymbols);
    QSvgRenderer renderer(QStringLiteral(":/widgets/symbols/") + name + QStringLiteral(".svg"));
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
