#include "study/uncertainty/monte_carlo.h"

#include "core/numtext.h"
#include "study/input/sample_values.h"
#include "study/models/models.h"
#include "study/study_fit.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace temra::study {

namespace {

constexpr std::size_t kChunk = 1000; // draws fitted at a time: their samples in memory at once

// The sample drawn: each fitted gas's value moved by its error times a normal
// number, with that error as its own (in the table's unit: per gram, divided
// back by the density).
Sample Drawn(const Sample& s, const Values& v, const StudyOptions& o, std::mt19937_64& rng) {
    std::normal_distribution<double> normal(0, 1);
    Sample d = s;
    const double unit = o.perGram ? static_cast<double>(v.density) : 1.0;
    for (std::size_t i = 0; i < GasCount; ++i) {
        if (!v.present[i]) continue;
        d.measured[i] = ExactText((v.measured[i] + v.sigma[i] * normal(rng)) / unit);
        d.error[i] = ExactText(v.sigma[i] / unit);
    }
    return d;
}

// Mean, standard deviation and the 16th, 50th and 84th percentiles (between
// the ordered values, interpolated).
Spread SpreadOf(std::vector<double> x) {
    Spread s;
    if (x.empty()) return s;
    std::sort(x.begin(), x.end());
    double sum = 0;
    for (double v : x) sum += v;
    s.mean = sum / static_cast<double>(x.size());
    double ss = 0;
    for (double v : x) ss += (v - s.mean) * (v - s.mean);
    s.sd = x.size() > 1 ? std::sqrt(ss / static_cast<double>(x.size() - 1)) : 0.0;
    auto at = [&](double q) {
        const double pos = q * static_cast<double>(x.size() - 1);
        const auto lo = static_cast<std::size_t>(std::floor(pos));
        const std::size_t hi = std::min(lo + 1, x.size() - 1);
        return x[lo] + (x[hi] - x[lo]) * (pos - static_cast<double>(lo));
    };
    s.p16 = at(0.16);
    s.p50 = at(0.5);
    s.p84 = at(0.84);
    return s;
}

bool AtBound(const StudyResult& r) {
    const ModelInfo& m = InfoOf(r.model);
    return std::any_of(r.flags.begin(), r.flags.end(), [&](const std::string& f) {
        return std::any_of(m.params.begin(), m.params.begin() + m.paramCount,
                           [&](const ModelParam& p) { return f == p.lowFlag || f == p.highFlag; });
    });
}

bool AtEdge(const StudyResult& r) {
    return std::any_of(r.flags.begin(), r.flags.end(), [](const std::string& f) {
        return f == flag::kEdgeT || f == flag::kEdgeE || f == flag::kEdgeMaat;
    });
}

McPoint PointOf(const StudyResult& r) {
    McPoint p{r.temperature, r.elevation, r.A, std::nullopt, AtBound(r), AtEdge(r), {}, {}};
    if (r.second) p.second = r.second->value;
    if (r.heTerrigenic) p.he = r.heTerrigenic->value;
    if (r.n2Excess) p.n2 = r.n2Excess->value;
    return p;
}

McSummary Summarise(const std::vector<McPoint>& fits, std::size_t draws) {
    McSummary s;
    s.draws = draws;
    std::vector<double> T, E, A, second;
    std::size_t bound = 0, edge = 0;
    for (const McPoint& p : fits) {
        T.push_back(p.T);
        E.push_back(p.E);
        A.push_back(p.A);
        if (p.second) second.push_back(*p.second);
        bound += p.atBound;
        edge += p.atEdge;
    }
    s.fitted = T.size();
    s.T = SpreadOf(std::move(T));
    s.E = SpreadOf(std::move(E));
    s.A = SpreadOf(std::move(A));
    if (!second.empty()) s.second = SpreadOf(std::move(second));
    if (s.fitted > 0) {
        s.atBound = static_cast<double>(bound) / static_cast<double>(s.fitted);
        s.atEdge = static_cast<double>(edge) / static_cast<double>(s.fitted);
    }
    return s;
}

// The options of the draws' fits, after the checks of the whole: one model, and
// the fitted draws of a sample in memory.
StudyOptions DrawOptions(const StudyOptions& options, const RunSettings& settings) {
    CheckOptions(options);
    const auto n = static_cast<std::size_t>(options.mcDraws);
    // A sample's fitted draws are kept to be ordered, with the results of a chunk.
    const double bytes = static_cast<double>(n) * (sizeof(McPoint) + 4 * sizeof(double)) +
                         static_cast<double>(std::min(n, kChunk)) * 2048;
    if (bytes > static_cast<double>(settings.MemoryAvailable()))
        throw StudyError("the " + std::to_string(n) + " draws of a sample would take " +
                             ApproxText(bytes / 1e6) + " MB, more than this process may use",
                         StudySetting::MonteCarlo);
    // Each draw gives its best values: their spread over the draws is the answer,
    // so neither a draw's ranges nor its posterior is sought.
    StudyOptions one = options;
    one.mcDraws = 0;
    one.prior = false;
    one.bestOnly = true;
    return one;
}

// The draws of the sample at `place` (read as `v`), fitted a chunk at a time; its
// generator is seeded by the seed and the place alone. Each chunk advances
// `control` by its draws.
std::vector<McPoint> DrawAndFit(const Sample& sample, std::size_t place, const Values& v,
                                const StudyOptions& options, const StudyOptions& one,
                                const RunSettings& settings, RunControl& control,
                                const std::function<void(const McDraw&)>& eachDraw,
                                std::string* failure = nullptr) {
    const auto n = static_cast<std::size_t>(options.mcDraws);
    const std::uint64_t seed = options.mcSeed;
    std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                      static_cast<std::uint32_t>(place), static_cast<std::uint32_t>(place >> 32)};
    std::mt19937_64 rng(seq);
    std::vector<McPoint> fits;
    fits.reserve(n);
    for (std::size_t first = 0; first < n; first += kChunk) {
        std::vector<Sample> chunk;
        for (std::size_t k = first; k < std::min(n, first + kChunk); ++k)
            chunk.push_back(Drawn(sample, v, options, rng));
        // The chunk's draws counted as its fit goes on.
        RunControl part(control, static_cast<std::uint64_t>(chunk.size()));
        const std::vector<StudyResult> fitted = FitStudy(chunk, one, settings, part);
        for (std::size_t k = 0; k < fitted.size(); ++k) {
            if (eachDraw) eachDraw({place, first + k, fitted[k]});
            if (fitted[k].error.empty())
                fits.push_back(PointOf(fitted[k]));
            else if (failure && failure->empty())
                *failure = fitted[k].error;
        }
        control.Advance(chunk.size() - std::min<std::uint64_t>(chunk.size(), part.Shared()));
    }
    return fits;
}

// The draws' options for one sample: each draw searches the cases its sample's
// fit leaves it (DrawReach). The sample's own grid search is counted apart; a
// sample whose grid cannot be searched leaves its draws every case (and their
// rows say why).
StudyOptions Reached(const Sample& sample, const StudyOptions& one, const RunSettings& settings,
                     RunControl& control) {
    StudyOptions mine = one;
    RunControl part(control, RunControl::kCountedApart);
    try {
        mine.reach = ReachOf(sample, one, settings, part);
    } catch (const Refusal&) {
        mine.reach = nullptr;
    }
    return mine;
}

// The sigma of what a gas beyond the fit says: the measurement's and the spread
// of the model's concentration over the fitted draws.
void SpreadOverDraws(std::optional<Estimate>& beyond, const std::vector<McPoint>& fits,
                     std::optional<double> McPoint::*of, double measured) {
    if (!beyond) return;
    std::vector<double> x;
    for (const McPoint& p : fits)
        if (p.*of) x.push_back(*(p.*of));
    if (x.size() < 2) return;
    const double s = std::hypot(measured, SpreadOf(std::move(x)).sd);
    if (std::isfinite(s)) beyond = Estimate{beyond->value, beyond->value - s, beyond->value + s};
}

} // namespace

void MonteCarlo(const std::vector<Sample>& samples, const StudyOptions& options,
                const RunSettings& settings, std::vector<StudyResult>& results, RunControl& control,
                const std::function<void(const McDraw&)>& eachDraw) {
    if (options.mcDraws <= 0) return;
    const StudyOptions one = DrawOptions(options, settings);
    const auto n = static_cast<std::size_t>(options.mcDraws);
    control.Begin(samples.size() * n);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        Values v;
        try {
            v = ReadValues(samples[i], options, settings.DecimalSeparator);
        } catch (const StudyError&) {
            control.Advance(n); // refused as it stands: its row says why
            continue;
        }
        std::string failure;
        const std::vector<McPoint> fits =
            DrawAndFit(samples[i], i, v, options, Reached(samples[i], one, settings, control),
                       settings, control, eachDraw, &failure);
        if (i < results.size()) {
            results[i].mc = Summarise(fits, n);
            results[i].mc->place = i;
            results[i].mc->failure = failure;
            // Per gram, the table's unit.
            const double unit = options.perGram ? static_cast<double>(v.density) : 1.0;
            SpreadOverDraws(results[i].heTerrigenic, fits, &McPoint::he,
                            v.sigma[GasIndexOf("He-4")] / unit);
            SpreadOverDraws(results[i].n2Excess, fits, &McPoint::n2,
                            v.sigma[GasIndexOf("N2")] / unit);
        }
    }
}

std::vector<McPoint> McDrawsOf(const Sample& sample, std::size_t place, const StudyOptions& options,
                               const RunSettings& settings, RunControl& control) {
    if (options.mcDraws <= 0) return {};
    const StudyOptions one = DrawOptions(options, settings);
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    control.Begin(static_cast<std::size_t>(options.mcDraws));
    return DrawAndFit(sample, place, v, options, Reached(sample, one, settings, control), settings,
                      control, {});
}

} // namespace temra::study
