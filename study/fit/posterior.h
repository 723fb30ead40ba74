// Recharge temperature and elevation from the gases and a lapse-rate prior: each
// grid case weighed by exp(-chi2 / 2) times a normal prior on its temperature
// around the MAAT line's temperature at its elevation (H = a T + b, so
// T_line = (H - b) / a) plus an offset, with the spread the user sets. The
// marginals of T and elevation are the weights summed over the grid's cells,
// each cell's mass spread evenly over it; that of A is the cases' best A by
// weight. With no spread the temperature lies on the line: each elevation's
// case weighs exp(-chi2 / 2) at the line's temperature (chi2 and A taken
// between the temperatures either side).
#pragma once

#include "study/models/models.h"
#include "study/results.h"

#include <functional>
#include <optional>
#include <vector>

namespace temra::study {

// A grid case as the posterior reads it.
struct PosteriorCase {
    double T, E, A, chi2;
};

struct PriorLine {
    double slope, intercept; // H = slope T + intercept
    double offset = 0;       // added to the line's temperature (°C)
    double sd = 1;           // the prior's spread (°C); 0: on the line
};

// A's distribution at (T, E) with the excess air integrated out (the model's
// ExcessFit::integral at the sample's equilibrium concentrations there).
using ExcessAt = std::function<AMixture(double T, double E)>;

// The posterior medians and 68 % credible intervals (16th and 84th percentiles)
// of T, elevation and A from a sample's grid cases, `tStep` and `eStep` the
// grid's steps; `cut` when an interval reaches a cell at the grid's end. Nothing
// when no case has weight (the line misses the grid, or its slope is 0). With
// `excess`, each case weighs the integral of exp(-chi2 / 2) over the excess air
// rather than its least chi2, and A's interval is that of the sum of the cases'
// distributions of A (cases whose least chi2 leaves them e^-40 below the heaviest
// are left out); without it, each case's best A stands for its excess air.
std::optional<Posterior> PosteriorOf(const std::vector<PosteriorCase>& cases, double tStep,
                                     double eStep, const PriorLine& prior,
                                     const ExcessAt* excess = nullptr);

// A marginal as its cells: their centres and masses (summing to 1), in order.
struct MarginalCells {
    std::vector<double> centre, mass;
};

// The posterior as it is drawn: each case's weight over the largest (0 to 1, in
// the order of `cases`; empty with no spread, where the weight lies on the line
// between cases) and the marginals of T and elevation, with the summary
// PosteriorOf gives. Nothing where PosteriorOf gives nothing.
struct PosteriorDetail {
    Posterior summary;
    std::vector<double> weight;
    MarginalCells T, E;
};
std::optional<PosteriorDetail> PosteriorDetailOf(const std::vector<PosteriorCase>& cases,
                                                 double tStep, double eStep, const PriorLine& prior,
                                                 const ExcessAt* excess = nullptr);

// The posterior of a sample's misfit map with the options' prior (its cases'
// temperature, elevation and chi2: the summary's A is left to the fit's own
// posterior, map.result.posterior). Nothing without the prior, for an error row
// or where PosteriorDetailOf gives nothing.
std::optional<PosteriorDetail> PosteriorOfMap(const MisfitMap& map, const StudyOptions& options);

} // namespace temra::study
