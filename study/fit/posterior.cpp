#include "study/fit/posterior.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace temra::study {

namespace {

// A marginal over cells of one parameter: each cell's centre and mass.
using Cells = std::map<long long, double>; // by cell index: round((x - origin) / step)

struct Marginal {
    Cells cells;
    double step = 1;
    double origin = 0; // a centre: the grid's first value (a known elevation's own)
};

void AddTo(Marginal& m, double x, double w) {
    m.cells[std::llround((x - m.origin) / m.step)] += w;
}

double CentreOf(const Marginal& m, long long k) {
    return m.origin + static_cast<double>(k) * m.step;
}

// The value below which the share q of the mass lies, each cell's mass spread
// evenly over it (the end cells over their half within the grid); `atEnd` is set
// when it lies in an end cell of more than one.
double Quantile(const Marginal& m, double q, bool& atEnd) {
    double total = 0;
    for (const auto& [k, w] : m.cells) total += w;
    const double target = q * total;
    const long long first = m.cells.begin()->first, last = m.cells.rbegin()->first;
    double below = 0;
    for (const auto& [k, w] : m.cells) {
        if (below + w < target && k != last) {
            below += w;
            continue;
        }
        const double centre = CentreOf(m, k);
        const double lo = k == first ? centre : centre - m.step / 2;
        const double hi = k == last ? centre : centre + m.step / 2;
        if (first != last && (k == first || k == last)) atEnd = true;
        const double share = w > 0 ? std::clamp((target - below) / w, 0.0, 1.0) : 0.5;
        return lo + (hi - lo) * share;
    }
    return CentreOf(m, last);
}

Estimate Interval(const Marginal& m, bool& cut) {
    bool unused = false;
    const double median = Quantile(m, 0.5, unused);
    return {median, Quantile(m, 0.16, cut), Quantile(m, 0.84, cut)};
}

// The weighted 16th, 50th and 84th percentiles of values, between the ordered
// values.
Estimate WeightedInterval(std::vector<std::pair<double, double>> values) {
    std::sort(values.begin(), values.end());
    double total = 0;
    for (const auto& v : values) total += v.second;
    auto at = [&](double q) {
        double below = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double next = below + values[i].second;
            if (next >= q * total) {
                if (i == 0 || values[i].second <= 0) return values[i].first;
                const double share = (q * total - below) / values[i].second;
                return values[i - 1].first + (values[i].first - values[i - 1].first) * share;
            }
            below = next;
        }
        return values.back().first;
    };
    return {at(0.5), at(0.16), at(0.84)};
}

// The 16th, 50th and 84th percentiles of a sum of truncated normals, each
// weighing `weight` (pieces lighter than 1e-9 of the whole left out, which moves a
// percentile by less than that share), found by bisection of the sum's
// distribution to a millionth of its span.
Estimate MixtureInterval(const std::vector<std::pair<double, APiece>>& pieces) {
    double total = 0, lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const auto& [w, p] : pieces) total += w;
    std::vector<std::pair<double, APiece>> kept;
    for (const auto& [w, p] : pieces)
        if (w > 1e-9 * total) {
            kept.emplace_back(w / total, p);
            lo = std::min(lo, p.lo);
            hi = std::max(hi, p.hi);
        }
    auto below = [&](double x) {
        double share = 0;
        for (const auto& [w, p] : kept) {
            if (x <= p.lo) continue;
            if (x >= p.hi) {
                share += w;
                continue;
            }
            const double a = (p.lo - p.mean) / p.sd;
            share += w * std::exp(LogNormalShare(a, (x - p.mean) / p.sd) -
                                  LogNormalShare(a, (p.hi - p.mean) / p.sd));
        }
        return share;
    };
    auto at = [&](double q) {
        double a = lo, b = hi;
        for (int i = 0; i < 60 && b - a > 1e-6 * (hi - lo); ++i) {
            const double m = (a + b) / 2;
            (below(m) < q ? a : b) = m;
        }
        return (a + b) / 2;
    };
    if (kept.empty()) return {};
    return {at(0.5), at(0.16), at(0.84)};
}

// Each point's log weight by its least chi2 and the prior (none on the line) and
// the prior's log alone; the heaviest log weight.
double ProfileWeights(const std::vector<PosteriorCase>& points, const PriorLine& prior, bool onLine,
                      std::vector<double>& logW, std::vector<double>& logPrior) {
    logW.assign(points.size(), 0.0);
    logPrior.assign(points.size(), 0.0);
    double most = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < points.size(); ++k) {
        const PosteriorCase& c = points[k];
        if (!onLine) {
            const double d = c.T - ((c.E - prior.intercept) / prior.slope + prior.offset);
            logPrior[k] = -d * d / (2 * prior.sd * prior.sd);
        }
        logW[k] = -c.chi2 / 2 + logPrior[k];
        if (std::isfinite(logW[k])) most = std::max(most, logW[k]);
    }
    return most;
}

// With the excess air integrated out: each point that may weigh anything (its
// least chi2 within e^-40 of the heaviest's) weighs its integral times the prior,
// and keeps its distribution of A (`mixtures`, by point); the others weigh
// nothing. `most` becomes the heaviest log weight; false when none weighs.
bool Integrate(const std::vector<PosteriorCase>& points, const ExcessAt& excess,
               const std::vector<double>& logPrior, std::vector<double>& logW,
               std::vector<AMixture>& mixtures, double& most) {
    constexpr double kNegligible = 40;
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    const double profileMost = most;
    most = kNone;
    mixtures.assign(points.size(), {});
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (!(logW[k] >= profileMost - kNegligible)) {
            logW[k] = kNone;
            continue;
        }
        mixtures[k] = excess(points[k].T, points[k].E);
        logW[k] = LogWeightOf(mixtures[k]) + logPrior[k];
        if (std::isfinite(logW[k])) most = std::max(most, logW[k]);
    }
    return std::isfinite(most);
}

// On the line (no spread): each elevation's cases give one point, at the line's
// temperature, with chi2 and A taken between the cases either side.
std::vector<PosteriorCase> OnTheLine(const std::vector<PosteriorCase>& cases,
                                     const PriorLine& prior) {
    std::map<double, std::vector<const PosteriorCase*>> byE;
    for (const PosteriorCase& c : cases) byE[c.E].push_back(&c);
    std::vector<PosteriorCase> line;
    for (auto& [E, at] : byE) {
        std::sort(at.begin(), at.end(), [](auto* a, auto* b) { return a->T < b->T; });
        const double T = (E - prior.intercept) / prior.slope + prior.offset;
        for (std::size_t i = 0; i < at.size(); ++i) {
            const PosteriorCase& a = *at[i];
            const PosteriorCase& b = *at[std::min(i + 1, at.size() - 1)];
            if (T < a.T || T > b.T) continue;
            const double s = b.T > a.T ? (T - a.T) / (b.T - a.T) : 0.0;
            line.push_back({T, E, a.A + (b.A - a.A) * s, a.chi2 + (b.chi2 - a.chi2) * s});
            break;
        }
    }
    return line;
}

MarginalCells CellsOf(const Marginal& m) {
    MarginalCells c;
    double total = 0;
    for (const auto& [k, w] : m.cells) total += w;
    for (const auto& [k, w] : m.cells) {
        c.centre.push_back(CentreOf(m, k));
        c.mass.push_back(total > 0 ? w / total : 0.0);
    }
    return c;
}

} // namespace

std::optional<PosteriorDetail> PosteriorDetailOf(const std::vector<PosteriorCase>& cases,
                                                 double tStep, double eStep, const PriorLine& prior,
                                                 const ExcessAt* excess) {
    if (!(prior.slope != 0) || !std::isfinite(prior.slope) || cases.empty()) return std::nullopt;
    const bool onLine = !(prior.sd > 0);
    const std::vector<PosteriorCase> points = onLine ? OnTheLine(cases, prior) : cases;
    std::vector<double> logW, logPrior;
    double most = ProfileWeights(points, prior, onLine, logW, logPrior);
    if (!std::isfinite(most)) return std::nullopt;
    std::vector<AMixture> mixtures;
    if (excess && !Integrate(points, *excess, logPrior, logW, mixtures, most)) return std::nullopt;
    auto origin = [&](double PosteriorCase::*x) {
        double least = std::numeric_limits<double>::infinity();
        for (const PosteriorCase& c : cases) least = std::min(least, c.*x);
        return least;
    };
    Marginal T{{}, tStep > 0 ? tStep : 1, origin(&PosteriorCase::T)};
    Marginal E{{}, eStep > 0 ? eStep : 1, origin(&PosteriorCase::E)};
    std::vector<std::pair<double, double>> A, Tline;
    std::vector<std::pair<double, APiece>> pieces;
    PosteriorDetail detail;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const double w = std::isfinite(logW[k]) ? std::exp(logW[k] - most) : 0.0;
        AddTo(T, points[k].T, w);
        AddTo(E, points[k].E, w);
        A.emplace_back(points[k].A, w);
        Tline.emplace_back(points[k].T, w);
        if (!onLine) detail.weight.push_back(w);
        if (excess && w > 0)
            for (const APiece& p : mixtures[k])
                if (std::isfinite(p.logWeight))
                    pieces.emplace_back(std::exp(p.logWeight + logPrior[k] - most), p);
    }
    Posterior& p = detail.summary;
    p.E = Interval(E, p.cut);
    // On the line the temperature follows the elevation.
    p.T = onLine ? WeightedInterval(Tline) : Interval(T, p.cut);
    p.A = excess ? MixtureInterval(pieces) : WeightedInterval(A);
    detail.T = CellsOf(T);
    detail.E = CellsOf(E);
    return detail;
}

std::optional<PosteriorDetail> PosteriorOfMap(const MisfitMap& map, const StudyOptions& options) {
    if (!options.prior || !map.result.error.empty() || !map.plan.grid) return std::nullopt;
    const SolubilityGrid& g = *map.plan.grid;
    const auto N = std::min(static_cast<std::size_t>(g.CaseCount), map.chi2.size());
    std::vector<PosteriorCase> cases;
    cases.reserve(N);
    // The excess air integrated out where the map has it, as the fit's posterior.
    const std::vector<double>& chi2 = map.integrated.size() == N ? map.integrated : map.chi2;
    for (std::size_t k = 0; k < N; ++k) cases.push_back({g.Temp[k], g.Elev[k], 0.0, chi2[k]});
    return PosteriorDetailOf(cases, std::fabs(g.TempStep), std::fabs(g.ElevStep),
                             {static_cast<double>(g.MaatSlope),
                              static_cast<double>(g.MaatIntercept), options.priorOffset,
                              options.priorSd});
}

std::optional<Posterior> PosteriorOf(const std::vector<PosteriorCase>& cases, double tStep,
                                     double eStep, const PriorLine& prior, const ExcessAt* excess) {
    std::optional<PosteriorDetail> d = PosteriorDetailOf(cases, tStep, eStep, prior, excess);
    if (!d) return std::nullopt;
    return d->summary;
}

} // namespace temra::study
