#include "study/fit/misfit_surface.h"

#include "core/fields.h"
#include "core/solubility_sets.h"

#include "study/fit/profile_search.h"
#include "study/models/minimise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace temra::study {

Excess BestExcess(const Fitted& f, const double* C, const Recharge& at, const StudyOptions& o,
                  int bits) {
    return InfoOf(o.model).fit.best(f, C, at, o, bits);
}

Interval Domain::TAt(double E) const {
    if (!tFree) return {t0, t0};
    if (!maat) return {0, tMax};
    // The grid's window: MAAT - 3 to MAAT + 3, floored at 0, cut to the highest.
    const double Tm = (E - intercept) / slope;
    const double hi = std::max(0.0, std::min(tMax, Tm + 3));
    return {std::min(std::max(0.0, Tm - 3), hi), hi};
}

bool Domain::GridEndT(double T) const {
    const double tol = 1e-6 * tStep;
    return T <= tol || T >= tMax - tol;
}

bool Domain::GridEndE(double E) const {
    const double tol = 1e-6 * eStep;
    return E <= tol || E >= eMax - tol;
}

bool Domain::OnWindowEdge(double T, double E) const {
    if (!maat || !tFree || GridEndT(T)) return false;
    return std::fabs(T - (E - intercept) / slope) >= 3 - 1e-6 * tStep;
}

Interval Domain::T() const {
    if (!tFree) return {t0, t0};
    if (!maat) return {0, tMax};
    if (!eFree) return TAt(e0);
    const Interval a = TAt(0), b = TAt(eMax);
    return {std::min(a.lo, b.lo), std::max(a.hi, b.hi)};
}

Interval Domain::E(double T) const {
    if (!eFree) return {e0, e0};
    if (!maat) return {0, eMax};
    // The elevations whose window holds T: MAAT within 3 °C of T (any MAAT up to
    // 3 °C at 0 °C, where the window is floored).
    const double lo = T <= 0 ? -kHuge : T - 3, hi = T + 3;
    double e1 = slope * lo + intercept, e2 = slope * hi + intercept;
    if (e1 > e2) std::swap(e1, e2);
    return Meet({e1, e2}, {0, eMax});
}

void RegionSeeds::Add(const Point& p) {
    if (!found) {
        extreme.fill(p);
        found = true;
        return;
    }
    auto keep = [&](std::size_t i, double v, double current, bool low) {
        if (low ? v < current : v > current) extreme[i] = p;
    };
    keep(kLeastT, p.T, extreme[kLeastT].T, true);
    keep(kMostT, p.T, extreme[kMostT].T, false);
    keep(kLeastE, p.E, extreme[kLeastE].E, true);
    keep(kMostE, p.E, extreme[kMostE].E, false);
    keep(kLeastA, p.A, extreme[kLeastA].A, true);
    keep(kMostA, p.A, extreme[kMostA].A, false);
    keep(kLeastSecond, p.second, extreme[kLeastSecond].second, true);
    keep(kMostSecond, p.second, extreme[kMostSecond].second, false);
}

MisfitSurface::MisfitSurface(const Fitted& fitted, float density, double chloride,
                             const Domain& domain, const StudyOptions& options)
    : f_(fitted), density_(density), chloride_(chloride), d_(domain), o_(options),
      model_(InfoOf(options.model)) {}

MisfitSurface::Slice MisfitSurface::SliceAt(double T) const {
    return {T, SetFactorsAt(o_.solubility, T, density_, chloride_, fields_, f_.mask)};
}

double MisfitSurface::Chi2(const Slice& s, double E) const {
    return ExcessAt(s, E).chi2;
}

std::array<double, GasCount> MisfitSurface::ConcAt(const Slice& s, double P) const {
    std::array<double, GasCount> C{};
    for (int j = 0; j < f_.n; ++j) {
        const std::size_t g = f_.gas[static_cast<std::size_t>(j)];
        C[static_cast<std::size_t>(j)] = EquilConcOf(s.factors.SX[g], P, s.factors.VapourPressure);
    }
    return C;
}

Excess MisfitSurface::ExcessAt(const Slice& s, double E) const {
    const double P = AirPressureAt(E, elevField_);
    const std::array<double, GasCount> C = ConcAt(s, P);
    return model_.fit.best(f_, C.data(), {s.T, P}, o_, kBits);
}

Point MisfitSurface::At(double T, double E) const {
    const Excess e = ExcessAt(SliceAt(T), E);
    return {T, E, e.chi2, e.A, e.second};
}

AMixture MisfitSurface::MixtureAt(double T, double E) const {
    if (!model_.fit.integral) return {};
    const double P = AirPressureAt(E, elevField_);
    const std::array<double, GasCount> C = ConcAt(SliceAt(T), P);
    return model_.fit.integral(f_, C.data(), {T, P}, o_);
}

Ranges MisfitSurface::ExcessRangesAt(const Point& at) const {
    const Recharge where{at.T, AirPressureAt(at.E, elevField_)};
    const std::array<double, GasCount> C = ConcAt(SliceAt(at.T), where.P);
    const Excess best{at.chi2, at.A, at.second};
    auto extreme = [&](Extreme which, double value) {
        const std::optional<double> x =
            model_.fit.extreme(f_, C.data(), where, best, o_, at.chi2 + 1, which);
        return x ? (Least(which) ? -*x : *x) : value;
    };
    Ranges r;
    r.T = {at.T, at.T};
    r.E = {at.E, at.E};
    r.A = {std::min(at.A, extreme(Extreme::kLeastA, at.A)),
           std::max(at.A, extreme(Extreme::kMostA, at.A))};
    r.second = {at.second, at.second};
    if (model_.HasSecond())
        r.second = {std::min(at.second, extreme(Extreme::kLeastSecond, at.second)),
                    std::max(at.second, extreme(Extreme::kMostSecond, at.second))};
    return r;
}

Point MisfitSurface::Best(const Point& grid) const {
    const ProfileSearch<MisfitSurface> search(d_, *this);
    const auto f = search.Least(grid);
    const Point p = At(f.T, f.E);
    return p.chi2 <= grid.chi2 ? p : grid;
}

// One extreme of the excess air at (T, E) where chi2 <= target, as a value to
// make greatest (ValueOf). Outside the region: the best excess air's value less
// a steep penalty.
double MisfitSurface::ExtremeAF(const Slice& s, double E, double target, Extreme which) const {
    const Recharge at{s.T, AirPressureAt(E, elevField_)};
    const std::array<double, GasCount> C = ConcAt(s, at.P);
    const Excess best = model_.fit.best(f_, C.data(), at, o_, kBits);
    const std::optional<double> extreme =
        model_.fit.extreme(f_, C.data(), at, best, o_, target, which);
    if (extreme) return *extreme;
    // The best excess air lies in the region when the search missed it.
    return ValueOf(which, best.A, best.second) - ProfileSearch<MisfitSurface>::kSteep *
                                                     model_.fit.penaltyScale(f_, best, which) *
                                                     std::max(0.0, best.chi2 - target);
}

// An extreme of A or F (ValueOf) over (T, E) within the ranges, around the seed
// that reaches furthest.
double MisfitSurface::ExtremeOfExcess(const Point& best, const Point& seed, const Interval& T,
                                      const Interval& E, Extreme which) const {
    const double target = best.chi2 + 1;
    const ProfileSearch<MisfitSurface> search(d_, *this);
    const auto m = search.Around(
        seed, true,
        [&](const Slice& s, const Interval& eBox, double& atE) {
            const Interval eb = Meet(d_.E(s.T), eBox);
            if (eb.Empty()) return kHuge;
            const Min1 inner =
                MinimiseOn([&](double e) { return -ExtremeAF(s, e, target, which); }, eb.lo, eb.hi);
            atE = inner.x;
            return inner.fx;
        },
        &T, &E);
    return -m.value;
}

Ranges MisfitSurface::RangesOf(const Point& best, const RegionSeeds& seeds) const {
    auto seed = [&](std::size_t i) { return seeds.found ? seeds.extreme[i] : best; };
    auto holdingBest = [](Interval range, double value) {
        return Interval{std::min(range.lo, value), std::max(range.hi, value)};
    };
    const ProfileSearch<MisfitSurface> search(d_, *this);
    Ranges r;
    using S = RegionSeeds;
    r.T = holdingBest(search.RangeOfT(best, seed(S::kLeastT), seed(S::kMostT), r), best.T);
    r.E = holdingBest(search.RangeOfE(best, seed(S::kLeastE), seed(S::kMostE), r.T, r), best.E);
    r.A = holdingBest({-ExtremeOfExcess(best, seed(S::kLeastA), r.T, r.E, Extreme::kLeastA),
                       ExtremeOfExcess(best, seed(S::kMostA), r.T, r.E, Extreme::kMostA)},
                      best.A);
    if (model_.HasSecond())
        r.second = holdingBest(
            {-ExtremeOfExcess(best, seed(S::kLeastSecond), r.T, r.E, Extreme::kLeastSecond),
             ExtremeOfExcess(best, seed(S::kMostSecond), r.T, r.E, Extreme::kMostSecond)},
            best.second);
    return r;
}

} // namespace temra::study
