// The closed shelf's glow: one render for a notch-sized shape on a 2x display.
#include "Ostrel/Panels/GlowImage.h"

#include <QGuiApplication>
#include <QPainterPath>

#include <benchmark/benchmark.h>

using namespace ostrel;

static void glowRender200x32Radius22Scale2(benchmark::State& state) {
    const QRectF lit(0, 0, 200, 32);
    QPainterPath core;
    core.addRoundedRect(lit, 14, 14);
    for (auto _ : state) {
        auto glow = GlowImage::render(core, lit, 22, 2, QColor(80, 160, 255));
        benchmark::DoNotOptimize(glow);
    }
}
BENCHMARK(glowRender200x32Radius22Scale2)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
