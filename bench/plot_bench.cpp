// The solubility graph appearing: filling the plot layer with every grid case and
// rendering the window (offscreen), for the fine grid (0-3000 m step 10 x 0-30 °C
// step 0.1, 90,601 cases: every line drawn), a grid of about a million cases
// (0-3000 m step 3 x 0-30 °C step 0.03) and the very fine grid of nine million
// (0-3000 m step 1 x 0-30 °C step 0.01), both drawn as their density. Also the
// repaint alone, as after a resize. beyond_grid_MB is the peak resident memory
// less what it was with the grid computed, before the graph.
#include "bench/bench_support.h"
#include "plot/plot.h"
#include "ui/form1.h"
#include "ui/sol_graph_form.h"
#include "ui/temra_app.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

using namespace temra;
using temra::bench::PeakRssMB;

namespace {

Form1Texts Grid(int size) {
    Form1Texts f;
    f.Text21 = "30";
    f.Text25 = size == 0 ? "10" : size == 1 ? "3" : "1";
    f.Text26 = size == 0 ? "0.1" : size == 1 ? "0.03" : "0.01";
    return f;
}

double RssMB() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * 4096 / (1 << 20);
}

void DrawSolubilityGraph(benchmark::State& state) {
    ui::TemraApp app;
    app.module().run.MemoryBudget = std::uint64_t{16} << 30;
    app.module().CalculateSolubility(Grid(static_cast<int>(state.range(0))));
    ui::SolGraphForm& graph = app.solGraphForm();
    const double before = RssMB();
    for (auto _ : state) {
        graph.DrawSolubilityGraph();
        const QPixmap shot = graph.grab(); // the window as it appears
        benchmark::DoNotOptimize(shot.cacheKey());
    }
    state.counters["cases"] = static_cast<double>(app.module().CaseCount());
    state.counters["channels"] = graph.SolGraph2->ChannelCount();
    state.counters["peak_rss_MB"] = PeakRssMB();
    state.counters["beyond_grid_MB"] = PeakRssMB() - before;
}

void RepaintSolubilityGraph(benchmark::State& state) {
    ui::TemraApp app;
    app.module().run.MemoryBudget = std::uint64_t{16} << 30;
    app.module().CalculateSolubility(Grid(static_cast<int>(state.range(0))));
    ui::SolGraphForm& graph = app.solGraphForm();
    graph.DrawSolubilityGraph();
    for (auto _ : state) {
        graph.SolGraph2->Replot();
        const QPixmap shot = graph.grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
}

} // namespace

BENCHMARK(DrawSolubilityGraph)
    ->ArgName("grid")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RepaintSolubilityGraph)
    ->ArgName("grid")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return temra::bench::RunBenchmarks(argc, argv);
}
