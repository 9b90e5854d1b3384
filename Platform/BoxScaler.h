#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>

#include <vector>

namespace ostrel {

// Shrinks a picture by averaging every source pixel into the one target pixel whose box it falls
// in, fed one source row at a time: a decoder can hand its rows over as they come, and the
// picture is never held whole. Runs on the calling thread (Qt's smooth scaling of a large picture
// spreads over Qt's own thread pool, beside the workers that already use every core).
class BoxScaler {
public:
    // `to` is cut to `from` where it is larger: the scaler never enlarges.
    BoxScaler(QSize from, QSize to);

    // The next source row: from.width() premultiplied ARGB32 pixels. Rows beyond from.height()
    // are ignored.
    void addRow(const QRgb* row);
    // The next source row as from.width() opaque pixels of three bytes: red, green, blue.
    void addRgbRow(const uchar* row);
    // True once every source row was added.
    bool isComplete() const { return row_ >= from_.height(); }
    // The picture, premultiplied ARGB32 (RGB32 when every pixel is opaque); a null image until
    // every row was added.
    QImage take();

    // A whole picture at once, of any format.
    static QImage scaled(const QImage& image, QSize to);
    // The size a picture of `size` takes when its longer side is cut to `maxPixel` (at least 1).
    static QSize bounded(QSize size, int maxPixel);

private:
    enum class Layout { argb, rgb };

    void add(const uchar* row, Layout layout);
    // A row of a picture that keeps its size: the pixels go straight to the result.
    void copyRow(const uchar* row, Layout layout);
    void flushColumns();
    void emitRow();

    QSize from_;
    QSize to_;
    // For every target column, the first source column after its box.
    std::vector<int> columnEnd_;
    // Every source byte summed down the rows added since the last flush: adding a row is then a
    // plain run of additions, and the boxes are summed across once per target row. 16 bits hold
    // 257 rows of 255, so a taller box is flushed on the way.
    std::vector<quint16> columns_;
    int rowsInColumns_ = 0;
    Layout layout_ = Layout::argb;
    // Alpha, red, green and blue sums of every target column over the rows of the current box.
    std::vector<quint32> sums_;
    int row_ = 0;
    int targetRow_ = 0;
    int rowsInBox_ = 0;
    // The first source row of the next target row.
    int nextBoundary_ = 0;
    // For the pixel count n of a box of each width (a box is one of two widths), n / 2 and the
    // multiplier that divides by n: a division per pixel cost a thumbnail of a small picture
    // more than all the rest of it. Made for `divisorRows_` rows a box.
    std::vector<quint32> halves_;
    std::vector<quint64> multipliers_;
    int divisorRows_ = 0;
    bool opaque_ = true;
    QImage out_;
};

} // namespace ostrel
