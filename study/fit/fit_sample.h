// One sample's fit over its grid: every case's misfit at its best excess air
// (the grid's search), then the continuous best near the best case with its
// 1-sigma ranges (study/fit/misfit_surface.h), the degrees of freedom, p and the flags.
//
// Progress is counted in evaluations of one grid case: each temperature of a
// table counts one, and each sample's fit two passes over its cases (its search
// and its refinement), a pass of a model searched case by case weighed by the
// misfits its search evaluates per case (the model table's search weight).
#pragma once

#include "core/run_control.h"
#include "study/fit/misfit_surface.h"
#include "study/fit/study_grids.h"
#include "study/input/sample_values.h"
#include "study/input/samples.h"
#include "study/results.h"

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
// What the grid's boxes give of it: all but the temperature of a grid of one
// temperature (t0, tFree), which its tables or its filled cases give.
Domain DomainOfBoxes(const GridPlan& plan);

// Every case's misfit at its best excess air (the grid's search), and the best
// case (the lowest case number on a tie) with its point; `found` is false when no
// misfit is in the number range. A Monte Carlo draw's search (DrawReach) keeps
// its best case alone: chi2, A and second are then empty.
struct CasePass {
    std::vector<double> chi2, A, second; // second: empty for a model without one
    std::size_t best = 0;
    Point bestCase;
    bool found = false;
    bool ran = false; // false: the search did not run
};

// A sample's grid search, the first pass of its fit: `result` has the sample's
// name, model and gases, and is an error row when the sample cannot be fitted;
// `cases` did not run when the sample has no grid or no gas. Without `everyCase`,
// the search may leave out the cases that can be neither the best case nor
// within 1 of it (no misfit: infinity), for a fit that needs no more; with it, a
// model searched case by case spreads the grid's elevations over `parts`
// threads. Counts the first half of SampleWork(cases) into `control`.
struct SampleSearch {
    StudyResult result;
    Fitted fitted;
    CasePass cases;
};
SampleSearch SearchSample(const Sample& s, const Values& v, const SampleGrid& grid,
                          const StudyOptions& o, RunControl* control, bool everyCase = true,
                          unsigned parts = 1);

// Works out the terms of the reach's cases that the sample's draws share, and
// the cases' equilibrium concentrations (DrawReach::terms, conc), for the
// model's fit of the sample's gases `f`, in at most 64 MiB or a quarter of
// `memory`; nothing for a model without such terms.
void AddCaseTerms(DrawReach& reach, const Fitted& f, const SampleGrid& grid, const StudyOptions& o,
                  std::uint64_t memory);

// The steps of a fit that the ensemble fit shares (study/uncertainty/ensemble.h): the flags of
// a result whose chi2, dof and p are set, at the best point with its ranges; what
// the gases say beyond the fit; whether every number of a result is finite.
void AddFlags(StudyResult& r, const Domain& d, const Point& best, const Ranges& ranges,
              const Fitted& f, const StudyOptions& o);
// `spread`: the model's spread of each gas at the best (ModelSpreads), added to
// the measurement's sigma; nothing: the measurement's alone.
void GasesBeyond(StudyResult& r, const Values& v, const Point& best, const StudyOptions& o,
                 const std::optional<std::array<double, GasCount>>& spread);
bool AllFinite(const StudyResult& r);
// The flags of the solubility data at the best: with Temra's own model, saline
// for a sample whose chloride is beyond where its salt correction holds
// (kSalineChloride); with another data set, beyond-data for a best temperature
// or a salinity beyond the range its equations were measured over.
void SolubilityFlags(StudyResult& r, const Values& v, const StudyOptions& o);
// A result's excess air (value, range, posterior) from the fit's unit into the
// table's: divided by aScale (Fitted::aScale).
void ToTableUnit(StudyResult& r, double aScale);
// The upper tail of the chi-squared distribution at chi2 with dof > 0 degrees of
// freedom.
double ChiSquaredP(double chi2, int dof);

// The sample's result; an error row when it cannot be fitted. `perCase`, when
// given, receives every case's chi2 at its best excess air. The fit counts
// SampleWork(cases) units into `control`.
StudyResult FitSample(const Sample& s, const Values& v, const SampleGrid& grid,
                      const StudyOptions& o, RunControl* control,
                      std::vector<double>* perCase = nullptr);

} // namespace temra::study
