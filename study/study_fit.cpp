#include "study/study_fit.h"

#include "core/counting_loop.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_model.h"
#include "study/continuum.h"
#include "study/models.h"

#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace temra::study {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- The grid of the study -----------------------------------------------------------

// The input page's boxes as the study's grid reads them: its conditions only (the
// measured boxes belong to the page's own sample and are not the study's).
Form1Texts GridOnly(const Form1Texts& grid) {
    Form1Texts f = grid;
    const Form1Texts defaults;
    for (int g = 1; g <= GasCount; ++g) f.Measured(g) = defaults.Measured(g);
    return f;
}

// The program's separator and memory for the study's grids, which keep no graph
// of their cases.
RunSettings GridSettings(const RunSettings& settings) {
    RunSettings run = settings;
    run.ExtraBytesPerCase = 0;
    run.ExtraCasesLimit = std::numeric_limits<std::uint64_t>::max();
    return run;
}

// The elevations of a grid with their air pressures: the grid's own (counted,
// no case computed), or one elevation's when a sample's elevation is known.
struct Layout {
    GridPlan plan;
    std::vector<double> P; // per elevation
};

Layout MakeLayout(GridPlan plan) {
    Layout l;
    l.P.reserve(plan.elevations.size());
    for (const GridElevation& e : plan.elevations)
        l.P.push_back(AirPressureAt(e.H, fields::Ref(FieldId::ElevMax)));
    l.plan = std::move(plan);
    return l;
}

using Window = std::pair<double, double>; // a temperature window's first and last

Window WindowOf(const GridElevation& e) {
    return {e.window.TempMin, e.window.TempMax};
}

// The temperatures of one window with the factors of the fitted gases, made once
// for the samples of one density and chloride, in the grid run's loop.
using TempTable = FactorTable;

// A sample's grid: the layout and the table of each of its elevations, and,
// for a grid several samples share, every case's equilibrium concentrations.
struct SampleGrid {
    const Layout* layout = nullptr;
    std::vector<const TempTable*> tables;
    std::array<std::vector<double>, GasCount> cases; // by gas; empty when not made
};

// Every case's equilibrium concentration of the study's gases (the same
// arithmetic as the search's own).
void FillCases(SampleGrid& g, const std::array<bool, GasCount>& gases) {
    const GridPlan& plan = g.layout->plan;
    const auto N = static_cast<std::size_t>(plan.Cases());
    for (std::size_t gas = 0; gas < GasCount; ++gas) {
        if (!gases[gas]) continue;
        std::vector<double>& C = g.cases[gas];
        C.resize(N);
        for (std::size_t e = 0; e < plan.elevations.size(); ++e) {
            const TempTable& tab = *g.tables[e];
            const double P = g.layout->P[e];
            double* out = C.data() + plan.elevations[e].first;
            for (std::size_t t = 0; t < tab.T.size(); ++t)
                out[t] = EquilConcOf(tab.SX[gas][t], P, tab.VP[t]);
        }
    }
}

// ---- The study's work ---------------------------------------------------------------
// Progress is counted in evaluations of one grid case: each temperature of a
// table counts one, and each sample's fit two passes over its cases (its search
// and its refinement), a pass of CE weighed by the misfits its search over B
// evaluates per case.

constexpr int kGridBits = 14; // a searched parameter in the grid's search: the refinement
                              // sharpens the best

std::uint64_t SampleWork(std::uint64_t cases, Model model) {
    return 2 * cases * InfoOf(model).searchWeight;
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
    void Steps(std::uint64_t n) {
        pending_ += n;
        if (pending_ >= kBatch) Flush();
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

// ---- One sample over its grid ------------------------------------------------------

Fitted FittedGases(const Values& v, const StudyOptions& o) {
    Fitted f;
    for (std::size_t i = 0; i < GasCount; ++i) {
        if (!o.gases[i] || !v.present[i]) continue;
        const auto j = static_cast<std::size_t>(f.n++);
        f.gas[j] = i;
        f.m[j] = v.measured[i];
        f.w[j] = 1 / (v.sigma[i] * v.sigma[i]);
        f.z[j] = kGasTable[i].AtmFraction;
        f.mask[i] = true;
    }
    return f;
}

// Every case's misfit at its best excess air.
struct CasePass {
    std::vector<double> chi2, A, second; // second: empty for a model without one
    std::size_t best = 0;
    bool found = false;
};

// UA over the n cases from k0: each case's weighted sums gas by gas, a block of
// cases at a time, with conc(j, k) the equilibrium concentration of fitted gas j
// in case k0 + k; then each case's A >= 0 and chi2 in closed form:
//   A = max(0, Sdz / Sz2), chi2 = Sd2 - A (2 Sdz - A Sz2).
template <typename Conc>
void UaCases(const Fitted& f, std::size_t k0, std::size_t n, Conc&& conc, CasePass& c,
             PassProgress& pass) {
    double Sz2 = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j) Sz2 += f.w[j] * f.z[j] * f.z[j];
    constexpr std::size_t kBlock = 4096;
    std::array<double, kBlock> Sdz{}, Sd2{};
    for (std::size_t b0 = 0; b0 < n; b0 += kBlock) {
        const std::size_t count = std::min(kBlock, n - b0);
        for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j) {
            const double m = f.m[j], w = f.w[j], wz = f.w[j] * f.z[j];
            if (j == 0) {
                for (std::size_t k = 0; k < count; ++k) {
                    const double d = m - conc(j, b0 + k);
                    Sdz[k] = wz * d;
                    Sd2[k] = w * d * d;
                }
            } else {
                for (std::size_t k = 0; k < count; ++k) {
                    const double d = m - conc(j, b0 + k);
                    Sdz[k] += wz * d;
                    Sd2[k] += w * d * d;
                }
            }
        }
        for (std::size_t k = 0; k < count; ++k) {
            const double A = std::max(0.0, Sdz[k] / Sz2);
            c.chi2[k0 + b0 + k] = Sd2[k] - A * (2 * Sdz[k] - A * Sz2);
            c.A[k0 + b0 + k] = A;
        }
        pass.Steps(count);
    }
}

// A model searched case by case, at every case of one elevation: the best excess
// air of each.
void ModelCases(const Fitted& f, const SampleGrid& grid, std::size_t e, const StudyOptions& o,
                CasePass& c, PassProgress& pass) {
    const TempTable& tab = *grid.tables[e];
    const double P = grid.layout->P[e];
    const auto k0 = static_cast<std::size_t>(grid.layout->plan.elevations[e].first);
    std::array<double, GasCount> C{};
    for (std::size_t t = 0; t < tab.T.size(); ++t) {
        pass.Step();
        for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j)
            C[j] = EquilConcOf(tab.SX[f.gas[j]][t], P, tab.VP[t]);
        const Excess x = BestExcess(f, C.data(), o, kGridBits);
        c.chi2[k0 + t] = x.chi2;
        c.A[k0 + t] = x.A;
        if (!c.second.empty()) c.second[k0 + t] = x.second;
    }
}

// Every case's misfit at its best excess air, and the best case (the lowest
// case number on a tie; a misfit out of the number range is never the best). A
// model in closed form sums the cases' terms in blocks, from the concentrations
// the grid's samples share where they were made.
CasePass SearchCases(const Fitted& f, const SampleGrid& grid, const StudyOptions& o,
                     PassProgress& pass) {
    const GridPlan& plan = grid.layout->plan;
    const auto N = static_cast<std::size_t>(plan.Cases());
    CasePass c;
    c.chi2.resize(N);
    c.A.resize(N);
    const ModelInfo& model = InfoOf(o.model);
    c.second.assign(model.HasSecond() ? N : 0, 0.0);
    if (model.closedForm && !grid.cases[f.gas[0]].empty()) {
        // The cases' concentrations shared with the other samples of the grid.
        UaCases(
            f, 0, N, [&](std::size_t j, std::size_t k) { return grid.cases[f.gas[j]][k]; }, c,
            pass);
    } else {
        for (std::size_t e = 0; e < plan.elevations.size(); ++e) {
            if (!model.closedForm) {
                ModelCases(f, grid, e, o, c, pass);
                continue;
            }
            const TempTable& tab = *grid.tables[e];
            const double P = grid.layout->P[e];
            UaCases(
                f, static_cast<std::size_t>(plan.elevations[e].first), tab.T.size(),
                [&](std::size_t j, std::size_t t) {
                    return EquilConcOf(tab.SX[f.gas[j]][t], P, tab.VP[t]);
                },
                c, pass);
        }
    }
    double least = kInf;
    for (std::size_t k = 0; k < N; ++k)
        if (c.chi2[k] < least) {
            least = c.chi2[k];
            c.best = k;
        }
    c.found = std::isfinite(least);
    return c;
}

// The grid case's point.
Point CasePoint(const SampleGrid& grid, const CasePass& c, std::size_t k) {
    const auto& els = grid.layout->plan.elevations;
    const auto el =
        std::upper_bound(els.begin(), els.end(), static_cast<std::uint64_t>(k),
                         [](std::uint64_t v, const GridElevation& e) { return v < e.first; }) -
        1;
    const auto e = static_cast<std::size_t>(el - els.begin());
    return {grid.tables[e]->T[k - el->first], el->H, c.chi2[k], c.A[k],
            c.second.empty() ? 0.0 : c.second[k]};
}

// The case nearest a point: the nearest elevation, then its nearest temperature.
std::size_t NearestCase(const SampleGrid& grid, const Point& p) {
    const auto& els = grid.layout->plan.elevations;
    std::size_t e = 0;
    for (std::size_t i = 1; i < els.size(); ++i)
        if (std::fabs(els[i].H - p.E) < std::fabs(els[e].H - p.E)) e = i;
    const std::vector<double>& T = grid.tables[e]->T;
    std::size_t t = 0;
    for (std::size_t i = 1; i < T.size(); ++i)
        if (std::fabs(T[i] - p.T) < std::fabs(T[t] - p.T)) t = i;
    return static_cast<std::size_t>(els[e].first) + t;
}

Domain DomainOf(const SampleGrid& grid) {
    const GridPlan& plan = grid.layout->plan;
    const SolubilityGrid& g = *plan.grid;
    Domain d;
    d.eFree = plan.elevations.size() > 1;
    d.e0 = plan.elevations.front().H;
    const std::vector<double>& T0 = grid.tables.front()->T;
    d.t0 = T0.front();
    for (const TempTable* t : grid.tables)
        for (double T : t->T) d.tFree = d.tFree || T != d.t0;
    d.tMax = g.TempMax;
    d.eMax = g.ElevMax;
    d.tStep = std::fabs(g.TempStep);
    d.eStep = std::fabs(g.ElevStep);
    d.maat = g.MaatInUse;
    d.slope = static_cast<double>(g.MaatSlope);
    d.intercept = static_cast<double>(g.MaatIntercept);
    return d;
}

// Why a sample's misfit cannot be computed: the first gas whose term leaves the
// number range.
std::string OverflowingGas(const Fitted& f, const SampleGrid& grid) {
    const TempTable& tab = *grid.tables.front();
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double C =
            EquilConcOf(tab.SX[f.gas[i]].front(), grid.layout->P.front(), tab.VP.front());
        const double r = f.m[i] - C;
        if (!std::isfinite(f.w[i] * r * r))
            return GasName(static_cast<int>(f.gas[i]) + 1) +
                   ": its misfit leaves the number range (check its value and error)";
    }
    return "the misfit leaves the number range (check the values and errors)";
}

// The ends of the grid (or of the MAAT window) the best lies at, as ends and
// the flags edge-T, edge-E.
void EdgeFlags(StudyResult& r, const Domain& d, const Point& best) {
    const double tolT = 1e-9 * std::max(1.0, d.tMax), tolE = 1e-9 * std::max(1.0, d.eMax);
    if (d.tFree) {
        const Interval w = d.TAt(best.E);
        const bool low = best.T <= w.lo + tolT, high = best.T >= w.hi - tolT;
        r.ends.tempLow = low && best.T <= tolT;
        r.ends.tempHigh = high && best.T >= d.tMax - tolT;
        r.ends.maat = (low || high) && !r.ends.tempLow && !r.ends.tempHigh;
        if (low || high) r.flags.emplace_back("edge-T");
    }
    if (d.eFree) {
        const Interval w = d.E(best.T);
        const bool low = best.E <= w.lo + tolE, high = best.E >= w.hi - tolE;
        r.ends.elevLow = low && best.E <= tolE;
        r.ends.elevHigh = high && best.E >= d.eMax - tolE;
        r.ends.maat = r.ends.maat || ((low || high) && !r.ends.elevLow && !r.ends.elevHigh);
        if (low || high) r.flags.emplace_back("edge-E");
    }
}

// The flags of a best at a bound of the model's parameters, as the model's table
// names them. A bound is reached within 1e-9 of the parameter's span (exactly,
// for a parameter without an upper bound).
void BoundFlags(StudyResult& r, const Point& best, const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    for (int k = 0; k < model.paramCount; ++k) {
        const ModelParam& p = model.params[static_cast<std::size_t>(k)];
        const double v = k == 0 ? best.A : best.second, hi = p.hi(o);
        const double tol = std::isfinite(hi) ? 1e-9 * (hi - p.lo) : 0.0;
        if (!p.lowFlag.empty() && v <= p.lo + tol) r.flags.emplace_back(p.lowFlag);
        if (!p.highFlag.empty() && v >= hi - tol) r.flags.emplace_back(p.highFlag);
    }
}

// The flags of a result, in their order: the grid's ends, ranges the grid cuts,
// the excess air at its bounds, a poor fit, no degree of freedom, gases left out.
void AddFlags(StudyResult& r, const Domain& d, const Point& best, const Ranges& ranges,
              const Fitted& f, const StudyOptions& o) {
    EdgeFlags(r, d, best);
    if (ranges.cutT) r.flags.emplace_back("range-cut-T");
    if (ranges.cutE) r.flags.emplace_back("range-cut-E");
    BoundFlags(r, best, o);
    if (r.p && *r.p < 0.01) r.flags.emplace_back("poor-fit");
    if (r.dof <= 0) r.flags.emplace_back("underdetermined");
    for (std::size_t i = 0; i < GasCount; ++i)
        if (o.gases[i] && !f.mask[i])
            r.flags.push_back("missing:" + GasName(static_cast<int>(i) + 1));
}

bool AllFinite(const StudyResult& r) {
    const double values[] = {r.chi2,
                             r.elevation,
                             r.elevationLo,
                             r.elevationHi,
                             r.temperature,
                             r.temperatureLo,
                             r.temperatureHi,
                             r.A,
                             r.ALo,
                             r.AHi,
                             r.second ? r.second->value : 0,
                             r.second ? r.second->lo : 0,
                             r.second ? r.second->hi : 0,
                             r.p.value_or(0)};
    return std::all_of(std::begin(values), std::end(values),
                       [](double v) { return std::isfinite(v); });
}

// The grid cases of the chi2 <= target region that reach furthest.
RegionSeeds SeedsOf(const SampleGrid& grid, const CasePass& cases, double target) {
    RegionSeeds seeds;
    const auto& els = grid.layout->plan.elevations;
    for (std::size_t e = 0; e < els.size(); ++e) {
        const std::vector<double>& T = grid.tables[e]->T;
        for (std::size_t t = 0, k = els[e].first; t < T.size(); ++t, ++k)
            if (cases.chi2[k] <= target)
                seeds.Add({T[t], els[e].H, cases.chi2[k], cases.A[k],
                           cases.second.empty() ? 0.0 : cases.second[k]});
    }
    return seeds;
}

// A result from the continuous best and its ranges: chi2, the degrees of freedom
// and p, the values with their ranges, the flags.
void FillResult(StudyResult& r, const Point& best, const Ranges& ranges, const Domain& d,
                const Fitted& f, const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    r.chi2 = best.chi2;
    // Free: the elevation and temperature where the grid has more than one, and
    // the model's parameters.
    r.freeParameters = (d.eFree ? 1 : 0) + (d.tFree ? 1 : 0) + model.paramCount;
    r.dof = f.n - r.freeParameters;
    if (r.dof > 0)
        r.p = boost::math::cdf(
            boost::math::complement(boost::math::chi_squared(r.dof), std::max(0.0, r.chi2)));
    r.temperature = best.T;
    r.temperatureLo = ranges.T.lo;
    r.temperatureHi = ranges.T.hi;
    r.elevation = best.E;
    r.elevationLo = ranges.E.lo;
    r.elevationHi = ranges.E.hi;
    r.A = best.A;
    r.ALo = ranges.A.lo;
    r.AHi = ranges.A.hi;
    if (model.HasSecond()) r.second = Estimate{best.second, ranges.second.lo, ranges.second.hi};
    AddFlags(r, d, best, ranges, f, o);
}

// `perCase`, when given, receives every case's chi2 at its best A (and F). The
// fit counts SampleWork(cases) units into `control`.
StudyResult FitSample(const Sample& s, const Values& v, const SampleGrid& grid,
                      const StudyOptions& o, RunControl* control,
                      std::vector<double>* perCase = nullptr) {
    const auto N = static_cast<std::size_t>(grid.layout->plan.Cases());
    const std::uint64_t passWork = SampleWork(N, o.model) / 2;
    PassProgress search(control, passWork, N);
    StudyResult r;
    r.sample = s.name;
    const std::string row = "row " + std::to_string(s.row);
    if (N == 0) {
        r.error = row + ": the grid has no case: " + EmptyGridReason(*grid.layout->plan.grid);
        return r;
    }
    const Fitted f = FittedGases(v, o);
    r.n = f.n;
    if (f.n == 0) {
        r.error = row + ": none of the fitted gases (" + GasList(o.gases) + ") has a value";
        return r;
    }
    CasePass cases = SearchCases(f, grid, o, search);
    PassProgress refine(control, passWork, 1);
    if (perCase) *perCase = cases.chi2;
    if (!cases.found) {
        r.error = row + ": " + OverflowingGas(f, grid);
        return r;
    }
    const Domain d = DomainOf(grid);
    const Continuum model(f, v.density, v.chloride, d, o);
    // The best case's misfit summed term by term (the search's sums may lose the
    // last digits of a small misfit).
    const Point gridCase = CasePoint(grid, cases, cases.best);
    const Point gridBest = model.At(gridCase.T, gridCase.E);
    const Point best = model.Best(gridBest);
    const Ranges ranges = model.RangesOf(best, SeedsOf(grid, cases, best.chi2 + 1));
    FillResult(r, best, ranges, d, f, o);
    r.caseNo = static_cast<CaseNumber>(NearestCase(grid, best) + 1);
    if (!AllFinite(r)) {
        StudyResult e;
        e.sample = r.sample;
        e.error = row + ": " + OverflowingGas(f, grid);
        return e;
    }
    return r;
}

// ---- The study's groups -------------------------------------------------------------

// The samples of one density and chloride share their temperature tables.
using Medium = std::pair<float, double>;

struct StudyGrids {
    std::optional<Layout> free;            // the grid's own elevations
    std::map<double, Layout> known;        // one per known elevation
    std::map<double, std::string> refused; // a known elevation whose grid cannot be made
};

const Layout* LayoutOf(const StudyGrids& grids, const Values& v) {
    if (!v.elevation) return grids.free ? &*grids.free : nullptr;
    const auto it = grids.known.find(*v.elevation);
    return it == grids.known.end() ? nullptr : &it->second;
}

// Plans the grids the samples need: the grid's own for the samples without an
// elevation, one elevation's for each known elevation.
StudyGrids PlanGrids(const std::vector<Values>& values, const std::vector<bool>& readable,
                     const GridInputs& inputs, const Form1Texts& texts, const RunSettings& run,
                     GridPlan freePlan, RunControl& control) {
    StudyGrids grids;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (readable[i] && !values[i].elevation) {
            grids.free = MakeLayout(std::move(freePlan));
            break;
        }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!readable[i] || !values[i].elevation) continue;
        const double H = *values[i].elevation;
        if (grids.known.count(H) || grids.refused.count(H)) continue;
        try {
            grids.known.emplace(H, MakeLayout(PlanGrid(inputs, texts, run, control, H)));
        } catch (const TemraError& e) {
            grids.refused.emplace(H, std::string(e.description()) + ": " + e.detail());
        }
    }
    return grids;
}

struct MediumWork {
    std::vector<std::size_t> members;
    std::map<Window, TempTable> tables;
    std::uint64_t tableWork = 0, work = 0;
};

// The windows a medium's samples need, with their temperature counts.
std::map<Window, std::uint64_t> WindowsOf(const MediumWork& m, const std::vector<Values>& values,
                                          const StudyGrids& grids) {
    std::map<Window, std::uint64_t> windows;
    for (std::size_t i : m.members)
        if (const Layout* l = LayoutOf(grids, values[i]))
            for (const GridElevation& e : l->plan.elevations) windows[WindowOf(e)] = e.count;
    return windows;
}

SampleGrid GridOf(const Layout& layout, const std::map<Window, TempTable>& tables) {
    SampleGrid g;
    g.layout = &layout;
    g.tables.reserve(layout.plan.elevations.size());
    for (const GridElevation& e : layout.plan.elevations)
        g.tables.push_back(&tables.at(WindowOf(e)));
    return g;
}

void BuildTables(MediumWork& m, const std::map<Window, std::uint64_t>& windows,
                 const Medium& medium, double step, const StudyOptions& o, RunControl& control) {
    std::vector<Window> list;
    list.reserve(windows.size());
    for (const auto& w : windows) list.push_back(w.first);
    std::vector<TempTable> made(list.size());
    const unsigned parts = PartCount(static_cast<std::int64_t>(list.size()), 8);
    RunParts(parts, [&](unsigned part) {
        for (std::size_t w = list.size() * part / parts, end = list.size() * (part + 1) / parts;
             w < end; ++w) {
            control.CheckCancelled();
            made[w] = TabulateFactors(list[w].first, list[w].second, step, medium.first,
                                      medium.second, o.gases, control);
            control.Advance(made[w].T.size());
        }
    });
    for (std::size_t w = 0; w < list.size(); ++w) m.tables.emplace(list[w], std::move(made[w]));
}

} // namespace

namespace {

// The options a study cannot run with at all, each named by its setting; an
// option is checked only where the model uses it.
void CheckOptions(const StudyOptions& options) {
    if (std::none_of(options.gases.begin(), options.gases.end(), [](bool b) { return b; }))
        throw StudyError("no gas is fitted; choose at least one", StudySetting::Gases);
    if (!(options.relErr > 0) || !std::isfinite(options.relErr))
        throw StudyError("the relative error (" + ApproxText(options.relErr) +
                             ") must be greater than 0",
                         StudySetting::RelErr);
    if (InfoOf(options.model).usesAMax && (!(options.ceAMax > 0) || !std::isfinite(options.ceAMax)))
        throw StudyError("the largest excess air A (" + ApproxText(options.ceAMax) +
                             " cm³ STP/g H2O) must be greater than 0",
                         StudySetting::CeAMax);
}

// One run of the study: the samples read, grouped by their water, their grids
// planned, then fitted water by water.
class StudyRun {
  public:
    StudyRun(const std::vector<Sample>& samples, const StudyOptions& options,
             const RunSettings& settings, RunControl& control)
        : samples_(samples), options_(options), settings_(settings), control_(control),
          results_(samples.size()), values_(samples.size()), readable_(samples.size(), false) {}

    std::vector<StudyResult> Run() {
        // The grid's own boxes are checked once, before any sample: a fault there
        // is the command's.
        const RunSettings run = GridSettings(settings_);
        const Form1Texts texts = GridOnly(options_.grid);
        const GridInputs inputs = ReadGridInputs(texts, settings_.DecimalSeparator);
        GridPlan freePlan = PlanGrid(inputs, texts, run, control_);
        step_ = freePlan.grid->TempStep;
        ReadAll();
        grids_ = PlanGrids(values_, readable_, inputs, texts, run, std::move(freePlan), control_);
        GroupByWater();
        control_.Begin(CountWork());
        for (auto& [medium, m] : media_) FitWater(medium, m);
        return std::move(results_);
    }

  private:
    void ReadAll() {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            results_[i].sample = samples_[i].name;
            try {
                values_[i] = ReadValues(samples_[i], options_, settings_.DecimalSeparator);
                readable_[i] = true;
            } catch (const StudyError& e) {
                results_[i].error = e.what();
            }
        }
    }

    // The samples of one density and chloride share their tables; a sample whose
    // known elevation makes no grid is an error row.
    void GroupByWater() {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            if (!readable_[i]) continue;
            const Values& v = values_[i];
            if (v.elevation && grids_.refused.count(*v.elevation)) {
                results_[i].error = "row " + std::to_string(samples_[i].row) + " (elevation " +
                                    samples_[i].elevation + "): " + grids_.refused.at(*v.elevation);
                continue;
            }
            media_[{v.density, v.chloride}].members.push_back(i);
        }
    }

    // The work of every water first: the measure of the study's work, which the
    // progress counts across them.
    std::uint64_t CountWork() {
        std::uint64_t total = 0;
        for (auto& [medium, m] : media_) {
            for (const auto& w : WindowsOf(m, values_, grids_)) m.tableWork += w.second;
            m.work = m.tableWork;
            for (std::size_t i : m.members)
                m.work += SampleWork(
                    static_cast<std::uint64_t>(LayoutOf(grids_, values_[i])->plan.Cases()),
                    options_.model);
            total += m.work;
        }
        return total;
    }

    void FitWater(const Medium& medium, MediumWork& m) {
        try {
            BuildTables(m, WindowsOf(m, values_, grids_), medium, step_, options_, control_);
        } catch (const TemraError& e) {
            for (std::size_t i : m.members)
                results_[i].error = "row " + std::to_string(samples_[i].row) + " (density " +
                                    ExactText(medium.first) + ", chloride " +
                                    ExactText(medium.second) + "): " + e.description() + ": " +
                                    e.detail();
            control_.Advance(m.work - m.tableWork);
            return;
        }
        std::map<const Layout*, SampleGrid> sampleGrids;
        std::map<const Layout*, std::size_t> sharing;
        for (std::size_t i : m.members) {
            const Layout* l = LayoutOf(grids_, values_[i]);
            ++sharing[l];
            if (!sampleGrids.count(l)) sampleGrids.emplace(l, GridOf(*l, m.tables));
        }
        // A grid that several samples share gets its cases' concentrations once
        // (within the memory its plan was weighed with: the grid's own arrays).
        for (auto& [layout, g] : sampleGrids)
            if (sharing[layout] > 1 && InfoOf(options_.model).closedForm)
                FillCases(g, options_.gases);
        const std::vector<std::size_t>& members = m.members;
        const unsigned parts = PartCount(static_cast<std::int64_t>(members.size()), 1);
        RunParts(parts, [&](unsigned part) {
            for (std::size_t k = members.size() * part / parts,
                             end = members.size() * (part + 1) / parts;
                 k < end; ++k) {
                const std::size_t i = members[k];
                results_[i] =
                    FitSample(samples_[i], values_[i], sampleGrids.at(LayoutOf(grids_, values_[i])),
                              options_, &control_);
            }
        });
        m.tables.clear(); // one water's tables in memory at a time
    }

    const std::vector<Sample>& samples_;
    const StudyOptions& options_;
    const RunSettings& settings_;
    RunControl& control_;
    std::vector<StudyResult> results_;
    std::vector<Values> values_;
    std::vector<bool> readable_;
    StudyGrids grids_;
    std::map<Medium, MediumWork> media_;
    double step_ = 0;
};

} // namespace

std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control) {
    CheckOptions(options);
    return StudyRun(samples, options, settings, control).Run();
}

namespace {

// The map's fine raster of the continuous model: the region's extent and as much
// again around it, within the grid's bounds, in kRasterSteps steps each way; a
// column counts its points into `control`.
constexpr int kRasterSteps = 160;

void FineRaster(MisfitMap& map, const Fitted& fitted, const Values& v, const Domain& d,
                const StudyOptions& options, bool counted, RunControl& control) {
    const StudyResult& r = map.result;
    const Continuum model(fitted, v.density, v.chloride, d, options);
    const double tPad = std::max(d.tStep, r.temperatureHi - r.temperatureLo) / 2;
    const double ePad = std::max(d.eStep, r.elevationHi - r.elevationLo) / 2;
    const Interval tSpan{std::max(d.T().lo, r.temperatureLo - tPad),
                         std::min(d.T().hi, r.temperatureHi + tPad)};
    const Interval eSpan{std::max(0.0, r.elevationLo - ePad),
                         std::min(d.eMax, r.elevationHi + ePad)};
    for (int i = 0; i <= kRasterSteps; ++i) {
        map.fineT.push_back(tSpan.lo + (tSpan.hi - tSpan.lo) * i / kRasterSteps);
        map.fineE.push_back(eSpan.lo + (eSpan.hi - eSpan.lo) * i / kRasterSteps);
    }
    map.fine.assign(map.fineT.size() * map.fineE.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t ix = 0; ix < map.fineT.size(); ++ix) {
        control.CheckCancelled();
        const double T = map.fineT[ix];
        const Interval allowed = d.E(T);
        for (std::size_t iy = 0; iy < map.fineE.size(); ++iy) {
            const double E = map.fineE[iy];
            if (E >= allowed.lo && E <= allowed.hi)
                map.fine[iy * map.fineT.size() + ix] = model.At(T, E).chi2;
        }
        if (counted) control.Advance(map.fineE.size());
    }
}

} // namespace

MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control) {
    MisfitMap map;
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    const RunSettings run = GridSettings(settings);
    // The grid of the boxes, with the sample's own density and chloride.
    const Form1Texts texts = GridOnly(options.grid);
    GridInputs inputs = ReadGridInputs(texts, settings.DecimalSeparator);
    inputs.WaterDensity = v.density;
    inputs.Chloride = v.chloride;
    map.plan = PlanGrid(inputs, texts, run, control, v.elevation);
    const Layout layout = MakeLayout(map.plan);
    const auto cases = static_cast<std::uint64_t>(map.plan.Cases());
    std::map<Window, std::uint64_t> windows;
    for (const GridElevation& e : layout.plan.elevations) windows[WindowOf(e)] = e.count;
    std::uint64_t tableWork = 0;
    for (const auto& w : windows) tableWork += w.second;
    // The raster counts a unit a point (drawn when the grid has more than one
    // elevation and more than one temperature).
    const bool raster = layout.plan.elevations.size() > 1 && cases > layout.plan.elevations.size();
    const std::uint64_t rasterWork = raster ? (kRasterSteps + 1) * (kRasterSteps + 1) : 0;
    control.Begin(cases + tableWork + SampleWork(cases, options.model) + rasterWork);
    {
        RunControl part(control); // the grid's arrays, for the map's axes
        FillGrid(map.plan, run, part);
    }
    MediumWork m;
    BuildTables(m, windows, {v.density, v.chloride}, map.plan.grid->TempStep, options, control);
    const SampleGrid grid = GridOf(layout, m.tables);
    map.result = FitSample(sample, v, grid, options, &control, &map.chi2);
    const Domain d = DomainOf(grid);
    if (map.result.error.empty() && d.eFree && d.tFree) {
        FineRaster(map, FittedGases(v, options), v, d, options, raster, control);
    } else {
        control.Advance(rasterWork);
    }
    return map;
}

namespace {

// How many fitted samples each note speaks of.
struct NoteCounts {
    std::size_t fitted = 0, tHigh = 0, tLow = 0, eHigh = 0, eLow = 0, maat = 0, under = 0;
    std::size_t cutT = 0, cutE = 0;
    std::map<std::string, std::size_t> missing; // by gas
};

NoteCounts CountNotes(const std::vector<StudyResult>& results) {
    NoteCounts c;
    for (const StudyResult& r : results) {
        if (!r.error.empty()) continue;
        ++c.fitted;
        c.tHigh += r.ends.tempHigh;
        c.tLow += r.ends.tempLow;
        c.eHigh += r.ends.elevHigh;
        c.eLow += r.ends.elevLow;
        c.maat += r.ends.maat;
        c.under += r.dof <= 0;
        for (const std::string& f : r.flags) {
            if (f.rfind("missing:", 0) == 0) ++c.missing[f.substr(8)];
            // A best at the end has its range cut there: said once, as the best.
            c.cutT += f == "range-cut-T" && !r.ends.tempHigh && !r.ends.tempLow;
            c.cutE += f == "range-cut-E" && !r.ends.elevHigh && !r.ends.elevLow;
        }
    }
    return c;
}

} // namespace

std::vector<std::string> StudyNotes(const std::vector<StudyResult>& results,
                                    const StudyOptions& options, char separator,
                                    const std::function<std::string(FieldId)>& name) {
    std::vector<std::string> notes;
    const NoteCounts c = CountNotes(results);
    auto of = [&](std::size_t n) {
        return std::to_string(n) + " of " + std::to_string(c.fitted) + " sample" +
               (c.fitted == 1 ? "" : "s") + (n == 1 ? " is" : " are");
    };
    auto box = [&](FieldId id) {
        const Field& f = FieldOf(id);
        const std::string text = options.grid.*f.form1;
        return DecimalText(text, separator, '.');
    };
    if (c.tHigh)
        notes.push_back(of(c.tHigh) + " best at the highest temperature, " + box(FieldId::TempMax) +
                        " °C: raise " + name(FieldId::TempMax));
    if (c.eHigh)
        notes.push_back(of(c.eHigh) + " best at the highest elevation, " + box(FieldId::ElevMax) +
                        " m: raise " + name(FieldId::ElevMax));
    if (c.tLow)
        notes.push_back(of(c.tLow) +
                        " best at 0 °C, where the grid starts: their gases ask for colder water "
                        "than the model holds");
    if (c.eLow) notes.push_back(of(c.eLow) + " best at 0 m, where the grid starts");
    if (c.maat)
        notes.push_back(of(c.maat) +
                        " best at an end of the MAAT window (3 °C either side of the "
                        "line): check " +
                        name(FieldId::MaatA) + " and " + name(FieldId::MaatB) + " or untick " +
                        name(FieldId::MaatTick));
    if (c.cutT)
        notes.push_back(of(c.cutT) + " given a temperature range cut by the grid's end " +
                        "(range-cut-T): the range may reach further than " + box(FieldId::TempMax) +
                        " °C or 0 °C; raise " + name(FieldId::TempMax) + " where it is cut above");
    if (c.cutE)
        notes.push_back(of(c.cutE) + " given an elevation range cut by the grid's end " +
                        "(range-cut-E): the range may reach further than " + box(FieldId::ElevMax) +
                        " m or 0 m; raise " + name(FieldId::ElevMax) + " where it is cut above");
    if (c.under)
        notes.push_back(of(c.under) +
                        " underdetermined: no more gases than free parameters, so p is left "
                        "empty and the ranges are not a test of the model");
    for (const auto& [gas, n] : c.missing)
        notes.push_back(of(n) + " fitted without " + gas + ", which their rows leave blank");
    return notes;
}

} // namespace temra::study
