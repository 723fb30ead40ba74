#include "study/monte_carlo.h"

#include "core/numtext.h"
#include "study/models.h"
#include "study/sample_values.h"

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
    return std::any_of(r.flags.begin(), r.flags.end(),
                       [](const std::string& f) { return f == "edge-T" || f == "edge-E"; });
}

McSummary Summarise(const std::vector<StudyResult>& fits, std::size_t draws) {
    McSummary s;
    s.draws = draws;
    std::vector<double> T, E, A, second;
    std::size_t bound = 0, edge = 0;
    for (const StudyResult& r : fits) {
        if (!r.error.empty()) continue;
        T.push_back(r.temperature);
        E.push_back(r.elevation);
        A.push_back(r.A);
        if (r.second) second.push_back(r.second->value);
        bound += AtBound(r);
        edge += AtEdge(r);
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

} // namespace

void MonteCarlo(const std::vector<Sample>& samples, const StudyOptions& options,
                const RunSettings& settings, std::vector<StudyResult>& results, RunControl& control,
                const std::function<void(const McDraw&)>& eachDraw) {
    const int draws = options.mcDraws;
    const std::uint64_t seed = options.mcSeed;
    if (draws <= 0) return;
    StudyOptions one = options;
    one.mcDraws = 0;
    if (options.allModels)
        throw StudyError("Monte Carlo fits the draws with one model; choose one",
                         StudySetting::MonteCarlo);
    const auto n = static_cast<std::size_t>(draws);
    // The fitted values of a sample's draws are kept to be ordered: four numbers
    // a draw, with the results of a chunk.
    const double bytes = static_cast<double>(n) * 4 * sizeof(double) +
                         static_cast<double>(std::min(n, kChunk)) * 2048;
    if (bytes > static_cast<double>(settings.MemoryAvailable()))
        throw StudyError("the " + std::to_string(n) + " draws of a sample would take " +
                             ApproxText(bytes / 1e6) + " MB, more than this process may use",
                         StudySetting::MonteCarlo);
    control.Begin(samples.size() * n);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        Values v;
        try {
            v = ReadValues(samples[i], options, settings.DecimalSeparator);
        } catch (const StudyError&) {
            control.Advance(n); // refused as it stands: its row says why
            continue;
        }
        std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                          static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i >> 32)};
        std::mt19937_64 rng(seq);
        std::vector<StudyResult> fits;
        fits.reserve(n);
        for (std::size_t first = 0; first < n; first += kChunk) {
            std::vector<Sample> chunk;
            for (std::size_t k = first; k < std::min(n, first + kChunk); ++k)
                chunk.push_back(Drawn(samples[i], v, options, rng));
            RunControl part(control, RunControl::kCountedApart);
            std::vector<StudyResult> fitted = FitStudy(chunk, one, settings, part);
            for (std::size_t k = 0; k < fitted.size(); ++k) {
                if (eachDraw) eachDraw({i, first + k, fitted[k]});
                fits.push_back(std::move(fitted[k]));
            }
            control.Advance(chunk.size());
        }
        if (i < results.size()) results[i].mc = Summarise(fits, n);
    }
}

} // namespace temra::study
