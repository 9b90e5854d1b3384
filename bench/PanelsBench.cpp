// The shelf panels: one glow render for a notch-sized shape on a 2x display, and one hover
// evaluation (a pointer sample carried through the panel geometry and the hover machine).
#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/GlowImage.h"
#include "Ostrel/Panels/HoverDetector.h"
#include "Ostrel/Panels/PanelController.h"
#include "Platform/X11/FakeWindowSystem.h"

#include <QApplication>
#include <QPainterPath>
#include <QScreen>
#include <QTemporaryDir>

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

static void hoverEvaluation(benchmark::State& state) {
    QTemporaryDir dir;
    qputenv("OSTREL_SUPPORT_DIR", dir.filePath(QStringLiteral("support")).toUtf8());
    auto defaults = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
    AppSettings settings(defaults);
    ShelfModel model(settings);
    x11::FakeWindowSystem windows;
    windows.compositor = true;
    x11::Monitor m;
    m.name = QGuiApplication::primaryScreen()->name();
    m.geometry = QGuiApplication::primaryScreen()->geometry();
    m.output = 60;
    windows.monitorList = {m};
    PanelController panels(model, settings, &windows);
    panels.refresh();
    HoverDetector hover(panels, model, settings, &windows);
    // The pointer wanders near the top of the screen, in and out of the hot zone.
    int i = 0;
    for (auto _ : state) {
        windows.pointerSample.position = QPoint(300 + (i % 200), i % 20);
        hover.evaluate();
        ++i;
    }
    model.shutdown();
}
BENCHMARK(hoverEvaluation)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
