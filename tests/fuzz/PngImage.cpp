// Feeds arbitrary bytes to the PNG thumbnailer twice, its pixel data inflated whole and streamed a
// few rows at a time: both must give the same picture, or both none. Reads past the bytes given
// are the sanitizers' to catch. (The structure walk of every kind has a target of its own.)
#include "Platform/PngImage.h"
#include "Platform/MemoryBudget.h"

#include <QByteArrayView>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace ostrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A few bytes of deflate data inflate to any size: the engine bounds a picture's pixels
    // before it decodes, and so does this, much lower, to keep every input quick.
    if (size >= 24) {
        const auto side = [&](size_t at) {
            return (quint64(data[at]) << 24) | (quint64(data[at + 1]) << 16) |
                   (quint64(data[at + 2]) << 8) | quint64(data[at + 3]);
        };
        if (side(16) * side(20) > 1'000'000) {
            return 0;
        }
    }
    static MemoryBudget budget(64 * 1024 * 1024);
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QSize to(40, 30);
    const QImage whole = PngImage::thumbnail(bytes, to, &budget);
    const QImage streamed = PngImage::thumbnail(bytes, to);
    if (whole.isNull() != streamed.isNull() ||
        (!whole.isNull() && whole.convertToFormat(QImage::Format_ARGB32_Premultiplied) !=
                                streamed.convertToFormat(QImage::Format_ARGB32_Premultiplied))) {
        std::fprintf(stderr, "whole and streamed inflating give different pictures (%s, %s)\n",
                     whole.isNull() ? "none" : "a picture",
                     streamed.isNull() ? "none" : "a picture");
        std::abort();
    }
    return 0;
}
