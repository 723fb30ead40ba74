// The results of the study fit, the types every room of the study hands on: a
// sample's result row (its fit, its ranges, what the gases say beyond it, its
// Monte Carlo summary, its posterior, its group's fit), and the misfit over a
// sample's or a group's grid that the maps draw. They depend on nothing of the
// study but its options.
#pragma once

#include "core/module1.h"
#include "study/study_options.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

// Where a sample's best lies at an end of the grid.
struct GridEnds {
    bool tempLow = false, tempHigh = false; // at 0 °C or the highest temperature
    bool elevLow = false, elevHigh = false; // at 0 m or the highest elevation (when free)
    bool maat = false;                      // at an end of the MAAT window inside those
};

// A parameter's best value and the limits of its 1-sigma range.
struct Estimate {
    double value = 0, lo = 0, hi = 0;
};

// The spread of one parameter over the Monte Carlo draws fitted.
struct Spread {
    double mean = 0, sd = 0, p16 = 0, p50 = 0, p84 = 0;
};

// A sample's Monte Carlo summary (study/uncertainty/monte_carlo.h).
struct McSummary {
    std::size_t place = 0;  // the sample's place in its table, which seeds its draws
    std::size_t draws = 0;  // drawn
    std::size_t fitted = 0; // fitted (a draw with a value at or below 0 is refused)
    Spread T, E, A;
    std::optional<Spread> second; // the model's second parameter
    double atBound = 0;           // share of the fitted draws with a parameter at its bound
    double atEdge = 0;            // share at an end of the grid (edge-T, edge-E)
    std::string failure;          // why the first draw that could not be fitted was refused
};

// The posterior with the lapse-rate prior (study/fit/posterior.h): medians and 68 %
// credible intervals.
struct Posterior {
    Estimate T, E, A;
    bool cut = false; // an interval reaches a cell at the grid's end
};

// A group's joint fit (study/uncertainty/ensemble.h), the same in each member's row.
struct GroupFit {
    std::string name;
    std::size_t members = 0; // the members fitted together
    double chi2 = 0;
    int dof = 0;
    std::optional<double> p; // empty when dof <= 0
};

struct StudyResult {
    std::string sample;
    std::string error; // not empty: the sample was refused (an error row)
    int n = 0;         // gases fitted
    int dof = 0;
    double chi2 = 0;
    std::optional<double> p; // empty when dof <= 0
    CaseNumber caseNo = 0;   // the grid case nearest the best
    double elevation = 0, elevationLo = 0, elevationHi = 0;
    double temperature = 0, temperatureLo = 0, temperatureHi = 0;
    double A = 0, ALo = 0, AHi = 0;
    // The model's second parameter (CE's fractionation F) with its 1-sigma range;
    // empty for a model without one.
    std::optional<Estimate> second;
    std::vector<std::string> flags;
    GridEnds ends;
    int freeParameters = 0;
    Model model = Model::UA;
    // What the gases say beyond the fit, at the best (T, elevation) and excess air,
    // in the table's unit of concentration (per gram with perGram):
    std::optional<double> deltaNe;        // Ne's excess over equilibrium, per cent
    std::optional<Estimate> heTerrigenic; // He-4 measured less the model (value, -1σ, +1σ),
                                          // when He-4 is measured and not fitted
    std::optional<Estimate> n2Excess;     // N2 measured less the model, when not fitted
    std::optional<double> o2Fraction;     // O2 measured over its equilibrium
    bool preferred = false;               // among a sample's models, the highest p with dof > 0
    std::optional<McSummary> mc;          // with Monte Carlo draws
    std::optional<Posterior> posterior;   // with the lapse-rate prior
    // With an ensemble fit: the group the table names for the sample (empty: it
    // stands alone), the group's fit when the sample is fitted as its member (or
    // is its one member fitted), and why a member was fitted apart from it.
    std::string groupName;
    std::optional<GroupFit> group;
    std::string leftOut;
    // The solubility data set of the row, and with every data set compared, the
    // shift of its T, elevation and A against builtin's fit of the same sample
    // with the same model (empty where either was refused).
    SolubilitySet solubility = SolubilitySet::Builtin;
    struct Shift {
        double T = 0, E = 0, A = 0;
    };
    std::optional<Shift> shift;
};

// One sample's misfit over its grid (CaseMisfits, study/study_fit.h): every
// case's chi2 at its best A (and F), with the grid and the sample's result.
struct MisfitMap {
    GridPlan plan;
    std::vector<double> chi2; // per case
    StudyResult result;
    // The continuous model's chi2 on a fine raster around the 1-sigma region, for
    // its contour (a valley narrower than the grid's step shows whole):
    // fine[iy * fineT.size() + ix] at (fineT[ix], fineE[iy]); NaN outside the
    // grid's bounds. Empty for one elevation or an error row.
    std::vector<double> fineT, fineE, fine;
    // With the lapse-rate prior: each case's misfit with the excess air integrated
    // out, -2 log of the integral of exp(-chi2 / 2) over the model's parameters
    // (infinite for a case too far above the least to weigh anything), which the
    // posterior weighs; empty without the prior.
    std::vector<double> integrated;
};

// A group's misfit over its grid (GroupMisfits, study/study_fit.h).
struct GroupMap {
    GridPlan plan;            // the members' grid, filled (empty when no member was fitted)
    std::vector<double> chi2; // the group's chi2 per case; empty when the group was not fitted
                              // together (fewer than two members fitted)
    std::vector<std::vector<double>> members; // each member's chi2 per case, those fitted
                                              // together in their order
    std::vector<StudyResult> results;         // every sample's row, in their order
    // The sum of the continuous models of the members fitted together on a fine
    // raster around the group's 1-sigma region, as MisfitMap's; empty for one
    // elevation or a group not fitted together.
    std::vector<double> fineT, fineE, fine;
    // Each of those members' own continuous model over twice the region's
    // extent on each side of it (memberFine[m][iy * memberFineT.size() + ix]).
    std::vector<double> memberFineT, memberFineE;
    std::vector<std::vector<double>> memberFine;
};

// The flags as they are named in code, so that a flag is spelt in one place
// (their meanings: study/output/flags.h).
namespace flag {
inline constexpr std::string_view kEdgeT = "edge-T", kEdgeE = "edge-E", kEdgeMaat = "edge-MAAT";
inline constexpr std::string_view kCutT = "range-cut-T", kCutE = "range-cut-E",
                                  kCutMaat = "range-cut-MAAT";
inline constexpr std::string_view kPoorFit = "poor-fit", kUnderdetermined = "underdetermined";
inline constexpr std::string_view kMissing = "missing:", kSaline = "saline";
inline constexpr std::string_view kBeyondData = "beyond-data";
inline constexpr std::string_view kPriorCut = "prior-cut", kGroupMisfit = "group-misfit";
} // namespace flag

} // namespace temra::study
