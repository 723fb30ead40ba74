// The fits of the table's excess-air models (study/models/models.h), one ExcessFit
// each: the best excess air at given equilibrium concentrations, the extremes
// of its parameters where chi2 <= target, the scale of the penalty that leads a
// search back into that region, and a gas's concentration under the model.
//
// UA has A in closed form. CE, taken as B = F A and t = (1 - F) A, has t in
// closed form at a fixed B and is a search over B alone. PR, PD, OD and GR are
// separable: for a fixed second parameter s the best A is in closed form, and
// s is scanned, then refined (Brent's method in the refinement, a parabola
// through the scan in the grid's search).
#pragma once

#include "study/models/models.h"

namespace temra::study::fits {

ExcessFit Ua();
ExcessFit Ce();
ExcessFit Pr();
ExcessFit Pd();
ExcessFit Od();
ExcessFit Gr();

} // namespace temra::study::fits
