// Speed and memory of the grid run and the best-fit searches at the input page's
// defaults on two grids:
//   fine:      0-3000 m step 10 x 0-30 °C step 0.1   (90,601 cases)
//   very fine: 0-3000 m step 1  x 0-30 °C step 0.01  (9,006,001 cases)
// with excess air 0.001-0.05 step 0.001 and the gases Ne-20, Ar-40, Kr-84, Xe.
//
// Each benchmark reports the process's peak resident memory so far (peak_rss_MB);
// run one benchmark per process (--benchmark_filter) to read the peak of that
// benchmark alone.
#include "bench/bench_support.h"
#include "core/module1.h"

using namespace temra;
using temra::bench::PeakRssMB;

namespace {

Form1Texts GridTexts(bool veryFine) {
    Form1Texts f;
    f.Text19 = "3000";
    f.Text21 = "30";
    f.Text25 = veryFine ? "1" : "10";
    f.Text26 = veryFine ? "0.01" : "0.1";
    return f;
}

constexpr std::array<bool, GasCount> kDeleted = {true, false, false, false, false, true, true};

void GridRun(benchmark::State& state) {
    const Form1Texts f = GridTexts(state.range(0) != 0);
    CaseNumber cases = 0;
    for (auto _ : state) {
        Module1 m;
        m.CalculateSolubility(f);
        cases = m.CaseCount();
        benchmark::DoNotOptimize(cases);
    }
    state.counters["cases"] = static_cast<double>(cases);
    state.counters["peak_rss_MB"] = PeakRssMB();
}

void FitNoEa(benchmark::State& state) {
    Module1 m;
    m.CalculateSolubility(GridTexts(state.range(0) != 0));
    m.BuildSelectedGasTables(kDeleted);
    for (auto _ : state) {
        m.FindBestFitNoEa();
        benchmark::DoNotOptimize(m.NoEa().BestCase);
    }
    state.counters["peak_rss_MB"] = PeakRssMB();
}

void FitEa(benchmark::State& state) {
    Module1 m;
    m.CalculateSolubility(GridTexts(state.range(0) != 0));
    m.BuildSelectedGasTables(kDeleted);
    for (auto _ : state) {
        m.RunExcessAirSearch(DialogTexts{});
        benchmark::DoNotOptimize(m.Ea().BestCase.data());
    }
    state.counters["peak_rss_MB"] = PeakRssMB();
}

// What the user waits for: the grid run, the redraw's tables and the search with
// excess air.
void GridRunAndFitEa(benchmark::State& state) {
    const Form1Texts f = GridTexts(state.range(0) != 0);
    for (auto _ : state) {
        Module1 m;
        m.CalculateSolubility(f);
        m.BuildSelectedGasTables(kDeleted);
        m.RunExcessAirSearch(DialogTexts{});
        benchmark::DoNotOptimize(m.Ea().BestCase.data());
    }
    state.counters["peak_rss_MB"] = PeakRssMB();
}

} // namespace

BENCHMARK(GridRun)->ArgName("very_fine")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FitNoEa)->ArgName("very_fine")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FitEa)->ArgName("very_fine")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(GridRunAndFitEa)->ArgName("very_fine")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return temra::bench::RunBenchmarks(argc, argv);
}
