// What marking a picture's read costs (one plain write into the file of marks) beside the read
// it guards: probing and thumbnailing a small screenshot, the cheapest picture a first start of
// thousands decodes. On one thread and on eight at once, as the workers of a first start do.
#include "OstrelCore/Engine/ReadGuard.h"
#include "BenchImages.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "OstrelCore/Records/Hex.h"
#include "Platform/OpenSsl.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace ostrel;

namespace {

struct Fixture {
    QTemporaryDir dir;
    ReadGuard guard{dir.path()};
    QByteArray picture = bench::noisyPng(64, 1);
    QString digest = Hex::sha256(picture);
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_Mark(benchmark::State& state) {
    Fixture& f = fixture();
    const QString what = QStringLiteral("/tmp/claude-1000/-u-proj/s1/scratchpad/shot-00001.png");
    for (auto _ : state) {
        const ReadGuard::Mark mark(&f.guard, f.digest, what);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Mark)->Threads(1)->Threads(8)->UseRealTime();

void BM_ProbeAndThumbnail(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        const auto source = ImageProbe::source(f.picture);
        benchmark::DoNotOptimize(ImageProbe::pixelSize(*source));
        benchmark::DoNotOptimize(ImageProbe::thumbnailJPEG(*source));
    }
}
BENCHMARK(BM_ProbeAndThumbnail)->Threads(1)->Threads(8)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
