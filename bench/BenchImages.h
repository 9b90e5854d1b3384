#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

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

} // namespace ostrel::bench
