#include "study/continuum.h"

#include "core/fields.h"
#include "core/solubility_model.h"

#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/roots.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace temra::study {

namespace {

constexpr double kHuge = 1e300;           // a misfit where the domain has no point
constexpr int kBits = 20;                 // Brent's tolerance: about 2e-6 of the abscissa
constexpr std::uintmax_t kIter = 200;     // iterations of Brent's method or TOMS 748
constexpr std::uintmax_t kCoarseIter = 6; // the grid's search: B between scanned neighbours
constexpr int kScanB = 9;                 // CE: B values scanned before Brent's method
constexpr double kSteep = 1e6;            // the penalty's slope outside a region, per unit of chi2

struct Min1 {
    double x = 0, fx = kHuge;
};

// The least of fn on [lo, hi] by Brent's method; the ends are tried as they are,
// so that a minimum at a bound lies exactly on it.
template <typename Fn> Min1 MinimiseOn(Fn&& fn, double lo, double hi, int bits = kBits) {
    if (!(hi > lo)) return {lo, fn(lo)};
    std::uintmax_t iterations = kIter;
    const auto r = boost::math::tools::brent_find_minima(fn, lo, hi, bits, iterations);
    Min1 best{r.first, r.second};
    const double atLo = fn(lo), atHi = fn(hi);
    if (atLo <= best.fx) best = {lo, atLo};
    if (atHi < best.fx) best = {hi, atHi};
    return best;
}

// Where fn crosses 0 between `in` (fn <= 0) and `out` (fn > 0), by TOMS 748; the
// end of the final bracket on the inside.
template <typename Fn> double Crossing(Fn&& fn, double in, double out, double fin, double fout) {
    std::uintmax_t iterations = kIter;
    const boost::math::tools::eps_tolerance<double> tolerance(40);
    if (in < out) {
        const auto r =
            boost::math::tools::toms748_solve(fn, in, out, fin, fout, tolerance, iterations);
        return r.first;
    }
    const auto r = boost::math::tools::toms748_solve(fn, out, in, fout, fin, tolerance, iterations);
    return r.second;
}

Interval Meet(Interval a, Interval b) {
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

// CE at fixed B: with w_i = z_i / (1 + B z_i / C_i) the model is C + t w, and
// chi2(t) = c - 2 p t + q t^2.
struct CeParts {
    double c = 0, p = 0, q = 0;
};

CeParts PartsAt(const Fitted& f, const double* C, double B) {
    CeParts s;
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double d = f.m[i] - C[j];
        const double w = f.z[i] * C[j] / (C[j] + B * f.z[i]);
        s.c += f.w[i] * d * d;
        s.p += f.w[i] * d * w;
        s.q += f.w[i] * w * w;
    }
    return s;
}

double CeChi2(const Fitted& f, const double* C, double B, double t) {
    double chi2 = 0;
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double r = f.m[i] - C[j] - t * f.z[i] / (1 + B * f.z[i] / C[j]);
        chi2 += f.w[i] * r * r;
    }
    return chi2;
}

// The least chi2 at B and its t, cut to [0, Amax - B].
double CeAtB(const Fitted& f, const double* C, double B, double Amax, double& t) {
    const CeParts s = PartsAt(f, C, B);
    t = std::clamp(s.p / s.q, 0.0, std::max(0.0, Amax - B));
    return s.c - t * (2 * s.p - s.q * t);
}

// The best of fn over B in [0, Amax]: a scan, then Brent's method between the
// scanned neighbours of the best (to `bits` bits of B).
template <typename Fn> Min1 OverB(Fn&& fn, double Amax, int bits = kBits, int scan = kScanB) {
    Min1 best;
    int bestJ = 0;
    for (int j = 0; j < scan; ++j) {
        const double B = Amax * j / (scan - 1);
        const double v = fn(B);
        if (v < best.fx) {
            best = {B, v};
            bestJ = j;
        }
    }
    const double lo = Amax * std::max(0, bestJ - 1) / (scan - 1);
    const double hi = Amax * std::min(scan - 1, bestJ + 1) / (scan - 1);
    // A coarse B (the grid's search) is had in a few of Brent's steps.
    std::uintmax_t iterations = bits < kBits ? kCoarseIter : kIter;
    const auto r = boost::math::tools::brent_find_minima(fn, lo, hi, bits, iterations);
    return r.second < best.fx ? Min1{r.first, r.second} : best;
}

} // namespace

Excess BestExcess(const Fitted& f, const double* C, Model model, double Amax, int bits) {
    Excess e;
    if (model == Model::UA) {
        double Sdz = 0, Sz2 = 0;
        for (int j = 0; j < f.n; ++j) {
            const auto i = static_cast<std::size_t>(j);
            Sdz += f.w[i] * (f.m[i] - C[j]) * f.z[i];
            Sz2 += f.w[i] * f.z[i] * f.z[i];
        }
        e.A = std::max(0.0, Sdz / Sz2);
        for (int j = 0; j < f.n; ++j) {
            const auto i = static_cast<std::size_t>(j);
            const double r = f.m[i] - C[j] - e.A * f.z[i];
            e.chi2 += f.w[i] * r * r;
        }
        return e;
    }
    double t = 0;
    const Min1 b = OverB([&](double B) { return CeAtB(f, C, B, Amax, t); }, Amax, bits);
    CeAtB(f, C, b.x, Amax, t);
    e.A = b.x + t;
    e.F = e.A > 0 ? b.x / e.A : 0.0;
    e.chi2 = CeChi2(f, C, b.x, t);
    return e;
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
    keep(6, p.F, extreme[6].F, true);
    keep(7, p.F, extreme[7].F, false);
}

struct Continuum::Factors {
    double T = 0;
    TemperatureFactors factors;
};

Continuum::Continuum(const Fitted& fitted, float density, double chloride, const Domain& domain,
                     Model model, double Amax)
    : f_(fitted), density_(density), chloride_(chloride), d_(domain), model_(model), Amax_(Amax) {}

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
    return BestExcess(f_, C.data(), model_, Amax_);
}

Point Continuum::At(double T, double E) const {
    const Excess e = ExcessAt(FactorsOf(T), E);
    return {T, E, e.chi2, e.A, e.F};
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

namespace {

// The value of an extreme of the excess air to make greatest: 0 the lowest A
// (negated), 1 the highest A, 2 the lowest F (negated), 3 the highest F.
double ValueOf(int which, double A, double F) {
    switch (which) {
    case 0:
        return -A;
    case 1:
        return A;
    case 2:
        return -F;
    default:
        return F;
    }
}

// UA at the fitted gases' equilibrium C: the A where chi2 <= target lie between
// the roots of the quadratic chi2(A), cut at 0. Empty when chi2 stays above.
std::optional<Interval> UaSpan(const Fitted& f, const double* C, double target) {
    double Sdz = 0, Sd2 = 0, Sz2 = 0;
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double d = f.m[i] - C[i];
        Sdz += f.w[i] * d * f.z[i];
        Sd2 += f.w[i] * d * d;
        Sz2 += f.w[i] * f.z[i] * f.z[i];
    }
    const double disc = Sdz * Sdz - Sz2 * (Sd2 - target);
    if (disc < 0) return std::nullopt;
    const double root = std::sqrt(disc);
    const double hi = (Sdz + root) / Sz2;
    if (hi < 0) return std::nullopt;
    return Interval{std::max(0.0, (Sdz - root) / Sz2), hi};
}

// CE at the fitted gases' equilibrium C: at each B the t where chi2 <= target
// form an interval; A = B + t and F = B / (B + t) follow. The B where the
// interval is not empty form an interval around the best B, whose ends are where
// the least chi2 at B crosses the target; the extreme `which` is made greatest
// within it.
double CeExtreme(const Fitted& f, const double* C, const Excess& best, double Amax, double target,
                 int which) {
    auto margin = [&](double B) {
        double t = 0;
        return CeAtB(f, C, B, Amax, t) - target;
    };
    const double Bbest = best.A * best.F;
    const double mBest = std::min(0.0, margin(Bbest));
    const double m0 = margin(0), mMax = margin(Amax);
    const double Blo = m0 <= 0 ? 0.0 : Crossing(margin, Bbest, 0.0, mBest, m0);
    const double Bhi = mMax <= 0 ? Amax : Crossing(margin, Bbest, Amax, mBest, mMax);
    auto quantity = [&](double B) {
        const CeParts s = PartsAt(f, C, B);
        const double root = std::sqrt(std::max(0.0, s.p * s.p - s.q * (s.c - target)));
        const double tMax = std::max(0.0, Amax - B);
        double t1 = std::clamp((s.p - root) / s.q, 0.0, tMax);
        double t2 = std::clamp((s.p + root) / s.q, 0.0, tMax);
        if (t1 > t2) t1 = t2 = std::clamp(s.p / s.q, 0.0, tMax);
        auto F = [B](double t) { return B + t > 0 ? B / (B + t) : 0.0; };
        // The lowest A and highest F take the least t, the others the most.
        const double t = which == 0 || which == 3 ? t1 : t2;
        return ValueOf(which, B + t, F(t));
    };
    return -MinimiseOn([&](double B) { return -quantity(B); }, Blo, Bhi).fx;
}

} // namespace

// One extreme of the excess air at (T, E) where chi2 <= target, as a value to
// make greatest (ValueOf). Outside the region: the best excess air's value less
// a steep penalty.
double Continuum::ExtremeAF(const Factors& f, double E, double target, int which) const {
    const std::array<double, GasCount> C = ConcAt(f, E);
    const Excess best = BestExcess(f_, C.data(), model_, Amax_);
    auto outside = [&] {
        const double scale = model_ == Model::CE ? Amax_ : std::max(0.01, 10 * best.A);
        // The best excess air lies in the region when the search over B missed it.
        return ValueOf(which, best.A, best.F) - kSteep * scale * std::max(0.0, best.chi2 - target);
    };
    if (model_ == Model::UA) {
        const std::optional<Interval> span = UaSpan(f_, C.data(), target);
        if (!span) return outside();
        return which == 0 ? -span->lo : span->hi;
    }
    if (best.chi2 > target) return outside();
    return CeExtreme(f_, C.data(), best, Amax_, target, which);
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
    if (model_ == Model::CE)
        r.F = holdingBest({-ExtremeOfExcess(best, seed(6), r.T, r.E, 2),
                           ExtremeOfExcess(best, seed(7), r.T, r.E, 3)},
                          best.F);
    return r;
}

} // namespace temra::study
