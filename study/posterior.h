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

#include "study/study_fit.h"

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

// The posterior medians and 68 % credible intervals (16th and 84th percentiles)
// of T, elevation and A from a sample's grid cases, `tStep` and `eStep` the
// grid's steps; `cut` when an interval reaches a cell at the grid's end. Nothing
// when no case has weight (the line misses the grid, or its slope is 0).
std::optional<Posterior> PosteriorOf(const std::vector<PosteriorCase>& cases, double tStep,
                                     double eStep, const PriorLine& prior);

} // namespace temra::study
