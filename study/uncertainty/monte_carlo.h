// Monte Carlo uncertainties of a study: each sample's measurements drawn again
// and again from normal distributions with their errors, each draw fitted with
// the sample's model, and the spread of the fitted parameters summarised. The
// draws of a sample come from a generator seeded by the seed and the sample's
// place in the table alone, so that the same seed gives the same numbers
// whatever the number of threads.
#pragma once

#include "core/run_control.h"
#include "core/run_settings.h"
#include "study/input/samples.h"
#include "study/results.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace temra::study {

// One draw's fit, for the file of draws.
struct McDraw {
    std::size_t sample = 0, draw = 0;
    StudyResult result;
};

// One fitted draw as the summary and the window's histograms read it.
struct McPoint {
    double T = 0, E = 0, A = 0;
    std::optional<double> second; // the model's second parameter
    bool atBound = false;         // a parameter at its bound
    bool atEdge = false;          // at an end of the grid
    // The model's He-4 and N2 beyond the fit, as measured less the model (the
    // draws leave those measurements as they are).
    std::optional<double> he, n2;
};

// Gives each result of `results` (one per sample of `samples`, as FitStudy gave
// them) the summary of options.mcDraws draws of its sample, seeded by
// options.mcSeed; a sample refused as it stands gets none. `eachDraw`, when
// given, receives every draw's fit in order. Throws StudyError (naming the
// Monte Carlo setting) when the draws cannot be made: every model at once, or
// more than the memory allows. Progress counts the draws; a cancel ends it by
// throwing Cancelled.
void MonteCarlo(const std::vector<Sample>& samples, const StudyOptions& options,
                const RunSettings& settings, std::vector<StudyResult>& results,
                RunControl& control = Unwatched(),
                const std::function<void(const McDraw&)>& eachDraw = {});

// The fitted draws of `sample` at `place` in its table (a draw refused left
// out): the very draws MonteCarlo summarises for it with the same options
// (McSummary::place). Throws StudyError when the sample is refused as it stands
// or the draws cannot be made; Cancelled on a cancel.
std::vector<McPoint> McDrawsOf(const Sample& sample, std::size_t place, const StudyOptions& options,
                               const RunSettings& settings, RunControl& control = Unwatched());

} // namespace temra::study
