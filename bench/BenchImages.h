#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

#include <unistd.h>

namespace ostrel::bench {

// A PNG of random pixels: incompressible, so its size is predictable (about 3 bytes a pixel)
// and it passes every size floor of the item filter.
inline QByteArray noisyPng(int side, quint32 seed) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            line[x] = 0xff000000u | (random.generate() & 0x00ffffffu);
        }
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return out;
}

// A picture like a screenshot's stored thumbnail (360 pixels on its longer side): a gradient
// under lines of text.
inline QImage screenshotThumbnail() {
    QImage picture(360, 225, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient ground(0, 0, 360, 225);
    ground.setColorAt(0, QColor(40, 60, 110));
    ground.setColorAt(1, QColor(210, 120, 80));
    painter.fillRect(picture.rect(), ground);
    painter.setPen(Qt::white);
    for (int row = 0; row < 12; ++row) {
        painter.drawText(QPointF(16, 24 + row * 17), QStringLiteral("A line of text in a window"));
    }
    return picture;
}

// The file at `source` under another name too: a hard link, else a copy.
inline void linkOrCopy(const QString& source, const QString& to) {
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(to).constData()) != 0) {
        QFile::copy(source, to);
    }
}

} // namespace ostrel::bench
