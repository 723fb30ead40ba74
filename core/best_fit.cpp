// The two best-fit searches: every grid case is scored by the root-mean-square
// deviation of its calculated concentrations from the measured ones over the
// selected gases, and the ten best cases are ranked.
#include "core/module1.h"

#include "core/checked_math.h"
#include "core/counting_loop.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/range_blame.h"
#include "core/ranking.h"

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

namespace {

// The box to name when a deviation leaves the number range: the largest of the
// numbers it is made of. `measured` and `calculated` are the largest magnitudes of
// selected gas j; `excessAir` the largest excess-air correction (0 without).
struct OverflowSource {
    double magnitude = -1;
    FieldRef field;
    std::string what;
};

void Consider(OverflowSource& worst, double magnitude, FieldRef field, std::string what) {
    if (magnitude > worst.magnitude) worst = {magnitude, std::move(field), std::move(what)};
}

FieldRef MeasuredField(int gas) {
    return fields::Ref(fields::Measured(gas));
}

double LargestOf(std::span<const double> row) {
    double largest = 0;
    for (double v : row) largest = std::max(largest, std::fabs(v));
    return largest;
}

[[noreturn]] void DeviationOverflow(const GasSelection& sel, const GasTableType& table,
                                    double eaMin, double eaMax) {
    OverflowSource worst;
    for (std::size_t j = 0; j < sel.Gas.size(); ++j) {
        const int gas = sel.Gas[j];
        const std::string name(GasAt(gas).graphLabel);
        Consider(worst, std::fabs(sel.SelMeasured[j]), MeasuredField(gas),
                 "the measured " + name + " (" + ApproxText(sel.SelMeasured[j]) + ")");
        Consider(worst, LargestOf(sel.grid->Row(gas)), fields::Ref(FieldId::Density),
                 "the calculated " + name + " (from the density of water)");
        const double atm = table[static_cast<std::size_t>(gas)].AtmFraction;
        const bool maxIsLarger = std::fabs(eaMax) >= std::fabs(eaMin);
        Consider(worst, atm * std::max(std::fabs(eaMin), std::fabs(eaMax)),
                 fields::Ref(maxIsLarger ? FieldId::EaMax : FieldId::EaMin),
                 "the excess-air correction of " + name);
    }
    throw TemraError(ErrorNumber::Overflow, worst.field,
                     "a deviation exceeds the number range: " + worst.what + " is too large");
}

} // namespace

void Module1::FindBestFitNoEa() {
    CommitBestFitNoEa(ComputeBestFitNoEa());
}

namespace {

// The deviations of every case without excess air, with the ten best: a part of
// the cases per core, handed over when each ends.
struct DeviationParts {
    std::vector<TopTen> tops;
    std::vector<CaseNumber> excluded;
    std::vector<double> smallest;
    std::vector<int> overflow;
};

DeviationParts Deviations(const GasSelection& sel, BestFitNoEa& fit, RunControl& control) {
    const SolubilityGrid& grid = *sel.grid;
    const int n = sel.SelGasCount;
    const auto N = static_cast<std::size_t>(grid.CaseCount);
    std::vector<const double*> rows;
    for (int gas : sel.Gas) rows.push_back(grid.Row(gas).data());
    // A case in which a selected gas has a calculated concentration of exactly 0
    // is excluded: it carries the exclusion value.
    control.Begin(N);
    const unsigned parts = PartCount(static_cast<std::int64_t>(N), 250000);
    DeviationParts d{std::vector<TopTen>(parts), std::vector<CaseNumber>(parts, 0),
                     std::vector<double>(parts, std::numeric_limits<double>::infinity()),
                     std::vector<int>(parts, 0)};
    RunParts(parts, [&](unsigned part) {
        TopTen& top = d.tops[part];
        // Kept here and handed over at the end: parts never write beside each other.
        CaseNumber partExcluded = 0;
        double partSmallest = std::numeric_limits<double>::infinity();
        bool partOverflow = false;
        constexpr std::size_t kChunk = 65536;
        for (std::size_t from = N * part / parts, end = N * (part + 1) / parts; from < end;
             from += kChunk) {
            const std::size_t to = std::min(end, from + kChunk);
            for (std::size_t i = from; i < to; ++i) {
                double sum = 0;
                bool isExcluded = false;
                for (int j = 0; j < n; ++j) {
                    const double c = rows[static_cast<std::size_t>(j)][i];
                    if (c == 0) {
                        isExcluded = true;
                        break;
                    }
                    const double dev = c - sel.SelMeasured[static_cast<std::size_t>(j)];
                    sum += dev * dev;
                }
                const double rms = isExcluded ? kExclusionValue : Rms(sum, n);
                partOverflow |= !IsFinite(rms);
                fit.CaseRms[i] = rms;
                if (isExcluded)
                    ++partExcluded;
                else
                    partSmallest = std::min(partSmallest, rms);
                top.Offer(rms, sum, static_cast<CaseNumber>(i + 1));
            }
            control.Advance(to - from);
        }
        d.excluded[part] = partExcluded;
        d.smallest[part] = partSmallest;
        d.overflow[part] = partOverflow;
    });
    return d;
}

// Ten passes: rank k takes the k-th case in (deviation, case number) order. A
// rank without any eligible case left repeats the case picked just before it,
// with the exclusion value as deviation. Returns the last pick.
CaseNumber RankTen(BestFitNoEa& fit, const TopTen& top, CaseNumber runMinCase) {
    fit.Ranked = top.size();
    for (int k = 1; k <= kRankCount; ++k) {
        double runMin = kExclusionValue;
        if (k <= top.size()) {
            runMin = top[k - 1].rms;
            runMinCase = top[k - 1].caseNo;
        }
        fit.BestRms[static_cast<std::size_t>(k - 1)] = runMin;
        fit.BestCase[static_cast<std::size_t>(k - 1)] = runMinCase;
    }
    return runMinCase;
}

} // namespace

std::shared_ptr<BestFitNoEa> Module1::ComputeBestFitNoEa(RunControl& control) const {
    const GasSelection& sel = Selection();
    const auto N = static_cast<std::size_t>(sel.grid->CaseCount);

    auto fit = std::make_shared<BestFitNoEa>();
    fit->grid = sel.grid;
    fit->SelGasCount = sel.SelGasCount;
    fit->Gas = sel.Gas;
    if (static_cast<double>(N) * sizeof(double) > static_cast<double>(run.MemoryAvailable()))
        throw TemraError(ErrorNumber::OutOfMemory, fields::Ref(FieldId::Calculate),
                         "the deviations of " + CountText(static_cast<double>(N)) + " cases need " +
                             ByteText(static_cast<double>(N) * sizeof(double)) +
                             ", more than this process may use; use larger steps on the input "
                             "page");
    try {
        fit->CaseRms.resize(N);
    } catch (const std::bad_alloc&) {
        throw TemraError(ErrorNumber::OutOfMemory, fields::Ref(FieldId::Calculate),
                         "no room for the deviations of every case");
    }
    DeviationParts d = Deviations(sel, *fit, control);
    if (std::find(d.overflow.begin(), d.overflow.end(), 1) != d.overflow.end())
        DeviationOverflow(sel, GasTable, 0, 0);
    TopTen& top = d.tops[0];
    for (std::size_t p = 1; p < d.tops.size(); ++p) top.Merge(d.tops[p]);
    for (const CaseNumber excluded : d.excluded) fit->Excluded += excluded;
    fit->Smallest = *std::min_element(d.smallest.begin(), d.smallest.end());
    fit->RunMinCase = RankTen(*fit, top, RunMinCase);
    return fit;
}

void Module1::CommitBestFitNoEa(std::shared_ptr<const BestFitNoEa> fit) {
    RunMinCase = fit->RunMinCase;
    RunMin = kExclusionValue;
    noEa_ = std::move(fit);
}

std::string NoFitReason(const BestFitNoEa& fit) {
    if (fit.Ranked > 0) return {};
    const CaseNumber cases = fit.grid ? fit.grid->CaseCount : 0;
    if (cases == 0) return "the grid has no case";
    if (fit.Excluded == cases)
        return "every case is excluded: in each, a selected gas has a calculated concentration "
               "of 0";
    return "no case has a deviation below 10000 (the smallest is " + ApproxText(fit.Smallest) +
           "): the measured values lie far from every calculated one";
}

namespace {

// The sums of squares of case `ui` for the first Ms trial amounts, into a: from
// 0, gas by gas, d = calculated - corrected. `corr` holds the corrected
// measurements, selected gas j's Ms values at j * Ms.
inline void SumSquares(const double* const* rows, int n, std::size_t ui, const double* corr,
                       std::size_t Ms, double* a) {
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
}

// Whether any sum may take a rank (none lies above its threshold); a sum beyond
// the largest double marks `overflow`.
inline bool AnyMayRank(const double* a, const double* thr, std::size_t Ms, int* overflow) {
    int any = 0, big = 0;
    for (std::size_t m = 0; m < Ms; ++m) {
        any |= !(a[m] > thr[m]);
        big |= a[m] > std::numeric_limits<double>::max();
    }
    *overflow |= big;
    return any != 0;
}

// Offers case i + 1 to the ten best of every trial amount whose sum may rank; a
// full ten raises the amount's threshold to its tenth sum.
inline void OfferCase(const double* a, double* thr, std::size_t Ms, int n, std::int64_t i,
                      TopTen* tops) {
    for (std::size_t m = 0; m < Ms; ++m) {
        if (a[m] > thr[m]) continue;
        TopTen& top = tops[m];
        if (top.Offer(Rms(a[m], n), a[m], i + 1) && top.full())
            thr[m] = top[TopTen::kCapacity - 1].sum * (1 + 1e-12) + 1e-290;
    }
}

// Scores cases [begin, end) for the first M trial amounts and keeps the ten best of
// each. `corr` holds the corrected measurements, selected gas j's M values at j * M.
//
// The sum of squares is formed in one fixed order (starting at 0,
// adding d * d gas by gas, d = calculated - corrected), and every deviation that
// can take a rank is computed in full as (sum / n) ^ 0.5. Only a sum clearly above
// the sum of the current tenth case (by a relative margin far wider than the
// rounding of the division and the power) is passed over without the power: its
// deviation is larger for certain, so the rankings are the same as with every
// deviation computed. The loop throws nothing (a cancel makes it return early),
// as exceptions do not pass through its target clones.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void ScoreCases(const double* const* rows, int n, std::int64_t begin, std::int64_t end,
                const double* corr, std::int64_t M, TopTen* tops, int* overflow,
                RunControl* control) {
    const auto Ms = static_cast<std::size_t>(M);
    // Progress is told (and a cancel seen) about every few million operations.
    const std::int64_t chunk = std::max<std::int64_t>(1, (std::int64_t{1} << 22) / (M * n));
    std::int64_t sinceReport = 0;
    std::vector<double> acc(Ms);
    const double initialThreshold = 1e8 * n * (1 + 1e-9); // deviation 10000 and above
    std::vector<double> threshold(Ms, initialThreshold);
    double* a = acc.data();
    double* thr = threshold.data();
    for (std::int64_t i = begin; i < end; ++i) {
        if (++sinceReport == chunk) {
            control->Add(static_cast<std::uint64_t>(sinceReport));
            sinceReport = 0;
            if (control->IsCancelled()) return;
        }
        SumSquares(rows, n, static_cast<std::size_t>(i), corr, Ms, a);
        if (AnyMayRank(a, thr, Ms, overflow)) OfferCase(a, thr, Ms, n, i, tops);
    }
    control->Add(static_cast<std::uint64_t>(sinceReport));
}

} // namespace

void Module1::RunExcessAirSearch(const DialogTexts& d) {
    CommitExcessAirSearch(ComputeExcessAirSearch(d));
}

namespace {

// The range of trial amounts of excess air, read and checked, with the box to
// name when it holds too many: its bound of the larger magnitude, or its step,
// whichever lies further from the defaults.
struct EaRange {
    FieldRef boundField, countField;
    const char* remedy;
    double R;  // the trial amounts generated, rounded half to even
    double Mf; // the trial amounts evaluated: the integer part of the step count
};

EaRange ReadEaRange(const DialogTexts& d, char sep, BestFitEa& ea) {
    auto F = [](FieldId id) { return fields::Ref(id); };
    ea.EaMin = ParseDouble(d.Text17, F(FieldId::EaMin), sep);
    ea.EaMax = ParseDouble(d.Text23, F(FieldId::EaMax), sep);
    ea.EaStep = ParseDouble(d.Text24, F(FieldId::EaStep), sep);
    if (!(ea.EaStep > 0))
        throw TemraError(ErrorNumber::InvalidCall, F(FieldId::EaStep),
                         "the excess-air step must be greater than zero");
    if (ea.EaMin > ea.EaMax)
        throw TemraError(ErrorNumber::InvalidCall, F(FieldId::EaMax),
                         "the excess-air maximum must not be below the minimum");
    const double extent = std::fabs(ea.EaMax - ea.EaMin);
    const FieldRef boundField =
        F(std::fabs(ea.EaMax) >= std::fabs(ea.EaMin) ? FieldId::EaMax : FieldId::EaMin);
    const bool extentAtFault = ExtentIsCulprit(extent, ea.EaStep, 0.049, 0.001);
    const FieldRef countField = extentAtFault ? boundField : F(FieldId::EaStep);
    const char* remedy = extentAtFault ? "narrow the range" : "use a larger step";
    ea.EaStepCount = extent / ea.EaStep;
    if (!IsFinite(ea.EaStepCount))
        throw TemraError(ErrorNumber::Overflow, countField,
                         std::string("the range from the minimum to the maximum holds more steps "
                                     "than can be counted; ") +
                             remedy);
    // The trial amounts evaluated are those below the last one generated: M is the
    // integer part of the step count.
    const double R = RoundHalfEven(ea.EaStepCount + 1);
    const double Mf = std::floor(ea.EaStepCount);
    if (Mf < 1)
        throw TemraError(ErrorNumber::InvalidCall, F(FieldId::EaMax),
                         "the range holds no trial amount to evaluate: the maximum must lie at "
                         "least one step above the minimum");
    return {boundField, countField, remedy, R, Mf};
}

// Corrected measurements: for each trial amount A the excess-air part
// AtmFraction x A is taken off the measured value of every selected gas.
void CorrectMeasured(BestFitEa& ea, const GasSelection& sel, const GasTableType& table,
                     const EaRange& range, RunControl& control) {
    const SolubilityGrid& grid = *sel.grid;
    const int n = sel.SelGasCount;
    const auto Rn = static_cast<std::size_t>(range.R);
    ea.EaValue.assign(Rn, 0.0f);
    ea.EaCorrMeasured.assign(static_cast<std::size_t>(n) * Rn, 0.0);
    std::size_t m = 0;
    for (double A = ea.EaMin; LoopContinues(A, ea.EaMax, ea.EaStep); A += ea.EaStep) {
        if (++m > Rn)
            throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::EaStep),
                             "the excess-air values do not advance to the maximum");
        if (std::fabs(A) > std::numeric_limits<float>::max())
            throw TemraError(ErrorNumber::Overflow, range.boundField,
                             "an excess-air value lies beyond the single-precision range");
        if ((m & 0xFFFFF) == 0) control.CheckCancelled();
        ea.EaValue[m - 1] = static_cast<float>(A);
        for (int j = 0; j < n; ++j) {
            const auto gas = static_cast<std::size_t>(sel.Gas[static_cast<std::size_t>(j)]);
            ea.EaCorrMeasured[static_cast<std::size_t>(j) * Rn + m - 1] =
                grid.MeasuredConc[gas] - table[gas].AtmFraction * A;
        }
    }
    ea.GeneratedCount = static_cast<std::int64_t>(m);
}

// EANGBestfit: rank k is taken for every trial amount before rank k + 1; a trial
// amount without an eligible case left repeats the case picked just before it in
// that order, with the exclusion value as deviation. Returns the last pick.
CaseNumber RankTrials(BestFitEa& ea, const std::vector<TopTen>& tops, CaseNumber runMinCase) {
    const auto M = static_cast<std::size_t>(ea.M);
    ea.BestRms.assign(M * kRankCount, 0.0);
    ea.BestCase.assign(M * kRankCount, 0);
    ea.Ranked.resize(M);
    for (std::size_t i = 0; i < M; ++i) ea.Ranked[i] = tops[i].size();
    for (int k = 1; k <= kRankCount; ++k) {
        for (std::size_t i = 0; i < M; ++i) {
            double runMin = kExclusionValue;
            if (k <= tops[i].size()) {
                runMin = tops[i][k - 1].rms;
                runMinCase = tops[i][k - 1].caseNo;
            }
            ea.BestRms[i * kRankCount + static_cast<std::size_t>(k - 1)] = runMin;
            ea.BestCase[i * kRankCount + static_cast<std::size_t>(k - 1)] = runMinCase;
        }
    }
    return runMinCase;
}

} // namespace

std::shared_ptr<BestFitEa> Module1::ComputeExcessAirSearch(const DialogTexts& d,
                                                           RunControl& control) const {
    const GasSelection& sel = Selection();
    const SolubilityGrid& grid = *sel.grid;

    auto ea = std::make_shared<BestFitEa>();
    ea->grid = sel.grid;
    ea->Inputs = d;
    ea->Gas = sel.Gas;
    const EaRange range = ReadEaRange(d, run.DecimalSeparator, *ea);
    const int n = sel.SelGasCount;
    const unsigned parts = PartCount(grid.CaseCount, 100000);
    const double R = range.R, Mf = range.Mf;
    const double bytes = R * (n + 1) * 8.0 + Mf * n * 8.0 + Mf * kRankCount * 20.0 +
                         Mf * ((sizeof(TopTen) + 16.0) * parts + sizeof(int));
    const std::uint64_t budget = run.MemoryAvailable();
    if (bytes > static_cast<double>(budget))
        throw TemraError(ErrorNumber::OutOfMemory, range.countField,
                         "the search over " + ApproxText(Mf) +
                             " trial amounts of excess air needs "
                             "about " +
                             ByteText(bytes) + ", " + RoomText(static_cast<double>(budget)) +
                             (budget == 0 ? std::string() : "; " + std::string(range.remedy)));
    ea->M = static_cast<std::int64_t>(Mf);
    const auto Rn = static_cast<std::size_t>(R);
    const auto M = static_cast<std::size_t>(ea->M);
    CorrectMeasured(*ea, sel, GasTable, range, control);

    // EANGCorel: the deviations of every case for trial amounts 1 to M, kept only as
    // far as the ranking needs them.
    std::vector<double> corr(static_cast<std::size_t>(n) * M);
    for (int j = 0; j < n; ++j)
        std::copy_n(ea->EaCorrMeasured.begin() + static_cast<std::ptrdiff_t>(j * Rn), M,
                    corr.begin() + static_cast<std::ptrdiff_t>(j * M));
    std::vector<const double*> rows;
    for (int gas : sel.Gas) rows.push_back(grid.Row(gas).data());

    const std::int64_t N = grid.CaseCount;
    control.Begin(static_cast<std::uint64_t>(N));
    std::vector<std::vector<TopTen>> partial(parts, std::vector<TopTen>(M));
    std::vector<int> overflow(parts, 0);
    RunParts(parts, [&](unsigned part) {
        ScoreCases(rows.data(), n, N * part / parts, N * (part + 1) / parts, corr.data(), ea->M,
                   partial[part].data(), &overflow[part], &control);
    });
    control.CheckCancelled();
    if (std::find(overflow.begin(), overflow.end(), 1) != overflow.end())
        DeviationOverflow(sel, GasTable, ea->EaMin, ea->EaMax);
    for (unsigned p = 1; p < parts; ++p)
        for (std::size_t i = 0; i < M; ++i) partial[0][i].Merge(partial[p][i]);
    ea->RunMinCase = RankTrials(*ea, partial[0], RunMinCase);
    return ea;
}

void Module1::CommitExcessAirSearch(std::shared_ptr<const BestFitEa> fit) {
    RunMinCase = fit->RunMinCase;
    RunMin = kExclusionValue;
    ea_ = std::move(fit);
}

} // namespace temra
