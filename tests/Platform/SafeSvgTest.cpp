#include "Platform/SafeSvg.h"
#include "Platform/ImageFormat.h"

#include "support/HostilePictures.h"
#include "support/PictureBytes.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace ostrel;
namespace Hostile = ostrel::test::HostilePictures;

// The pictures a drawing holds as "data:" addresses are decoded whole by the renderer: together
// they may cost what one picture file of the drawing's size may, and those beyond are cut out.
TEST(SafeSvg, PicturesInsideADrawingTogetherStayWithinItsAllowance) {
    const QByteArray gif = Hostile::gifClaimingScreen(1000, 1000);
    const qint64 cost = ImageFormat::of(gif).decodeBytes({1000, 1000});
    ASSERT_GT(cost, 10'000'000);
    QByteArray drawing = "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'>";
    for (int i = 0; i < 8; ++i) {
        drawing += "<image href='data:image/gif;base64," + gif.toBase64() + "' width='8'/>";
    }
    drawing += "</svg>";
    const auto kept = SafeSvg::withoutExternalReferences(drawing);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->count("<image"), ImageFormat::decodeLimit(drawing.size()) / cost);
}

// The renderer reads a picture from "data:" in lower case alone; in any other case the address
// is a file's name, and cut out like any.
TEST(SafeSvg, AnAddressOfDataInAnyOtherCaseIsAFileReference) {
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QByteArray png = "image/png;base64," + test::encoded(picture, "png").toBase64();
    for (const QByteArray scheme : {"DATA:", "Data:", "dATA:"}) {
        const auto kept = SafeSvg::withoutExternalReferences(Hostile::drawingOf(scheme + png));
        ASSERT_TRUE(kept) << scheme.constData();
        EXPECT_FALSE(kept->contains("<image")) << scheme.constData();
    }
    const auto kept = SafeSvg::withoutExternalReferences(Hostile::drawingOf("data:" + png));
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->contains("<image"));
}
