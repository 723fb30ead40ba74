// The fit's uncertainty carried to what the gases say beyond it: the spread of
// the model's concentration of each gas at the best, from the covariance of the
// fitted parameters.
#pragma once

#include "study/fit/misfit_surface.h"
#include "study/input/sample_values.h"

#include <array>
#include <optional>

namespace temra::study {

// The 1-sigma spread of the model's concentration of every gas (by gas index, in
// the fit's unit) at `best`, from the fit's uncertainty: the covariance of the
// free parameters not at a bound (T and E where the domain frees them, A, the
// model's second parameter), twice the inverse of chi2's Hessian there, carried
// through each gas's derivatives (finite differences of a tenth of each 1-sigma
// range). Nothing where the Hessian is not positive definite: the gases cannot
// tell the parameters apart, and no spread can be given.
std::optional<std::array<double, GasCount>> ModelSpreads(const Values& v, const Fitted& f,
                                                         const Point& best, const Ranges& ranges,
                                                         const Domain& d, const StudyOptions& o);

} // namespace temra::study
