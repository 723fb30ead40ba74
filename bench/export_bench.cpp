// Writing the "Difference Results" workbook of a grid with about a million cases
// (0-3000 m step 0.003 at 0 °C), from the finished search to the closed .xlsx file.
// Run alone (--benchmark_filter) to read the peak memory of this benchmark.
#include "bench/bench_support.h"
#include "core/module1.h"
#include "export/exports.h"

#include <filesystem>
#include <fstream>

using namespace temra;
using temra::bench::PeakRssMB;

namespace {

double CurrentRssMB() {
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096 / (1024.0 * 1024.0);
}

void WriteDifferenceResults(benchmark::State& state) {
    Module1 m;
    Form1Texts f;
    f.Text19 = "3000";
    f.Text25 = "0.003";
    f.Text21 = "0";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables({});
    m.FindBestFitNoEa();
    const double before = CurrentRssMB();
    const auto folder = std::filesystem::temp_directory_path() / "temra_export_bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    int n = 0;
    for (auto _ : state) {
        xl::Application app;
        xl::SaveAs(xl::WriteBestFitToExcel(m.NoEa(), app),
                   folder / ("difference-" + std::to_string(n++) + ".xlsx"));
    }
    state.counters["rows"] = static_cast<double>(m.CaseCount());
    state.counters["peak_rss_MB"] = PeakRssMB();
    state.counters["rss_before_export_MB"] = before; // the grid and the search
    std::filesystem::remove_all(folder);
}

} // namespace

BENCHMARK(WriteDifferenceResults)->Unit(benchmark::kMillisecond)->Iterations(3);
