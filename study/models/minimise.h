// The one-dimensional searches the study's continuous fit is made of: Brent's
// method for a least value on an interval and TOMS 748 for a crossing of zero,
// both from Boost.Math.
#pragma once

#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/roots.hpp>

#include <cstdint>
#include <stdexcept>

namespace temra::study {

constexpr double kHuge = 1e300;       // a misfit where the domain has no point
constexpr int kBits = 20;             // Brent's tolerance: about 2e-6 of the abscissa
constexpr std::uintmax_t kIter = 200; // iterations of Brent's method or TOMS 748

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
// end of the final bracket on the inside. Where TOMS 748 gives up (a bracket lost
// to rounding: it throws), bisection finds the crossing instead.
template <typename Fn> double Crossing(Fn&& fn, double in, double out, double fin, double fout) {
    if (!(fin <= 0) || !(fout > 0)) return in; // no crossing between them: the inside end
    std::uintmax_t iterations = kIter;
    const boost::math::tools::eps_tolerance<double> tolerance(40);
    try {
        if (in < out) {
            const auto r =
                boost::math::tools::toms748_solve(fn, in, out, fin, fout, tolerance, iterations);
            return r.first;
        }
        const auto r =
            boost::math::tools::toms748_solve(fn, out, in, fout, fin, tolerance, iterations);
        return r.second;
    } catch (const std::runtime_error&) {
        for (int i = 0; i < 200 && in != out; ++i) {
            const double mid = in + (out - in) / 2;
            if (mid == in || mid == out) break;
            (fn(mid) <= 0 ? in : out) = mid;
        }
        return in;
    }
}

} // namespace temra::study
