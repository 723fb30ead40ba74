#include "study/fit/fit_sample.h"

#include "core/fields.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_sets.h"
#include "study/fit/posterior.h"
#include "study/fit/propagation.h"
#include "study/models/models.h"

#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <type_traits>

namespace temra::study {

std::uint64_t SampleWork(std::uint64_t cases, Model model) {
    return 2 * cases * InfoOf(model).searchWeight;
}

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
    f.aScale = o.perGram ? static_cast<double>(v.density) : 1.0;
    ResolveBounds(f, o);
    return f;
}

Domain DomainOfBoxes(const GridPlan& plan) {
    const SolubilityGrid& g = *plan.grid;
    Domain d;
    d.eFree = plan.elevations.size() > 1;
    d.e0 = plan.elevations.front().H;
    // With the MAAT window the grid keeps the last elevation's window as its
    // highest temperature; the window is cut at the typed one.
    d.tMax = g.MaatInUse ? static_cast<double>(g.TempMaxInput) : g.TempMax;
    d.eMax = g.ElevMax;
    d.tStep = std::fabs(g.TempStep);
    d.eStep = std::fabs(g.ElevStep);
    d.maat = g.MaatInUse;
    d.slope = static_cast<double>(g.MaatSlope);
    d.intercept = static_cast<double>(g.MaatIntercept);
    return d;
}

Domain DomainOf(const SampleGrid& grid) {
    Domain d = DomainOfBoxes(grid.layout->plan);
    d.t0 = grid.tables.front()->T.front();
    for (const TempTable* t : grid.tables) {
        d.tFree =
            d.tFree || std::any_of(t->T.begin(), t->T.end(), [&](double T) { return T != d.t0; });
        if (d.tFree) break;
    }
    return d;
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kGridBits = 14; // a searched parameter in the grid's search: the refinement
                              // sharpens the best

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

// UA at one case: the fitted gases' weighted sums, then A in [0, aMax] and chi2
// in closed form, summed as UaCases sums a block's (conc(j): the equilibrium
// concentration of fitted gas j):
//   A = clamp(Sdz / Sz2, 0, aMax), chi2 = Sd2 - A (2 Sdz - A Sz2).
template <typename Conc> Excess UaCase(const Fitted& f, double aMax, double Sz2, Conc&& conc) {
    double Sdz = 0, Sd2 = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j) {
        const double d = f.m[j] - conc(j);
        Sdz = j == 0 ? f.w[j] * f.z[j] * d : Sdz + f.w[j] * f.z[j] * d;
        Sd2 = j == 0 ? f.w[j] * d * d : Sd2 + f.w[j] * d * d;
    }
    const double A = std::clamp(Sdz / Sz2, 0.0, aMax);
    return {Sd2 - A * (2 * Sdz - A * Sz2), A, 0.0};
}

double SumZ2(const Fitted& f) {
    double Sz2 = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j) Sz2 += f.w[j] * f.z[j] * f.z[j];
    return Sz2;
}

// UA over the n cases from k0: each case's weighted sums gas by gas, a block of
// cases at a time, with conc(j, k) the equilibrium concentration of fitted gas j
// in case k0 + k; then each case's A and chi2 (UaCase).
template <typename Conc>
void UaCases(const Fitted& f, double aMax, std::size_t k0, std::size_t n, Conc&& conc, CasePass& c,
             PassProgress& pass) {
    const double Sz2 = SumZ2(f);
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
            const double A = std::clamp(Sdz[k] / Sz2, 0.0, aMax);
            c.chi2[k0 + b0 + k] = Sd2[k] - A * (2 * Sdz[k] - A * Sz2);
            c.A[k0 + b0 + k] = A;
        }
        pass.Steps(count);
    }
}

// The fitted gases' equilibrium concentrations at temperature t of elevation e.
std::array<double, GasCount> CaseConc(const Fitted& f, const SampleGrid& grid, std::size_t e,
                                      std::size_t t) {
    const TempTable& tab = *grid.tables[e];
    const double P = grid.layout->P[e];
    std::array<double, GasCount> C{};
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j)
        C[j] = EquilConcOf(tab.SX[f.gas[j]][t], P, tab.VP[t]);
    return C;
}

// A model searched case by case: the best excess air at temperature t of
// elevation e.
Excess ModelCase(const Fitted& f, const SampleGrid& grid, std::size_t e, std::size_t t,
                 const StudyOptions& o) {
    const TempTable& tab = *grid.tables[e];
    return BestExcess(f, CaseConc(f, grid, e, t).data(), {tab.T[t], grid.layout->P[e]}, o,
                      kGridBits);
}

// A model searched case by case, at every case of one elevation.
void ModelCases(const Fitted& f, const SampleGrid& grid, std::size_t e, const StudyOptions& o,
                CasePass& c, PassProgress& pass) {
    const TempTable& tab = *grid.tables[e];
    const auto k0 = static_cast<std::size_t>(grid.layout->plan.elevations[e].first);
    for (std::size_t t = 0; t < tab.T.size(); ++t) {
        pass.Step();
        const Excess x = ModelCase(f, grid, e, t, o);
        c.chi2[k0 + t] = x.chi2;
        c.A[k0 + t] = x.A;
        if (!c.second.empty()) c.second[k0 + t] = x.second;
    }
}

// The grid's search of a model that bounds how far its concentrations move
// between cases (ExcessFit::slope), on a rectangle of cases (every elevation with
// the same temperatures). The misfits of two cases differ, in root, by at most
// the distance between their concentrations, each gas weighed by its error and
// the model's slope between them (the triangle inequality, the excess air at its
// best at either). The cases at every few elevations and temperatures (the
// nodes, the last of each axis among them) are searched first, each also to its
// least (kBits). In the block between four nodes, a case whose root misfit is
// thus bound to exceed the root of the least node's misfit plus 1 can be neither
// the best case nor within 1 of it, and is left out (no misfit: infinity); every
// other case is searched as every case would be. The nodes lie a few units of
// that distance apart, as the sample's errors make it at the grid's middle.
class PrunedSearch {
  public:
    PrunedSearch(const Fitted& f, const SampleGrid& grid, const StudyOptions& o, CasePass& c,
                 PassProgress& pass)
        : f_(f), grid_(grid), o_(o), c_(c), pass_(pass), model_(InfoOf(o.model)),
          els_(grid.layout->plan.elevations), n_(static_cast<std::size_t>(f.n)) {}

    // False when the grid or the model has no such bound, or the nodes would lie
    // too close to leave much out (nothing searched).
    bool Run() {
        if (!model_.fit.slope || grid_.layout->plan.grid->MaatInUse || els_.empty()) return false;
        nE_ = els_.size();
        nT_ = els_.front().count;
        for (std::size_t e = 0; e < nE_; ++e)
            if (els_[e].count != nT_ || grid_.tables[e] != grid_.tables.front()) return false;
        if (nT_ == 0 || !ChooseSteps()) return false;
        SearchNodes();
        for (std::size_t a = 0; a + 1 < std::max<std::size_t>(mE_, 2); ++a)
            for (std::size_t b = 0; b + 1 < std::max<std::size_t>(mT_, 2); ++b) Block(a, b);
        return true;
    }

  private:
    const TempTable& Table() const { return *grid_.tables.front(); }
    double Conc(std::size_t e, std::size_t t, std::size_t j) const {
        const TempTable& tab = Table();
        return EquilConcOf(tab.SX[f_.gas[j]][t], grid_.layout->P[e], tab.VP[t]);
    }
    // The distance between two cases with each gas's slope at the lesser
    // concentration.
    double Distance(std::size_t e1, std::size_t t1, std::size_t e2, std::size_t t2) const {
        double d2 = 0;
        for (std::size_t j = 0; j < n_; ++j) {
            const double a = Conc(e1, t1, j), b = Conc(e2, t2, j);
            const double L = model_.fit.slope(f_, j, std::min(a, b));
            d2 += f_.w[j] * L * L * (a - b) * (a - b);
        }
        return std::sqrt(d2);
    }
    // Steps of kReach units of distance along each axis from the grid's middle.
    bool ChooseSteps() {
        constexpr double kReach = 5;
        constexpr std::size_t kMost = 64, kLeastCases = 16;
        const std::size_t e = nE_ / 2, t = nT_ / 2;
        auto step = [&](double unit) {
            const double s = std::isfinite(unit) && unit > 0 ? std::floor(kReach / unit) : 1;
            return static_cast<std::size_t>(std::clamp(s, 1.0, static_cast<double>(kMost)));
        };
        sE_ = nE_ > 1 ? step(Distance(e, t, std::min(e + 1, nE_ - 1), t)) : 1;
        sT_ = nT_ > 1 ? step(Distance(e, t, e, std::min(t + 1, nT_ - 1))) : 1;
        mE_ = (nE_ - 1 + sE_ - 1) / sE_ + 1;
        mT_ = (nT_ - 1 + sT_ - 1) / sT_ + 1;
        return (nE_ > 1 ? sE_ : 1) * (nT_ > 1 ? sT_ : 1) >= kLeastCases;
    }
    std::size_t NodeE(std::size_t a) const { return std::min(a * sE_, nE_ - 1); }
    std::size_t NodeT(std::size_t b) const { return std::min(b * sT_, nT_ - 1); }
    bool IsNode(std::size_t e, std::size_t t) const {
        return (e % sE_ == 0 || e == nE_ - 1) && (t % sT_ == 0 || t == nT_ - 1);
    }
    double Search(std::size_t e, std::size_t t) {
        pass_.Step();
        const std::size_t k = static_cast<std::size_t>(els_[e].first) + t;
        const Excess x = ModelCase(f_, grid_, e, t, o_);
        c_.chi2[k] = x.chi2;
        c_.A[k] = x.A;
        if (!c_.second.empty()) c_.second[k] = x.second;
        return x.chi2;
    }
    void SearchNodes() {
        root_.resize(mE_ * mT_);
        nodeC_.resize(mE_ * mT_ * n_);
        double least = kInf;
        for (std::size_t a = 0; a < mE_; ++a)
            for (std::size_t b = 0; b < mT_; ++b) {
                const std::size_t e = NodeE(a), t = NodeT(b), i = a * mT_ + b;
                least = std::min(least, Search(e, t));
                std::array<double, GasCount> C{};
                for (std::size_t j = 0; j < n_; ++j) C[j] = nodeC_[i * n_ + j] = Conc(e, t, j);
                // Its least, a millionth less for Brent's tolerance.
                const Recharge at{Table().T[t], grid_.layout->P[e]};
                root_[i] =
                    std::sqrt(std::max(0.0, BestExcess(f_, C.data(), at, o_).chi2)) * (1 - 1e-6);
            }
        reach_ = std::sqrt(least + 1) * (1 + 1e-9);
    }
    // The block between nodes (a, b) and (a + 1, b + 1): its own rows and columns,
    // the last block's last too; each gas's slope at its least concentration in it.
    void Block(std::size_t a, std::size_t b) {
        const std::size_t a1 = std::min(a + 1, mE_ - 1), b1 = std::min(b + 1, mT_ - 1);
        const std::size_t e0 = NodeE(a), e1 = NodeE(a1), t0 = NodeT(b), t1 = NodeT(b1);
        std::array<double, GasCount> Cmin{}, weight{}, C{};
        Cmin.fill(kInf);
        for (std::size_t e = e0; e <= e1; ++e)
            for (std::size_t t = t0; t <= t1; ++t)
                for (std::size_t j = 0; j < n_; ++j) Cmin[j] = std::min(Cmin[j], Conc(e, t, j));
        for (std::size_t j = 0; j < n_; ++j) {
            const double L = model_.fit.slope(f_, j, Cmin[j]);
            weight[j] = f_.w[j] * L * L;
        }
        const std::array<std::size_t, 4> corners = {a * mT_ + b, a * mT_ + b1, a1 * mT_ + b,
                                                    a1 * mT_ + b1};
        const std::size_t eEnd = a + 2 >= mE_ ? e1 + 1 : e1, tEnd = b + 2 >= mT_ ? t1 + 1 : t1;
        for (std::size_t e = e0; e < eEnd; ++e)
            for (std::size_t t = t0; t < tEnd; ++t) {
                if (IsNode(e, t)) continue;
                for (std::size_t j = 0; j < n_; ++j) C[j] = Conc(e, t, j);
                if (Bound(C, weight, corners) > reach_) {
                    pass_.Step();
                    c_.chi2[static_cast<std::size_t>(els_[e].first) + t] = kInf;
                } else {
                    Search(e, t);
                }
            }
    }
    // The greatest of the corners' bounds on a case's root misfit.
    double Bound(const std::array<double, GasCount>& C, const std::array<double, GasCount>& weight,
                 const std::array<std::size_t, 4>& corners) const {
        double bound = -kInf;
        for (const std::size_t i : corners) {
            double d2 = 0;
            for (std::size_t j = 0; j < n_; ++j) {
                const double d = C[j] - nodeC_[i * n_ + j];
                d2 += weight[j] * d * d;
            }
            bound = std::max(bound, root_[i] - std::sqrt(d2));
        }
        return bound;
    }

    const Fitted& f_;
    const SampleGrid& grid_;
    const StudyOptions& o_;
    CasePass& c_;
    PassProgress& pass_;
    const ModelInfo& model_;
    const std::vector<GridElevation>& els_;
    std::size_t n_, nE_ = 0, nT_ = 0, sE_ = 1, sT_ = 1, mE_ = 1, mT_ = 1;
    std::vector<double> root_, nodeC_;
    double reach_ = kInf;
};

// A model searched case by case at every case, its elevations over `parts`
// threads; each elevation counted into `pass` once searched.
void ModelCasesOver(const Fitted& f, const SampleGrid& grid, const StudyOptions& o, CasePass& c,
                    PassProgress& pass, unsigned parts) {
    const auto& els = grid.layout->plan.elevations;
    std::mutex counted;
    RunItems(els.size(), parts, [&](std::size_t e) {
        PassProgress uncounted(nullptr, 0, 0);
        ModelCases(f, grid, e, o, c, uncounted);
        const std::lock_guard<std::mutex> lock(counted);
        pass.Steps(static_cast<std::uint64_t>(els[e].count));
    });
}

// Every case's misfit at its best excess air, and the best case (the lowest
// case number on a tie; a misfit out of the number range is never the best). A
// model in closed form sums the cases' terms in blocks, from the concentrations
// the grid's samples share where they were made.
CasePass SearchCases(const Fitted& f, const SampleGrid& grid, const StudyOptions& o,
                     PassProgress& pass, bool everyCase, unsigned parts) {
    const GridPlan& plan = grid.layout->plan;
    const auto N = static_cast<std::size_t>(plan.Cases());
    CasePass c;
    c.chi2.resize(N);
    c.A.resize(N);
    const ModelInfo& model = InfoOf(o.model);
    c.second.assign(model.HasSecond() ? N : 0, 0.0);
    const double aMax = f.aMax;
    if (model.closedForm && !grid.cases[f.gas[0]].empty()) {
        // The cases' concentrations shared with the other samples of the grid.
        UaCases(
            f, aMax, 0, N, [&](std::size_t j, std::size_t k) { return grid.cases[f.gas[j]][k]; }, c,
            pass);
    } else if (!model.closedForm && everyCase && parts > 1) {
        ModelCasesOver(f, grid, o, c, pass, parts);
    } else if (model.closedForm || everyCase || !PrunedSearch(f, grid, o, c, pass).Run()) {
        for (std::size_t e = 0; e < plan.elevations.size(); ++e) {
            if (!model.closedForm) {
                ModelCases(f, grid, e, o, c, pass);
                continue;
            }
            const TempTable& tab = *grid.tables[e];
            const double P = grid.layout->P[e];
            UaCases(
                f, aMax, static_cast<std::size_t>(plan.elevations[e].first), tab.T.size(),
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
    c.ran = true;
    const std::size_t e = ElevationOfCase(plan, c.best);
    const GridElevation& el = plan.elevations[e];
    c.bestCase = {grid.tables[e]->T[c.best - el.first], el.H, c.chi2[c.best], c.A[c.best],
                  c.second.empty() ? 0.0 : c.second[c.best]};
    return c;
}

// The weighted distance between a draw's values and its sample's (DrawReach).
double DrawDistance(const Fitted& f, const DrawReach& reach) {
    double r2 = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j) {
        const double d = f.m[j] - reach.measured[f.gas[j]];
        r2 += f.w[j] * d * d;
    }
    return std::sqrt(r2);
}

// Whether a draw's fitted gases, their fractions in air and its largest excess
// air are those the reach's terms were worked out for.
bool TermsFit(const Fitted& f, const DrawReach& reach) {
    if (reach.termCases == 0 || f.n != reach.termN || f.aMax != reach.termAMax) return false;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.n); ++j)
        if (f.gas[j] != reach.termGas[j] || f.z[j] != reach.termZ[j]) return false;
    return true;
}

// A Monte Carlo draw's search (DrawReach): its sample's cases, least first, each
// searched as the grid's search searches it, until the sample's root misfit less
// the draw's distance r exceeds the root of the draw's best so far; the cases
// without a misfit of the sample are searched all. The grid's search finds a
// case's excess air to a few bits only, so a sample's root misfit counts for 5 %
// less. The best case is the full search's (the lowest case number on a tie).
CasePass SearchDraw(const Fitted& f, const SampleGrid& grid, const StudyOptions& o,
                    const DrawReach& reach, PassProgress& pass) {
    constexpr double kGridSlack = 0.95;
    const double r = DrawDistance(f, reach);
    const ModelInfo& model = InfoOf(o.model);
    const bool shared = model.closedForm && !grid.cases[f.gas[0]].empty();
    const double Sz2 = SumZ2(f);
    const auto& els = grid.layout->plan.elevations;
    CasePass c;
    c.ran = true;
    double least = kInf, rootLeast = kInf;
    const bool termsShared = TermsFit(f, reach);
    auto search = [&](const DrawReach::Case& at, std::size_t i) {
        pass.Step();
        const std::size_t t = at.k - static_cast<std::size_t>(els[at.e].first);
        const TempTable& tab = *grid.tables[at.e];
        const double P = grid.layout->P[at.e];
        Excess x;
        if (!model.closedForm && termsShared && i < reach.termCases)
            x = model.fit.bestOfTerms(f, reach.conc.data() + i * static_cast<std::size_t>(f.n),
                                      reach.terms.data() + i * reach.termCount, kGridBits, least);
        else if (!model.closedForm)
            x = ModelCase(f, grid, at.e, t, o);
        else if (shared)
            x = UaCase(f, f.aMax, Sz2, [&](std::size_t j) { return grid.cases[f.gas[j]][at.k]; });
        else
            x = UaCase(f, f.aMax, Sz2, [&](std::size_t j) {
                return EquilConcOf(tab.SX[f.gas[j]][t], P, tab.VP[t]);
            });
        if (x.chi2 < least || (x.chi2 == least && at.k < c.best)) {
            least = x.chi2;
            rootLeast = std::sqrt(std::max(0.0, least));
            c.best = at.k;
            c.bestCase = {tab.T[t], els[at.e].H, x.chi2, x.A, x.second};
        }
    };
    for (std::size_t i = 0; i < reach.withMisfit; ++i) {
        if (kGridSlack * reach.order[i].root - r > rootLeast) break;
        search(reach.order[i], i);
    }
    for (std::size_t i = reach.withMisfit; i < reach.order.size(); ++i) search(reach.order[i], i);
    c.found = std::isfinite(least);
    return c;
}

// The case nearest a point.
std::size_t NearestCase(const SampleGrid& grid, const Point& p) {
    const GridPlan& plan = grid.layout->plan;
    return NearestCaseOf(plan, p.T, p.E, [&](std::size_t e, std::size_t k) {
        return grid.tables[e]->T[k - plan.elevations[e].first];
    });
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
            return GasName(static_cast<int>(f.gas[i])) +
                   ": its misfit leaves the number range (check its value and error)";
    }
    return "the misfit leaves the number range (check the values and errors)";
}

// The ends of the grid the best lies at, and the MAAT window's edge: the ends and
// the flags edge-T, edge-E and edge-MAAT.
void EdgeFlags(StudyResult& r, const Domain& d, const Point& best) {
    if (d.tFree) {
        const double tol = 1e-6 * d.tStep;
        r.ends.tempLow = best.T <= tol;
        r.ends.tempHigh = best.T >= d.tMax - tol;
        if (r.ends.tempLow || r.ends.tempHigh) r.flags.emplace_back(flag::kEdgeT);
    }
    if (d.eFree) {
        const double tol = 1e-6 * d.eStep;
        r.ends.elevLow = best.E <= tol;
        r.ends.elevHigh = best.E >= d.eMax - tol;
        if (r.ends.elevLow || r.ends.elevHigh) r.flags.emplace_back(flag::kEdgeE);
    }
    r.ends.maat = d.OnWindowEdge(best.T, best.E);
    if (r.ends.maat) r.flags.emplace_back(flag::kEdgeMaat);
}

// The flags of a best at a bound of the model's parameters, as the model's table
// names them. A bound is reached within 1e-9 of the parameter's span (exactly,
// for a parameter without an upper bound).
void BoundFlags(StudyResult& r, const Point& best, const Fitted& f, const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    for (int k = 0; k < model.paramCount; ++k) {
        const ModelParam& p = model.params[static_cast<std::size_t>(k)];
        // A in the fit's unit, its bound in the table's.
        const double v = k == 0 ? best.A / f.aScale : best.second, hi = p.hi(p, o);
        const double tol = std::isfinite(hi) ? 1e-9 * (hi - p.lo) : 0.0;
        if (!p.lowFlag.empty() && v <= p.lo + tol) r.flags.emplace_back(p.lowFlag);
        if (!p.highFlag.empty() && v >= hi - tol) r.flags.emplace_back(p.highFlag);
    }
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

// The grid's profile the refinement starts from: each elevation's least point
// (each temperature's case for one elevation). With the MAAT window each
// elevation's least is sought at the window's ends as well, where the grid's
// temperatures, counted from the window's start, need not fall.
std::vector<Point> ProfileOf(const SampleGrid& grid, const CasePass& cases, const Domain& d,
                             const MisfitSurface& model) {
    const auto& els = grid.layout->plan.elevations;
    auto caseAt = [&](std::size_t e, std::size_t t) {
        const std::size_t k = static_cast<std::size_t>(els[e].first) + t;
        return Point{grid.tables[e]->T[t], els[e].H, cases.chi2[k], cases.A[k],
                     cases.second.empty() ? 0.0 : cases.second[k]};
    };
    std::vector<Point> profile;
    if (els.size() == 1) {
        for (std::size_t t = 0; t < els[0].count; ++t) profile.push_back(caseAt(0, t));
        return profile;
    }
    for (std::size_t e = 0; e < els.size(); ++e) {
        Point least{0, els[e].H, kInf, 0, 0};
        for (std::size_t t = 0; t < els[e].count; ++t) {
            const Point c = caseAt(e, t);
            if (c.chi2 < least.chi2) least = c;
        }
        const Interval w = d.TAt(els[e].H);
        if (d.maat && d.tFree && els[e].count > 0 && !w.Empty())
            for (const double T : {w.lo, w.hi})
                if (const Point p = model.At(T, els[e].H); p.chi2 < least.chi2) least = p;
        profile.push_back(least);
    }
    return profile;
}

// The points the refinement starts from: the least point of each valley of the
// grid's profile, the best first, those within kStartReach of it, at most
// kStarts.
std::vector<Point> StartPoints(const SampleGrid& grid, const CasePass& cases, const Domain& d,
                               const MisfitSurface& model) {
    constexpr double kStartReach = 3;
    constexpr std::size_t kStarts = 4;
    const std::vector<Point> profile = ProfileOf(grid, cases, d, model);
    std::vector<Point> starts;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const double v = profile[i].chi2;
        const bool valley = (i == 0 || v <= profile[i - 1].chi2) &&
                            (i + 1 == profile.size() || v <= profile[i + 1].chi2);
        if (valley && std::isfinite(v)) starts.push_back(profile[i]);
    }
    std::sort(starts.begin(), starts.end(),
              [](const Point& a, const Point& b) { return a.chi2 < b.chi2; });
    const double reach = starts.empty() ? kInf : starts.front().chi2 + kStartReach;
    starts.erase(std::remove_if(starts.begin(), starts.end(),
                                [&](const Point& p) { return p.chi2 > reach; }),
                 starts.end());
    if (starts.size() > kStarts) starts.resize(kStarts);
    return starts;
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
    if (r.dof > 0) r.p = ChiSquaredP(r.chi2, r.dof);
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

// The posterior with the lapse-rate prior over the grid's cases, the excess air
// integrated out at each, and its flag.
void AddPosterior(StudyResult& r, const SampleGrid& grid, const CasePass& cases, const Domain& d,
                  const MisfitSurface& model, const StudyOptions& o) {
    std::vector<PosteriorCase> all;
    all.reserve(cases.chi2.size());
    const auto& els = grid.layout->plan.elevations;
    for (std::size_t e = 0; e < els.size(); ++e) {
        const std::vector<double>& T = grid.tables[e]->T;
        for (std::size_t t = 0, k = els[e].first; t < T.size(); ++t, ++k)
            all.push_back({T[t], els[e].H, cases.A[k], cases.chi2[k]});
    }
    const ExcessAt excess = [&](double T, double E) { return model.MixtureAt(T, E); };
    r.posterior =
        PosteriorOf(all, d.tStep, d.eStep, {d.slope, d.intercept, o.priorOffset, o.priorSd},
                    InfoOf(o.model).fit.integral ? &excess : nullptr);
    if (r.posterior && r.posterior->cut) r.flags.emplace_back(flag::kPriorCut);
}

} // namespace

double ChiSquaredP(double chi2, int dof) {
    return boost::math::cdf(
        boost::math::complement(boost::math::chi_squared(dof), std::max(0.0, chi2)));
}

// The flags of a result, in their order: the grid's ends, ranges the grid cuts,
// the excess air at its bounds, a poor fit, no degree of freedom, gases left out.
void AddFlags(StudyResult& r, const Domain& d, const Point& best, const Ranges& ranges,
              const Fitted& f, const StudyOptions& o) {
    EdgeFlags(r, d, best);
    if (ranges.cutT) r.flags.emplace_back(flag::kCutT);
    if (ranges.cutE) r.flags.emplace_back(flag::kCutE);
    if (ranges.cutWindow) r.flags.emplace_back(flag::kCutMaat);
    BoundFlags(r, best, f, o);
    if (r.p && *r.p < 0.01) r.flags.emplace_back(flag::kPoorFit);
    if (r.dof <= 0) r.flags.emplace_back(flag::kUnderdetermined);
    for (std::size_t i = 0; i < GasCount; ++i)
        if (o.gases[i] && !f.mask[i])
            r.flags.push_back(std::string(flag::kMissing) + GasName(static_cast<int>(i)));
}

void ToTableUnit(StudyResult& r, double aScale) {
    if (aScale == 1) return;
    for (double* a : {&r.A, &r.ALo, &r.AHi}) *a /= aScale;
    if (r.posterior) {
        Estimate& A = r.posterior->A;
        for (double* a : {&A.value, &A.lo, &A.hi}) *a /= aScale;
    }
}

void SolubilityFlags(StudyResult& r, const Values& v, const StudyOptions& o) {
    if (o.solubility == SolubilitySet::Builtin) {
        if (v.chloride > kSalineChloride) r.flags.emplace_back(flag::kSaline);
        return;
    }
    const SolubilitySetInfo& set = SetInfoOf(o.solubility);
    const double S = SeaSalinity(v.chloride, v.density);
    if (r.temperature < set.tMin || r.temperature > set.tMax || S > set.sMax)
        r.flags.emplace_back(flag::kBeyondData);
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

// What the gases say beyond the fit, at the best point: the model's concentration
// of a gas measured there against its measurement, its sigma the measurement's
// and the model's spread together.
void GasesBeyond(StudyResult& r, const Values& v, const Point& best, const StudyOptions& o,
                 const std::optional<std::array<double, GasCount>>& spread) {
    std::array<bool, GasCount> known{};
    for (std::size_t i = 0; i < GasCount; ++i) known[i] = v.present[i] || v.beyond[i];
    const ModelFields fields{fields::Ref(FieldId::TempMax), fields::Ref(FieldId::Density),
                             fields::Ref(FieldId::Chloride)};
    TemperatureFactors factors;
    try {
        factors = SetFactorsAt(o.solubility, best.T, v.density, v.chloride, fields, known);
    } catch (const TemraError&) {
        return; // said by the fit itself
    }
    const double P = AirPressureAt(best.E, fields::Ref(FieldId::ElevMax));
    const Excess x{best.chi2, best.A, best.second};
    const ModelInfo& model = InfoOf(o.model);
    // Per gram of water, a concentration goes back to the table's unit.
    const double unit = o.perGram ? static_cast<double>(v.density) : 1.0;
    auto equil = [&](std::size_t i) {
        return EquilConcOf(factors.SX[i], P, factors.VapourPressure);
    };
    auto residual = [&](std::size_t i) {
        const double C = model.fit.conc(equil(i), kGasTable[i].AtmFraction,
                                        ModelRatio(model, i, {best.T, P}, o), x);
        const double model = spread ? (*spread)[i] : 0.0;
        const double d = (v.measured[i] - C) / unit, s = std::hypot(v.sigma[i], model) / unit;
        return Estimate{d, d - s, d + s};
    };
    // A number beyond the range of numbers is left out.
    auto keep = [](auto& slot, auto value) {
        if constexpr (std::is_same_v<decltype(value), Estimate>) {
            if (std::isfinite(value.value) && std::isfinite(value.lo) && std::isfinite(value.hi))
                slot = value;
        } else if (std::isfinite(value)) {
            slot = value;
        }
    };
    constexpr std::size_t kHe = GasIndexOf("He-4"), kNe = GasIndexOf("Ne-20"),
                          kN2 = GasIndexOf("N2"), kO2 = GasIndexOf("O2");
    if (known[kNe]) keep(r.deltaNe, (v.measured[kNe] / equil(kNe) - 1) * 100);
    if (v.beyond[kHe]) keep(r.heTerrigenic, residual(kHe));
    if (v.beyond[kN2]) keep(r.n2Excess, residual(kN2));
    if (known[kO2]) keep(r.o2Fraction, v.measured[kO2] / equil(kO2));
}

SampleSearch SearchSample(const Sample& s, const Values& v, const SampleGrid& grid,
                          const StudyOptions& o, RunControl* control, bool everyCase,
                          unsigned parts) {
    const auto N = static_cast<std::size_t>(grid.layout->plan.Cases());
    const std::uint64_t passWork = SampleWork(N, o.model) / 2;
    PassProgress search(control, passWork, N);
    SampleSearch out;
    StudyResult& r = out.result;
    r.sample = s.name;
    r.model = o.model;
    const std::string row = "row " + std::to_string(s.row);
    if (N == 0) {
        r.error = row + ": the grid has no case: " + EmptyGridReason(*grid.layout->plan.grid);
        return out;
    }
    out.fitted = FittedGases(v, o);
    r.n = out.fitted.n;
    if (out.fitted.n == 0) {
        r.error = row + ": none of the fitted gases (" + GasList(o.gases) + ") has a value";
        return out;
    }
    // A draw searches where its best can lie (not with the MAAT window, whose
    // refinement starts in each of its valleys).
    const bool reached =
        o.reach && o.bestOnly && o.reach->cases == N && !grid.layout->plan.grid->MaatInUse;
    out.cases = reached ? SearchDraw(out.fitted, grid, o, *o.reach, search)
                        : SearchCases(out.fitted, grid, o, search, everyCase, parts);
    if (!out.cases.found) r.error = row + ": " + OverflowingGas(out.fitted, grid);
    return out;
}

void AddCaseTerms(DrawReach& reach, const Fitted& f, const SampleGrid& grid, const StudyOptions& o,
                  std::uint64_t memory) {
    const ModelInfo& model = InfoOf(o.model);
    if (!model.fit.termCount || f.n == 0) return;
    const std::size_t count = model.fit.termCount(f);
    // At most 64 MiB, or a quarter of the memory left: the cases searched first.
    const std::uint64_t bytes = std::min<std::uint64_t>(std::uint64_t{64} << 20, memory / 4);
    const std::size_t cases = std::min<std::size_t>(
        reach.withMisfit, static_cast<std::size_t>(
                              bytes / ((count + static_cast<std::size_t>(f.n)) * sizeof(double))));
    const auto n = static_cast<std::size_t>(f.n);
    reach.terms.resize(cases * count);
    reach.conc.resize(cases * n);
    const auto& els = grid.layout->plan.elevations;
    // Worked out over the threads, a part of the cases each.
    constexpr std::size_t kPerPart = 4096;
    const std::size_t parts = (cases + kPerPart - 1) / kPerPart;
    RunItems(parts, PartCount(static_cast<std::int64_t>(cases), kPerPart), [&](std::size_t p) {
        for (std::size_t i = p * kPerPart; i < std::min(cases, (p + 1) * kPerPart); ++i) {
            const DrawReach::Case& at = reach.order[i];
            const std::size_t t = at.k - static_cast<std::size_t>(els[at.e].first);
            const std::array<double, GasCount> C = CaseConc(f, grid, at.e, t);
            std::copy_n(C.begin(), n, reach.conc.begin() + static_cast<std::ptrdiff_t>(i * n));
            model.fit.fillTerms(f, C.data(), reach.terms.data() + i * count);
        }
    });
    reach.termCount = count;
    reach.termCases = cases;
    reach.termN = f.n;
    reach.termGas = f.gas;
    reach.termZ = f.z;
    reach.termAMax = f.aMax;
}

namespace {

// The refinement of a searched sample: the continuous best from the grid's, its
// ranges, the result and what the gases say beyond it.
void Refine(StudyResult& r, const Sample&, const Values& v, const SampleGrid& grid,
            const SampleSearch& found, const StudyOptions& o) {
    const Fitted& f = found.fitted;
    const CasePass& cases = found.cases;
    const Domain d = DomainOf(grid);
    const MisfitSurface model(f, v.density, v.chloride, d, o);
    // The best case's misfit summed term by term (the search's sums may lose the
    // last digits of a small misfit).
    const Point gridCase = cases.bestCase;
    Point best = model.Best(model.At(gridCase.T, gridCase.E));
    // Another valley may hold a lower least than the best case's where the domain
    // is the MAAT window's band, whose edges the grid's cases need not reach and
    // which the 0 °C floor joins to a strip of its own; on the grid's rectangle
    // the refinement follows the best case's valley to its least.
    if (d.maat)
        for (const Point& start : StartPoints(grid, cases, d, model)) {
            if (start.T == gridCase.T && start.E == gridCase.E) continue;
            const Point p = model.Best(model.At(start.T, start.E));
            if (p.chi2 < best.chi2) best = p;
        }
    Ranges ranges{{best.T, best.T}, {best.E, best.E}, {best.A, best.A}, {best.second, best.second}};
    if (!o.bestOnly) ranges = model.RangesOf(best, SeedsOf(grid, cases, best.chi2 + 1));
    FillResult(r, best, ranges, d, f, o);
    SolubilityFlags(r, v, o);
    // A draw's spread is the draws' own.
    GasesBeyond(r, v, best, o, o.bestOnly ? std::nullopt : ModelSpreads(v, f, best, ranges, d, o));
    if (o.prior) AddPosterior(r, grid, cases, d, model, o);
    r.caseNo = static_cast<CaseNumber>(NearestCase(grid, best) + 1);
    ToTableUnit(r, f.aScale);
}

} // namespace

StudyResult FitSample(const Sample& s, const Values& v, const SampleGrid& grid,
                      const StudyOptions& o, RunControl* control, std::vector<double>* perCase) {
    // Every sample's fit answers a cancel, however few cases its search counts.
    if (control) control->CheckCancelled();
    const auto N = static_cast<std::size_t>(grid.layout->plan.Cases());
    const std::uint64_t passWork = SampleWork(N, o.model) / 2;
    // The fit needs every case's misfit for the cases it returns and for the
    // posterior; otherwise the best case and those within 1 of it.
    SampleSearch found = SearchSample(s, v, grid, o, control, perCase || o.prior);
    StudyResult& r = found.result;
    if (!found.cases.ran) return r;
    const Fitted& f = found.fitted;
    const CasePass& cases = found.cases;
    PassProgress refine(control, passWork, 1);
    if (perCase) *perCase = cases.chi2;
    if (!cases.found) return r;
    const std::string row = "row " + std::to_string(s.row);
    try {
        Refine(r, s, v, grid, found, o);
    } catch (const std::runtime_error& e) {
        // A search that cannot go on (a root finder's bracket lost to rounding): the
        // sample's error row says so; a cancel or a lack of memory goes on up.
        StudyResult failed;
        failed.sample = r.sample;
        failed.model = r.model;
        failed.error = row + ": the fit could not be completed (" + e.what() + ")";
        return failed;
    }
    if (!AllFinite(r)) {
        StudyResult e;
        e.sample = r.sample;
        e.error = row + ": " + OverflowingGas(f, grid);
        return e;
    }
    return r;
}

} // namespace temra::study
