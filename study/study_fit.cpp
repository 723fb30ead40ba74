#include "study/study_fit.h"

#include "core/numtext.h"
#include "core/parallel.h"

#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace temra::study {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- The grid of a group of samples ---------------------------------------------

// Samples that share density, chloride and elevation share their grid.
using GroupKey = std::tuple<float, double, bool, double>;

GroupKey KeyOf(const Values& v) {
    return {v.density, v.chloride, v.elevation.has_value(), v.elevation.value_or(0)};
}

// The input page's boxes as the study's grid reads them: its conditions only (the
// measured boxes belong to the page's own sample and are not the study's).
Form1Texts GridOnly(const Form1Texts& grid) {
    Form1Texts f = grid;
    const Form1Texts defaults;
    for (int g = 1; g <= GasCount; ++g) f.Measured(g) = defaults.Measured(g);
    return f;
}

// A number as a box would hold it, in the separator the grid's boxes use.
std::string BoxText(std::string text, char separator) {
    for (char& c : text)
        if (c == '.') c = separator;
    return text;
}

// A calculation state with the program's separator and memory, for a group's grid.
Module1 GridRunner(const Module1& settings) {
    Module1 m;
    m.DecimalSeparator = settings.DecimalSeparator;
    m.MemoryBudget = settings.MemoryBudget;
    m.MemoryProbe = settings.MemoryProbe;
    return m;
}

// The grid of a group, planned: its cases are counted, none is computed.
GridPlan PlanGroup(const GroupKey& key, const StudyOptions& o, const Module1& settings,
                   RunControl& control) {
    const Module1 m = GridRunner(settings);
    Form1Texts f = GridOnly(o.grid);
    f.Text14 = BoxText(ExactText(std::get<0>(key)), settings.DecimalSeparator);
    f.Text15 = BoxText(ExactText(std::get<1>(key)), settings.DecimalSeparator);
    return std::get<2>(key) ? m.PlanSolubilityAt(f, std::get<3>(key), control)
                            : m.PlanSolubility(f, control);
}

// The grid run counts its own cases afresh: it runs as a part of the study's
// work, one unit per case.
void FillGroup(GridPlan& plan, const Module1& settings, RunControl& control) {
    RunControl part(control);
    GridRunner(settings).FillSolubility(plan, part);
}

// ---- The study's work ---------------------------------------------------------------
// Progress is counted in evaluations of one grid case: the grid run of a group
// counts one per case, and each sample's fit two passes over the cases (its
// search and its 1-sigma region), a pass of CE weighed by the misfits its search
// over B evaluates per case.

std::uint64_t PassWeight(Model model);

std::uint64_t SampleWork(std::uint64_t cases, Model model) {
    return 2 * cases * PassWeight(model);
}

// One pass of a sample's fit: `budget` units spread evenly over `steps` steps,
// counted a few thousand steps at a time (Step throws Cancelled when the run was
// cancelled). What is left of the budget is counted when the pass ends without a
// fault, so that a sample always counts its whole share.
class PassProgress {
  public:
    PassProgress(RunControl* control, std::uint64_t budget, std::uint64_t steps)
        : control_(control), budget_(budget), steps_(steps),
          exceptions_(std::uncaught_exceptions()) {}
    PassProgress(const PassProgress&) = delete;
    PassProgress& operator=(const PassProgress&) = delete;
    ~PassProgress() {
        if (control_ && std::uncaught_exceptions() == exceptions_ && budget_ > counted_)
            control_->Add(budget_ - counted_);
    }
    void Step() {
        if (++pending_ >= kBatch) Flush();
    }

  private:
    static constexpr std::uint64_t kBatch = 4096;
    void Flush() {
        done_ += pending_;
        pending_ = 0;
        if (!control_) return;
        const auto reached =
            std::min(budget_, static_cast<std::uint64_t>(
                                  static_cast<long double>(budget_) * done_ /
                                  static_cast<long double>(std::max<std::uint64_t>(steps_, 1))));
        const std::uint64_t units = reached - std::min(reached, counted_);
        counted_ += units;
        control_->Advance(units);
    }
    RunControl* control_;
    std::uint64_t budget_, steps_, done_ = 0, pending_ = 0, counted_ = 0;
    int exceptions_;
};

// ---- One sample over one grid ------------------------------------------------------

// The fitted gases of a sample: measured value, weight 1/sigma^2, fraction in air
// and calculated row, gas by gas.
struct Fitted {
    std::vector<int> gas;
    std::vector<double> m, s, z;
    std::vector<const double*> C;
    int n = 0;
};

Fitted FittedGases(const Values& v, const StudyOptions& o, const SolubilityGrid& grid) {
    Fitted f;
    for (int g = 1; g <= GasCount; ++g) {
        const auto i = static_cast<std::size_t>(g - 1);
        if (!o.gases[i]) continue;
        f.gas.push_back(g);
        f.m.push_back(v.measured[i]);
        f.s.push_back(1 / (v.sigma[i] * v.sigma[i]));
        f.z.push_back(kGasTable[i].AtmFraction);
        f.C.push_back(grid.Row(g).data());
    }
    f.n = static_cast<int>(f.gas.size());
    return f;
}

// The extent of the 1-sigma region.
struct Region {
    float elevLo = std::numeric_limits<float>::infinity(), elevHi = -elevLo;
    double tempLo = kInf, tempHi = -kInf;
    double ALo = kInf, AHi = -kInf, FLo = kInf, FHi = -kInf;
    void AddCase(const SolubilityGrid& g, std::size_t k) {
        elevLo = std::min(elevLo, g.Elev[k]);
        elevHi = std::max(elevHi, g.Elev[k]);
        tempLo = std::min(tempLo, g.Temp[k]);
        tempHi = std::max(tempHi, g.Temp[k]);
    }
    void AddA(double lo, double hi) {
        ALo = std::min(ALo, lo);
        AHi = std::max(AHi, hi);
    }
    void AddF(double lo, double hi) {
        FLo = std::min(FLo, lo);
        FHi = std::max(FHi, hi);
    }
};

struct Best {
    double chi2 = kInf;
    std::size_t k = 0;
    double A = 0, A0 = 0, F = 0; // A0: UA's unconstrained A
    bool found = false;
};

// UA: per case the best A >= 0 in closed form,
//   A = max(0, sum s d z / sum s z^2),  d = measured - Ceq,
// and chi2 = sum s d^2 - 2 A sum s d z + A^2 sum s z^2 (one pass over the gases;
// the best case's chi2 is then summed term by term).
double UaChi2(const Fitted& f, std::size_t k, double A) {
    double chi2 = 0;
    for (int j = 0; j < f.n; ++j) {
        const double r = f.m[j] - f.C[j][k] - A * f.z[j];
        chi2 += f.s[j] * r * r;
    }
    return chi2;
}

// UA's weighted sums: Sz2 = sum s z^2 for the sample, and for case k
// Sdz = sum s d z and Sd2 = sum s d^2, so that chi2(A) = Sd2 - A (2 Sdz - A Sz2).
double UaSz2(const Fitted& f) {
    double Sz2 = 0;
    for (int j = 0; j < f.n; ++j) Sz2 += f.s[j] * f.z[j] * f.z[j];
    return Sz2;
}

struct UaSums {
    double Sdz = 0, Sd2 = 0;
};

UaSums UaSumsAt(const Fitted& f, std::size_t k) {
    UaSums sums;
    for (int j = 0; j < f.n; ++j) {
        const double d = f.m[j] - f.C[j][k];
        sums.Sdz += f.s[j] * d * f.z[j];
        sums.Sd2 += f.s[j] * d * d;
    }
    return sums;
}

Best FitUaCases(const Fitted& f, std::size_t N, std::vector<double>* perCase, PassProgress& pass) {
    const double Sz2 = UaSz2(f);
    Best best;
    for (std::size_t k = 0; k < N; ++k) {
        pass.Step();
        const auto [Sdz, Sd2] = UaSumsAt(f, k);
        const double A0 = Sdz / Sz2, A = std::max(0.0, A0);
        const double chi2 = Sd2 - A * (2 * Sdz - A * Sz2);
        if (perCase) (*perCase)[k] = chi2;
        if (chi2 < best.chi2) best = {chi2, k, A, A0, 0, true};
    }
    if (best.found) best.chi2 = UaChi2(f, best.k, best.A);
    return best;
}

// UA: the cases whose best chi2 is within `target`, and the A where it is (the
// roots of the quadratic chi2(A), cut at 0).
Region UaRegion(const Fitted& f, const SolubilityGrid& g, double target, PassProgress& pass) {
    const double Sz2 = UaSz2(f);
    Region region;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    for (std::size_t k = 0; k < N; ++k) {
        pass.Step();
        const auto [Sdz, Sd2] = UaSumsAt(f, k);
        const double A = std::max(0.0, Sdz / Sz2);
        if (!(Sd2 - A * (2 * Sdz - A * Sz2) <= target)) continue;
        region.AddCase(g, k);
        const double root = std::sqrt(std::max(0.0, Sdz * Sdz - Sz2 * (Sd2 - target)));
        region.AddA(std::max(0.0, (Sdz - root) / Sz2), std::max(A, (Sdz + root) / Sz2));
    }
    return region;
}

// CE in (B, t): B = F A, t = (1 - F) A, so that B >= 0, t >= 0, B + t <= Amax and
//   model_i = Ceq_i + t w_i,  w_i = z_i / (1 + B z_i / Ceq_i).
// For a fixed B the best t has a closed form: t = sum s d w / sum s w^2, cut to
// [0, Amax - B].
struct CeCase {
    const Fitted& f;
    std::size_t k;
    double Amax;

    // chi2 at (B, t) and its parts: c - 2 p t + q t^2.
    void Parts(double B, double& c, double& p, double& q) const {
        c = p = q = 0;
        for (int j = 0; j < f.n; ++j) {
            const double C = f.C[j][k], d = f.m[j] - C;
            const double w = f.z[j] / (1 + B * f.z[j] / C);
            c += f.s[j] * d * d;
            p += f.s[j] * d * w;
            q += f.s[j] * w * w;
        }
    }
    double Chi2(double B, double t) const {
        double chi2 = 0;
        for (int j = 0; j < f.n; ++j) {
            const double C = f.C[j][k];
            const double r = f.m[j] - C - t * f.z[j] / (1 + B * f.z[j] / C);
            chi2 += f.s[j] * r * r;
        }
        return chi2;
    }
    // The least chi2 at B, and its t.
    double AtB(double B, double& t) const {
        double c, p, q;
        Parts(B, c, p, q);
        t = std::clamp(p / q, 0.0, std::max(0.0, Amax - B));
        return Chi2(B, t);
    }
};

constexpr int kScan = 33;   // B values scanned for a case's minimum
constexpr int kRefine = 32; // golden-section steps around the best of them
constexpr int kRegionScan = 257;
constexpr double kGolden = 0.6180339887498949;

std::uint64_t PassWeight(Model model) {
    return model == Model::CE ? kScan + kRefine + 1 : 1;
}

// Minimises f over [lo, hi] by golden sections; returns the abscissa.
template <typename Fn> double GoldenMin(Fn&& f, double lo, double hi, int steps) {
    double a = lo, b = hi;
    double x1 = b - kGolden * (b - a), x2 = a + kGolden * (b - a);
    double f1 = f(x1), f2 = f(x2);
    for (int i = 0; i < steps; ++i) {
        if (f1 <= f2) {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b - kGolden * (b - a);
            f1 = f(x1);
        } else {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + kGolden * (b - a);
            f2 = f(x2);
        }
    }
    return f1 <= f2 ? x1 : x2;
}

struct CeBest {
    double chi2 = kInf, B = 0, t = 0;
};

// CE: the global minimum of one case over B in [0, Amax]: a scan, then golden
// sections between the scanned neighbours of the best; the ends are tried as they
// are (F = 0 at B = 0).
CeBest CeMinimum(const CeCase& cc) {
    CeBest best;
    int bestJ = 0;
    for (int j = 0; j < kScan; ++j) {
        const double B = cc.Amax * j / (kScan - 1);
        double t;
        const double chi2 = cc.AtB(B, t);
        if (chi2 < best.chi2) {
            best = {chi2, B, t};
            bestJ = j;
        }
    }
    const double lo = cc.Amax * std::max(0, bestJ - 1) / (kScan - 1);
    const double hi = cc.Amax * std::min(kScan - 1, bestJ + 1) / (kScan - 1);
    const double B = GoldenMin(
        [&](double b) {
            double t;
            return cc.AtB(b, t);
        },
        lo, hi, kRefine);
    double t;
    const double chi2 = cc.AtB(B, t);
    if (chi2 < best.chi2) best = {chi2, B, t};
    return best;
}

// CE: the A and F of a case's part of the 1-sigma region. At each B the t where
// chi2 <= target form an interval (the roots of the quadratic in t, cut to
// [0, Amax - B]); A = B + t and F = B / (B + t) follow. The extremes are found on
// a scan of B and sharpened by golden sections between its neighbours.
void CeRegion(const CeCase& cc, double target, const CeBest& optimum, Region& region) {
    struct Span {
        bool ok = false;
        double t1 = 0, t2 = 0;
    };
    auto spanAt = [&](double B) {
        double c, p, q;
        cc.Parts(B, c, p, q);
        const double disc = p * p - q * (c - target);
        Span s;
        if (disc < 0) return s;
        const double root = std::sqrt(disc);
        s.t1 = std::max(0.0, (p - root) / q);
        s.t2 = std::min(std::max(0.0, cc.Amax - B), (p + root) / q);
        s.ok = s.t1 <= s.t2;
        return s;
    };
    auto F = [](double B, double t) { return B + t > 0 ? B / (B + t) : 0.0; };
    // The four quantities, each to be made least: A low, -A high, F low, -F high.
    auto quantity = [&](int which, double B) {
        const Span s = spanAt(B);
        if (!s.ok) return kInf;
        switch (which) {
        case 0:
            return B + s.t1;
        case 1:
            return -(B + s.t2);
        case 2:
            return F(B, s.t2);
        default:
            return -F(B, s.t1);
        }
    };
    std::array<double, 4> bestValue{kInf, kInf, kInf, kInf};
    std::array<int, 4> bestJ{-1, -1, -1, -1};
    for (int j = 0; j < kRegionScan; ++j) {
        const double B = cc.Amax * j / (kRegionScan - 1);
        for (int which = 0; which < 4; ++which) {
            const double v = quantity(which, B);
            if (v < bestValue[which]) {
                bestValue[which] = v;
                bestJ[which] = j;
            }
        }
    }
    // The case's own optimum lies in the region.
    const double At = optimum.B + optimum.t, Ft = F(optimum.B, optimum.t);
    region.AddA(At, At);
    region.AddF(Ft, Ft);
    for (int which = 0; which < 4; ++which) {
        if (bestJ[which] < 0) continue;
        const int j = bestJ[which];
        const double lo = cc.Amax * std::max(0, j - 1) / (kRegionScan - 1);
        const double hi = cc.Amax * std::min(kRegionScan - 1, j + 1) / (kRegionScan - 1);
        const double B = GoldenMin([&](double b) { return quantity(which, b); }, lo, hi, kRefine);
        const double v = std::min(bestValue[which], quantity(which, B));
        if (which == 0) region.AddA(v, v);
        if (which == 1) region.AddA(-v, -v);
        if (which == 2) region.AddF(v, v);
        if (which == 3) region.AddF(-v, -v);
    }
}

// ---- Putting a result together -------------------------------------------------

void AddFlags(StudyResult& r, const GridPlan& plan, const Best& best, const StudyOptions& o) {
    const auto& els = plan.elevations;
    const auto k = static_cast<std::uint64_t>(best.k);
    const auto el =
        std::upper_bound(els.begin(), els.end(), k,
                         [](std::uint64_t v, const GridElevation& e) { return v < e.first; }) -
        1;
    if (k == el->first || k == el->first + el->count - 1) r.flags.emplace_back("edge-T");
    if (els.size() > 1 && (el == els.begin() || el == els.end() - 1))
        r.flags.emplace_back("edge-E");
    if (o.model == Model::UA) {
        if (best.A0 < 0) r.flags.emplace_back("A=0");
    } else {
        if (best.A >= o.ceAMax * (1 - 1e-9)) r.flags.emplace_back("A=max");
        if (best.F <= 1e-9) r.flags.emplace_back("F=0");
        if (best.F >= 1 - 1e-9) r.flags.emplace_back("F=1");
    }
    if (r.p && *r.p < 0.01) r.flags.emplace_back("poor-fit");
}

// The degrees of freedom: gases less the parameters the grid and the model leave
// free.
int FreeParameters(const GridPlan& plan, const StudyOptions& o) {
    const SolubilityGrid& g = *plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    bool manyTemps = false;
    for (std::size_t k = 1; k < N && !manyTemps; ++k) manyTemps = g.Temp[k] != g.Temp[0];
    return (plan.elevations.size() > 1 ? 1 : 0) + (manyTemps ? 1 : 0) +
           (o.model == Model::UA ? 1 : 2);
}

// `perCase`, when given, receives every case's chi2 at its best A (and F). The
// fit counts SampleWork(cases) units into `control`.
StudyResult FitSample(const Sample& s, const Values& v, const GridPlan& plan, const StudyOptions& o,
                      RunControl* control, std::vector<double>* perCase = nullptr) {
    const SolubilityGrid& g = *plan.grid;
    const auto N = static_cast<std::size_t>(g.CaseCount);
    const std::uint64_t passWork = SampleWork(N, o.model) / 2;
    PassProgress search(control, passWork, N);
    StudyResult r;
    r.sample = s.name;
    if (N == 0) {
        r.error = "row " + std::to_string(s.row) + ": the grid has no case: " + EmptyGridReason(g);
        return r;
    }
    const Fitted f = FittedGases(v, o, g);
    r.n = f.n;
    Best best;
    Region region;
    if (o.model == Model::UA) {
        if (perCase) perCase->assign(N, 0.0);
        best = FitUaCases(f, N, perCase, search);
        PassProgress regionPass(control, passWork, N);
        if (best.found) region = UaRegion(f, g, best.chi2 + 1, regionPass);
    } else {
        std::vector<double> local;
        std::vector<double>& caseChi2 = perCase ? *perCase : local;
        caseChi2.assign(N, 0.0);
        for (std::size_t k = 0; k < N; ++k) {
            search.Step();
            const CeBest optimum = CeMinimum(CeCase{f, k, o.ceAMax});
            caseChi2[k] = optimum.chi2;
            if (caseChi2[k] < best.chi2) {
                const double A = optimum.B + optimum.t;
                best = {caseChi2[k], k, A, A, A > 0 ? optimum.B / A : 0.0, true};
            }
        }
        // The region's work lies in its own cases: the pass's share is spread
        // over them.
        const double target = best.chi2 + 1;
        const auto inRegion = static_cast<std::uint64_t>(std::count_if(
            caseChi2.begin(), caseChi2.end(), [&](double c) { return best.found && c <= target; }));
        PassProgress regionPass(control, passWork, inRegion);
        if (best.found) {
            for (std::size_t k = 0; k < N; ++k) {
                if (!(caseChi2[k] <= target)) continue;
                regionPass.Step();
                region.AddCase(g, k);
                const CeCase cc{f, k, o.ceAMax};
                CeRegion(cc, target, CeMinimum(cc), region);
            }
        }
    }
    if (perCase && best.found) (*perCase)[best.k] = best.chi2; // as reported, term by term
    if (!best.found || !std::isfinite(best.chi2)) {
        r.error = "row " + std::to_string(s.row) +
                  ": the misfit leaves the number range (check the errors)";
        return r;
    }
    r.chi2 = best.chi2;
    r.dof = f.n - FreeParameters(plan, o);
    if (r.dof > 0)
        r.p = boost::math::cdf(
            boost::math::complement(boost::math::chi_squared(r.dof), std::max(0.0, r.chi2)));
    r.caseNo = static_cast<CaseNumber>(best.k + 1);
    r.elevation = g.Elev[best.k];
    r.temperature = g.Temp[best.k];
    r.elevationLo = region.elevLo;
    r.elevationHi = region.elevHi;
    r.temperatureLo = region.tempLo;
    r.temperatureHi = region.tempHi;
    r.A = best.A;
    r.ALo = region.ALo;
    r.AHi = region.AHi;
    if (o.model == Model::CE) {
        r.F = best.F;
        r.FLo = region.FLo;
        r.FHi = region.FHi;
    }
    AddFlags(r, plan, best, o);
    return r;
}

} // namespace

MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options, const Module1& settings,
                      RunControl& control) {
    MisfitMap map;
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    map.plan = PlanGroup(KeyOf(v), options, settings, control);
    const auto cases = static_cast<std::uint64_t>(map.plan.Cases());
    control.Begin(cases + SampleWork(cases, options.model));
    FillGroup(map.plan, settings, control);
    map.result = FitSample(sample, v, map.plan, options, &control, &map.chi2);
    return map;
}

std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const Module1& settings, RunControl& control) {
    if (std::none_of(options.gases.begin(), options.gases.end(), [](bool b) { return b; }))
        throw StudyError("no gas is fitted; choose at least one", StudySetting::Gases);
    if (!(options.relErr > 0) || !std::isfinite(options.relErr))
        throw StudyError("the relative error (" + ApproxText(options.relErr) +
                             ") must be greater than 0",
                         StudySetting::RelErr);
    // Only the closed-system model has a largest A.
    if (options.model == Model::CE && (!(options.ceAMax > 0) || !std::isfinite(options.ceAMax)))
        throw StudyError("the largest excess air A (" + ApproxText(options.ceAMax) +
                             " cm³ STP/g H2O) must be greater than 0",
                         StudySetting::CeAMax);
    // The grid's own boxes are checked once, before any sample: a fault there is
    // the command's.
    GridRunner(settings).PlanSolubility(GridOnly(options.grid), control);

    std::vector<StudyResult> results(samples.size());
    std::map<GroupKey, std::vector<std::size_t>> groups;
    std::vector<Values> values(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        results[i].sample = samples[i].name;
        try {
            values[i] = ReadValues(samples[i], options, settings.DecimalSeparator);
            groups[KeyOf(values[i])].push_back(i);
        } catch (const StudyError& e) {
            results[i].error = e.what();
        }
    }
    // The sample's own density, chloride or elevation cannot make a grid: an
    // error row for each sample of the group.
    auto refuseGroup = [&](const GroupKey& key, const std::vector<std::size_t>& members,
                           const TemraError& e) {
        const Sample& first = samples[members.front()];
        const std::string what = std::get<2>(key) ? "elevation " + first.elevation
                                                  : "density " + ExactText(std::get<0>(key)) +
                                                        ", chloride " + ExactText(std::get<1>(key));
        for (std::size_t i : members)
            results[i].error = "row " + std::to_string(samples[i].row) + " (" + what +
                               "): " + e.description() + ": " + e.detail();
    };
    // Every group's grid is planned first: the cases of all of them are the
    // measure of the study's work, which the progress counts across the groups.
    struct Group {
        const std::vector<std::size_t>* members;
        GridPlan plan;
        std::uint64_t work = 0;
    };
    std::vector<Group> planned;
    std::uint64_t total = 0;
    for (const auto& [key, members] : groups) {
        try {
            Group g{&members, PlanGroup(key, options, settings, control)};
            const auto cases = static_cast<std::uint64_t>(g.plan.Cases());
            g.work = cases + members.size() * SampleWork(cases, options.model);
            total += g.work;
            planned.push_back(std::move(g));
        } catch (const TemraError& e) {
            refuseGroup(key, members, e);
        }
    }
    control.Begin(total);
    for (Group& group : planned) {
        const std::vector<std::size_t>& members = *group.members;
        try {
            FillGroup(group.plan, settings, control);
        } catch (const TemraError& e) {
            refuseGroup(KeyOf(values[members.front()]), members, e);
            const auto cases = static_cast<std::uint64_t>(group.plan.Cases());
            control.Advance(group.work - cases); // its samples' share
            continue;
        }
        const unsigned parts = PartCount(static_cast<std::int64_t>(members.size()), 1);
        RunParts(parts, [&](unsigned part) {
            for (std::size_t m = members.size() * part / parts,
                             end = members.size() * (part + 1) / parts;
                 m < end; ++m) {
                const std::size_t i = members[m];
                results[i] = FitSample(samples[i], values[i], group.plan, options, &control);
            }
        });
        group.plan = GridPlan{}; // one group's grid in memory at a time
    }
    return results;
}

} // namespace temra::study
