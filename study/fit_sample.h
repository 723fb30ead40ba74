// One sample's fit over its grid: every case's misfit at its best excess air
// (the grid's search), then the continuous best near the best case with its
// 1-sigma ranges (study/continuum.h), the degrees of freedom, p and the flags.
//
// Progress is counted in evaluations of one grid case: each temperature of a
// table counts one, and each sample's fit two passes over its cases (its search
// and its refinement), a pass of a model searched case by case weighed by the
// misfits its search evaluates per case (the model table's search weight).
#pragma once

#include "core/run_control.h"
#include "study/continuum.h"
#include "study/sample_values.h"
#include "study/samples.h"
#include "study/study_fit.h"
#include "study/study_grids.h"

#include <cstdint>
#include <vector>

namespace temra::study {

// The work of a sample's fit over `cases` grid cases, in evaluations of a case.
std::uint64_t SampleWork(std::uint64_t cases, Model model);

// The sample's fitted gases: those of the options it has values for, with their
// weights and fractions in air.
Fitted FittedGases(const Values& v, const StudyOptions& o);

// Where the continuous fit may go on a sample's grid.
Domain DomainOf(const SampleGrid& grid);

// The sample's result; an error row when it cannot be fitted. `perCase`, when
// given, receives every case's chi2 at its best excess air. The fit counts
// SampleWork(cases) units into `control`.
StudyResult FitSample(const Sample& s, const Values& v, const SampleGrid& grid,
                      const StudyOptions& o, RunControl* control,
                      std::vector<double>* perCase = nullptr);

} // namespace temra::study
