#include "study/fit/propagation.h"

#include "core/fields.h"
#include "core/solubility_sets.h"
#include "study/models/models.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace temra::study {

namespace {

constexpr std::size_t kParams = 4; // T, E, A, the second parameter

struct State {
    double chi2 = 0;
    std::array<double, GasCount> C{}; // every gas's concentration under the model
};

// chi2 and every gas's concentration at the parameters x, or nothing where the
// model cannot be evaluated.
std::optional<State> Evaluate(const Values& v, const Fitted& f, const std::array<double, 4>& x,
                              const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    const ModelFields fields{fields::Ref(FieldId::TempMax), fields::Ref(FieldId::Density),
                             fields::Ref(FieldId::Chloride)};
    State s;
    try {
        const TemperatureFactors factors =
            SetFactorsAt(o.solubility, x[0], v.density, v.chloride, fields, kAllGases);
        const double P = AirPressureAt(x[1], fields::Ref(FieldId::ElevMax));
        const Excess excess{0, x[2], x[3]};
        for (std::size_t i = 0; i < GasCount; ++i)
            s.C[i] = model.fit.conc(EquilConcOf(factors.SX[i], P, factors.VapourPressure),
                                    kGasTable[i].AtmFraction, ModelRatio(model, i, {x[0], P}, o),
                                    excess);
    } catch (const TemraError&) {
        return std::nullopt;
    }
    for (int j = 0; j < f.n; ++j) {
        const auto k = static_cast<std::size_t>(j);
        const double r = f.m[k] - s.C[f.gas[k]];
        s.chi2 += f.w[k] * r * r;
    }
    if (!std::isfinite(s.chi2)) return std::nullopt;
    return s;
}

// Solves H y = g for a symmetric positive definite H of order n (Cholesky); false
// where H is not positive definite.
bool Solve(std::vector<double> H, std::size_t n, std::vector<double>& y) {
    for (std::size_t j = 0; j < n; ++j) {
        double diag = H[j * n + j];
        for (std::size_t k = 0; k < j; ++k) diag -= H[j * n + k] * H[j * n + k];
        if (!(diag > 0)) return false;
        H[j * n + j] = std::sqrt(diag);
        for (std::size_t i = j + 1; i < n; ++i) {
            double s = H[i * n + j];
            for (std::size_t k = 0; k < j; ++k) s -= H[i * n + k] * H[j * n + k];
            H[i * n + j] = s / H[j * n + j];
        }
    }
    for (std::size_t i = 0; i < n; ++i) { // L z = g
        for (std::size_t k = 0; k < i; ++k) y[i] -= H[i * n + k] * y[k];
        y[i] /= H[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) { // L^T y = z
        for (std::size_t k = i + 1; k < n; ++k) y[i] -= H[k * n + i] * y[k];
        y[i] /= H[i * n + i];
    }
    return true;
}

} // namespace

namespace {

// The parameters that move (free and not at a bound), with their steps: a tenth
// of each 1-sigma range, less near a bound.
struct Moving {
    std::vector<std::size_t> at;
    std::array<double, kParams> h{};
};

Moving MovingParameters(const Fitted& f, const Point& best, const Ranges& ranges, const Domain& d,
                        const StudyOptions& o) {
    const ModelInfo& model = InfoOf(o.model);
    const std::array<double, kParams> x0{best.T, best.E, best.A, best.second};
    const std::array<Interval, kParams> range{ranges.T, ranges.E, ranges.A, ranges.second};
    const ModelParam& second = model.params[1];
    const std::array<Interval, kParams> bounds{
        Interval{0, d.tMax}, Interval{0, d.eMax}, Interval{0, model.Upper(0, o) * f.aScale},
        model.HasSecond() ? Interval{second.lo, second.hi(second, o)} : Interval{}};
    // On the MAAT window's edge the temperature is held to the elevation's window.
    const std::array<bool, kParams> free{d.tFree && !d.OnWindowEdge(best.T, best.E), d.eFree, true,
                                         model.HasSecond()};
    Moving m;
    for (std::size_t i = 0; i < kParams; ++i) {
        const double width = range[i].hi - range[i].lo;
        const double room = std::min(x0[i] - bounds[i].lo, bounds[i].hi - x0[i]);
        if (!free[i] || !(width > 0) || !(room > 1e-3 * width)) continue; // held
        m.h[i] = std::min(0.1 * width, room);
        m.at.push_back(i);
    }
    return m;
}

// chi2's Hessian over the moving parameters and each gas's derivatives, by
// central differences; false where the model cannot be evaluated about the best.
bool Derivatives(const Values& v, const Fitted& f, const std::array<double, kParams>& x0,
                 const Moving& m, const StudyOptions& o, std::vector<double>& H,
                 std::vector<std::array<double, GasCount>>& slope) {
    const std::size_t n = m.at.size();
    const std::optional<State> centre = Evaluate(v, f, x0, o);
    if (!centre) return false;
    auto shifted = [&](std::size_t i, double si, std::size_t j, double sj) {
        std::array<double, kParams> x = x0;
        x[i] += si * m.h[i];
        x[j] += sj * m.h[j];
        return Evaluate(v, f, x, o);
    };
    H.assign(n * n, 0.0);
    slope.assign(n, {});
    for (std::size_t a = 0; a < n; ++a) {
        const std::size_t i = m.at[a];
        const auto up = shifted(i, 1, i, 0), down = shifted(i, -1, i, 0);
        if (!up || !down) return false;
        H[a * n + a] = (up->chi2 - 2 * centre->chi2 + down->chi2) / (m.h[i] * m.h[i]);
        for (std::size_t g = 0; g < GasCount; ++g)
            slope[a][g] = (up->C[g] - down->C[g]) / (2 * m.h[i]);
        for (std::size_t b = 0; b < a; ++b) {
            const std::size_t j = m.at[b];
            const auto pp = shifted(i, 1, j, 1), pm = shifted(i, 1, j, -1);
            const auto mp = shifted(i, -1, j, 1), mm = shifted(i, -1, j, -1);
            if (!pp || !pm || !mp || !mm) return false;
            H[a * n + b] = H[b * n + a] =
                (pp->chi2 - pm->chi2 - mp->chi2 + mm->chi2) / (4 * m.h[i] * m.h[j]);
        }
    }
    return true;
}

} // namespace

std::optional<std::array<double, GasCount>> ModelSpreads(const Values& v, const Fitted& f,
                                                         const Point& best, const Ranges& ranges,
                                                         const Domain& d, const StudyOptions& o) {
    const Moving m = MovingParameters(f, best, ranges, d, o);
    const std::size_t n = m.at.size();
    if (n == 0) return std::nullopt;
    std::vector<double> H;
    std::vector<std::array<double, GasCount>> slope;
    if (!Derivatives(v, f, {best.T, best.E, best.A, best.second}, m, o, H, slope))
        return std::nullopt;
    std::array<double, GasCount> spread{};
    for (std::size_t g = 0; g < GasCount; ++g) {
        std::vector<double> y(n);
        for (std::size_t a = 0; a < n; ++a) y[a] = slope[a][g];
        if (!Solve(H, n, y)) return std::nullopt;
        double variance = 0; // 2 g^T H^-1 g
        for (std::size_t a = 0; a < n; ++a) variance += 2 * slope[a][g] * y[a];
        spread[g] = std::sqrt(std::max(0.0, variance));
    }
    return spread;
}

} // namespace temra::study
