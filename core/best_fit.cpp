// The two best-fit searches: every grid case is scored by the root-mean-square
// deviation of its calculated concentrations from the measured ones over the
// selected gases, and the ten best cases are ranked.
#include "module1.h"

#include "checked_math.h"
#include "counting_loop.h"
#include "numtext.h"
#include "parallel.h"
#include "ranking.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace temra {

namespace {

// The deviation of a sum of squares over n gases: (sum / n) ^ 0.5.
inline double Rms(double sum, int n) {
    return std::pow(sum / n, 0.5);
}

bool IsFinite(double v) {
    return std::fabs(v) <= std::numeric_limits<double>::max();
}

} // namespace

void Module1::FindBestFitNoEa() {
    const GasSelection& sel = Selection();
    const SolubilityGrid& grid = *sel.grid;
    const int n = sel.SelGasCount;
    const auto N = static_cast<std::size_t>(grid.CaseCount);

    auto fit = std::make_shared<BestFitNoEa>();
    fit->grid = sel.grid;
    fit->SelGasCount = n;
    try {
        fit->CaseRms.resize(N);
    } catch (const std::bad_alloc&) {
        throw TemraError(ErrorNumber::OutOfMemory, fields::SolGraphSelection(),
                         "no room for the deviations of every case");
    }

    std::vector<const double*> rows;
    for (int gas : sel.Gas) rows.push_back(grid.Row(gas).data());

    // Deviation of every case. A case in which a selected gas has a calculated
    // concentration of exactly 0 is excluded: it carries the exclusion value.
    const unsigned parts = PartCount(static_cast<std::int64_t>(N), 250000);
    std::vector<TopTen> tops(parts);
    RunParts(parts, [&](unsigned part) {
        TopTen& top = tops[part];
        for (std::size_t i = N * part / parts, end = N * (part + 1) / parts; i < end; ++i) {
            double sum = 0;
            bool excluded = false;
            for (int j = 0; j < n; ++j) {
                const double c = rows[static_cast<std::size_t>(j)][i];
                if (c == 0) {
                    excluded = true;
                    break;
                }
                const double d = c - sel.SelMeasured[static_cast<std::size_t>(j)];
                sum += d * d;
            }
            const double rms = excluded ? kExclusionValue : Rms(sum, n);
            if (!IsFinite(rms))
                throw TemraError(ErrorNumber::Overflow, fields::SolGraphSelection(),
                                 "the deviation of case " + std::to_string(i + 1) +
                                     " exceeds the number range");
            fit->CaseRms[i] = rms;
            top.Offer(rms, sum, static_cast<CaseNumber>(i + 1));
        }
    });
    TopTen& top = tops[0];
    for (unsigned p = 1; p < parts; ++p) top.Merge(tops[p]);

    // Ten passes: rank k takes the k-th case in (deviation, case number) order. A
    // rank without any eligible case left repeats the case picked just before it,
    // with the exclusion value as deviation.
    fit->Ranked = top.size();
    for (int k = 1; k <= kRankCount; ++k) {
        RunMin = kExclusionValue;
        if (k <= top.size()) {
            RunMin = top[k - 1].rms;
            RunMinCase = top[k - 1].caseNo;
        }
        fit->BestRms[static_cast<std::size_t>(k - 1)] = RunMin;
        fit->BestCase[static_cast<std::size_t>(k - 1)] = RunMinCase;
    }
    RunMin = kExclusionValue;
    noEa_ = std::move(fit);
}

namespace {

// Scores cases [begin, end) for the first M trial amounts and keeps the ten best of
// each. `corr` holds the corrected measurements, selected gas j's M values at j * M.
//
// The sum of squares is formed exactly as the calculator forms it (starting at 0,
// adding d * d gas by gas, d = calculated - corrected), and every deviation that
// can take a rank is computed in full as (sum / n) ^ 0.5. Only a sum clearly above
// the sum of the current tenth case (by a relative margin far wider than the
// rounding of the division and the power) is passed over without the power: its
// deviation is larger for certain, so the rankings are the same as with every
// deviation computed.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void ScoreCases(const double* const* rows, int n, std::int64_t begin, std::int64_t end,
                const double* corr, std::int64_t M, TopTen* tops, int* overflow) {
    const auto Ms = static_cast<std::size_t>(M);
    std::vector<double> acc(Ms);
    const double initialThreshold = 1e8 * n * (1 + 1e-9); // deviation 10000 and above
    std::vector<double> threshold(Ms, initialThreshold);
    double* a = acc.data();
    double* thr = threshold.data();
    for (std::int64_t i = begin; i < end; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        {
            const double s = rows[0][ui];
            const double* c = corr;
            for (std::size_t m = 0; m < Ms; ++m) {
                const double d = s - c[m];
                a[m] = 0.0 + d * d;
            }
        }
        for (int j = 1; j < n; ++j) {
            const double s = rows[j][ui];
            const double* c = corr + static_cast<std::size_t>(j) * Ms;
            for (std::size_t m = 0; m < Ms; ++m) {
                const double d = s - c[m];
                a[m] += d * d;
            }
        }
        int any = 0, big = 0;
        for (std::size_t m = 0; m < Ms; ++m) {
            any |= !(a[m] > thr[m]);
            big |= a[m] > std::numeric_limits<double>::max();
        }
        *overflow |= big;
        if (!any) continue;
        for (std::size_t m = 0; m < Ms; ++m) {
            if (a[m] > thr[m]) continue;
            TopTen& top = tops[m];
            if (top.Offer(Rms(a[m], n), a[m], i + 1) && top.full())
                thr[m] = top[TopTen::kCapacity - 1].sum * (1 + 1e-12) + 1e-290;
        }
    }
}

} // namespace

void Module1::RunExcessAirSearch(const DialogTexts& d) {
    using checked::Div;
    const GasSelection& sel = Selection();
    const SolubilityGrid& grid = *sel.grid;
    const char sep = DecimalSeparator;
    auto F = [](const char* control) { return fields::Dialog(control); };

    auto ea = std::make_shared<BestFitEa>();
    ea->grid = sel.grid;
    ea->EaMin = ParseDouble(d.Text17, F("Text17"), sep);
    ea->EaMax = ParseDouble(d.Text23, F("Text23"), sep);
    ea->EaStep = ParseDouble(d.Text24, F("Text24"), sep);
    if (!(ea->EaStep > 0))
        throw TemraError(ErrorNumber::InvalidCall, F("Text24"),
                         "the excess-air step must be greater than zero");
    if (ea->EaMin > ea->EaMax)
        throw TemraError(ErrorNumber::InvalidCall, F("Text23"),
                         "the excess-air maximum must not be below the minimum");
    ea->EaStepCount = Div(std::fabs(ea->EaMax - ea->EaMin), ea->EaStep, F("Text24"),
                          "the excess-air step must not be zero");
    // The trial amounts evaluated are those below the last one generated: M is the
    // integer part of the step count.
    const double R = RoundHalfEven(ea->EaStepCount + 1);
    const double Mf = std::floor(ea->EaStepCount);
    if (Mf < 1)
        throw TemraError(ErrorNumber::InvalidCall, F("Text23"),
                         "the range holds no trial amount to evaluate: the maximum must lie at "
                         "least one step above the minimum");
    const int n = sel.SelGasCount;
    const double bytes = R * (n + 1) * 8.0 + Mf * kRankCount * 16.0 +
                         Mf * (sizeof(TopTen) * (PartCount(grid.CaseCount, 100000) + 1) + 16.0);
    if (bytes > static_cast<double>(MemoryBudget))
        throw TemraError(ErrorNumber::OutOfMemory, F("Text24"),
                         "too many trial amounts of excess air; use a larger step");
    ea->M = static_cast<std::int64_t>(Mf);
    const auto Rn = static_cast<std::size_t>(R);
    const auto M = static_cast<std::size_t>(ea->M);

    // Corrected measurements: for each trial amount A the excess-air part
    // AtmFraction x A is taken off the measured value of every selected gas.
    ea->EaValue.assign(Rn, 0.0f);
    ea->EaCorrMeasured.assign(static_cast<std::size_t>(n) * Rn, 0.0);
    std::size_t m = 0;
    for (double A = ea->EaMin; LoopContinues(A, ea->EaMax, ea->EaStep); A += ea->EaStep) {
        if (++m > Rn)
            throw TemraError(ErrorNumber::SubscriptRange, F("Text24"),
                             "the excess-air values do not advance to the maximum");
        if (std::fabs(A) > std::numeric_limits<float>::max())
            throw TemraError(ErrorNumber::Overflow, F("Text23"), "excess air out of range");
        ea->EaValue[m - 1] = static_cast<float>(A);
        for (int j = 0; j < n; ++j) {
            const int gas = sel.Gas[static_cast<std::size_t>(j)];
            ea->EaCorrMeasured[static_cast<std::size_t>(j) * Rn + m - 1] =
                grid.MeasuredConc[gas - 1] - GasTable[gas - 1].AtmFraction * A;
        }
    }
    ea->GeneratedCount = static_cast<std::int64_t>(m);

    // EANGCorel: the deviations of every case for trial amounts 1 to M, kept only as
    // far as the ranking needs them.
    std::vector<double> corr(static_cast<std::size_t>(n) * M);
    for (int j = 0; j < n; ++j)
        std::copy_n(ea->EaCorrMeasured.begin() + static_cast<std::ptrdiff_t>(j * Rn), M,
                    corr.begin() + static_cast<std::ptrdiff_t>(j * M));
    std::vector<const double*> rows;
    for (int gas : sel.Gas) rows.push_back(grid.Row(gas).data());

    const std::int64_t N = grid.CaseCount;
    const unsigned parts = PartCount(N, 100000);
    std::vector<std::vector<TopTen>> partial(parts, std::vector<TopTen>(M));
    std::vector<int> overflow(parts, 0);
    RunParts(parts, [&](unsigned part) {
        ScoreCases(rows.data(), n, N * part / parts, N * (part + 1) / parts, corr.data(), ea->M,
                   partial[part].data(), &overflow[part]);
    });
    for (unsigned p = 1; p < parts; ++p)
        for (std::size_t i = 0; i < M; ++i) partial[0][i].Merge(partial[p][i]);
    if (std::find(overflow.begin(), overflow.end(), 1) != overflow.end())
        throw TemraError(ErrorNumber::Overflow, F("Text23"),
                         "a deviation exceeds the number range");
    const std::vector<TopTen>& tops = partial[0];

    // EANGBestfit: rank k is taken for every trial amount before rank k + 1; a
    // trial amount without an eligible case left repeats the case picked just
    // before it in that order, with the exclusion value as deviation.
    ea->BestRms.assign(M * kRankCount, 0.0);
    ea->BestCase.assign(M * kRankCount, 0);
    ea->Ranked.resize(M);
    for (std::size_t i = 0; i < M; ++i) ea->Ranked[i] = tops[i].size();
    for (int k = 1; k <= kRankCount; ++k) {
        for (std::size_t i = 0; i < M; ++i) {
            RunMin = kExclusionValue;
            if (k <= tops[i].size()) {
                RunMin = tops[i][k - 1].rms;
                RunMinCase = tops[i][k - 1].caseNo;
            }
            ea->BestRms[i * kRankCount + static_cast<std::size_t>(k - 1)] = RunMin;
            ea->BestCase[i * kRankCount + static_cast<std::size_t>(k - 1)] = RunMinCase;
        }
    }
    RunMin = kExclusionValue;
    ea_ = std::move(ea);
}

} // namespace temra
