// The study fit: many samples, each fitted over the cases of the solubility grid
// with its misfit weighted by the measurement errors, then refined on the
// continuous model (study/fit/misfit_surface.h).
//
// For each sample and each grid case (the grid run's cases, in its order and
// numbering, computed with the sample's chloride and density, or at the sample's
// known elevation only), the fitted gases i are compared with the excess-air
// model's concentrations model_i (the table of models, study/models/models.h, with the
// equations of each) by the misfit
//   chi2 = sum_i ((measured_i - model_i) / sigma_i)^2
// at the case's best excess air. The grid's best case has the least chi2 (the
// lowest case number on a tie); the reported T, elevation and the model's
// parameters are the minimum of the continuous model near it, within the grid's
// bounds, and the 1-sigma ranges the limits of chi2 <= chi2min + 1 on each
// parameter's profile. p is the upper tail of the chi-squared distribution with
// n - k degrees of freedom, k the parameters the grid and the model leave free.
//
// The equilibrium concentration SX(T) (P(E) - e(T)) / 1000 is tabulated once per
// temperature window for the samples of one density and chloride, with the air
// pressure once per elevation: the same arithmetic as the grid run's.
#pragma once

#include "core/fields.h"
#include "core/module1.h"
#include "core/run_control.h"
#include "study/input/sample_values.h"
#include "study/input/samples.h"
#include "study/results.h"
#include "study/study_options.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace temra::study {

// The options a study cannot be fitted with: throws StudyError naming the
// setting (and, for a bound or constant, its option), which temra-cli turns into
// its option and the samples window into its box. An option is checked only
// where a fitted model uses it. CheckSetting checks one setting alone (a
// window's dialog before its values are taken).
void CheckOptions(const StudyOptions& options);
void CheckSetting(const StudyOptions& options, StudySetting setting);

// The rows of each sample: one per model with allModels, one per solubility data
// set with allSolubility (the sets outermost), one otherwise; and the model and
// set of a sample's k-th row.
std::size_t FitsPerSample(const StudyOptions& options);
struct FitKind {
    Model model;
    SolubilitySet solubility;
};
FitKind KindOfFit(const StudyOptions& options, std::size_t k);

// The samples refused: those each of whose rows (FitsPerSample) is an error row.
std::size_t RefusedSamples(const std::vector<StudyResult>& results, const StudyOptions& options);

// Fits every sample, in input order (with allModels or allSolubility, each
// sample's rows as FitsPerSample says). `settings` gives the decimal separator of the
// samples' numbers and the grid's boxes ('.' read as well) and the memory this
// process may use; the grid of samples that share chloride, density and
// elevation is computed once. Throws StudyError naming the setting (or TemraError
// for a grid option) when the options cannot be used: an option is checked only
// where the model uses it. A sample that cannot be fitted becomes an error row.
// Progress goes to `control` in evaluations of grid cases, across every group's
// grid run and every sample's fit.
std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control = Unwatched());

// What a sample's grid search leaves its Monte Carlo draws (DrawReach): its
// cases in the order of its misfit and its fitted values; nothing when it cannot
// be searched.
// Throws as CaseMisfits does.
std::shared_ptr<const DrawReach> ReachOf(const Sample& sample, const StudyOptions& options,
                                         const RunSettings& settings, RunControl& control);

// One sample's misfit over its grid (study/results.h). Throws StudyError when the
// sample cannot be read, TemraError when its grid cannot be made.
MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control = Unwatched());

// A group's misfit over its grid (the ensemble fit, study/uncertainty/ensemble.h): every
// sample of `samples` is taken as a member of one group (named by the first's
// group, or "group"), fitted with the parameters `options` share (T and E when it
// names none). Throws as FitStudy does.
GroupMap GroupMisfits(const std::vector<Sample>& samples, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control = Unwatched());

} // namespace temra::study
