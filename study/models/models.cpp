#include "study/models/models.h"

#include "study/models/model_fits.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace temra::study {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- The table ---------------------------------------------------------------------------

double Unbounded(const ModelParam&, const StudyOptions&) {
    return kInf;
}
double One(const ModelParam&, const StudyOptions&) {
    return 1;
}

constexpr ModelParam kNoParam{"", "", "", 0, Unbounded, "", "", "", "", ""};

// The largest excess air, in every model: 0.1 cm³ STP/g, far above any excess air
// measured in groundwater (a few 0.001 to 0.01; Aeschbach-Hertig & Solomon 2012,
// "Noble gas thermometry in groundwater hydrology", in The Noble Gases as
// Geochemical Tracers, Springer, 81-122), so that a fit reaching it has failed.
constexpr double kLargestA = 0.1;
constexpr std::string_view kAHigh = "the excess air reached its largest A (--a-max)";

// A >= 0, at most the largest A.
constexpr ModelParam kA{"A",
                        "excess_air",
                        "cm³ STP/g",
                        0,
                        OptionUpper,
                        "A=0",
                        "A=max",
                        "the best excess air is 0: the sample holds less gas than equilibrium "
                        "gives",
                        kAHigh,
                        "",
                        "a-max",
                        kLargestA,
                        "ce-a-max",
                        1,
                        "groundwater holds a few thousandths"};

// The pressure factor of oxygen depletion can at most undo the removal of the
// air's oxygen: 1 / (1 - x(O2)) (Hall et al. 2005), 1.26499 to five decimals,
// rounded down so that the bound never passes the limit.
double LargestPod() {
    return std::floor(1e5 / (1 - kGasTable[GasIndexOf("O2")].AtmFraction)) / 1e5;
}

// The largest R and G accepted: the least diffusivity ratio of the gases is
// xenon's, about 0.28 at 0 °C, 0.08 squared (beta up to 2), so exp(-100 d) is
// below 0.0005 for every gas: the excess air is fractionated away.
constexpr double kLargestRate = 100;
constexpr std::string_view kRateBeyond =
    "at 100 the excess air of every gas is below 0.0005 of itself, wholly fractionated away";

// The rows of the models as built in.
ModelInfo UaRow() {
    return {Model::UA,
            "ua",
            "UA",
            "UA: unfractionated excess air",
            "UA (unfractionated excess air: C = Ceq + A z, 0 <= A <= the largest A)",
            "unfractionated excess air",
            1,
            {{kA, kNoParam}},
            fits::Ua(),
            true,
            1};
}

ModelInfo CeRow() {
    ModelParam a = kA;
    a.lowFlag = a.lowMeaning = "";
    return {Model::CE,
            "ce",
            "CE",
            "CE: closed-system equilibration",
            "CE (closed-system equilibration: C = Ceq + (1 - F) A z / (1 + F A z / Ceq), 0 <= A <= "
            "the largest A, 0 <= F <= 1)",
            "closed-system equilibration",
            2,
            {{a,
              {"F", "fractionation", "", 0, One, "F=0", "F=1", "no fractionation (F = 0)",
               "the fractionation reached F = 1", "0 to 1"}}},
            fits::Ce(),
            false,
            16};
}

// PR and PD fractionate by the diffusivity ratio raised to an exponent, whose
// defaults are those of Jung & Aeschbach 2018 (Environ. Model. Softw. 103, 120-130,
// doi:10.1016/j.envsoft.2018.02.004): 1 for re-equilibration, 0.5 for
// degassing. An exponent from 0 (no fractionation) to 2 is accepted.
ModelInfo PrRow() {
    return {Model::PR,
            "pr",
            "PR",
            "PR: partial re-equilibration",
            "PR (partial re-equilibration: C = Ceq + A z exp(-R (D/D(Ne))^beta), 0 <= A <= the "
            "largest A, R >= 0)",
            "partial re-equilibration, C = Ceq + A z exp(-R (D/D(Ne))^β)",
            2,
            {{kA,
              {"R", "reequilibration", "", 0, OptionUpper, "R=0", "R=max",
               "no re-equilibration (R = 0): the fit is UA's",
               "the re-equilibration reached its largest R (--pr-r-max)", "", "pr-r-max", 10, "",
               kLargestRate, kRateBeyond}}},
            fits::Pr(),
            false,
            16,
            {"β", "pr-beta", 1, "the exponent β of the diffusivity ratio in PR", 0, 2}};
}

ModelInfo PdRow() {
    return {Model::PD,
            "pd",
            "PD",
            "PD: partial degassing",
            "PD (partial degassing: C = (Ceq + A z) exp(-G (D/D(Ne))^beta), 0 <= A <= the "
            "largest A, G >= 0)",
            "partial degassing, C = (Ceq + A z) exp(-G (D/D(Ne))^β)",
            2,
            {{kA,
              {"G", "degassing", "", 0, OptionUpper, "G=0", "G=max",
               "no degassing (G = 0): the fit is UA's",
               "the degassing reached its largest G (--pd-g-max)", "", "pd-g-max", 3, "",
               kLargestRate, kRateBeyond}}},
            fits::Pd(),
            false,
            16,
            {"β", "pd-beta", 0.5, "the exponent β of the diffusivity ratio in PD", 0, 2}};
}

ModelInfo OdRow() {
    return {
        Model::OD,
        "od",
        "OD",
        "OD: oxygen depletion",
        "OD (oxygen depletion: C = POD Ceq + A z, 0 <= A <= the largest A, 1 <= POD <= "
        "1/(1 - x(O2)))",
        "oxygen depletion in soil air, C = POD Ceq + A z",
        2,
        {{kA,
          {"POD", "pressure_factor", "", 1, OptionUpper, "POD=1", "POD=max",
           "no oxygen depletion (POD = 1): the fit is UA's",
           "the soil air's pressure factor reached its largest POD (--od-p-max; by default "
           "1/(1 - x(O2)), the air's oxygen wholly removed)",
           "", "od-p-max", LargestPod(), "", 10, "the soil air at ten times the air's pressure"}}},
        fits::Od(),
        false,
        16};
}

// GR, gas diffusion relaxation (Sun, Hall, Castro, Lohmann & Goovaerts 2008, "Excess
// air in the noble gas groundwater paleothermometer: a new model based on
// diffusion in the gas phase", Geophys. Res. Lett. 35, L19401; Aeschbach-Hertig &
// Solomon 2012): the excess air relaxes by each gas's diffusion coefficient in air
// D (cm²/s) raised to an exponent β, 2/3 by default as Sun et al. take it.
// exp(-F D^β) leaves less than 0.0005 of the excess air of every gas once F D^β
// passes 7.6; the least D^β is xenon's at 0 °C and sea level, 0.223 at β = 2/3,
// so F = 40 fractionates every gas's excess air away, the largest by default.
// At β = 2 xenon's D^β is 0.011, and 1000 is the most accepted.
ModelInfo GrRow() {
    return {Model::GR,
            "gr",
            "GR",
            "GR: gas diffusion relaxation",
            "GR (gas diffusion relaxation: C = Ceq + A z exp(-F D^beta), D the gas's diffusion "
            "coefficient in air (cm²/s), 0 <= A <= the largest A, F >= 0)",
            "gas diffusion relaxation, C = Ceq + A z exp(-F D^β), D in air (cm²/s)",
            2,
            {{kA,
              {"F", "relaxation", "", 0, OptionUpper, "F=0", "F=max",
               "no relaxation (F = 0): the fit is UA's",
               "the relaxation reached its largest F (--gr-f-max)", "", "gr-f-max", 40, "", 1000,
               "at 1000 the excess air of every gas is below 0.0005 of itself, wholly relaxed "
               "away"}}},
            fits::Gr(),
            false,
            16,
            {"β", "gr-beta", 2.0 / 3.0, "the exponent β of the diffusion coefficient in air in GR",
             0, 2}};
}

// The models as built in, made on first use (their fits come from
// study/models/model_fits.cpp).
std::vector<ModelInfo> BuiltIn() {
    return {UaRow(), CeRow(), PrRow(), PdRow(), OdRow(), GrRow()};
}

std::vector<ModelInfo>& Table() {
    static std::vector<ModelInfo> table = BuiltIn();
    return table;
}

} // namespace

double ValueOf(Extreme which, double A, double second) {
    switch (which) {
    case Extreme::kLeastA:
        return -A;
    case Extreme::kMostA:
        return A;
    case Extreme::kLeastSecond:
        return -second;
    case Extreme::kMostSecond:
        break;
    }
    return second;
}

double OptionUpper(const ModelParam& self, const StudyOptions& o) {
    const auto it = o.upper.find(self.option);
    return it == o.upper.end() ? self.upper : it->second;
}

double LogNormalShare(double a, double b) {
    // The upper tail Q(x) = erfc(x / sqrt 2) / 2, and its log far out.
    auto logQ = [](double x) {
        if (x < 30) return std::log(0.5 * std::erfc(x / std::sqrt(2.0)));
        return -x * x / 2 - std::log(x * std::sqrt(2 * std::acos(-1.0)));
    };
    if (a > 0) { // both in the upper tail: Q(a) - Q(b)
        const double la = logQ(a), lb = std::isfinite(b) ? logQ(b) : -kInf;
        return la + std::log1p(-std::exp(lb - la));
    }
    if (b < 0) return LogNormalShare(-b, -a);
    return std::log(0.5 * (std::erfc(a / std::sqrt(2.0)) - std::erfc(b / std::sqrt(2.0))));
}

APiece PieceOf(double c, double p, double q, double lo, double hi, double measure) {
    const double mean = p / q, sd = 1 / std::sqrt(q);
    const double least = c - p * mean; // chi2 at the unbounded best
    const double logWeight = -least / 2 + std::log(sd * std::sqrt(2 * std::acos(-1.0))) +
                             LogNormalShare((lo - mean) / sd, (hi - mean) / sd) + std::log(measure);
    return {logWeight, mean, sd, lo, hi};
}

double LogWeightOf(const AMixture& mixture) {
    double sum = -kInf;
    for (const APiece& p : mixture)
        if (std::isfinite(p.logWeight))
            sum = std::max(sum, p.logWeight) + std::log1p(std::exp(-std::fabs(sum - p.logWeight)));
    return sum;
}

void ResolveBounds(Fitted& f, const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    f.aLargest = model.Upper(0, o);
    f.aMax = f.aLargest * f.aScale;
    if (model.HasSecond()) {
        f.sLo = model.params[1].lo;
        f.sHi = model.Upper(1, o);
    }
    f.beta = model.exponent.option.empty() ? 1.0 : ConstantOf(model.exponent, o);
}

std::string BoxOfOption(std::string_view option) {
    if (option.empty()) return {};
    for (const ModelInfo& m : Models()) {
        for (int k = 0; k < m.paramCount; ++k) {
            const ModelParam& p = m.params[static_cast<std::size_t>(k)];
            if (p.option != option && p.formerOption != option) continue;
            return "Largest " + std::string(p.symbol) +
                   (k == 0 ? "" : " of " + std::string(m.name));
        }
        if (m.exponent.option == option)
            return std::string(m.exponent.symbol) + " of " + std::string(m.name);
    }
    return {};
}

std::string InWindowWords(std::string text) {
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at)) {
        std::size_t end = at + 2;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '-'))
            ++end;
        const std::string box = BoxOfOption(std::string_view(text).substr(at + 2, end - at - 2));
        if (box.empty()) {
            at = end;
            continue;
        }
        const std::string words = "the box \"" + box + "\"";
        text.replace(at, end - at, words);
        at += words.size();
    }
    return text;
}

double ConstantOf(const ModelConstant& c, const StudyOptions& o) {
    const auto it = o.constants.find(c.option);
    return it == o.constants.end() ? c.value : it->second;
}

double ModelRatio(const ModelInfo& model, std::size_t gas, const Recharge& at,
                  const StudyOptions& o) {
    const double d = model.fit.ratio ? model.fit.ratio(gas, at) : DiffusionRatio(gas, at.T);
    if (model.exponent.option.empty()) return d;
    const double beta = ConstantOf(model.exponent, o);
    return beta == 1 ? d : std::pow(d, beta);
}

double DiffusionRatio(std::size_t gas, double T) {
    // R in kJ/(mol K) (CODATA 2018).
    constexpr double kR = 8.314462618e-3;
    const Gas& g = kGases[gas];
    const Gas& ne = kGases[GasIndexOf("Ne-20")];
    return g.diffusionA / ne.diffusionA *
           std::exp(-(g.diffusionEa - ne.diffusionEa) / (kR * (T + 273.15)));
}

// Air: its mean molar mass, 28.97 g/mol, and the Lennard-Jones constants the gas
// diffusion relaxation model is given with, 97.0 K and 3.620 Å (Bird, Stewart &
// Lightfoot 2002, "Transport Phenomena", 2nd ed., Wiley, Table E.1, give 97.0 K
// and 3.617 Å).
const Molecule kAir{28.97, 97.0, 3.620};

// Poling, Prausnitz & O'Connell 2001, "The Properties of Gases and Liquids", 5th
// ed., McGraw-Hill, eq. 11-3.2:
//   D = 0.00266 TK^1.5 / (p M^0.5 sigma^2 Omega),  p in bar,
// M = 2 / (1/Ma + 1/Mb), sigma = (sigma_a + sigma_b) / 2, Omega at TK / eps with
// eps = (eps_a eps_b)^0.5, by Neufeld, Janzen & Aziz 1972 (J. Chem. Phys. 57,
// 1100-1102), eq. 11-3.6.
double ChapmanEnskog(const Molecule& a, const Molecule& b, double TK, double pBar) {
    const double M = 2 / (1 / a.mass + 1 / b.mass);
    const double sigma = (a.sigma + b.sigma) / 2;
    const double Ts = TK / std::sqrt(a.epsilon * b.epsilon);
    const double omega = 1.06036 / std::pow(Ts, 0.15610) + 0.19300 / std::exp(0.47635 * Ts) +
                         1.03587 / std::exp(1.52996 * Ts) + 1.76474 / std::exp(3.89411 * Ts);
    return 0.00266 * std::pow(TK, 1.5) / (pBar * std::sqrt(M) * sigma * sigma * omega);
}

double DiffusivityInAir(std::size_t gas, const Recharge& at) {
    // The standard atmosphere, 1.01325 bar (the air pressure is in atm).
    constexpr double kBarPerAtm = 1.01325;
    const Gas& g = kGases[gas];
    return ChapmanEnskog({g.molarMass, g.ljEpsilon, g.ljSigma}, kAir, at.T + 273.15,
                         at.P * kBarPerAtm);
}

const std::vector<ModelInfo>& Models() {
    return Table();
}

const ModelInfo& InfoOf(Model model) {
    for (const ModelInfo& m : Models())
        if (m.model == model) return m;
    return Models().front();
}

std::vector<std::string> ModelOptions() {
    std::vector<std::string> options;
    auto add = [&](std::string_view o) {
        if (!o.empty() && std::find(options.begin(), options.end(), o) == options.end())
            options.emplace_back(o);
    };
    for (const ModelInfo& m : Models()) {
        for (const ModelParam& p : m.params) add(p.option);
        add(m.exponent.option);
    }
    return options;
}

bool IsExponentOption(std::string_view option) {
    return std::any_of(Models().begin(), Models().end(),
                       [&](const ModelInfo& m) { return m.exponent.option == option; });
}

const ModelInfo* ModelOfKey(std::string_view key) {
    for (const ModelInfo& m : Models())
        if (std::equal(key.begin(), key.end(), m.key.begin(), m.key.end(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            }))
            return &m;
    return nullptr;
}

ScopedModel::ScopedModel(const ModelInfo& model) : model_(model.model) {
    Table().push_back(model);
}

ScopedModel::~ScopedModel() {
    auto& t = Table();
    t.erase(
        std::remove_if(t.begin(), t.end(), [&](const ModelInfo& m) { return m.model == model_; }),
        t.end());
}

} // namespace temra::study
