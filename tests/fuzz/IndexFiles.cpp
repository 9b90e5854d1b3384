// Feeds arbitrary bytes to the store's readers as an index file, an offsets file and a settings
// file, and decodes each the plain way too, through QJsonDocument. Any difference in the verdict
// (accepted or refused) or in what was decoded aborts.
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/Store.h"
#include "tests/OstrelCore/Records/IndexReference.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace ostrel;

namespace {

void fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "%s\n%s\n", what, qPrintable(detail));
    std::abort();
}

void compare(const QByteArray& bytes) {
    // The text as a whole: the same verdict, and for an object the same tree, as Qt.
    JsonReader reader(bytes);
    const bool object = reader.next() == JsonReader::Kind::object;
    const auto tree = test::reference::tree(reader);
    const bool accepted = object && tree && reader.finish();
    const auto expected = test::reference::object(bytes);
    if (accepted != expected.has_value()) {
        fail("JsonReader and QJsonDocument disagree on the text's validity",
             expected ? QStringLiteral("Qt accepts it") : QStringLiteral("Qt refuses it"));
    }
    if (accepted && tree->toObject() != *expected) {
        fail("JsonReader reads other values than QJsonDocument",
             QString::fromUtf8(QJsonDocument(tree->toObject()).toJson()));
    }

    if (test::reference::passOverDisagrees(bytes)) {
        fail("JsonReader::passOver and QJsonDocument disagree on the text's grammar",
             QStringLiteral("Qt verdict %1").arg(int(test::reference::verdict(bytes))));
    }

    // Where Qt refuses the text only for a number, the depth or the bytes of a string, the store
    // reads on without what held them; there is nothing to compare it with.
    const QString index = test::reference::verdict(bytes) == test::reference::Verdict::conversion
                              ? QString()
                              : test::reference::difference(test::reference::index(bytes),
                                                            Store::Index::decode(bytes));
    if (!index.isEmpty()) {
        fail("the index decoders differ", index);
    }
    const auto expectedOffsets = test::reference::offsets(bytes);
    const auto offsets = Store::decodeOffsets(bytes);
    if (expectedOffsets != offsets) {
        fail("the offsets decoders differ", expectedOffsets
                                                ? QStringLiteral("the reference reads them")
                                                : QStringLiteral("the reference refuses them"));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Anything the readers say in the log would flood the fuzzer's output.
    QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    compare(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
