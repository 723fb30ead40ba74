// The table of excess-air models: what each is called where, its parameters
// with their bounds, flags and result columns, and its fit. The command line's
// choices, the samples window's list, the Settings sheet, the result columns and
// the flags at a bound are drawn from it; the continuous refinement
// (study/fit/misfit_surface.*) and the grid's search (study/fit/fit_sample.*) ask a model's
// row for its fit and never branch on a model by name.
//
// Every model has the excess air A as its first parameter; a second parameter
// (CE's fractionation F) is optional.
#pragma once

#include "core/gas_table.h"
#include "study/study_options.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

// The fitted gases of a sample, in gas order.
struct Fitted {
    int n = 0;
    std::array<std::size_t, GasCount> gas{};    // the gas index of each
    std::array<double, GasCount> m{}, w{}, z{}; // measured, weight 1/sigma^2, fraction in air
    std::array<bool, GasCount> mask{};          // by gas index
    // The fit's excess air over the table's unit: the density for a table per gram
    // (its values are per cm3 of water once read), 1 otherwise.
    double aScale = 1;
    // The model's bounds and exponent under the study's options, read once for the
    // sample (ResolveBounds): the largest A in the fit's unit, the second
    // parameter's bounds, the exponent of the diffusivity ratio.
    double aMax = std::numeric_limits<double>::infinity();
    double aLargest = 0; // the largest A as its option sets it (the table's unit)
    double sLo = 0, sHi = 0, beta = 1;
};

// Reads the model's bounds and exponent into `f` (its aScale set).
void ResolveBounds(Fitted& f, const StudyOptions& o);

// The excess air that fits best at the fitted gases' equilibrium concentrations:
// the misfit, A and the second parameter (0 for a model without one).
struct Excess {
    double chi2 = 0, A = 0, second = 0;
};

// A piece of A's distribution at a point (T, E), the model's other parameter held
// at one value: a normal of A (mean, sd) truncated to [lo, hi], standing for the
// integral of exp(-chi2 / 2) over its part of the parameters, whose log is
// logWeight. A's distribution at the point is the sum of its pieces.
struct APiece {
    double logWeight, mean, sd, lo, hi;
};
using AMixture = std::vector<APiece>;

// log(Phi(b) - Phi(a)) for a <= b, Phi the standard normal distribution, without
// underflow in either tail.
double LogNormalShare(double a, double b);

// The piece of chi2(A) = c - 2 p A + q A^2 over [lo, hi], times `measure` (the
// quadrature's weight of the other parameter; 1 for a model without one).
APiece PieceOf(double c, double p, double q, double lo, double hi, double measure);

// The log of the sum of a mixture's pieces' weights (-infinity for none).
double LogWeightOf(const AMixture& mixture);

// One parameter of a model, as the results name it.
struct ModelParam {
    std::string_view symbol; // "A", "F": the window's headers and the notes
    std::string_view column; // the result columns' stem ("excess_air"; "_lo", "_hi" follow)
    std::string_view unit;   // "cm³ STP/g"; empty for a number without one
    double lo;               // its lower bound
    // Its upper bound (infinity when it has none) under the study's options.
    double (*hi)(const ModelParam& self, const StudyOptions& o);
    std::string_view lowFlag, highFlag;       // the flags of a best at a bound; empty: none
    std::string_view lowMeaning, highMeaning; // those flags in words
    std::string_view bounds; // the Settings sheet's line for it; empty: none of its own
    // The option that sets its upper bound ("pr-r-max": temra-cli's --pr-r-max,
    // StudyOptions::upper), with the bound it has by default; empty: none. Rows may
    // share an option (every model's A is bounded by "a-max").
    std::string_view option = {};
    double upper = 0;
    // An earlier name of the option that is still read ("ce-a-max"); empty: none.
    std::string_view formerOption = {};
    // The largest upper bound the option accepts, and why: beyond it the parameter
    // changes nothing the gases can show, and the search would lose its minimum.
    double most = std::numeric_limits<double>::infinity();
    std::string_view beyondMost = {};
};

// A constant of a model that an option sets: PR's and PD's exponent of the
// diffusivity ratio.
struct ModelConstant {
    std::string_view symbol;  // "β"
    std::string_view option;  // "pr-beta" (StudyOptions::constants); empty: the model has none
    double value = 1;         // by default
    std::string_view meaning; // the help's and the Settings sheet's words
    double lo = 0, hi = 0;    // the values accepted
};

// Which extreme of the excess air's parameters a search makes greatest: the
// least A (its value negated), the most A, the least second parameter
// (negated), the most.
enum class Extreme { kLeastA, kMostA, kLeastSecond, kMostSecond };
constexpr bool OfA(Extreme e) {
    return e == Extreme::kLeastA || e == Extreme::kMostA;
}
constexpr bool Least(Extreme e) {
    return e == Extreme::kLeastA || e == Extreme::kLeastSecond;
}

// The value of an extreme to make greatest.
double ValueOf(Extreme which, double A, double second);

// The upper bound an option of the table sets: the study's value, or the
// option's default.
double OptionUpper(const ModelParam& self, const StudyOptions& o);

// The samples window's name of the box that sets an option of the table
// ("Largest R of PR", "β of PD"; "Largest A" for the excess air every model
// shares); empty for an option the table does not hold.
std::string BoxOfOption(std::string_view option);

// A text of the study's (a note, a flag's meaning) in the samples window's words:
// each option of the table it names ("--pr-r-max") becomes the box that sets it.
std::string InWindowWords(std::string text);

// A constant's value under the study's options: the study's, or its default.
double ConstantOf(const ModelConstant& c, const StudyOptions& o);

// The conditions of recharge at a point of the fit: the temperature T (°C) and the
// air pressure P (atm) of the elevation.
struct Recharge {
    double T = 0, P = 1;
};

// A gas's diffusion coefficient in water over neon's at T (°C), gas index 0 to 6.
double DiffusionRatio(std::size_t gas, double T);

// A gas as the kinetic theory of gases sees it: its molar mass (g/mol) and its
// Lennard-Jones constants, the well depth over Boltzmann's constant (K) and the
// collision diameter (angstrom).
struct Molecule {
    double mass, epsilon, sigma;
};

// Air as the gas diffusion relaxation model takes it.
extern const Molecule kAir;

// The binary diffusion coefficient (cm²/s) of two gases at TK (K) and p (bar),
// from the Chapman-Enskog relation with Neufeld's collision integral.
double ChapmanEnskog(const Molecule& a, const Molecule& b, double TK, double pBar);

// A gas's diffusion coefficient in air (cm²/s) at the conditions `at`, gas index 0
// to 6.
double DiffusivityInAir(std::size_t gas, const Recharge& at);

// What one evaluation of a model's fit is given: the fitted gases and their
// equilibrium concentrations C (by fitted gas) at the conditions `at`, with the
// study's options.
struct ExcessFit {
    // The best excess air at C; a parameter found by search is found to `bits` bits
    // (the grid's search needs fewer than the refinement).
    Excess (*best)(const Fitted& f, const double* C, const Recharge& at, const StudyOptions& o,
                   int bits);
    // The greatest value of the extreme `which` over the excess air
    // where chi2 <= target, given the best there; nothing when no excess air
    // reaches the target.
    std::optional<double> (*extreme)(const Fitted& f, const double* C, const Recharge& at,
                                     const Excess& best, const StudyOptions& o, double target,
                                     Extreme which);
    // The scale of the penalty that leads a search for the extreme `which` back
    // into the region, per unit of chi2 above it.
    double (*penaltyScale)(const Fitted& f, const Excess& best, Extreme which);
    // A gas's concentration under the model: its equilibrium concentration Ceq,
    // fraction in air z and diffusion ratio d (ModelRatio) with the excess air x.
    double (*conc)(double Ceq, double z, double d, const Excess& x);
    // A's distribution at C with the excess air integrated out (exp(-chi2 / 2) over
    // the model's parameters within their bounds, flat in A and, at each value of
    // the second parameter, flat in it); nullptr: A's best alone stands for it.
    AMixture (*integral)(const Fitted& f, const double* C, const Recharge& at,
                         const StudyOptions& o) = nullptr;
    // The quantity by which a fractionating model fractionates a gas at `at`, before
    // its exponent; nullptr: the gas's diffusion coefficient in water over neon's
    // (DiffusionRatio).
    double (*ratio)(std::size_t gas, const Recharge& at) = nullptr;
    // How far the model's concentration of fitted gas j moves at most per unit of
    // its equilibrium concentration, over every value of the parameters within
    // their bounds, where the equilibrium concentration is Cmin or more; for a
    // model whose excess air depends on the conditions through the equilibrium
    // concentrations alone. The misfits of two grid cases then differ, in root, by
    // at most the distance between their concentrations weighed by it, and the
    // grid's search leaves out the cases that cannot lie near the best. nullptr:
    // no such bound (every case is searched).
    double (*slope)(const Fitted& f, std::size_t j, double Cmin) = nullptr;
    // The terms of a case's search that depend on the case, the fitted gases,
    // their fractions in air and the model's bounds alone, not on the measured
    // values or their errors, so that a sample's Monte Carlo draws work them out
    // once: termCount(f) of them, fillTerms writes them for C, and bestOfTerms is
    // `best` given them (the same result, bit for bit), save that a case whose
    // least is clearly above `bar` (a search's best so far) is given up: its chi2
    // is then infinite. nullptr: none.
    std::size_t (*termCount)(const Fitted& f) = nullptr;
    void (*fillTerms)(const Fitted& f, const double* C, double* terms) = nullptr;
    Excess (*bestOfTerms)(const Fitted& f, const double* C, const double* terms, int bits,
                          double bar) = nullptr;
};

struct ModelInfo {
    Model model;
    std::string_view key;      // temra-cli's --model ("ua")
    std::string_view name;     // the result rows' model column ("UA")
    std::string_view choice;   // the samples window's list ("UA: unfractionated excess air")
    std::string_view settings; // the Settings sheet's "Model"
    std::string_view help;     // temra-cli's help, after the key
    int paramCount;            // 1 (A) or 2 (A and a second parameter)
    std::array<ModelParam, 2> params;
    ExcessFit fit;
    // A alone, in closed form: the grid's search sums every case's terms in
    // blocks, and the cases' concentrations are shared by the samples of a grid.
    bool closedForm;
    // The cost of a case's fit in the grid's search, against a closed form's.
    std::uint64_t searchWeight;
    // The exponent of the diffusivity ratio (PR, PD); its option empty: none.
    ModelConstant exponent = {};

    bool HasSecond() const { return paramCount > 1; }
    // The upper bound of parameter k (0: A) under the study's options.
    double Upper(int k, const StudyOptions& o) const {
        const ModelParam& p = params[static_cast<std::size_t>(k)];
        return p.hi(p, o);
    }
};

// A gas's fractionating quantity as the model takes it: its ratio (D / D(Ne) unless
// the model's fit names another) raised to the model's exponent (the ratio itself
// for a model without one).
double ModelRatio(const ModelInfo& model, std::size_t gas, const Recharge& at,
                  const StudyOptions& o);

// Every model, in the order the choices list them.
const std::vector<ModelInfo>& Models();

// The row of a model (the first row for one the table lacks).
const ModelInfo& InfoOf(Model model);

// The row whose key is `key` (any case), or nullptr.
const ModelInfo* ModelOfKey(std::string_view key);

// Every option of the table of models (the bounds and the exponents), each once,
// in the table's order; and whether an option sets an exponent
// (StudyOptions::constants) rather than a bound (StudyOptions::upper).
std::vector<std::string> ModelOptions();
bool IsExponentOption(std::string_view option);

// A model added to the table for as long as it lives (tests: a model defined by
// the test appears wherever the table is drawn from).
class ScopedModel {
  public:
    explicit ScopedModel(const ModelInfo& model);
    ~ScopedModel();
    ScopedModel(const ScopedModel&) = delete;
    ScopedModel& operator=(const ScopedModel&) = delete;

  private:
    Model model_;
};

} // namespace temra::study
