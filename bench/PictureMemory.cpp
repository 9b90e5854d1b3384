// Peak memory of hostile pictures on every road that decodes one. A plain program that prints its
// figures: for each picture and road, how far the peak resident size (VmHWM) rose above what was
// resident before, in a process of its own, and for eight threads taking it at once on the
// ingest road.
//
//   build/bench/bench_PictureMemory             every road; the aim: a picture of at most 1 MB
//                                               adds at most 64 MB, eight at once 256 MB
//   build/bench/bench_PictureMemory reference   also Qt's reader straight on each picture, as the
//                                               roads read them before (several GB at its peak)
//
// Every picture is saved under an image name ("picture-N.png") whatever it holds.
#include "Ostrel/Views/Thumbnailer.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "OstrelCore/Engine/Ingest.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/HeifImage.h"
#include "Platform/ImageSource.h"
#include "Platform/MallocArenas.h"
#include "Platform/OpenSsl.h"
#include "Platform/PreviewPanel.h"
#include "Platform/ThumbnailGenerator.h"
#include "support/HostilePictures.h"
#include "support/PeakMemory.h"
#include "support/PictureBytes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace ostrel;
using ostrel::test::encoded;
using ostrel::test::peakGrowthMiB;
namespace Hostile = ostrel::test::HostilePictures;

namespace {

struct Picture {
    QString name;
    QByteArray bytes;
    QString path;
};

// A screenshot as they come: flat areas with some text-like noise.
QImage screenshot(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(245, 245, 247));
    QRandomGenerator random(3);
    for (int y = 40; y < height; y += 24) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width / 2; ++x) {
            line[x] = random.bounded(3) == 0 ? 0xff202020u : 0xfff5f5f7u;
        }
    }
    return image;
}

// The pictures, written into `folder`.
QList<Picture> pictures(const QString& folder) {
    QList<Picture> out;
    const QString secret = Hostile::writePrivatePicture(folder + "/private.png", Qt::red);
    const QByteArray bomb = Hostile::pngClaimingChunk(8, false);
    out.append({"PNG: text chunk claiming 2 GiB before pixels", bomb, {}});
    out.append(
        {"PNG 200 x 200: the same chunk after them", Hostile::pngClaimingChunk(200, true), {}});
    out.append({"GIF claiming a 5000 x 5000 screen", Hostile::gifClaimingScreen(5000, 5000), {}});
    out.append({"WebP claiming 5000 x 5000", Hostile::webpClaimingSize(5000, 5000), {}});
    out.append({"progressive JPEG claiming 16000 x 16000",
                Hostile::progressiveJpegClaimingSize(16000, 16000),
                {}});
    out.append({"TIFF claiming 5000 x 5000", Hostile::tiffClaimingSize(5000, 5000), {}});
    if (const auto heic = Hostile::heicUnderstatingSize(3072, 3072)) {
        out.append({"HEIC 3072 x 3072 claiming 64 x 64", *heic, {}});
    }
    if (const auto tile = Hostile::heicParts(512, 512)) {
        out.append({"HEIC grid of 2 tiles on a 32767 x 32767 canvas",
                    Hostile::heifOf(Hostile::gridOf(*tile, {1024, 512}, {32767, 32767})),
                    {}});
    }
    if (auto photo = Hostile::heicParts(5000, 5000)) {
        photo->properties.append(Hostile::ispe(1'500'000'000u, 1'500'000'000u));
        out.append({"HEIC 5000 x 5000, an extent claiming 1.5e9", Hostile::heifOf(*photo), {}});
    }
    out.append({"HEIF boxes nested 100,000 deep", Hostile::heifNested(100'000), {}});
    out.append({"BMP claiming 2^31 - 1 square",
                Hostile::bmpClaimingSize(0x7fffffffu, 0x7fffffffu, 4096),
                {}});
    out.append({"drawing holding the first PNG inside", Hostile::drawingEmbedding(bomb), {}});
    out.append({"drawing naming a private picture", Hostile::drawingNaming(secret), {}});
    // References: ordinary pictures.
    out.append(
        {"reference: screenshot PNG 2880 x 1800", encoded(screenshot(2880, 1800), "png"), {}});
    out.append({"reference: JPEG 4000 x 3000", encoded(screenshot(4000, 3000), "jpeg"), {}});
    for (qsizetype i = 0; i < out.size(); ++i) {
        out[i].path = folder + QStringLiteral("/picture-%1.png").arg(i);
        QFile file(out[i].path);
        file.open(QIODevice::WriteOnly);
        file.write(out[i].bytes);
    }
    return out;
}

// One picture as written by pictures(): a child reads it back rather than making it again, which
// would leave freed memory resident for the decode to reuse unseen.
Picture written(const QString& folder, int index) {
    Picture p;
    p.path = folder + QStringLiteral("/picture-%1.png").arg(index);
    p.name = QFileInfo(p.path).fileName();
    QFile file(p.path);
    file.open(QIODevice::ReadOnly);
    p.bytes = file.readAll();
    return p;
}

struct Road {
    const char* name;
    std::function<void(const Picture&)> run;
};

// The roads, each as the application takes it, over the pictures in `folder`.
std::vector<Road> roads(const QString& folder, bool reference) {
    struct State {
        Date clock = Date::now();
        std::shared_ptr<Store> store;
        std::unique_ptr<Ingest> ingest;
        DesktopThumbnailGenerator generator{DesktopThumbnailGenerator::Config{}};
        std::unique_ptr<PreviewPanel> panel;
    };
    auto state = std::make_shared<State>();
    state->store =
        Store::make(QUrl::fromLocalFile(folder + "/support"), [] { return Date::now(); });
    state->ingest = std::make_unique<Ingest>(state->store, 30, [] { return Date::now(); });
    state->panel = std::make_unique<PreviewPanel>();
    state->panel->resize(1200, 800);
    const auto candidate = [state](Source source, Payload payload) {
        Candidate c;
        c.source = source;
        c.payload = std::move(payload);
        c.sessionID = QStringLiteral("s1");
        c.captureID = QStringLiteral("capture");
        c.createdAt = state->clock;
        return c;
    };
    std::vector<Road> out{
        {"ingest, file",
         [=](const Picture& p) {
             (void)state->ingest->ingest(
                 candidate(Source::folder, Payload::file(QUrl::fromLocalFile(p.path))));
         }},
        {"ingest, inline",
         [=](const Picture& p) {
             (void)state->ingest->ingest(candidate(
                 Source::transcript, Payload::base64(p.bytes.toBase64(), QStringLiteral("png"))));
         }},
        {"card",
         [=](const Picture& p) {
             ShelfItem item;
             item.id = QStringLiteral("card");
             item.fileURL = QUrl::fromLocalFile(p.path);
             (void)Thumbnailer::loadNow(item, QUrl::fromLocalFile(folder + "/none.jpg"), 320);
         }},
        {"file card",
         [=](const Picture& p) {
             (void)state->generator.generate({p.path, {160, 160}});
         }},
        {"preview",
         [=](const Picture& p) {
             state->panel->setItem(QUrl::fromLocalFile(p.path), p.name);
             QCoreApplication::processEvents();
         }},
        {"Copy Image",
         [](const Picture& p) {
             if (const auto source = ImageSource::openFile(p.path)) {
                 (void)source->wholePicture();
             }
         }},
        {"8 at once",
         [](const Picture& p) {
             std::vector<std::thread> threads;
             for (int i = 0; i < 8; ++i) {
                 threads.emplace_back([&p] {
                     if (const auto source = ImageProbe::source(p.bytes)) {
                         (void)ImageProbe::thumbnailJPEG(*source);
                     }
                 });
             }
             for (std::thread& t : threads) {
                 t.join();
             }
         }},
    };
    if (reference) {
        out.push_back({"Qt's reader", [](const Picture& p) {
                           QImageReader reader(p.path);
                           (void)reader.size();
                           (void)reader.read();
                       }});
    }
    return out;
}

// One picture on one road, in a process of its own: what other decodes freed and left resident
// would hide what this one takes.
int runOne(const QString& folder, int road, int picture) {
    const Picture p = written(folder, picture);
    const std::vector<Road> all_roads = roads(folder, true);
    // What any first picture costs once (Qt's plugins, libheif's decoders) is not this one's.
    Picture small{"small", encoded(screenshot(64, 48), "png"), folder + "/small.png"};
    QFile file(small.path);
    file.open(QIODevice::WriteOnly);
    file.write(small.bytes);
    file.close();
    all_roads[size_t(road)].run(small);
    (void)HeifImage::size(p.bytes);
    const double growth = peakGrowthMiB([&] { all_roads[size_t(road)].run(p); });
    std::printf("%.1f\n", growth);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    MallocArenas::limit();
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "one") {
        return runOne(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    }
    const bool reference = argc > 1 && QByteArray(argv[1]) == "reference";
    QTemporaryDir tmp;
    const QList<Picture> all = pictures(tmp.path());

    const std::vector<Road> all_roads = roads(tmp.path(), reference);

    std::printf("peak resident growth in MiB, each in a process of its own; every picture saved "
                "as picture-N.png\n\n");
    std::printf("%-44s %8s", "picture", "bytes");
    for (const Road& road : all_roads) {
        std::printf(" %14s", road.name);
    }
    std::printf("\n");
    double worst = 0;
    double worstTogether = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const Picture& p = all[i];
        std::printf("%-44s %8lld", qPrintable(p.name), static_cast<long long>(p.bytes.size()));
        for (size_t r = 0; r < all_roads.size(); ++r) {
            QProcess child;
            child.setProcessChannelMode(QProcess::SeparateChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {"one", tmp.path(), QString::number(r), QString::number(i)});
            child.waitForFinished(600'000);
            const double growth = child.readAllStandardOutput().trimmed().toDouble();
            const bool ours = std::strcmp(all_roads[r].name, "Qt's reader") != 0;
            if (ours && !p.name.startsWith(QLatin1String("reference"))) {
                if (std::strcmp(all_roads[r].name, "8 at once") == 0) {
                    worstTogether = std::max(worstTogether, growth);
                } else if (p.bytes.size() <= (1 << 20)) {
                    worst = std::max(worst, growth);
                }
            }
            std::printf(" %14.1f", growth);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("\nworst hostile picture of at most 1 MB: %.1f MiB (aim <= 64 MB)\n", worst);
    std::printf("worst eight at once on the ingest road: %.1f MiB (aim <= 256 MB)\n",
                worstTogether);
    return 0;
}
