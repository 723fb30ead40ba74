// Speed and memory of the study fit on the fine grid (0-3000 m step 10 x 0-30 °C
// step 0.1, 90,601 cases) with free elevation: UA for 1,000 samples, CE for 100.
// The samples are made from grid cases with excess air and 1 % noise.
#include "bench/bench_support.h"
#include "core/numtext.h"
#include "study/study_fit.h"

#include <random>

using namespace temra;
using namespace temra::study;

namespace {

StudyOptions FineGrid(Model model) {
    StudyOptions o;
    o.grid.Text19 = "3000";
    o.grid.Text25 = "10";
    o.grid.Text21 = "30";
    o.grid.Text26 = "0.1";
    o.model = model;
    return o;
}

std::vector<Sample> Samples(const StudyOptions& o, int count) {
    Module1 m;
    GridPlan plan = m.PlanSolubility(o.grid);
    m.FillSolubility(plan);
    const SolubilityGrid& g = *plan.grid;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<Sample> samples;
    for (int i = 0; i < count; ++i) {
        const auto k = static_cast<std::size_t>(rng() % static_cast<unsigned>(g.CaseCount));
        const double A = 0.001 + 0.01 * (rng() % 100) / 100.0;
        Sample s;
        s.name = "s" + std::to_string(i);
        s.row = static_cast<std::size_t>(i + 2);
        for (int gas = 1; gas <= GasCount; ++gas) {
            const auto j = static_cast<std::size_t>(gas - 1);
            const double v = (g.Row(gas)[k] + A * kGasTable[j].AtmFraction) * (1 + noise(rng));
            s.measured[j] = ExactText(v);
        }
        samples.push_back(std::move(s));
    }
    return samples;
}

void StudyFit(benchmark::State& state) {
    const Model model = state.range(0) ? Model::CE : Model::UA;
    const StudyOptions o = FineGrid(model);
    const auto samples = Samples(o, static_cast<int>(state.range(1)));
    const Module1 settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["samples"] = static_cast<double>(samples.size());
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

} // namespace

BENCHMARK(StudyFit)
    ->ArgNames({"ce", "samples"})
    ->Args({0, 1000})
    ->Args({1, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char** argv) {
    return temra::bench::RunBenchmarks(argc, argv);
}
