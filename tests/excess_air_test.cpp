#include "core/numtext.h"
#include "tests/test_support.h"

using namespace temra;
using temra::test::Defaults;
using temra::test::MatchesDigits;

namespace {

std::array<bool, GasCount> Deleted(std::initializer_list<int> gases) {
    std::array<bool, GasCount> d{};
    for (int g : gases) d[static_cast<std::size_t>(g - 1)] = true;
    return d;
}

// The search written out step by step, the slow way: the full matrices of
// sums and deviations, then rank k for every trial amount before rank k + 1.
struct Literal {
    std::vector<double> bestRms; // (m, k)
    std::vector<CaseNumber> bestCase;
    CaseNumber runMinCase;
};

Literal LiteralSearch(const Module1& m, const BestFitEa& ea, CaseNumber runMinCase) {
    const GasSelection& sel = m.Selection();
    const auto N = static_cast<std::size_t>(m.CaseCount());
    const auto M = static_cast<std::size_t>(ea.M);
    const std::size_t R = ea.EaValue.size();
    const int n = sel.SelGasCount;
    std::vector<double> fitWork(M * N, 0.0), fitRms(M * N, 0.0);
    for (std::size_t mm = 0; mm < M; ++mm)
        for (std::size_t i = 0; i < N; ++i) {
            for (int j = 1; j <= n; ++j) {
                const double d = sel.SelSolubility(j, static_cast<CaseNumber>(i + 1)) -
                                 ea.EaCorrMeasured[static_cast<std::size_t>(j - 1) * R + mm];
                fitWork[mm * N + i] = fitWork[mm * N + i] + std::pow(d, 2);
            }
            fitRms[mm * N + i] = std::pow(fitWork[mm * N + i] / n, 0.5);
        }
    Literal out{std::vector<double>(M * 10), std::vector<CaseNumber>(M * 10), runMinCase};
    double runMin = 10000;
    for (int k = 1; k <= 10; ++k)
        for (std::size_t mm = 0; mm < M; ++mm) {
            for (std::size_t i = 0; i < N; ++i)
                if (fitRms[mm * N + i] < runMin) {
                    runMin = fitRms[mm * N + i];
                    out.runMinCase = static_cast<CaseNumber>(i + 1);
                }
            out.bestRms[mm * 10 + k - 1] = runMin;
            out.bestCase[mm * 10 + k - 1] = out.runMinCase;
            runMin = 10000;
            if (out.runMinCase >= 1)
                fitRms[mm * N + static_cast<std::size_t>(out.runMinCase - 1)] = 10000;
        }
    return out;
}

void ExpectSameAsLiteral(Module1& m, const DialogTexts& d) {
    const CaseNumber carried = m.RunMinCase;
    m.RunExcessAirSearch(d);
    const BestFitEa& ea = m.Ea();
    const Literal lit = LiteralSearch(m, ea, carried);
    ASSERT_EQ(ea.BestRms.size(), lit.bestRms.size());
    for (std::size_t i = 0; i < lit.bestRms.size(); ++i) {
        ASSERT_EQ(ea.BestRms[i], lit.bestRms[i]) << "row " << i;
        ASSERT_EQ(ea.BestCase[i], lit.bestCase[i]) << "row " << i;
    }
    EXPECT_EQ(m.RunMinCase, lit.runMinCase);
}

int ErrorOf(Module1& m, const DialogTexts& d, std::string* control = nullptr) {
    try {
        m.RunExcessAirSearch(d);
    } catch (const TemraError& e) {
        if (control) *control = e.field().control;
        return e.code();
    }
    return 0;
}

} // namespace

TEST(BestFitEa, DefaultsEvaluate49TrialAmounts) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({1, 6, 7}));
    m.RunExcessAirSearch(DialogTexts{});
    const BestFitEa& ea = m.Ea();
    EXPECT_EQ(ea.EaStepCount, 49);
    EXPECT_EQ(ea.M, 49);
    EXPECT_EQ(ea.GeneratedCount, 49);
    EXPECT_EQ(ea.EaValue.size(), 50u);
    EXPECT_EQ(ea.BestRms.size(), 490u);
    EXPECT_EQ(ea.EaValue[0], 0.001f);
    EXPECT_EQ(ea.EaValue[48], 0.049f);
    EXPECT_EQ(ea.EaValue[49], 0.0f);
}

TEST(BestFitEa, LastGeneratedAmountIsNotEvaluated) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.RunExcessAirSearch(DialogTexts{"0", "0.05", "0.01"});
    const BestFitEa& ea = m.Ea();
    EXPECT_EQ(ea.GeneratedCount, 6);
    EXPECT_EQ(ea.M, 5);
    EXPECT_EQ(ea.EaValue[5], 0.05f);
    EXPECT_EQ(ea.BestRms.size(), 50u);
    EXPECT_EQ(ea.EaValue[4], 0.04f);
}

TEST(BestFitEa, RankingEqualsTheLiteralSearch) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text26 = "0.5";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({1, 6, 7}));
    ExpectSameAsLiteral(m, DialogTexts{});
    m.BuildSelectedGasTables(Deleted({2, 3, 4, 5, 6, 7}));
    ExpectSameAsLiteral(m, DialogTexts{"0", "0.02", "0.0005"});
}

TEST(BestFitEa, RankingEqualsTheLiteralSearchWithSeveralWorkers) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text21 = "30";
    f.Text26 = "0.08";
    f.Text25 = "5";
    m.CalculateSolubility(f);
    ASSERT_GT(m.CaseCount(), 200000); // split over the cores
    m.BuildSelectedGasTables(Deleted({1, 6, 7}));
    ExpectSameAsLiteral(m, DialogTexts{"0.001", "0.01", "0.001"});
}

TEST(BestFitEa, FewCasesRepeatThePreviousPickInLoopOrder) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "0";
    f.Text21 = "3"; // four cases
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    ExpectSameAsLiteral(m, DialogTexts{"0", "0.03", "0.01"});
    const BestFitEa& ea = m.Ea();
    // Rank 5 of trial 1 repeats rank 4 of the last trial.
    EXPECT_EQ(ea.BestCaseAt(1, 5), ea.BestCaseAt(3, 4));
    EXPECT_EQ(ea.BestRmsAt(1, 5), 10000);
}

TEST(BestFitEa, ZeroExcessAirReproducesTheSearchWithout) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({2}));
    m.FindBestFitNoEa();
    m.RunExcessAirSearch(DialogTexts{"0", "0.01", "0.005"});
    for (int k = 1; k <= 10; ++k) {
        EXPECT_EQ(m.Ea().BestCaseAt(1, k), m.NoEa().BestCase[k - 1]);
        EXPECT_EQ(m.Ea().BestRmsAt(1, k), m.NoEa().BestRms[k - 1]);
    }
}

TEST(BestFitEa, CorrectedMeasurementsFollowTheAtmosphericFraction) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text3 = "0.0004";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({1, 2, 4, 5, 6, 7})); // Ar-40 alone
    m.RunExcessAirSearch(DialogTexts{"0", "0.05", "0.01"});
    const BestFitEa& ea = m.Ea();
    const std::size_t R = ea.EaValue.size();
    EXPECT_TRUE(MatchesDigits(ea.EaCorrMeasured[1], "0.0003066"));
    for (std::size_t i = 1; i + 1 < R; ++i)
        EXPECT_NEAR(ea.EaCorrMeasured[i - 1] - ea.EaCorrMeasured[i], 0.00934 * 0.01, 1e-18);
    // One gas: the deviation is |computed - corrected|.
    const CaseNumber c = ea.BestCaseAt(2, 1);
    EXPECT_DOUBLE_EQ(ea.BestRmsAt(2, 1), std::fabs(m.GasSolubility(3, c) - ea.EaCorrMeasured[1]));
}

TEST(BestFitEa, RefusesRangesItCannotEvaluate) {
    Module1 m;
    EXPECT_EQ(ErrorOf(m, DialogTexts{}), 9); // no redraw yet
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.RunExcessAirSearch(DialogTexts{});
    const auto before = m.Ea().BestCase;
    struct Row {
        DialogTexts dialog;
        ErrorNumber number;
        const char* named;
    };
    using E = ErrorNumber;
    const Row rows[] = {
        {{"0.001", "0.05", "0"}, E::InvalidCall, "Text24"},
        {{"0.001", "0.05", "-0.001"}, E::InvalidCall, "Text24"},
        {{"0.05", "0.001", "0.001"}, E::InvalidCall, "Text23"}, // the maximum below the minimum
        {{"0.01", "0.01", "0.001"}, E::InvalidCall, "Text23"},  // no trial amount to evaluate
        {{"x", "0.05", "0.001"}, E::TypeMismatch, "Text17"},
        {{"0", "1", "1e-30"}, E::OutOfMemory, "Text24"},
    };
    for (const Row& row : rows) {
        const test::Raised r = test::RaisedBy([&] { m.RunExcessAirSearch(row.dialog); });
        EXPECT_TRUE(r.Is(row.number)) << row.named << ": error " << r.code << " " << r.detail;
        EXPECT_EQ(r.control, row.named) << r.detail;
        EXPECT_EQ(m.Ea().BestCase, before) << row.named;
    }
}

TEST(BestFitEa, MoreThan32767TrialAmountsWork) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "0";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    m.RunExcessAirSearch(DialogTexts{"0", "0.04", "0.000001"});
    EXPECT_GT(m.Ea().M, 32767);
    EXPECT_EQ(m.Ea().BestRms.size(), static_cast<std::size_t>(m.Ea().M) * 10);
}

// Ranges and values that leave the number range or the memory name the box whose
// value caused it, with a true detail.
TEST(BestFitEa, RefusalsNameTheBoxToChange) {
    struct Row {
        const char* measuredNe; // Text2 of the input page
        DialogTexts dialog;
        int code;
        const char* window;
        const char* named;
        const char* detail;
    };
    const Row rows[] = {
        {"1.99793E-07", {"0.001", "1e308", "0.001"}, 6, "Dialog", "Text23", "narrow the range"},
        {"1.99793E-07", {"0.001", "0.05", "1e-320"}, 6, "Dialog", "Text24", "use a larger step"},
        {"1.99793E-07", {"0", "1", "1e-7"}, 7, "Dialog", "Text24", "use a larger step"},
        {"1.99793E-07", {"-1e9", "0", "0.001"}, 7, "Dialog", "Text17", "narrow the range"},
        {"1e308", {"0.001", "0.05", "0.001"}, 6, "Form1", "Text2", "measured Ne-20"},
    };
    for (const Row& row : rows) {
        Module1 m;
        m.run.MemoryBudget = std::uint64_t{1} << 30;
        Form1Texts f = Defaults();
        f.Text2 = row.measuredNe;
        m.CalculateSolubility(f);
        m.BuildSelectedGasTables(Deleted({}));
        const test::Raised r = test::RaisedBy([&] { m.RunExcessAirSearch(row.dialog); });
        EXPECT_EQ(r.code, row.code) << row.dialog.Text23 << " " << r.detail;
        EXPECT_EQ(r.window, row.window) << r.detail;
        EXPECT_EQ(r.control, row.named) << r.detail;
        EXPECT_NE(r.detail.find(row.detail), std::string::npos) << r.detail;
        EXPECT_EQ(r.detail.find("must not be zero"), std::string::npos) << r.detail;
        EXPECT_FALSE(m.HasBestFitEa());
    }
}

TEST(BestFitEa, ACancelledSearchKeepsTheLastResults) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.RunExcessAirSearch(DialogTexts{});
    const auto before = m.Ea().BestCase;
    RunControl control;
    control.Cancel();
    EXPECT_THROW(m.ComputeExcessAirSearch(DialogTexts{"0", "0.05", "0.0001"}, control), Cancelled);
    EXPECT_EQ(m.Ea().BestCase, before);
}
