// Feeds arbitrary bytes to the one door to the decoders, as a captured file reaches it: opened
// (the kind decided by content, a drawing's references cut out) and decoded to a small thumbnail
// within the shared budget, as ingest does. No input may crash, read past its bytes or hold more
// than its decode limit allows; findings in libheif's or Qt's decoders count too, since the shelf
// runs them on whatever turns up. The decoders' own complaints are not shown (the fuzzer's
// reports are).
// libFuzzer: -max_len=1048576 -len_control=0 -close_fd_mask=2
#include "Platform/ImageSource.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace ostrel;

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Drawings lay out text: Qt's fonts need an application, given none of the fuzzer's flags.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_ImageSource";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto source = ImageSource::open(bytes)) {
        (void)source->pixelSize();
        (void)source->picture(48, &ImageSource::budget());
    }
    return 0;
}
