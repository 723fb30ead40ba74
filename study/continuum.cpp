#include "study/continuum.h"

#include "core/fields.h"
#include "core/solubility_model.h"

#include "study/minimise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace temra::study {

namespace {

constexpr double kSteep = 1e6; // the penalty's slope outside a region, per unit of chi2

Interval Meet(Interval a, Interval b) {
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

} // namespace

Excess BestExcess(const Fitted& f, const double* C, double T, const StudyOptions& o, int bits) {
    return InfoOf(o.model).fit.best(f, C, T, o, bits);
}

Interval Domain::TAt(double E) const {
    if (!tFree) return {t0, t0};
    if (!maat) return {0, tMax};
    // The grid's window: MAAT - 3 to MAAT + 3, floored at 0, cut to the highest.
    const double Tm = (E - intercept) / slope;
    const double hi = std::max(0.0, std::min(tMax, Tm + 3));
    return {std::min(std::max(0.0, Tm - 3), hi), hi};
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
    keep(0, p.T, extreme[0].T, true);
    keep(1, p.T, extreme[1].T, false);
    keep(2, p.E, extreme[2].E, true);
    keep(3, p.E, extreme[3].E, false);
    keep(4, p.A, extreme[4].A, true);
    keep(5, p.A, extreme[5].A, false);
    keep(6, p.second, extreme[6].second, true);
    keep(7, p.second, extreme[7].second, false);
}

struct Continuum::Factors {
    double T = 0;
    TemperatureFactors factors;
};

Continuum::Continuum(const Fitted& fitted, float density, double chloride, const Domain& domain,
                     const StudyOptions& options)
    : f_(fitted), density_(density), chloride_(chloride), d_(domain), o_(options),
      model_(InfoOf(options.model)) {}

Continuum::Factors Continuum::FactorsOf(double T) const {
    return {T, FactorsAt(T, density_, chloride_, fields_, f_.mask)};
}

std::array<double, GasCount> Continuum::ConcAt(const Factors& f, double E) const {
    const double P = AirPressureAt(E, elevField_);
    std::array<double, GasCount> C{};
    for (int j = 0; j < f_.n; ++j) {
        const std::size_t g = f_.gas[static_cast<std::size_t>(j)];
        C[static_cast<std::size_t>(j)] = EquilConcOf(f.factors.SX[g], P, f.factors.VapourPressure);
    }
    return C;
}

Excess Continuum::ExcessAt(const Factors& f, double E) const {
    const std::array<double, GasCount> C = ConcAt(f, E);
    return model_.fit.best(f_, C.data(), f.T, o_, kBits);
}

Point Continuum::At(double T, double E) const {
    const Excess e = ExcessAt(FactorsOf(T), E);
    return {T, E, e.chi2, e.A, e.second};
}

// The least of value(factors, eBox) over a box of cells around `seed`: T over
// the box's temperatures, and value() searches the box's elevations (giving the
// elevation it chose). A side of the box the least lies on is moved out, twice
// as far each time, until the least lies inside the box or on the domain's end:
// a long valley is followed to its end.
template <typename Fn>
Continuum::Found Continuum::Around(const Point& seed, bool boxE, Fn&& value, const Interval* tSpan,
                                   const Interval* eSpan) const {
    // Cells below and above in T, then in E: one, or as many as reach the spans.
    auto cells = [](double from, double to, double step) {
        return std::max(1.0, std::ceil(std::fabs(to - from) / step) + 1);
    };
    std::array<double, 4> reach{1, 1, 1, 1};
    if (tSpan)
        reach = {cells(seed.T, tSpan->lo, d_.tStep), cells(seed.T, tSpan->hi, d_.tStep), 1, 1};
    if (eSpan) {
        reach[2] = cells(seed.E, eSpan->lo, d_.eStep);
        reach[3] = cells(seed.E, eSpan->hi, d_.eStep);
    }
    Found best{seed.T, seed.E, kHuge};
    for (int round = 0; round < 64; ++round) {
        const Interval tBox{seed.T - reach[0] * d_.tStep, seed.T + reach[1] * d_.tStep};
        const Interval eBox{seed.E - reach[2] * d_.eStep, seed.E + reach[3] * d_.eStep};
        const Interval tb = Meet(d_.T(), tBox);
        if (tb.Empty()) break;
        auto at = [&](double T, double* argE) {
            double E = seed.E;
            const double v = value(FactorsOf(T), eBox, E);
            if (argE) *argE = E;
            return v;
        };
        const Min1 t = MinimiseOn([&](double T) { return at(T, nullptr); }, tb.lo, tb.hi);
        double E = seed.E;
        const double v = at(t.x, &E);
        if (v < best.value) best = {t.x, E, v};
        const double tolT = 1e-6 * d_.tStep, tolE = 1e-6 * d_.eStep;
        const Interval eDomain = d_.E(t.x);
        const std::array<bool, 4> onSide{
            d_.tFree && t.x <= tBox.lo + tolT && tBox.lo > d_.T().lo,
            d_.tFree && t.x >= tBox.hi - tolT && tBox.hi < d_.T().hi,
            boxE && d_.eFree && E <= eBox.lo + tolE && eBox.lo > eDomain.lo,
            boxE && d_.eFree && E >= eBox.hi - tolE && eBox.hi < eDomain.hi};
        if (std::none_of(onSide.begin(), onSide.end(), [](bool b) { return b; })) break;
        for (std::size_t i = 0; i < 4; ++i)
            if (onSide[i]) reach[i] *= 2;
    }
    return best;
}

Point Continuum::Best(const Point& grid) const {
    const Found f = Around(grid, true, [&](const Factors& f, const Interval& eBox, double& E) {
        const Interval eb = Meet(d_.E(f.T), eBox);
        if (eb.Empty()) return kHuge;
        const Min1 m = MinimiseOn([&](double e) { return ExcessAt(f, e).chi2; }, eb.lo, eb.hi);
        E = m.x;
        return m.fx;
    });
    const Point p = At(f.T, f.E);
    return p.chi2 <= grid.chi2 ? p : grid;
}

double Continuum::ProfileT(double T, double hintE) const {
    const Factors f = FactorsOf(T);
    const Interval eb = d_.E(T);
    if (eb.Empty()) return kHuge;
    auto chi2 = [&](double E) { return ExcessAt(f, E).chi2; };
    const double hinted = chi2(std::clamp(hintE, eb.lo, eb.hi));
    return std::min(hinted, MinimiseOn(chi2, eb.lo, eb.hi).fx);
}

// The highest elevation (or, with `high` false, the lowest, negated) at the
// factors' temperature where chi2 <= target. Outside the region: the best
// elevation there less a steep penalty, so that a maximiser is led back into it.
double Continuum::ExtremeE(const Factors& f, double target, bool high, bool& cut) const {
    cut = false;
    const Interval eb = d_.E(f.T);
    if (eb.Empty()) return -kHuge;
    auto excess = [&](double E) { return ExcessAt(f, E).chi2 - target; };
    const Min1 m = MinimiseOn(excess, eb.lo, eb.hi);
    const double sign = high ? 1 : -1;
    if (m.fx > 0) return sign * m.x - kSteep * (d_.eMax + 1) * m.fx;
    const double end = high ? eb.hi : eb.lo;
    const double atEnd = excess(end);
    if (atEnd <= 0) {
        cut = true;
        return sign * end;
    }
    return sign * Crossing(excess, m.x, end, m.fx, atEnd);
}

// One extreme of the excess air at (T, E) where chi2 <= target, as a value to
// make greatest (ValueOf). Outside the region: the best excess air's value less
// a steep penalty.
double Continuum::ExtremeAF(const Factors& f, double E, double target, int which) const {
    const std::array<double, GasCount> C = ConcAt(f, E);
    const Excess best = model_.fit.best(f_, C.data(), f.T, o_, kBits);
    const std::optional<double> extreme =
        model_.fit.extreme(f_, C.data(), f.T, best, o_, target, which);
    if (extreme) return *extreme;
    // The best excess air lies in the region when the search missed it.
    return ValueOf(which, best.A, best.second) -
           kSteep * model_.fit.penaltyScale(best, o_, which) * std::max(0.0, best.chi2 - target);
}

// T: the profile of T walked out from the region's furthest cases, a step at a
// time, then its crossing of the target.
Interval Continuum::RangeOfT(const Point& best, const Point& low, const Point& high,
                             bool& cut) const {
    if (!d_.tFree) return {d_.t0, d_.t0};
    const double target = best.chi2 + 1;
    const Interval domain = d_.T();
    auto walk = [&](Point from, double direction) {
        double in = from.T, fin = ProfileT(in, from.E) - target;
        if (fin > 0) {
            in = best.T;
            from = best;
            fin = best.chi2 - target;
        }
        for (int step = 0; step < 1000000; ++step) {
            const double out = std::clamp(in + direction * d_.tStep, domain.lo, domain.hi);
            if (out == in) {
                cut = true;
                return in;
            }
            const double fout = ProfileT(out, from.E) - target;
            if (fout > 0)
                return Crossing([&](double T) { return ProfileT(T, from.E) - target; }, in, out,
                                fin, fout);
            in = out;
            fin = fout;
        }
        return in;
    };
    return {walk(low, -1), walk(high, 1)};
}

// E: the region's highest and lowest elevation over the temperatures of the
// range of T around the seed that reaches furthest.
Interval Continuum::RangeOfE(const Point& best, const Point& low, const Point& high,
                             const Interval& T, bool& cut) const {
    if (!d_.eFree) return {d_.e0, d_.e0};
    const double target = best.chi2 + 1;
    Interval E;
    for (const bool up : {false, true}) {
        const Found m = Around(
            up ? high : low, false,
            [&](const Factors& f, const Interval&, double&) {
                bool atEnd = false;
                return -ExtremeE(f, target, up, atEnd);
            },
            &T, nullptr);
        bool atEnd = false;
        const double v = ExtremeE(FactorsOf(m.T), target, up, atEnd);
        (up ? E.hi : E.lo) = up ? v : -v;
        cut = cut || atEnd;
    }
    return E;
}

// An extreme of A or F (ValueOf) over (T, E) within the ranges, around the seed
// that reaches furthest.
double Continuum::ExtremeOfExcess(const Point& best, const Point& seed, const Interval& T,
                                  const Interval& E, int which) const {
    const double target = best.chi2 + 1;
    const Found m = Around(
        seed, true,
        [&](const Factors& f, const Interval& eBox, double& atE) {
            const Interval eb = Meet(d_.E(f.T), eBox);
            if (eb.Empty()) return kHuge;
            const Min1 inner =
                MinimiseOn([&](double e) { return -ExtremeAF(f, e, target, which); }, eb.lo, eb.hi);
            atE = inner.x;
            return inner.fx;
        },
        &T, &E);
    return -m.value;
}

Ranges Continuum::RangesOf(const Point& best, const RegionSeeds& seeds) const {
    auto seed = [&](std::size_t i) { return seeds.found ? seeds.extreme[i] : best; };
    auto holdingBest = [](Interval range, double value) {
        return Interval{std::min(range.lo, value), std::max(range.hi, value)};
    };
    Ranges r;
    r.T = holdingBest(RangeOfT(best, seed(0), seed(1), r.cutT), best.T);
    r.E = holdingBest(RangeOfE(best, seed(2), seed(3), r.T, r.cutE), best.E);
    r.A = holdingBest(
        {-ExtremeOfExcess(best, seed(4), r.T, r.E, 0), ExtremeOfExcess(best, seed(5), r.T, r.E, 1)},
        best.A);
    if (model_.HasSecond())
        r.second = holdingBest({-ExtremeOfExcess(best, seed(6), r.T, r.E, 2),
                                ExtremeOfExcess(best, seed(7), r.T, r.E, 3)},
                               best.second);
    return r;
}

} // namespace temra::study
