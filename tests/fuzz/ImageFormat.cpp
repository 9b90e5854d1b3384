// Feeds arbitrary bytes to the structure walk that decides every picture's kind, size and cost
// before any decoder sees it: as they come, and behind each kind's magic. Whatever it answers, it
// reads nothing beyond the bytes, its stack does not grow with them (inputs run to a megabyte, so
// that boxes nest deep), no size or cost wraps around (this walk's arithmetic is built to trap
// unsigned wrap-around too), and no cost comes out below the pixels it would make.
// libFuzzer: -max_len=1048576 -len_control=0
#include "Platform/ImageFormat.h"
#include "Platform/Saturating.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace ostrel;

namespace {

void judge(const QByteArray& input) {
    const ImageFormat format = ImageFormat::of(input);
    for (const QSize target : {QSize(1, 1), QSize(360, 360), format.size}) {
        if (!format.isPicture() || target.isEmpty()) {
            continue;
        }
        const QSize shown = target.boundedTo(format.size);
        const qint64 pixels = Saturating::multiply(shown.width(), shown.height(), 4);
        if (format.decodeBytes(target) < pixels) {
            std::fprintf(stderr, "a %dx%d picture costs %lld to decode to %dx%d\n",
                         format.size.width(), format.size.height(),
                         static_cast<long long>(format.decodeBytes(target)), target.width(),
                         target.height());
            std::abort();
        }
        (void)format.decodable(target);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QByteArray heads[] = {
        {},
        QByteArray("\xff\xd8\xff", 3),
        "GIF89a",
        QByteArray("RIFF\xff\xff\xff\x7fWEBP", 12),
        "BM",
        QByteArray("II*\0", 4),
        QByteArray("MM\0*", 4),
        QByteArray("\0\0\0\x18"
                   "ftypheic\0\0\0\0mif1heic",
                   24),
        "<svg",
    };
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    for (const QByteArray& head : heads) {
        judge(head + bytes.toByteArray());
    }
    (void)ImageFormat::pngText(bytes, "Thumb::MTime");
    return 0;
}
