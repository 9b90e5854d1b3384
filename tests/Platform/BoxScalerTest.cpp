#include "Platform/BoxScaler.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <vector>

using namespace ostrel;

namespace {

// The rounded mean of every channel over each target pixel's box, the boxes cut where the
// integer boundaries i * from / to fall, as the scaler promises.
std::vector<QRgb> boxMeans(const std::vector<std::vector<QRgb>>& rows, QSize from, QSize to) {
    std::vector<QRgb> out;
    const auto cut = [](qint64 i, qint64 source, qint64 target) {
        return static_cast<int>(i * source / target);
    };
    for (int ty = 0; ty < to.height(); ++ty) {
        for (int tx = 0; tx < to.width(); ++tx) {
            quint64 sum[4] = {0, 0, 0, 0};
            quint64 count = 0;
            for (int y = cut(ty, from.height(), to.height());
                 y < cut(ty + 1, from.height(), to.height()); ++y) {
                for (int x = cut(tx, from.width(), to.width());
                     x < cut(tx + 1, from.width(), to.width()); ++x) {
                    const QRgb p = rows[size_t(y)][size_t(x)];
                    sum[0] += qAlpha(p);
                    sum[1] += qRed(p);
                    sum[2] += qGreen(p);
                    sum[3] += qBlue(p);
                    ++count;
                }
            }
            const auto mean = [&](quint64 total) { return int((total + count / 2) / count); };
            out.push_back(qRgba(mean(sum[1]), mean(sum[2]), mean(sum[3]), mean(sum[0])));
        }
    }
    return out;
}

} // namespace

TEST(BoxScaler, EveryPixelIsTheRoundedMeanOfItsBoxAtEveryRatioAndAtNone) {
    QRandomGenerator rng(3);
    const std::pair<QSize, QSize> cases[] = {{{7, 5}, {3, 2}},         {{640, 400}, {360, 225}},
                                             {{400, 300}, {400, 300}}, {{360, 640}, {202, 360}},
                                             {{1000, 3}, {360, 1}},    {{3, 1000}, {1, 360}},
                                             {{37, 29}, {36, 28}},     {{2, 2}, {5, 5}},
                                             {{2048, 2048}, {3, 3}},   {{1100, 1000}, {1, 1}}};
    for (const auto& [from, to] : cases) {
        for (const bool rgb : {false, true}) {
            std::vector<std::vector<QRgb>> rows;
            BoxScaler scaler(from, to);
            for (int y = 0; y < from.height(); ++y) {
                std::vector<QRgb> row(size_t(from.width()));
                std::vector<uchar> bytes;
                for (QRgb& p : row) {
                    const int a = rgb || rng.bounded(3) == 0 ? 255 : int(rng.bounded(256));
                    const auto channel = [&] { return int(rng.bounded(a + 1)); };
                    p = qRgba(channel(), channel(), channel(), a);
                    bytes.insert(bytes.end(), {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p))});
                }
                rgb ? scaler.addRgbRow(bytes.data()) : scaler.addRow(row.data());
                rows.push_back(std::move(row));
            }
            const QImage made = scaler.take();
            const QSize size = to.boundedTo(from);
            ASSERT_EQ(made.size(), size);
            const std::vector<QRgb> expected = boxMeans(rows, from, size);
            std::vector<QRgb> got;
            for (int y = 0; y < made.height(); ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(made.constScanLine(y));
                got.insert(got.end(), line, line + made.width());
            }
            EXPECT_EQ(got, expected) << from.width() << "x" << from.height() << " to " << to.width()
                                     << "x" << to.height() << (rgb ? " rgb" : "");
            EXPECT_EQ(made.format(),
                      rgb ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
        }
    }
}
