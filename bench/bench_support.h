// Shared by the benchmark programs.
#pragma once

#include "core/run_array.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace temra::bench {

// The process's peak resident memory so far, in MiB.
inline double PeakRssMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Installs the programs' memory advice and runs the benchmarks the command line
// selects.
inline int RunBenchmarks(int argc, char** argv) {
    temra::SetMemoryAdvisor(&temra::platform::AdviseHugePages);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace temra::bench
