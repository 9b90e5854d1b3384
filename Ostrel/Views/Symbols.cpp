#include "Ostrel/Views/Symbols.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSvgRenderer>

#include <cmath>

// The pictures live in this library's resources; a static library must register them itself.
static void registerSymbols() {
    Q_INIT_RESOURCE(Symbols);
}

namespace ostrel::Symbols {

namespace {

QString pathOf(const QString& name) {
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

void ensureRegistered() {
    static const bool done = [] {
        registerSymbols();
        return true;
    }();
    (void)done;
}

} // namespace

bool exists(const QString& name) {
    ensureRegistered();
    return !name.isEmpty() && QFile::exists(pathOf(name));
}

QImage image(const QString& name, int pixels, const QColor& color) {
    ensureRegistered();
    if (pixels < 1 || pixels > 4096) {
        return {};
    }
    static QMutex mutex;
    static QHash<QString, QImage> rendered;
    const QString key = name + QLatin1Char('/') + QString::number(pixels) + QLatin1Char('/') +
                        color.name(QColor::HexArgb);
    QMutexLocker lock(&mutex);
    if (const auto found = rendered.constFind(key); found != rendered.cend()) {
        return *found;
    }
    QSvgRenderer renderer(pathOf(name));
    if (!renderer.isValid()) {
        return {};
    }
    QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    // The drawings are black strokes: keep their coverage, take the wanted colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), color);
    painter.end();
    if (rendered.size() > 256) {
        rendered.clear();
    }
    rendered.insert(key, out);
    return out;
}

void paint(QPainter& painter, const QString& name, QPointF center, double side,
           const QColor& color) {
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const double scale = std::hypot(painter.transform().m11(), painter.transform().m12());
    const int pixels = static_cast<int>(std::ceil(side * ratio * std::max(scale, 1.0)));
    const QImage picture = image(name, pixels, color);
    if (picture.isNull()) {
        return;
    }
    const QRectF target(center.x() - side / 2, center.y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    painter.restore();
}

} // namespace ostrel::Symbols
