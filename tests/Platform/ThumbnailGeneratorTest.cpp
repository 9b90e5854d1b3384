#include "Platform/ThumbnailGenerator.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ostrel;
using ostrel::test::TempDir;

namespace {

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A PNG with one tEXt chunk, written as other desktop programs write them (Qt's writer cannot
// store a key holding "::").
QByteArray withText(const QImage& image, const QByteArray& key, const QByteArray& value) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const QByteArray body = "tEXt" + key + '\0' + value;
    QByteArray chunk;
    const auto be = [&chunk](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            chunk.append(static_cast<char>((v >> shift) & 0xff));
        }
    };
    be(static_cast<quint32>(body.size() - 4));
    chunk.append(body);
    be(crc32(body));
    png.insert(33, chunk); // after the signature and IHDR
    return png;
}

// A generator that only knows the thumbnailer entries and cache of a test folder.
class GeneratorTest : public ::testing::Test {
protected:
    DesktopThumbnailGenerator::Config config() const {
        DesktopThumbnailGenerator::Config c;
        c.thumbnailerFolders = {dir.file("thumbnailers")};
        c.cacheFolder = dir.file("cache");
        c.timeoutMs = 400;
        return c;
    }

    // An executable script and an entry running it for plain text files.
    void addThumbnailer(const QString& name, const QByteArray& script, const QString& exec) {
        const QString program = dir.write(name + QStringLiteral(".sh"), "#!/bin/sh\n" + script);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString line = exec;
        line.replace(QStringLiteral("PROGRAM"), program);
        dir.write(QStringLiteral("thumbnailers/") + name + QStringLiteral(".thumbnailer"),
                  "[Thumbnailer Entry]\nExec=" + line.toUtf8() + "\nMimeType=text/plain;\n");
    }

    static std::optional<QImage> generate(DesktopThumbnailGenerator& g, const QString& path,
                                          double points = 160) {
        return g.generate(ThumbnailRequest{path, QSizeF(points, points), 2.0});
    }

    TempDir dir;
};

TEST_F(GeneratorTest, RendersPdfSvgAndPicturesWithinTheSide) {
    DesktopThumbnailGenerator g(config());

    const QString pdf = dir.file("page.pdf");
    {
        QPdfWriter writer(pdf);
        QPainter painter(&writer);
        painter.fillRect(QRectF(0, 0, writer.width(), writer.height()), Qt::blue);
    }
    auto page = generate(g, pdf);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->height(), 320); // A4 is taller than wide
    EXPECT_LT(page->width(), 320);

    // External references are cut out before the SVG is parsed; the rest still draws.
    const QString svg = dir.write(
        "drawing.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" viewBox="0 0 20 10">)"
        R"(<rect width="20" height="10" fill="#00ff00"/><image xlink:href="/etc/passwd" width="5" height="5"/></svg>)");
    auto drawing = generate(g, svg);
    ASSERT_TRUE(drawing);
    EXPECT_EQ(drawing->size(), QSize(320, 160));
    EXPECT_EQ(qGreen(drawing->pixel(5, 5)), 255);
    // A path that holds a quote of the other kind is a reference all the same; text of any
    // script before it is kept as it was.
    QImage red(20, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString mine = dir.file("it's mine.png");
    ASSERT_TRUE(red.save(mine, "PNG"));
    const QString quoted = dir.write(
        "quoted.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" viewBox="0 0 20 10">)"
        R"(<desc>Grüße 𝄞</desc><rect width="20" height="10" fill="#00ff00"/><image xlink:href=")" +
            mine.toUtf8() + R"(" width="20" height="10"/></svg>)");
    auto covered = generate(g, quoted);
    ASSERT_TRUE(covered);
    EXPECT_EQ(covered->pixelColor(160, 80), QColor(0, 255, 0));
    // The same drawing under a picture's name is still a drawing, and still covers nothing.
    QFile::copy(quoted, dir.file("quoted.png"));
    auto named = generate(g, dir.file("quoted.png"));
    ASSERT_TRUE(named);
    EXPECT_EQ(named->pixelColor(160, 80), QColor(0, 255, 0));

    QImage big(2000, 500, QImage::Format_RGB32);
    big.fill(Qt::red);
    const QString png = dir.file("wide.png");
    big.save(png);
    auto picture = generate(g, png, 100);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(200, 50));
}

TEST_F(GeneratorTest, BadFilesGiveNoneQuickly) {
    DesktopThumbnailGenerator g(config());
    // A PNG header claiming 50,000 × 50,000 in a file of about 1 KB.
    QByteArray lying("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\xc3\x50\0\0\xc3\x50\x08\x02\0\0\0", 29);
    lying.append(QByteArray(1000, '\0'));
    const QString liar = dir.write("liar.png", lying);

    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    const QString full = dir.file("full.jpg");
    picture.save(full, "JPEG");
    QFile f(full);
    f.open(QIODevice::ReadOnly);
    const QString truncated = dir.write("cut.jpg", f.read(200));

    const QString damaged =
        dir.write("damaged.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog >>\ntrash");
    const QString huge = dir.file("huge.svg");
    {
        QFile out(huge);
        out.open(QIODevice::WriteOnly);
        out.write("<svg xmlns=\"http://www.w3.org/2000/svg\">");
        out.resize(100LL * 1024 * 1024);
    }

    QElapsedTimer timer;
    timer.start();
    for (const QString& path :
         {liar, truncated, damaged, huge, dir.file("absent.pdf"), dir.path()}) {
        const auto image = generate(g, path);
        if (image) {
            EXPECT_LE(std::max(image->width(), image->height()), 320) << path.toStdString();
        }
    }
    EXPECT_FALSE(generate(g, liar));
    EXPECT_FALSE(generate(g, damaged));
    EXPECT_FALSE(generate(g, huge));
    EXPECT_LT(timer.elapsed(), 10'000);
}

TEST_F(GeneratorTest, ExecLinesSplitAndFillWithoutAShell) {
    using G = DesktopThumbnailGenerator;
    EXPECT_EQ(G::splitExec(QStringLiteral("thumb -s %s %u %o")),
              QStringList({"thumb", "-s", "%s", "%u", "%o"}));
    EXPECT_EQ(G::splitExec(QStringLiteral(R"("/opt/my tool" "a \"b\"" x)")),
              QStringList({"/opt/my tool", R"(a "b")", "x"}));
    EXPECT_FALSE(G::splitExec(QStringLiteral(R"(tool "unterminated)")));
    EXPECT_EQ(G::splitExec(QStringLiteral("   ")), QStringList());

    const QStringList filled =
        G::fillExec({"t", "%i", "%u", "--size=%s", "%o", "100%%", "%f", "$(rm -rf ~);%i"},
                    "/tmp/a b.txt", "/tmp/out.png", 320);
    EXPECT_EQ(filled, QStringList({"t", "/tmp/a b.txt", "file:///tmp/a%20b.txt", "--size=320",
                                   "/tmp/out.png", "100%", "$(rm -rf ~);/tmp/a b.txt"}));

    dir.write("e/none.thumbnailer", "[Thumbnailer Entry]\nMimeType=text/plain;\n");
    dir.write("e/nooutput.thumbnailer", "[Thumbnailer Entry]\nExec=t %i\nMimeType=text/plain;\n");
    dir.write("e/missing.thumbnailer",
              "[Thumbnailer Entry]\nTryExec=/no/such/tool\nExec=t %i %o\nMimeType=text/plain;\n");
    dir.write("e/other.thumbnailer", "[Other]\nExec=t %i %o\nMimeType=text/plain;\n");
    for (const char* name : {"none", "nooutput", "missing", "other"}) {
        EXPECT_FALSE(G::readEntry(dir.file(QStringLiteral("e/%1.thumbnailer").arg(name)))) << name;
    }
}

TEST_F(GeneratorTest, ThumbnailerProgramsAreBoundedAndFailuresRemembered) {
    // The working one writes a large PNG; its answer is scaled to the side.
    QImage sample(900, 600, QImage::Format_RGB32);
    sample.fill(Qt::magenta);
    const QString samplePath = dir.file("sample.png");
    sample.save(samplePath);
    addThumbnailer("good", "cp '" + samplePath.toUtf8() + "' \"$2\"\n", "PROGRAM %i %o %s");
    const QString text = dir.write("notes.txt", "hello");
    {
        DesktopThumbnailGenerator g(config());
        auto image = generate(g, text, 50);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(100, 67));
        EXPECT_EQ(g.programRuns(), 1);
    }

    // A hanging program and a flooding one: killed or ignored, and not asked again.
    QFile::remove(dir.file("thumbnailers/good.thumbnailer"));
    addThumbnailer("hang", "sleep 30\n", "PROGRAM %i %o");
    addThumbnailer("flood", "yes flood | head -c 50000000; head -c 40000000 /dev/zero > \"$2\"\n",
                   "PROGRAM %i %o");
    DesktopThumbnailGenerator g(config());
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(generate(g, text));
    EXPECT_LT(timer.elapsed(), 5'000);
    EXPECT_EQ(g.programRuns(), 2);
    EXPECT_FALSE(generate(g, text));
    EXPECT_EQ(g.programRuns(), 2);
}

TEST_F(GeneratorTest, DesktopCacheIsUsedOnlyWhenCurrent) {
    const QString doc = dir.write("slides.odp", "not really slides");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(doc).constData(), &st), 0);
    const QByteArray uri = QUrl::fromLocalFile(doc).toEncoded();
    const QString name = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
    QDir().mkpath(dir.file("cache/large"));

    QImage cached(256, 192, QImage::Format_RGB32);
    cached.fill(Qt::cyan);
    auto writeCached = [&](qint64 mtime) {
        dir.write("cache/large/" + name,
                  withText(cached, "Thumb::MTime", QByteArray::number(mtime)));
    };
    writeCached(st.st_mtim.tv_sec - 10);
    EXPECT_FALSE(DesktopThumbnailGenerator(config()).generate({doc, QSizeF(64, 64), 2.0}));

    writeCached(st.st_mtim.tv_sec);
    auto image = DesktopThumbnailGenerator(config()).generate({doc, QSizeF(64, 64), 2.0});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(128, 96));
}

} // namespace
