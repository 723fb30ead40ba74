#include "core/numtext.h"
#include "core/ranking.h"
#include "tests/test_support.h"

#include <algorithm>
#include <random>

using namespace temra;
using temra::test::Defaults;
using temra::test::MatchesDigits;

namespace {

std::array<bool, GasCount> Deleted(std::initializer_list<int> gases) {
    std::array<bool, GasCount> d{};
    for (int g : gases) d[static_cast<std::size_t>(g - 1)] = true;
    return d;
}

} // namespace

TEST(SelectedGases, NoBoxTickedKeepsAllSeven) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    const GasSelection& s = m.Selection();
    EXPECT_EQ(m.SelGasCount(), 7);
    EXPECT_EQ(m.SelGasIndex(), 7);
    EXPECT_EQ(s.SelGasLabel, (std::vector<std::string>{"He - 4", "Ne - 20", "Ar - 40", "Kr - 84",
                                                       "Xe", "N2", "O2"}));
    EXPECT_EQ(s.GasNumber, (std::vector<float>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(SelectedGases, HeliumAndXenonTicked) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({1, 5}));
    const GasSelection& s = m.Selection();
    EXPECT_EQ(s.SelGasCount, 5);
    EXPECT_EQ(s.SelGasLabel,
              (std::vector<std::string>{"Ne - 20", "Ar - 40", "Kr - 84", "N2", "O2"}));
    EXPECT_EQ(s.SelMeasured[0], 1.99793E-07);
    EXPECT_EQ(s.SelMeasured[4], 2.077E-5);
    EXPECT_EQ(s.SelSolubility(1, 17), m.SolNe()[16]);
    EXPECT_EQ(s.SelSolubility(4, 341), m.SolN2()[340]);
}

TEST(SelectedGases, RefusesNoGasOrNoCase) {
    Module1 m;
    EXPECT_THROW(m.BuildSelectedGasTables(Deleted({})), TemraError);
    m.CalculateSolubility(Defaults());
    try {
        m.BuildSelectedGasTables(Deleted({1, 2, 3, 4, 5, 6, 7}));
        FAIL();
    } catch (const TemraError& e) {
        EXPECT_EQ(e.code(), 9);
    }
    Form1Texts f = Defaults();
    f.Check1 = true;
    f.Text19 = "800";
    m.CalculateSolubility(f);
    EXPECT_THROW(m.BuildSelectedGasTables(Deleted({})), TemraError);
}

TEST(BestFitNoEa, RankingEqualsTheTenLiteralPasses) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text26 = "0.25";
    m.CalculateSolubility(f);
    for (auto deleted : {Deleted({}), Deleted({1, 5}), Deleted({2, 3, 4, 5, 6, 7})}) {
        m.BuildSelectedGasTables(deleted);
        m.FindBestFitNoEa();
        const BestFitNoEa& r = m.NoEa();
        double runMin = 0;
        CaseNumber runMinCase = 0;
        std::vector<double> rms;
        std::vector<CaseNumber> cases;
        test::LiteralTenPasses(r.CaseRms, runMin, runMinCase, rms, cases);
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(r.BestRms[k], rms[k]);
            EXPECT_EQ(r.BestCase[k], cases[k]);
        }
        EXPECT_EQ(r.Ranked, 10);
        EXPECT_EQ(m.RunMinCase, cases[9]);
    }
}

TEST(BestFitNoEa, DeviationIsTheRootMeanSquareOverTheSelectedGases) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    // A single gas: |computed - measured|.
    m.BuildSelectedGasTables(Deleted({1, 2, 4, 5, 6, 7}));
    m.FindBestFitNoEa();
    for (CaseNumber i = 1; i <= m.CaseCount(); i += 13)
        EXPECT_DOUBLE_EQ(m.NoEa().CaseRms[i - 1], std::fabs(m.GasSolubility(3, i) - 4.78E-04));

    // Two gases whose differences in case 1 are 3 and -4 (x 10^-9): sqrt((9 + 16) / 2).
    Form1Texts f = Defaults();
    f.Text1 = temra::ExactText(m.GasSolubility(1, 1) - 3e-9);
    f.Text2 = temra::ExactText(m.GasSolubility(2, 1) + 4e-9);
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({3, 4, 5, 6, 7}));
    m.FindBestFitNoEa();
    EXPECT_TRUE(MatchesDigits(m.NoEa().CaseRms[0] * 1e9, "3.5355"));
}

TEST(BestFitNoEa, DeletingAGasChangesTheDivisorAndTheGasesCompared) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const auto all = m.NoEa().CaseRms;
    m.BuildSelectedGasTables(Deleted({6}));
    m.FindBestFitNoEa();
    const auto withoutN2 = m.NoEa().CaseRms;
    const double measuredN2 = 1.66E-02;
    for (CaseNumber i = 1; i <= m.CaseCount(); i += 17) {
        const double dN2 = m.GasSolubility(6, i) - measuredN2;
        const double sum6 = withoutN2[i - 1] * withoutN2[i - 1] * 6;
        EXPECT_NEAR(std::sqrt((sum6 + dN2 * dN2) / 7), all[i - 1], 1e-15);
    }
}

TEST(BestFitNoEa, RepeatedSearchGivesTheSameRows) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({1}));
    m.FindBestFitNoEa();
    const auto first = m.NoEa().BestCase;
    const auto firstRms = m.NoEa().BestRms;
    m.FindBestFitNoEa();
    EXPECT_EQ(m.NoEa().BestCase, first);
    EXPECT_EQ(m.NoEa().BestRms, firstRms);
    // The best rows are in ascending order of deviation.
    for (int k = 1; k < 10; ++k) EXPECT_LE(firstRms[k - 1], firstRms[k]);
}

TEST(BestFitNoEa, FewerThanTenCasesRepeatTheLastWithTheExclusionValue) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "0";
    f.Text21 = "3"; // four cases
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const BestFitNoEa& r = m.NoEa();
    EXPECT_EQ(r.Ranked, 4);
    for (int k = 4; k < 10; ++k) {
        EXPECT_EQ(r.BestCase[k], r.BestCase[3]);
        EXPECT_EQ(r.BestRms[k], 10000);
    }
    EXPECT_LT(r.BestRms[3], 10000);
}

TEST(BestFitNoEa, ZeroConcentrationExcludesTheCase) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const CaseNumber lastPick = m.RunMinCase;

    // A grid in which He-4 is 0 in every case (no input makes one; the grid is
    // made by hand): no case is eligible, each carries the exclusion value, and
    // the rows repeat the case picked last.
    GridPlan plan = m.PlanSolubility(Defaults());
    m.FillSolubility(plan);
    std::fill_n(plan.grid->Solubility.data(), 341, 0.0);
    m.CommitSolubility(std::move(plan));
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const BestFitNoEa& r = m.NoEa();
    EXPECT_EQ(r.Ranked, 0);
    EXPECT_EQ(r.Excluded, 341);
    EXPECT_NE(NoFitReason(r).find("every case is excluded"), std::string::npos);
    for (double v : r.CaseRms) ASSERT_EQ(v, 10000);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(r.BestRms[k], 10000);
        EXPECT_EQ(r.BestCase[k], lastPick);
    }
}

TEST(TopTen, EqualDeviationsGoToTheLowerCaseFirst) {
    // Quantised deviations with many ties, offered in a scrambled order.
    std::mt19937 rng(7);
    std::vector<double> fit(500);
    for (auto& v : fit) v = static_cast<double>(rng() % 20) + (rng() % 9 == 0 ? 20000 : 0);
    fit[3] = 10000; // the exclusion value never takes a rank
    std::vector<std::size_t> order(fit.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    TopTen top;
    for (std::size_t i : order) top.Offer(fit[i], fit[i], static_cast<CaseNumber>(i + 1));
    double runMin = 0;
    CaseNumber runMinCase = 0;
    std::vector<double> rms;
    std::vector<CaseNumber> cases;
    test::LiteralTenPasses(fit, runMin, runMinCase, rms, cases);
    ASSERT_EQ(top.size(), 10);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(top[k].rms, rms[k]);
        EXPECT_EQ(top[k].caseNo, cases[k]);
    }
}

TEST(BestFitNoEa, ANewGridDropsTheSelectedTablesOfTheOldOne) {
    // The search must never rank the tables of an earlier grid run: after a new
    // run it asks for a redraw, and after the redraw it ranks the new grid.
    Module1 m;
    Form1Texts f = Defaults();
    f.Text14 = "1.5";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    m.CalculateSolubility(Defaults());
    EXPECT_FALSE(m.HasSelection());
    EXPECT_FALSE(m.HasBestFitNoEa());
    EXPECT_EQ(test::RaisedBy([&] { m.FindBestFitNoEa(); }).code, 9);
    EXPECT_EQ(test::RaisedBy([&] { m.RunExcessAirSearch(DialogTexts{}); }).code, 9);
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const BestFitNoEa& r = m.NoEa();
    EXPECT_EQ(m.CaseTemp(r.BestCase[0]), 10);
    EXPECT_EQ(m.CaseElev(r.BestCase[0]), 1000);
    EXPECT_TRUE(MatchesDigits(r.BestRms[0], "0.00299"));
}

TEST(BestFitNoEa, AnOverflowNamesTheMeasuredValueAtFault) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text1 = "1e300";
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    const test::Raised r = test::RaisedBy([&] { m.FindBestFitNoEa(); });
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.window, "Form1");
    EXPECT_EQ(r.control, "Text1");
    EXPECT_NE(r.detail.find("measured He-4"), std::string::npos) << r.detail;
    EXPECT_FALSE(m.HasBestFitNoEa());
}

TEST(BestFitNoEa, NoRankedCaseSaysWhetherCasesWereExcludedOrJustFar) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text1 = "44333"; // every deviation is above 10000, none is excluded
    m.CalculateSolubility(f);
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    EXPECT_EQ(m.NoEa().Ranked, 0);
    EXPECT_EQ(m.NoEa().Excluded, 0);
    const std::string reason = NoFitReason(m.NoEa());
    EXPECT_NE(reason.find("no case has a deviation below 10000"), std::string::npos) << reason;
    EXPECT_EQ(reason.find("excluded"), std::string::npos) << reason;
}

TEST(BestFitNoEa, ACancelledSearchKeepsTheLastResults) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    m.BuildSelectedGasTables(Deleted({}));
    m.FindBestFitNoEa();
    const auto before = m.NoEaPtr();
    RunControl control;
    control.Cancel();
    EXPECT_THROW(m.ComputeBestFitNoEa(control), Cancelled);
    EXPECT_EQ(m.NoEaPtr(), before);
}
