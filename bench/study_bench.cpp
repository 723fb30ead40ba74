// Speed and memory of the study fit, in process, on the figures it is held to:
//   known elevations, 0-10 °C step 0.01, UA, 1,000 samples   (under 100 ms)
//   free elevation, 0-3000 m step 10 x 0-10 °C step 0.1, UA, 1,000 samples (under 200 ms)
//   free elevation, the same grid, CE, 100 samples           (under 0.7 s)
//   free elevation, the same grid, PR, PD, OD, 100 samples each (within CE's time)
//   free elevation, the same grid, UA, 300 samples in 100 groups fitted together
//     (within 1.5 times their fits alone)
//   the uncertainty workloads (Uncertainty, release build, 2 threads): under 2 s,
//     5 s and 0.5 s, 2 threads at least 1.7 times as fast as 1
// each under 200 MB. The samples are made from recharge conditions drawn at
// random (not grid cases) with excess air and 1 % noise.
#include "bench/bench_support.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_model.h"
#include "study/input/sample_table.h"
#include "study/input/samples.h"
#include "study/models/models.h"
#include "study/study_fit.h"
#include "study/uncertainty/monte_carlo.h"

#include <random>

using namespace temra;
using namespace temra::study;

namespace {

enum Case { kKnownElevation, kFreeUa, kFreeCe, kFreePr, kFreePd, kFreeOd, kFreeGr };

constexpr Model kModelOf[] = {Model::UA, Model::UA, Model::CE, Model::PR,
                              Model::PD, Model::OD, Model::GR};

StudyOptions Options(Case c) {
    StudyOptions o;
    if (c == kKnownElevation) {
        o.grid.Text26 = "0.01";
    } else {
        o.grid.Text25 = "10";
        o.grid.Text26 = "0.1";
    }
    o.model = kModelOf[c];
    return o;
}

std::vector<Sample> Samples(Case c, int count) {
    std::mt19937 rng(3);
    // The second parameter of each model: CE's F, PR's R, PD's G, OD's POD, GR's F.
    const double secondLo[] = {0, 0, 0, 0, 0, 1, 0}, secondHi[] = {0, 0, 0.6, 1.5, 0.5, 1.2, 3};
    std::uniform_real_distribution<double> T(1, 9), E(200, 2800), A(0.001, 0.011),
        second(secondLo[c], secondHi[c]);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<Sample> samples;
    for (int i = 0; i < count; ++i) {
        const double t = T(rng), e = E(rng), a = A(rng), x = second(rng);
        const ModelInfo& model = InfoOf(kModelOf[c]);
        Sample s;
        s.name = "s" + std::to_string(i);
        s.row = static_cast<std::size_t>(i) + 2;
        if (c == kKnownElevation) s.elevation = ExactText(std::round(e));
        for (std::size_t j = 0; j < GasCount; ++j) {
            const double z = kGasTable[j].AtmFraction;
            const double C =
                EvaluateModel(kGasTable[j], t, c == kKnownElevation ? std::round(e) : e, 1, 0, {})
                    .EquilConc;
            const Recharge at{t, AirPressureAt(e, {})};
            const double v = model.fit.conc(C, z, ModelRatio(model, j, at, Options(c)), {0, a, x}) *
                             (1 + noise(rng));
            s.measured[j] = ExactText(v);
        }
        samples.push_back(std::move(s));
    }
    return samples;
}

void StudyFit(benchmark::State& state) {
    const auto c = static_cast<Case>(state.range(0));
    const StudyOptions o = Options(c);
    const auto samples = Samples(c, static_cast<int>(state.range(1)));
    const RunSettings settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["samples"] = static_cast<double>(samples.size());
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

// Monte Carlo: 1,000 draws of each of 100 samples at known elevations (UA under
// 2 s, CE under 10 s).
void MonteCarloFit(benchmark::State& state) {
    StudyOptions o = Options(kKnownElevation);
    o.grid.Text26 = "1"; // the grid's step; the refinement answers between
    o.model = state.range(0) == 0 ? Model::UA : Model::CE;
    o.mcDraws = 1000;
    const auto samples = Samples(kKnownElevation, 100);
    const RunSettings settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        MonteCarlo(samples, o, settings, results);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

// The ensemble fit: 300 samples in 100 groups of three, each group made from one
// recharge, each member with its own excess air; free elevation, the 10 m x 0.1 °C
// grid, UA. Fitted alone (0) and together (1): together within 1.5 times alone.
void EnsembleFit(benchmark::State& state) {
    StudyOptions o = Options(kFreeUa);
    const bool together = state.range(0) == 1;
    if (together) o.shared = {true, true};
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> T(1, 9), E(200, 2800), A(0.001, 0.011);
    std::normal_distribution<double> noise(0, 0.01);
    std::vector<Sample> samples;
    for (int g = 0; g < 100; ++g) {
        const double t = T(rng), e = E(rng);
        for (int m = 0; m < 3; ++m) {
            const double a = A(rng);
            Sample s;
            s.name = "s" + std::to_string(samples.size());
            s.row = samples.size() + 2;
            s.group = "g" + std::to_string(g);
            for (std::size_t j = 0; j < GasCount; ++j) {
                const double C = EvaluateModel(kGasTable[j], t, e, 1, 0, {}).EquilConc;
                s.measured[j] = ExactText((C + a * kGasTable[j].AtmFraction) * (1 + noise(rng)));
            }
            samples.push_back(std::move(s));
        }
    }
    const RunSettings settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

// The study of 1,000 samples with free elevation (UA, the 10 m x 0.1 °C grid)
// with each solubility data set: another set within 1.2 times the built-in's.
void StudyFitWithData(benchmark::State& state) {
    StudyOptions o = Options(kFreeUa);
    o.solubility = static_cast<SolubilitySet>(state.range(0));
    const auto samples = Samples(kFreeUa, 1000);
    const RunSettings settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

// The uncertainty workloads, with 1 and 2 threads (the numbers are the same):
//   0: five samples of examples/springs.csv's kind, CE, 300 draws, free
//      elevation, 10 m x 0.1 °C, 0-20 °C;
//   1: 100 samples, UA, 1,000 draws each, free elevation, 10 m x 0.1 °C, 0-10 °C;
//   2: 100 samples, CE (four gases), free elevation, 10 m x 0.1 °C, 0-30 °C, no
//      draws;
//   3: workload 0 with the five samples of examples/springs.csv themselves.
void Uncertainty(benchmark::State& state) {
    const auto workload = state.range(0);
    StudyOptions o = Options(workload == 1 ? kFreeUa : kFreeCe);
    o.grid.Text21 = workload == 1 ? "10" : workload == 2 ? "30" : "20";
    o.mcDraws = workload == 1 ? 1000 : workload == 2 ? 0 : 300;
    const auto samples =
        workload == 3
            ? ReadSamples(ReadSampleTable(TEMRA_SPRINGS_PATH, std::uint64_t{1} << 30), o).samples
            : Samples(workload == 1 ? kFreeUa : kFreeCe, workload == 0 ? 5 : 100);
    const unsigned before = threadLimit.exchange(static_cast<unsigned>(state.range(1)));
    const RunSettings settings;
    for (auto _ : state) {
        auto results = FitStudy(samples, o, settings);
        MonteCarlo(samples, o, settings, results);
        benchmark::DoNotOptimize(results.data());
    }
    threadLimit = before;
    state.counters["peak_rss_MB"] = bench::PeakRssMB();
}

} // namespace

BENCHMARK(Uncertainty)
    ->ArgNames({"workload", "threads"})
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK(StudyFitWithData)
    ->ArgNames({"set"})
    ->Arg(static_cast<int>(SolubilitySet::Builtin))
    ->Arg(static_cast<int>(SolubilitySet::Weiss))
    ->Arg(static_cast<int>(SolubilitySet::Jenkins2019))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK(EnsembleFit)
    ->ArgNames({"together"})
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK(MonteCarloFit)
    ->ArgNames({"ce"})
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK(StudyFit)
    ->ArgNames({"case", "samples"})
    ->Args({kKnownElevation, 1000})
    ->Args({kFreeUa, 1000})
    ->Args({kFreeCe, 100})
    ->Args({kFreePr, 100})
    ->Args({kFreePd, 100})
    ->Args({kFreeOd, 100})
    ->Args({kFreeGr, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    return temra::bench::RunBenchmarks(argc, argv);
}
