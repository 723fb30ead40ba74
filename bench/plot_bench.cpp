// The solubility graph appearing: filling the plot layer with every grid case and
// rendering the window (offscreen), for the fine grid (0-3000 m step 10 x 0-30 °C
// step 0.1) and for a grid of about a million cases (0-3000 m step 3 x 0-30 °C
// step 0.03). Also the repaint alone, as after a resize.
#include "bench/bench_support.h"
#include "plot/plot.h"
#include "ui/form1.h"
#include "ui/sol_graph_form.h"
#include "ui/temra_app.h"

#include <QApplication>
#include <QPixmap>

using namespace temra;
using temra::bench::PeakRssMB;

namespace {

Form1Texts Grid(bool million) {
    Form1Texts f;
    f.Text21 = "30";
    f.Text25 = million ? "3" : "10";
    f.Text26 = million ? "0.03" : "0.1";
    return f;
}

void DrawSolubilityGraph(benchmark::State& state) {
    ui::TemraApp app;
    app.module().CalculateSolubility(Grid(state.range(0) != 0));
    ui::SolGraphForm& graph = app.solGraphForm();
    for (auto _ : state) {
        graph.DrawSolubilityGraph();
        const QPixmap shot = graph.grab(); // the window as it appears
        benchmark::DoNotOptimize(shot.cacheKey());
    }
    state.counters["cases"] = static_cast<double>(app.module().CaseCount());
    state.counters["channels"] = graph.SolGraph2->ChannelCount();
    state.counters["peak_rss_MB"] = PeakRssMB();
}

void RepaintSolubilityGraph(benchmark::State& state) {
    ui::TemraApp app;
    app.module().CalculateSolubility(Grid(state.range(0) != 0));
    ui::SolGraphForm& graph = app.solGraphForm();
    graph.DrawSolubilityGraph();
    for (auto _ : state) {
        graph.SolGraph2->Replot();
        const QPixmap shot = graph.grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
}

} // namespace

BENCHMARK(DrawSolubilityGraph)->ArgName("million")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(RepaintSolubilityGraph)
    ->ArgName("million")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return temra::bench::RunBenchmarks(argc, argv);
}
