#pragma once

#include <QImage>

namespace ostrel::test {

// A picture of noise from a simple generator seeded with `seed`: incompressible, so its file is
// large enough to pass the item filter's floors. With `orangeTop` its upper half is one orange
// band, which a screen capture can look for.
inline QImage noisePicture(int width, int height, quint32 seed, bool orangeTop = false) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            seed = seed * 1664525u + 1013904223u;
            picture.setPixel(col, row,
                             orangeTop && row < height / 2 ? qRgb(240, 130, 20) : (seed >> 8));
        }
    }
    return picture;
}

} // namespace ostrel::test
