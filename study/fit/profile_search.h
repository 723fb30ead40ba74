// The valley of a misfit surface over temperature and elevation: its least near
// a seed, the profile of T, and the 1-sigma ranges of T and E (the limits of
// chi2 <= chi2min + 1), within a domain (study/fit/misfit_surface.h). One sample's
// continuous model is such a surface, and so is the sum of the members of a
// group that share their recharge (study/uncertainty/ensemble.h).
//
// A surface gives a slice at a temperature (what its misfit at that temperature
// is computed from, made once) and the misfit of a slice at an elevation:
//   typename Surface::Slice          with a member T
//   Slice Surface::SliceAt(double T) const
//   double Surface::Chi2(const Slice& slice, double E) const
#pragma once

#include "study/fit/misfit_surface.h"
#include "study/models/minimise.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace temra::study {

inline Interval Meet(Interval a, Interval b) {
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

template <typename Surface> class ProfileSearch {
  public:
    using Slice = typename Surface::Slice;
    struct Found {
        double T, E, value;
    };
    static constexpr double kSteep = 1e6; // the penalty's slope outside a region, per unit of chi2

    ProfileSearch(const Domain& domain, const Surface& surface) : d_(domain), s_(surface) {}

    // The least of value(slice, eBox, E) over a box of cells around `seed`: T over
    // the box's temperatures, and value() searches the box's elevations (giving
    // the elevation it chose). A side of the box the least lies on is moved out,
    // twice as far each time, until the least lies inside the box or on the
    // domain's end: a long valley is followed to its end.
    template <typename Fn>
    Found Around(const Point& seed, bool boxE, Fn&& value, const Interval* tSpan = nullptr,
                 const Interval* eSpan = nullptr) const {
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
                const double v = value(s_.SliceAt(T), eBox, E);
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

    // The least of the surface near `seed`.
    Found Least(const Point& seed) const {
        return Around(seed, true, [&](const Slice& s, const Interval& eBox, double& E) {
            const Interval eb = Meet(d_.E(s.T), eBox);
            if (eb.Empty()) return kHuge;
            const Min1 m = MinimiseOn([&](double e) { return s_.Chi2(s, e); }, eb.lo, eb.hi);
            E = m.x;
            return m.fx;
        });
    }

    // The profile of T: the least misfit over the elevations at T.
    double ProfileT(double T, double hintE) const {
        const Slice s = s_.SliceAt(T);
        const Interval eb = d_.E(T);
        if (eb.Empty()) return kHuge;
        auto chi2 = [&](double E) { return s_.Chi2(s, E); };
        const double hinted = chi2(std::clamp(hintE, eb.lo, eb.hi));
        return std::min(hinted, MinimiseOn(chi2, eb.lo, eb.hi).fx);
    }

    // The highest elevation (or, with `high` false, the lowest, negated) at the
    // slice's temperature where chi2 <= target. Outside the region: the best
    // elevation there less a steep penalty, so that a maximiser is led back into it.
    double ExtremeE(const Slice& s, double target, bool high, bool& cut) const {
        cut = false;
        const Interval eb = d_.E(s.T);
        if (eb.Empty()) return -kHuge;
        auto excess = [&](double E) { return s_.Chi2(s, E) - target; };
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

    // T: the profile of T walked out from the region's furthest cases, a step at
    // a time, then its crossing of the target. A limit at the domain's end cuts the
    // range (r.cutT at the grid's end, r.cutWindow on the MAAT window's edge).
    Interval RangeOfT(const Point& best, const Point& low, const Point& high, Ranges& r) const {
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
                    (d_.GridEndT(in) ? r.cutT : r.cutWindow) = true;
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
    // range of T around the seed that reaches furthest; a limit at the domain's end
    // cuts it (r.cutE at the grid's end, r.cutWindow on the MAAT window's edge).
    Interval RangeOfE(const Point& best, const Point& low, const Point& high, const Interval& T,
                      Ranges& r) const {
        if (!d_.eFree) return {d_.e0, d_.e0};
        const double target = best.chi2 + 1;
        Interval E;
        for (const bool up : {false, true}) {
            const Found m = Around(
                up ? high : low, false,
                [&](const Slice& s, const Interval&, double&) {
                    bool atEnd = false;
                    return -ExtremeE(s, target, up, atEnd);
                },
                &T, nullptr);
            bool atEnd = false;
            const double v = ExtremeE(s_.SliceAt(m.T), target, up, atEnd);
            (up ? E.hi : E.lo) = up ? v : -v;
            if (atEnd) (d_.GridEndE(up ? v : -v) ? r.cutE : r.cutWindow) = true;
        }
        return E;
    }

  private:
    const Domain& d_;
    const Surface& s_;
};

} // namespace temra::study
