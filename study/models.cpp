#include "study/models.h"

#include "study/minimise.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace temra::study {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uintmax_t kCoarseIter = 6; // the grid's search: B between scanned neighbours
constexpr int kScanB = 9;                 // CE: B values scanned before Brent's method

// The value of an extreme to make greatest: 0 the lowest A (negated), 1 the
// highest A, 2 the lowest second parameter (negated), 3 its highest.
double ValueOf(int which, double A, double second) {
    switch (which) {
    case 0:
        return -A;
    case 1:
        return A;
    case 2:
        return -second;
    default:
        return second;
    }
}

// ---- UA: unfractionated excess air, C_i = Ceq_i + A z_i, A >= 0 ------------------------
// The best A has a closed form; chi2(A) is a quadratic.

Excess UaBest(const Fitted& f, const double* C, const StudyOptions&, int) {
    Excess e;
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

// The A where chi2 <= target lie between the roots of the quadratic chi2(A), cut
// at 0; nothing when chi2 stays above.
std::optional<double> UaExtreme(const Fitted& f, const double* C, const Excess&,
                                const StudyOptions&, double target, int which) {
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
    return which == 0 ? -std::max(0.0, (Sdz - root) / Sz2) : hi;
}

double UaScale(const Excess& best, const StudyOptions&) {
    return std::max(0.01, 10 * best.A);
}

// ---- CE: closed-system equilibration ----------------------------------------------------
//   C_i = Ceq_i + (1 - F) A z_i / (1 + F A z_i / Ceq_i), 0 <= A <= Amax, 0 <= F <= 1,
// taken as B = F A and t = (1 - F) A: at a fixed B, with w_i = z_i / (1 + B z_i /
// Ceq_i), the model is Ceq + t w and chi2(t) = c - 2 p t + q t^2, so the best t
// has a closed form and the fit is a search over B alone.

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
template <typename Fn> Min1 OverB(Fn&& fn, double Amax, int bits) {
    Min1 best;
    int bestJ = 0;
    for (int j = 0; j < kScanB; ++j) {
        const double B = Amax * j / (kScanB - 1);
        const double v = fn(B);
        if (v < best.fx) {
            best = {B, v};
            bestJ = j;
        }
    }
    const double lo = Amax * std::max(0, bestJ - 1) / (kScanB - 1);
    const double hi = Amax * std::min(kScanB - 1, bestJ + 1) / (kScanB - 1);
    // A coarse B (the grid's search) is had in a few of Brent's steps.
    std::uintmax_t iterations = bits < kBits ? kCoarseIter : kIter;
    const auto r = boost::math::tools::brent_find_minima(fn, lo, hi, bits, iterations);
    return r.second < best.fx ? Min1{r.first, r.second} : best;
}

Excess CeBest(const Fitted& f, const double* C, const StudyOptions& o, int bits) {
    const double Amax = o.ceAMax;
    double t = 0;
    const Min1 b = OverB([&](double B) { return CeAtB(f, C, B, Amax, t); }, Amax, bits);
    CeAtB(f, C, b.x, Amax, t);
    Excess e;
    e.A = b.x + t;
    e.second = e.A > 0 ? b.x / e.A : 0.0;
    e.chi2 = CeChi2(f, C, b.x, t);
    return e;
}

// At each B the t where chi2 <= target form an interval; A = B + t and F = B /
// (B + t) follow. The B where the interval is not empty form an interval around
// the best B, whose ends are where the least chi2 at B crosses the target; the
// extreme `which` is made greatest within it.
std::optional<double> CeExtreme(const Fitted& f, const double* C, const Excess& best,
                                const StudyOptions& o, double target, int which) {
    if (best.chi2 > target) return std::nullopt;
    const double Amax = o.ceAMax;
    auto margin = [&](double B) {
        double t = 0;
        return CeAtB(f, C, B, Amax, t) - target;
    };
    const double Bbest = best.A * best.second;
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

double CeScale(const Excess&, const StudyOptions& o) {
    return o.ceAMax;
}

// ---- The table ---------------------------------------------------------------------------

double Unbounded(const StudyOptions&) {
    return kInf;
}
double LargestA(const StudyOptions& o) {
    return o.ceAMax;
}
double One(const StudyOptions&) {
    return 1;
}

constexpr ModelParam kNoParam{"", "", "", 0, Unbounded, "", "", "", "", ""};

std::vector<ModelInfo>& Table() {
    static std::vector<ModelInfo> table = {
        {Model::UA,
         "ua",
         "UA",
         "UA: unfractionated excess air",
         "UA (unfractionated excess air, A >= 0)",
         "unfractionated excess air",
         false,
         1,
         {{{"A", "excess_air", "cm³ STP/g", 0, Unbounded, "A=0", "",
            "the best excess air is 0: the sample holds less gas than equilibrium gives", "", ""},
           kNoParam}},
         {UaBest, UaExtreme, UaScale},
         true,
         1},
        {Model::CE,
         "ce",
         "CE",
         "CE: closed-system equilibration",
         "CE (closed-system equilibration)",
         "closed-system equilibration",
         true,
         2,
         {{{"A", "excess_air", "cm³ STP/g", 0, LargestA, "", "A=max", "",
            "the excess air reached the largest A of CE", ""},
           {"F", "fractionation", "", 0, One, "F=0", "F=1", "no fractionation (F = 0)",
            "the fractionation reached F = 1", "0 to 1"}}},
         {CeBest, CeExtreme, CeScale},
         false,
         16},
    };
    return table;
}

} // namespace

const std::vector<ModelInfo>& Models() {
    return Table();
}

const ModelInfo& InfoOf(Model model) {
    for (const ModelInfo& m : Models())
        if (m.model == model) return m;
    return Models().front();
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
