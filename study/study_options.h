// What a study fits with: the model, the gases, the errors and the grid's boxes,
// and the error that refuses a study as a whole.
#pragma once

#include "core/input_texts.h"

#include "core/errors.h"
#include "core/run_settings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace temra::study {

enum class Model { UA, CE, PR, PD, OD, GR };

// What the members of a group (the table's column "group") share in an ensemble
// fit: the recharge temperature and elevation; none: each sample is fitted alone.
struct SharedParams {
    bool T = false, E = false;
    bool Any() const { return T || E; }
};

// What a Monte Carlo draw's search is given by its sample's fit: the sample's
// grid cases in the order of its misfit, and its fitted gases' values (by gas
// index, in the fit's unit). A draw's root misfit at a case differs from its
// sample's by at most the distance r between their values weighted by the errors
// (the triangle inequality, the excess air at its best at either). The draw
// searches the cases least first, and stops where the sample's root misfit less r
// exceeds the root of the draw's best so far: no case further on can be its best.
struct DrawReach {
    struct Case {
        double root;      // the sample's root misfit at the case (NaN: none)
        std::size_t k, e; // the case's number and its elevation's place
    };
    std::vector<Case> order;    // those with a misfit first, least first; then the others
    std::size_t withMisfit = 0; // how many have a misfit
    std::size_t cases = 0;      // the grid's cases
    std::array<double, GasCount> measured{};
    // The terms of the first `termCases` cases of `order` that do not depend on
    // the measured values (ExcessFit::fillTerms), `termCount` a case, as the
    // sample's fitted gases (`termGas`, their fractions in air `termZ`) and largest
    // excess air `termAMax` give them; a draw that differs in these, or a case
    // further on, works its terms out itself. `conc` holds the fitted gases'
    // equilibrium concentrations at those cases, `termN` a case.
    std::vector<double> terms, conc;
    std::size_t termCount = 0, termCases = 0;
    int termN = 0;
    std::array<std::size_t, GasCount> termGas{};
    std::array<double, GasCount> termZ{};
    double termAMax = 0;
};

struct StudyOptions {
    // The grid's boxes; Text14 (density) and Text15 (chloride) serve the samples
    // without those columns.
    Form1Texts grid;
    Model model = Model::UA;
    // Every model of the table is fitted (`model` is then not read): each
    // sample's rows one per model, in the table's order, the preferred marked.
    bool allModels = false;
    std::array<bool, GasCount> gases{false, true, true, true, true, false, false};
    double relErr = 0.01; // sigma where a sample has no error column: relErr x measured
    // The solubility data set of every equilibrium concentration
    // (core/solubility_sets.h): Temra's own unless another is chosen.
    SolubilitySet solubility = SolubilitySet::Builtin;
    // Every solubility data set is fitted (`solubility` is then not read): each
    // sample's rows one per data set, in the table's order (within each, one per
    // model with allModels), with the shift of each against builtin.
    bool allSolubility = false;
    // The table's concentrations (and their errors) are per gram of water (cm3
    // STP/g); false: per cm3 of water, as on the input page. Per gram, each is
    // multiplied by the sample's density (g/cm3) before the fit.
    bool perGram = false;
    // The upper bounds of the models' parameters set by their options, by the
    // option's name ("pr-r-max"); a bound not given has the table's default.
    std::map<std::string, double, std::less<>> upper;
    // The models' constants set by their options ("pd-beta"); a constant not given
    // has the table's default.
    std::map<std::string, double, std::less<>> constants;
    // The lapse-rate prior: the MAAT line of the grid's boxes gives the recharge
    // temperature at each elevation, plus the offset, with the spread (°C).
    bool prior = false;
    double priorOffset = 0, priorSd = 1;
    // Monte Carlo: draws of each sample (0: none) and the seed of their generator.
    int mcDraws = 0;
    std::uint64_t mcSeed = 1;
    // The ensemble fit: the parameters the members of a group share.
    SharedParams shared;
    // The best values alone, without their ranges (each range is its value, and
    // no range is cut): the fit of a Monte Carlo draw, whose spread is the
    // draws' own.
    bool bestOnly = false;
    // A draw's search (Monte Carlo, with bestOnly): its sample's cases in the order
    // of its misfit; none: every case.
    std::shared_ptr<const DrawReach> reach;
};

// The settings of a study that a command error may lie in; each caller names its
// own box or option for them.
enum class StudySetting { Table, Gases, RelErr, Upper, Constant, MonteCarlo, Prior, Ensemble };

// A command error: the table or the options cannot be used at all. `setting()`
// says which to change (the table when nothing else is named).
class StudyError : public Refusal {
  public:
    using Refusal::Refusal;
    StudyError(const std::string& what, StudySetting setting, std::string option = {})
        : Refusal(what, OptionCulprit(option)), setting_(setting), option_(std::move(option)) {}
    StudySetting setting() const { return setting_; }
    // For StudySetting::Upper, Constant and Prior: the option ("pr-r-max",
    // "pd-beta", "prior-sd"); for Ensemble, the option it cannot be fitted with
    // ("model", "mc", "prior-maat").
    const std::string& option() const { return option_; }

  private:
    StudySetting setting_ = StudySetting::Table;
    std::string option_;
};

// A gas's name as the study writes it ("He-4", "Ne-20", ..., "O2"); gas index 0
// to GasCount - 1.
std::string GasName(int gas);

// The gases fitted, as "Ne-20;Ar-40;Kr-84;Xe".
std::string GasList(const std::array<bool, GasCount>& gases);

} // namespace temra::study
