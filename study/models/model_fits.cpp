#include "study/models/model_fits.h"

#include "study/models/minimise.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace temra::study::fits {

namespace {

constexpr std::uintmax_t kCoarseIter = 6; // the grid's search: B between scanned neighbours
constexpr int kScanB = 9; // values of a searched parameter scanned before Brent's method

// ---- UA: unfractionated excess air, C_i = Ceq_i + A z_i, 0 <= A <= Amax ----------------
// The best A has a closed form; chi2(A) is a quadratic.

Excess UaBest(const Fitted& f, const double* C, const Recharge&, const StudyOptions&, int) {
    Excess e;
    double Sdz = 0, Sz2 = 0;
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        Sdz += f.w[i] * (f.m[i] - C[j]) * f.z[i];
        Sz2 += f.w[i] * f.z[i] * f.z[i];
    }
    e.A = std::clamp(Sdz / Sz2, 0.0, f.aMax);
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double r = f.m[i] - C[j] - e.A * f.z[i];
        e.chi2 += f.w[i] * r * r;
    }
    return e;
}

// The A where chi2 <= target lie between the roots of the quadratic chi2(A), cut
// to [0, Amax]; nothing when chi2 stays above.
std::optional<double> UaExtreme(const Fitted& f, const double* C, const Recharge&, const Excess&,
                                const StudyOptions&, double target, Extreme which) {
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
    const double hi = (Sdz + root) / Sz2, lo = (Sdz - root) / Sz2;
    const double aMax = f.aMax;
    if (hi < 0 || lo > aMax) return std::nullopt;
    return which == Extreme::kLeastA ? -std::max(0.0, lo) : std::min(hi, aMax);
}

double UaScale(const Fitted&, const Excess& best, Extreme) {
    return std::max(0.01, 10 * best.A);
}

double UaConc(double Ceq, double z, double, const Excess& x) {
    return Ceq + x.A * z;
}

// chi2(A) is a quadratic: A's distribution is one normal truncated to [0, Amax].
AMixture UaIntegral(const Fitted& f, const double* C, const Recharge&, const StudyOptions&) {
    double c = 0, p = 0, q = 0;
    for (int j = 0; j < f.n; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const double d = f.m[i] - C[j];
        c += f.w[i] * d * d;
        p += f.w[i] * d * f.z[i];
        q += f.w[i] * f.z[i] * f.z[i];
    }
    return {PieceOf(c, p, q, 0, f.aMax, 1)};
}

// A's distribution with a second parameter s in [lo, hi] integrated out: the
// pieces at nodes of s (piece(s, measure)), spread first over the whole range,
// then again over the part that holds the mass (the nodes within e^-20 of the
// heaviest, a node either side), until that part spans enough nodes to resolve
// it; each node weighs its share of the trapezoid rule.
template <typename Piece> AMixture OverSecond(double lo, double hi, Piece&& piece) {
    if (!(hi > lo)) return {piece(lo, 1.0)};
    constexpr int kStages = 4, kFirstNodes = 17, kNodes = 17, kResolved = 7;
    constexpr double kReach = 20;
    double a = lo, b = hi;
    AMixture pieces;
    for (int stage = 0; stage < kStages; ++stage) {
        const int n = stage == 0 ? kFirstNodes : kNodes;
        const double h = (b - a) / (n - 1);
        pieces.clear();
        double most = -std::numeric_limits<double>::infinity();
        for (int i = 0; i < n; ++i) {
            const double measure = i == 0 || i == n - 1 ? h / 2 : h;
            pieces.push_back(piece(a + h * i, measure));
            most = std::max(most, pieces.back().logWeight);
        }
        int first = n, last = -1;
        for (int i = 0; i < n; ++i)
            if (pieces[static_cast<std::size_t>(i)].logWeight >= most - kReach) {
                first = std::min(first, i);
                last = i;
            }
        if (last < 0 || last - first + 1 >= kResolved || stage == kStages - 1) break;
        const double na = std::max(lo, a + h * (first - 1)), nb = std::min(hi, a + h * (last + 1));
        a = na;
        b = nb;
    }
    return pieces;
}

// ---- CE: closed-system equilibration ----------------------------------------------------
//   C_i = Ceq_i + (1 - F) A z_i / (1 + F A z_i / Ceq_i), 0 <= A <= Amax, 0 <= F <= 1,
// taken as B = F A and t = (1 - F) A: at a fixed B, with w_i = z_i / (1 + B z_i /
// Ceq_i), the model is Ceq + t w and chi2(t) = c - 2 p t + q t^2, so the best t
// has a closed form and the fit is a search over B alone.

struct CeParts {
    double c = 0, p = 0, q = 0;
};

// A case's terms of the fit that do not depend on B, worked out once for the
// search over B: each fitted gas's weight w, w d (d = m - Ceq), z Ceq and Ceq,
// and c = sum w d^2. PartsAt sums the terms at B in gas order.
struct CeTerms {
    CeTerms(const Fitted& f, const double* C) : n(static_cast<std::size_t>(f.n)) {
        for (std::size_t i = 0; i < n; ++i) {
            const double d = f.m[i] - C[i];
            c += f.w[i] * d * d;
            w[i] = f.w[i];
            wd[i] = f.w[i] * d;
            zC[i] = f.z[i] * C[i];
            Ceq[i] = C[i];
            z[i] = f.z[i];
        }
    }
    std::size_t n;
    double c = 0;
    // Only the first n are set and read.
    std::array<double, GasCount> w, wd, zC, Ceq, z;
};

CeParts PartsAt(const CeTerms& k, double B) {
    CeParts s;
    s.c = k.c;
    for (std::size_t i = 0; i < k.n; ++i) {
        const double w = k.zC[i] / (k.Ceq[i] + B * k.z[i]);
        s.p += k.wd[i] * w;
        s.q += k.w[i] * w * w;
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
double CeAtB(const CeTerms& k, double B, double Amax, double& t) {
    const CeParts s = PartsAt(k, B);
    t = std::clamp(s.p / s.q, 0.0, std::max(0.0, Amax - B));
    return s.c - t * (2 * s.p - s.q * t);
}

// The least of a function of s over [lo, hi] scanned at kScanB points (`values`):
// every scanned point no higher than its neighbours brackets a minimum between
// them, and `refine(a, b, j, coarse)` finds it (`coarse`: in a few steps); the
// least of the scanned and the refined. A misfit may have a minimum of its own
// near each bound (a little fractionation with a little excess air, or much of
// both). The grid's search (`leastOnly`, whose best case the refinement sharpens)
// seeks the least scanned point's bracket, coarsely. The refinement seeks it
// fully, and every other bracket first coarsely, then fully where that already
// beats the least so far.
template <typename Refine>
Min1 LeastOfScan(const std::array<double, kScanB>& values, double lo, double hi, Refine&& refine,
                 bool leastOnly) {
    const double step = (hi - lo) / (kScanB - 1);
    auto at = [&](int j) { return lo + (hi - lo) * j / (kScanB - 1); };
    int least = 0;
    for (int j = 1; j < kScanB; ++j)
        if (values[static_cast<std::size_t>(j)] < values[static_cast<std::size_t>(least)])
            least = j;
    Min1 best{at(least), values[static_cast<std::size_t>(least)]};
    if (!std::isfinite(best.fx)) return best;
    auto bracket = [&](int j, bool coarse) {
        const double a = j == 0 ? lo : at(j) - step, b = j == kScanB - 1 ? hi : at(j) + step;
        const Min1 m = refine(a, b, j, coarse);
        if (m.fx < best.fx) best = m;
    };
    bracket(least, leastOnly);
    if (leastOnly) return best;
    for (int j = 0; j < kScanB; ++j) {
        const double v = values[static_cast<std::size_t>(j)];
        const bool belowLeft = j == 0 || v <= values[static_cast<std::size_t>(j) - 1];
        const bool belowRight = j == kScanB - 1 || v <= values[static_cast<std::size_t>(j) + 1];
        if (j == least || !belowLeft || !belowRight || !std::isfinite(v)) continue;
        const double before = best.fx;
        bracket(j, true);
        if (best.fx < before) bracket(j, false);
    }
    return best;
}

// The weights w = z / (1 + B z / Ceq) of the fitted gases at the kScanB values
// of B evenly over [0, Amax], gas by gas (`w[i * kScanB + j]`): they depend on
// the case, the gases' fractions in air and Amax alone, so that a sample's Monte
// Carlo draws share them.
void CeScanWeights(const CeTerms& k, double Amax, double* w) {
    std::array<double, kScanB> B{};
    for (int j = 0; j < kScanB; ++j)
        B[static_cast<std::size_t>(j)] = 0.0 + (Amax - 0.0) * j / (kScanB - 1);
    for (std::size_t i = 0; i < k.n; ++i)
        for (std::size_t j = 0; j < kScanB; ++j)
            w[i * kScanB + j] = k.zC[i] / (k.Ceq[i] + B[j] * k.z[i]);
}

// The scanned values of B, the least chi2 at each and its t, as CeAtB gives
// them, from the scan's weights: the gases run outside, so that the values of B
// are summed side by side with the same arithmetic.
struct CeScanned {
    std::array<double, kScanB> B, value, t; // each set by CeScanOf
};

CeScanned CeScanOf(const CeTerms& k, double Amax, const double* w) {
    std::array<double, kScanB> p{}, q{};
    for (std::size_t i = 0; i < k.n; ++i)
        for (std::size_t j = 0; j < kScanB; ++j) {
            const double wij = w[i * kScanB + j];
            p[j] += k.wd[i] * wij;
            q[j] += k.w[i] * wij * wij;
        }
    CeScanned s;
    for (std::size_t j = 0; j < kScanB; ++j) {
        s.B[j] = 0.0 + (Amax - 0.0) * static_cast<double>(j) / (kScanB - 1);
        s.t[j] = std::clamp(p[j] / q[j], 0.0, std::max(0.0, Amax - s.B[j]));
        s.value[j] = k.c - s.t[j] * (2 * p[j] - q[j] * s.t[j]);
    }
    return s;
}

// The t of the points of B a search has worked out, the last few kept, so that
// the best's t is not worked out again.
class SeenT {
  public:
    void Keep(double B, double t) {
        B_[next_ % kKept] = B;
        t_[next_ % kKept] = t;
        ++next_;
    }
    bool Find(double B, double& t) const {
        for (std::size_t n = 0; n < std::min(next_, kKept); ++n) {
            const std::size_t i = (next_ - 1 - n) % kKept;
            if (B_[i] == B) {
                t = t_[i];
                return true;
            }
        }
        return false;
    }

  private:
    static constexpr std::size_t kKept = 8;
    std::array<double, kKept> B_, t_; // read where Keep has set them
    std::size_t next_ = 0;
};

// The best of the scan's values and Brent's method between them (to `bits` bits
// of B; a coarse B in a few of Brent's steps). Brent's method starts at its
// bracket's upper end, a scanned point where the two agree to the last bit. A
// least clearly above `bar` is given up (ExcessFit::bestOfTerms).
Excess CeFrom(const Fitted& f, const double* C, const CeTerms& k, const double* scanWeights,
              int bits, double bar = std::numeric_limits<double>::infinity()) {
    const double Amax = f.aMax;
    const CeScanned s = CeScanOf(k, Amax, scanWeights);
    SeenT seen;
    const Min1 b = LeastOfScan(
        s.value, 0.0, Amax,
        [&](double lo, double hi, int j, bool coarse) {
            const auto above = static_cast<std::size_t>(std::min(j + 1, kScanB - 1));
            auto fn = [&](double B) {
                if (B == s.B[above]) return s.value[above];
                double t = 0;
                const double value = CeAtB(k, B, Amax, t);
                seen.Keep(B, t);
                return value;
            };
            std::uintmax_t iterations = coarse ? kCoarseIter : kIter;
            const auto r = boost::math::tools::brent_find_minima(fn, lo, hi, bits, iterations);
            return Min1{r.first, r.second};
        },
        bits < kBits);
    // The search's sums and the gases' sum below differ by rounding alone, far
    // less than 1e-9 of c (each term of the search's sums is at most 2 c).
    if (b.fx > bar + 1e-9 * k.c) return {std::numeric_limits<double>::infinity(), 0, 0};
    double t = 0;
    const auto scanned =
        static_cast<std::size_t>(std::find(s.B.begin(), s.B.end(), b.x) - s.B.begin());
    if (scanned < kScanB)
        t = s.t[scanned];
    else if (!seen.Find(b.x, t))
        CeAtB(k, b.x, Amax, t);
    Excess e;
    e.A = b.x + t;
    e.second = e.A > 0 ? b.x / e.A : 0.0;
    e.chi2 = CeChi2(f, C, b.x, t);
    return e;
}

Excess CeBest(const Fitted& f, const double* C, const Recharge&, const StudyOptions&, int bits) {
    const CeTerms k(f, C);
    std::array<double, GasCount * std::size_t{kScanB}> w{};
    CeScanWeights(k, f.aMax, w.data());
    return CeFrom(f, C, k, w.data(), bits);
}

std::size_t CeTermCount(const Fitted& f) {
    return static_cast<std::size_t>(f.n) * kScanB;
}

void CeFillTerms(const Fitted& f, const double* C, double* terms) {
    CeScanWeights(CeTerms(f, C), f.aMax, terms);
}

Excess CeBestOfTerms(const Fitted& f, const double* C, const double* terms, int bits, double bar) {
    return CeFrom(f, C, CeTerms(f, C), terms, bits, bar);
}

// At each B the t where chi2 <= target form an interval; A = B + t and F = B /
// (B + t) follow. The B where the interval is not empty form an interval around
// the best B, whose ends are where the least chi2 at B crosses the target; the
// extreme `which` is made greatest within it.
std::optional<double> CeExtreme(const Fitted& f, const double* C, const Recharge&,
                                const Excess& best, const StudyOptions&, double target,
                                Extreme which) {
    if (best.chi2 > target) return std::nullopt;
    const double Amax = f.aMax;
    const CeTerms k(f, C);
    auto margin = [&](double B) {
        double t = 0;
        return CeAtB(k, B, Amax, t) - target;
    };
    const double Bbest = best.A * best.second;
    const double mBest = std::min(0.0, margin(Bbest));
    const double m0 = margin(0), mMax = margin(Amax);
    const double Blo = m0 <= 0 ? 0.0 : Crossing(margin, Bbest, 0.0, mBest, m0);
    const double Bhi = mMax <= 0 ? Amax : Crossing(margin, Bbest, Amax, mBest, mMax);
    auto quantity = [&](double B) {
        const CeParts s = PartsAt(k, B);
        const double root = std::sqrt(std::max(0.0, s.p * s.p - s.q * (s.c - target)));
        const double tMax = std::max(0.0, Amax - B);
        double t1 = std::clamp((s.p - root) / s.q, 0.0, tMax);
        double t2 = std::clamp((s.p + root) / s.q, 0.0, tMax);
        if (t1 > t2) t1 = t2 = std::clamp(s.p / s.q, 0.0, tMax);
        auto F = [B](double t) { return B + t > 0 ? B / (B + t) : 0.0; };
        // The lowest A and highest F take the least t, the others the most.
        const double t = which == Extreme::kLeastA || which == Extreme::kMostSecond ? t1 : t2;
        return ValueOf(which, B + t, F(t));
    };
    return -MinimiseOn([&](double B) { return -quantity(B); }, Blo, Bhi).fx;
}

double CeScale(const Fitted& f, const Excess&, Extreme) {
    return f.aLargest;
}

double CeConc(double Ceq, double z, double, const Excess& x) {
    const double F = x.second;
    return Ceq + (1 - F) * x.A * z / (1 + F * x.A * z / Ceq);
}

// dC/dCeq = 1 + t B z^2 / (Ceq + B z)^2 with t + B = A <= Amax: with X = Amax z /
// Ceq and x = B z / Ceq, (X - x) x / (1 + x)^2, greatest at x = X / (X + 2), where it
// is X^2 / (4 (X + 1)); it falls as Ceq grows.
double CeSlope(const Fitted& f, std::size_t j, double Cmin) {
    const double X = f.aMax * f.z[j] / Cmin;
    if (!(Cmin > 0) || !std::isfinite(X)) return std::numeric_limits<double>::infinity();
    return 1 + X * X / (4 * (X + 1));
}

// At each B the model is linear in t, and A = B + t: a normal of t shifted by B,
// truncated to [B, Amax]; B is integrated over [0, Amax] (flat in B and t).
AMixture CeIntegral(const Fitted& f, const double* C, const Recharge&, const StudyOptions&) {
    const double Amax = f.aMax;
    const CeTerms k(f, C);
    return OverSecond(0.0, Amax, [&](double B, double measure) {
        const CeParts s = PartsAt(k, B);
        APiece piece = PieceOf(s.c, s.p, s.q, 0, Amax - B, measure);
        piece.mean += B;
        piece.lo += B;
        piece.hi += B;
        return piece;
    });
}

// ---- Models with one parameter s besides A -----------------------------------------------
//   C_i = b_i(s) Ceq_i + A w_i(s),  0 <= A <= Amax,  lo <= s <= hi:
// at a fixed s the model is linear in A, chi2(A) = c - 2 p A + q A^2, so the best
// A has a closed form and the fit is a search over s alone. The fractionation of
// gas i goes by its diffusion ratio at the temperature raised to the model's
// exponent, d_i = (D_i / D_Ne)^beta (Jung & Aeschbach 2018, Environ. Model.
// Softw. 103, 120-130, doi:10.1016/j.envsoft.2018.02.004: beta 1 for PR, 0.5
// for PD by default):
//   PR, partial re-equilibration (Stute, Forster, Frischkorn, Serejo, Clark,
//       Schlosser, Broecker & Bonani 1995, Science 269, 379-383):
//       C = Ceq + A z exp(-R d),           s = R >= 0
//   PD, partial degassing (Aeschbach-Hertig, El-Gamal, Wieser & Palcsu 2008,
//       Water Resour. Res. 44, W08449):
//       C = (Ceq + A z) exp(-G d),         s = G >= 0
//   OD, oxygen depletion in soil air (Hall, Castro, Lohmann & Ma 2005, Geophys.
//       Res. Lett. 32, L18404): the soil air's pressure raised by P,
//       C = P Ceq + A z,                   s = P >= 1
//   GR, gas diffusion relaxation (Sun, Hall, Castro, Lohmann & Goovaerts 2008,
//       Geophys. Res. Lett. 35, L19401): PR's shape, d_i the gas's diffusion
//       coefficient in air at the recharge's temperature and air pressure
//       (DiffusivityInAir) raised to beta, 2/3 by default,
//       C = Ceq + A z exp(-F d),           s = F >= 0

struct Shape {
    double b, w;
};

// The quantity a model fractionates by, a gas's ratio at the temperature T (°C)
// and 1 atm (RatioFn), or none: the diffusion coefficient in water over neon's,
// which the pressure does not change, or the diffusion coefficient in air, which
// goes inversely with the air pressure.
using RatioFn = double (*)(std::size_t gas, double T);
double WaterRatio(std::size_t gas, double T) {
    return DiffusionRatio(gas, T);
}
double AirRatio(std::size_t gas, double T) {
    return DiffusivityInAir(gas, {T, 1});
}

// Every gas's ratio at T raised to beta, kept for the temperatures met last on
// this thread (the grid's search meets each of a table's temperatures at every
// elevation).
template <RatioFn R> const std::array<double, GasCount>& RatiosAt(double T, double beta) {
    struct Entry {
        double T = std::numeric_limits<double>::quiet_NaN(), beta = 0;
        std::array<double, GasCount> ratios{};
    };
    constexpr std::size_t kEntries = 256;
    thread_local std::array<Entry, kEntries> cache;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &T, sizeof bits);
    Entry& e = cache[(bits ^ (bits >> 29) ^ (bits >> 47)) % kEntries];
    if (!(e.T == T && e.beta == beta)) {
        for (std::size_t g = 0; g < GasCount; ++g) {
            const double r = R(g, T);
            e.ratios[g] = beta == 1 ? r : std::pow(r, beta);
        }
        e.T = T;
        e.beta = beta;
    }
    return e.ratios;
}

// Each shape is given s, the gas's fraction in air z and e = exp(-s d), d its
// diffusion ratio (kFractionates false: the shape does not use e).
Shape PrShape(double, double z, double e) {
    return {1, z * e};
}
Shape PdShape(double, double z, double e) {
    return {e, z * e};
}
Shape OdShape(double P, double z, double) {
    return {P, z};
}

// The parts of chi2(A) at s.
struct Parts {
    double c = 0, p = 0, q = 0;
    // The least chi2 and its A within [0, aMax].
    double Least(double& A, double aMax) const {
        A = std::clamp(p / q, 0.0, aMax);
        return c - A * (2 * p - q * A);
    }
};

using Factors = std::array<double, GasCount>; // exp(-s d) by fitted gas

template <Shape (*S)(double, double, double), RatioFn R> struct Separable {
    static constexpr bool kFractionates = R != nullptr;
    const Fitted& f;
    const double* C;
    double aMax;
    Factors d{}; // by fitted gas: the diffusion ratio raised to the model's exponent

    Separable(const Fitted& fitted, const double* conc, const Recharge& at)
        : f(fitted), C(conc), aMax(fitted.aMax) {
        if constexpr (kFractionates) {
            const std::array<double, GasCount>& ratios = RatiosAt<R>(at.T, f.beta);
            // The diffusion coefficient in air at the air pressure P is its value
            // at 1 atm over P.
            double scale = 1;
            if constexpr (R == AirRatio) scale = f.beta == 1 ? 1 / at.P : std::pow(at.P, -f.beta);
            for (int j = 0; j < f.n; ++j)
                d[static_cast<std::size_t>(j)] = ratios[f.gas[static_cast<std::size_t>(j)]] * scale;
        }
    }
    Factors FactorsAt(double s) const {
        Factors e{};
        if (s == 0)
            e.fill(1);
        else if constexpr (kFractionates)
            for (int j = 0; j < f.n; ++j)
                e[static_cast<std::size_t>(j)] = std::exp(-s * d[static_cast<std::size_t>(j)]);
        return e;
    }
    Parts With(double s, const Factors& e) const {
        Parts r;
        for (int j = 0; j < f.n; ++j) {
            const auto i = static_cast<std::size_t>(j);
            const Shape sh = S(s, f.z[i], e[i]);
            const double dev = f.m[i] - sh.b * C[j];
            r.c += f.w[i] * dev * dev;
            r.p += f.w[i] * dev * sh.w;
            r.q += f.w[i] * sh.w * sh.w;
        }
        return r;
    }
    Parts At(double s) const { return With(s, FactorsAt(s)); }
    double Least(double s, double& A) const { return At(s).Least(A, aMax); }
    // chi2 summed term by term.
    double Chi2(double s, double A) const { return Chi2With(s, A, FactorsAt(s)); }
    double Chi2With(double s, double A, const Factors& e) const {
        double chi2 = 0;
        for (int j = 0; j < f.n; ++j) {
            const auto i = static_cast<std::size_t>(j);
            const Shape sh = S(s, f.z[i], e[i]);
            const double r = f.m[i] - sh.b * C[j] - A * sh.w;
            chi2 += f.w[i] * r * r;
        }
        return chi2;
    }
    // The least chi2 at kScanB values of s evenly over [lo, hi] (into `values`),
    // the factors carried from one to the next by their ratio; the best of them.
    Min1 Scan(double lo, double hi, int& bestJ, std::array<double, kScanB>& values) const {
        const double step = (hi - lo) / (kScanB - 1);
        Factors e = FactorsAt(lo), ratio = FactorsAt(step);
        Min1 best;
        bestJ = 0;
        for (int j = 0; j < kScanB; ++j) {
            const double s = lo + (hi - lo) * j / (kScanB - 1);
            double A = 0;
            const double v = With(s, e).Least(A, aMax);
            values[static_cast<std::size_t>(j)] = v;
            if (v < best.fx) {
                best = {s, v};
                bestJ = j;
            }
            for (int g = 0; g < f.n; ++g)
                e[static_cast<std::size_t>(g)] *= ratio[static_cast<std::size_t>(g)];
        }
        return best;
    }
};

// The best s: the scan, then in each of its brackets, for the grid's search (fewer
// bits), the vertex of the parabola through the scanned values about it; for the
// refinement, Brent's method.
template <typename Fit> Min1 BestS(const Fit& m, double lo, double hi, int bits) {
    int unused = 0;
    std::array<double, kScanB> values{};
    m.Scan(lo, hi, unused, values);
    const double step = (hi - lo) / (kScanB - 1);
    double A = 0;
    return LeastOfScan(
        values, lo, hi,
        [&](double a, double b, int j, bool coarse) {
            if (coarse) {
                const int c = std::clamp(j, 1, kScanB - 2);
                const auto k = static_cast<std::size_t>(c);
                const double fa = values[k - 1], fx = values[k], fb = values[k + 1];
                const double curvature = fa - 2 * fx + fb;
                if (!(curvature > 0)) return Min1{};
                const double s =
                    std::clamp(lo + step * c + step * (fa - fb) / (2 * curvature), a, b);
                return Min1{s, m.Least(s, A)};
            }
            std::uintmax_t iterations = kIter;
            const auto r = boost::math::tools::brent_find_minima(
                [&](double s) { return m.Least(s, A); }, a, b, bits, iterations);
            return Min1{r.first, r.second};
        },
        bits < kBits);
}

template <Shape (*S)(double, double, double), RatioFn R>
Excess SeparableBest(const Fitted& f, const double* C, const Recharge& at, const StudyOptions&,
                     int bits) {
    const Separable<S, R> m(f, C, at);
    const Min1 b = BestS(m, f.sLo, f.sHi, bits);
    const Factors e = m.FactorsAt(b.x);
    double A = 0;
    m.With(b.x, e).Least(A, m.aMax);
    return {m.Chi2With(b.x, A, e), A, b.x};
}

// The s where the least chi2 reaches the target form an interval around the
// best s, whose ends are the extremes of s; at each s the A where chi2 <= target
// lie between the roots of chi2(A), cut at 0, and the extremes of A are sought
// over the interval of s.
template <Shape (*S)(double, double, double), RatioFn R>
std::optional<double> SeparableExtreme(const Fitted& f, const double* C, const Recharge& at,
                                       const Excess& best, const StudyOptions&, double target,
                                       Extreme which) {
    if (best.chi2 > target) return std::nullopt;
    const Separable<S, R> m(f, C, at);
    const double lo = f.sLo, hi = f.sHi;
    auto margin = [&](double s) {
        double A = 0;
        return m.Least(s, A) - target;
    };
    const double mBest = std::min(0.0, margin(best.second));
    const double mLo = margin(lo), mHi = margin(hi);
    const double sLo = mLo <= 0 ? lo : Crossing(margin, best.second, lo, mBest, mLo);
    const double sHi = mHi <= 0 ? hi : Crossing(margin, best.second, hi, mBest, mHi);
    if (which == Extreme::kLeastSecond) return -sLo;
    if (which == Extreme::kMostSecond) return sHi;
    auto end = [&](double s) {
        const Parts r = m.At(s);
        const double root = std::sqrt(std::max(0.0, r.p * r.p - r.q * (r.c - target)));
        const double a1 = std::clamp((r.p - root) / r.q, 0.0, m.aMax);
        const double a2 = std::clamp((r.p + root) / r.q, 0.0, m.aMax);
        return which == Extreme::kLeastA ? -std::min(a1, a2) : std::max(a1, a2);
    };
    return -MinimiseOn([&](double s) { return -end(s); }, sLo, sHi).fx;
}

template <Shape (*S)(double, double, double), RatioFn R>
AMixture SeparableIntegral(const Fitted& f, const double* C, const Recharge& at,
                           const StudyOptions&) {
    const Separable<S, R> m(f, C, at);
    return OverSecond(f.sLo, f.sHi, [&](double s, double measure) {
        const Parts r = m.At(s);
        return PieceOf(r.c, r.p, r.q, 0, m.aMax, measure);
    });
}

double SeparableScale(const Fitted& f, const Excess& best, Extreme which) {
    if (OfA(which)) return std::max(0.01, 10 * best.A);
    return f.sHi - f.sLo;
}

double PrConc(double Ceq, double z, double d, const Excess& x) {
    return Ceq + x.A * z * std::exp(-x.second * d);
}
double PdConc(double Ceq, double z, double d, const Excess& x) {
    return (Ceq + x.A * z) * std::exp(-x.second * d);
}
double OdConc(double Ceq, double z, double, const Excess& x) {
    return x.second * Ceq + x.A * z;
}

} // namespace

ExcessFit Ua() {
    return {UaBest, UaExtreme, UaScale, UaConc, UaIntegral};
}
ExcessFit Ce() {
    return {CeBest,  CeExtreme, CeScale,     CeConc,      CeIntegral,
            nullptr, CeSlope,   CeTermCount, CeFillTerms, CeBestOfTerms};
}
// A model of the separable kind, the shape S fractionating by R; `ratio` is the
// quantity at the conditions of recharge that its concentrations are given
// (nullptr: the diffusion coefficient in water over neon's).
template <Shape (*S)(double, double, double), RatioFn R>
ExcessFit Separated(double (*conc)(double, double, double, const Excess&),
                    double (*ratio)(std::size_t, const Recharge&)) {
    return {SeparableBest<S, R>,     SeparableExtreme<S, R>,
            SeparableScale,          conc,
            SeparableIntegral<S, R>, ratio};
}

ExcessFit Pr() {
    return Separated<PrShape, WaterRatio>(PrConc, nullptr);
}
ExcessFit Pd() {
    return Separated<PdShape, WaterRatio>(PdConc, nullptr);
}
// OD's concentration P Ceq + A z moves by P <= its largest per unit of Ceq.
double OdSlope(const Fitted& f, std::size_t, double) {
    return f.sHi;
}
ExcessFit Od() {
    ExcessFit fit = Separated<OdShape, nullptr>(OdConc, nullptr);
    fit.slope = OdSlope;
    return fit;
}
// GR relaxes the excess air as PR re-equilibrates it, by the diffusion coefficient
// in air.
ExcessFit Gr() {
    return Separated<PrShape, AirRatio>(PrConc, DiffusivityInAir);
}

} // namespace temra::study::fits
