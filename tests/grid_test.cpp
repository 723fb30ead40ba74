#include "core/numtext.h"
#include "tests/test_support.h"

#include <set>

using namespace temra;
using temra::test::Defaults;
using temra::test::MatchesDigits;

namespace {

int ErrorCode(Module1& m, const Form1Texts& f, std::string* control = nullptr) {
    try {
        m.CalculateSolubility(f);
    } catch (const TemraError& e) {
        if (control) *control = e.field().control;
        return e.code();
    }
    return 0;
}

std::vector<double> TemperaturesAt(const Module1& m, float elevation) {
    std::vector<double> temps;
    for (CaseNumber k = 1; k <= m.CaseCount(); ++k)
        if (m.CaseElev(k) == elevation) temps.push_back(m.CaseTemp(k));
    return temps;
}

} // namespace

TEST(GridRun, BeforeAnyRunTheTableIsLoadedAndNothingElse) {
    Module1 m;
    EXPECT_EQ(m.GasTable[2].AtmFraction, 0.00934);
    EXPECT_EQ(m.GasTable[6].SaltCoef0, 11.6687);
    EXPECT_EQ(m.GasTable[0].SolCoefB, 131.42);
    EXPECT_FALSE(m.HasGrid());
    EXPECT_EQ(m.CaseCount(), 0);
    EXPECT_TRUE(m.SolHe().empty());
}

TEST(GridRun, DefaultsGive341CasesInElevationThenTemperatureOrder) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    EXPECT_EQ(m.CaseCount(), 341);
    EXPECT_EQ(m.CaseIndex(), 341);
    EXPECT_EQ(m.Grid().Capacity, 31031);
    EXPECT_EQ(m.Grid().ElevStepCount, 30);
    EXPECT_EQ(m.Grid().TempStepCount, 1000);
    EXPECT_EQ(m.CaseTemp(1), 0);
    EXPECT_EQ(m.CaseTemp(11), 10);
    EXPECT_EQ(m.CaseTemp(12), 0);
    EXPECT_EQ(m.CaseElev(11), 0);
    EXPECT_EQ(m.CaseElev(12), 100);
    EXPECT_EQ(m.CaseElev(341), 3000);
    // The case arrays hold exactly the cases produced.
    EXPECT_EQ(m.SolHe().size(), 341u);
    EXPECT_THROW(m.CaseTemp(342), TemraError);
    for (CaseNumber k = 1; k <= 341; ++k) {
        EXPECT_EQ(m.GasSolubility(6, k), m.SolN2()[k - 1]);
        EXPECT_EQ(m.GasSolubility(7, k), m.SolO2()[k - 1]);
    }
    EXPECT_EQ(m.MeasuredConc(1), 4.87138E-08);
    EXPECT_EQ(m.MeasuredConc(7), 2.077E-5);
}

TEST(GridRun, EveryCaseIsTheModelAtItsElevationAndTemperature) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text15 = "0.3";
    f.Text14 = "1.02";
    f.Text26 = "0.7";
    m.CalculateSolubility(f);
    const FieldRef field{"", "", ""};
    for (CaseNumber k = 1; k <= m.CaseCount(); k += 7)
        for (int g = 1; g <= GasCount; ++g) {
            // The run keeps elevations in double while it computes.
            const double H = static_cast<double>(m.CaseElev(k));
            ASSERT_EQ(
                m.GasSolubility(g, k),
                EvaluateModel(kGasTable[g - 1], m.CaseTemp(k), H, 1.02f, 0.3, field).EquilConc)
                << "gas " << g << " case " << k;
        }
}

TEST(GridRun, TemperatureStepThreeVisitsZeroToNine) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text26 = "3";
    m.CalculateSolubility(f);
    EXPECT_EQ(TemperaturesAt(m, 0), (std::vector<double>{0, 3, 6, 9}));
    EXPECT_EQ(m.CaseCount(), 4 * 31);
}

TEST(GridRun, AccumulatedStepsDecideTheLastTemperature) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "0";
    f.Text21 = "1";
    f.Text26 = "0.1";
    m.CalculateSolubility(f);
    // 0.1 added ten times is 0.9999999999999999, which is still below 1, and the
    // eleventh sum lies above it: 11 temperatures, the last one not exactly 1.
    ASSERT_EQ(m.CaseCount(), 11);
    EXPECT_EQ(m.CaseTemp(11), 0.9999999999999999);
}

TEST(GridRun, MaatRelationLimitsEachElevation) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Check1 = true;
    m.CalculateSolubility(f);
    EXPECT_EQ(m.CaseCount(), 78);
    for (int h = 0; h <= 800; h += 100) EXPECT_TRUE(TemperaturesAt(m, float(h)).empty()) << h;
    auto t900 = TemperaturesAt(m, 900);
    ASSERT_EQ(t900.size(), 1u);
    EXPECT_TRUE(MatchesDigits(t900[0], "9.861"));
    auto t1000 = TemperaturesAt(m, 1000);
    ASSERT_EQ(t1000.size(), 2u);
    EXPECT_TRUE(MatchesDigits(t1000[0], "8.935"));
    EXPECT_TRUE(MatchesDigits(t1000[1], "9.935"));
    EXPECT_EQ(TemperaturesAt(m, 2200), (std::vector<double>{0, 1, 2, 3}));
    for (int h = 2600; h <= 3000; h += 100)
        EXPECT_EQ(TemperaturesAt(m, float(h)), (std::vector<double>{0})) << h;
    // The window of the last elevation stays in the state.
    EXPECT_EQ(m.Grid().TempMin, 0);
}

TEST(GridRun, SamplingElevationBoxIsNotRead) {
    Module1 a, b;
    Form1Texts f = Defaults();
    a.CalculateSolubility(f);
    f.Text18 = "not a number";
    b.CalculateSolubility(f);
    ASSERT_EQ(a.CaseCount(), b.CaseCount());
    for (int g = 1; g <= GasCount; ++g)
        for (CaseNumber k = 1; k <= a.CaseCount(); ++k)
            ASSERT_EQ(a.GasSolubility(g, k), b.GasSolubility(g, k));
}

// Each fault stops the run with its run-time error, names the box, and leaves the
// last complete grid as it was.
TEST(GridRun, FaultsNameTheFieldAndLeaveTheLastRunIntact) {
    struct Row {
        std::vector<std::pair<std::string Form1Texts::*, const char*>> typed;
        bool maat;
        ErrorNumber number;
        const char* named; // "" when any box may be named
    };
    using E = ErrorNumber;
    using F = Form1Texts;
    const Row rows[] = {
        {{{&F::Text1, ""}}, false, E::TypeMismatch, "Text1"},
        {{{&F::Text26, ""}}, false, E::TypeMismatch, "Text26"},
        {{{&F::Text26, "0"}}, false, E::DivisionByZero, "Text26"},
        {{{&F::Text25, "0"}}, false, E::DivisionByZero, "Text25"},
        {{{&F::Text19, "0"}, {&F::Text25, "0"}}, false, E::Overflow, ""}, // 0 / 0
        {{{&F::Text21, "-1"}}, false, E::SubscriptRange, "Text21"},       // capacity below 1
        {{{&F::Text25, "-100"}}, false, E::SubscriptRange, "Text25"},     // one step negative
        {{{&F::Text26, "1e-12"}}, false, E::OutOfMemory, "Text26"},       // beyond memory
        {{{&F::Text19, "50000"}, {&F::Text25, "1000"}}, false, E::InvalidCall, "Text19"}, // no air
        {{{&F::Text20, "0"}}, true, E::DivisionByZero, "Text20"},
        {{{&F::Text15, "5000"}}, false, E::Overflow, "Text15"}, // salting-out overflows
        // Impossible water: a measured concentration at or below 0, negative chloride.
        {{{&F::Text15, "-1"}}, false, E::InvalidCall, "Text15"},
        {{{&F::Text2, "0"}}, false, E::InvalidCall, "Text2"},
        {{{&F::Text2, "-2e-7"}}, false, E::InvalidCall, "Text2"},
        {{{&F::Text7, "-0"}}, false, E::InvalidCall, "Text7"},
    };
    Module1 m;
    m.CalculateSolubility(Defaults());
    const auto before = m.GridPtr();
    for (const Row& row : rows) {
        Form1Texts f = Defaults();
        for (const auto& [box, text] : row.typed) f.*box = text;
        f.Check1 = row.maat;
        const test::Raised r = test::RaisedBy([&] { m.CalculateSolubility(f); });
        EXPECT_TRUE(r.Is(row.number)) << row.named << ": error " << r.code << " " << r.detail;
        if (*row.named) {
            EXPECT_EQ(r.control, row.named) << r.detail;
        }
        EXPECT_EQ(m.GridPtr(), before) << row.named;
    }
}

TEST(GridRun, MemoryBudgetRefusesBeforeAllocating) {
    Module1 m;
    // 68 bytes a case (temperature, elevation, seven gases) and the list of the 31
    // elevations.
    const std::uint64_t need = std::uint64_t{341} * 68 + 31 * sizeof(GridElevation);
    m.run.MemoryBudget = need - 1;
    EXPECT_EQ(ErrorCode(m, Defaults()), 7);
    m.run.MemoryBudget = need;
    EXPECT_EQ(ErrorCode(m, Defaults()), 0);
}

TEST(GridRun, NegativeRangesCountDownwards) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "-300";
    f.Text25 = "-100";
    f.Text21 = "-2";
    f.Text26 = "-1";
    m.CalculateSolubility(f);
    EXPECT_EQ(m.CaseCount(), 4 * 3);
    EXPECT_EQ(m.CaseElev(12), -300);
    EXPECT_EQ(m.CaseTemp(3), -2);
    EXPECT_GT(m.SolAr()[11], m.SolAr()[2]);
}

TEST(GridRun, EmptyWindowsGiveARunWithoutCases) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Check1 = true;
    f.Text19 = "800";
    m.CalculateSolubility(f);
    EXPECT_EQ(m.CaseCount(), 0);
    EXPECT_TRUE(m.HasGrid());
}

// Each refusal names the box the user must change, with a true detail, and
// leaves the last complete grid as it was.
TEST(GridRun, RefusalsNameTheBoxToChange) {
    struct Row {
        std::string Form1Texts::*box; // typed into
        const char* text;
        int code;
        const char* named; // the box the refusal names
        const char* detail;
    };
    const Row rows[] = {
        {&Form1Texts::Text25, "-100", 9, "Text25", "step is negative"},
        {&Form1Texts::Text19, "-500", 9, "Text19", "below 0 m"},
        {&Form1Texts::Text21, "-5", 9, "Text21", "below 0 °C"},
        {&Form1Texts::Text26, "-1", 9, "Text26", "step is negative"},
        {&Form1Texts::Text25, "1e-6", 7, "Text25", "use a larger step"},
        {&Form1Texts::Text19, "1e12", 7, "Text19", "lower the maximum"},
        {&Form1Texts::Text26, "1e-12", 7, "Text26", "use a larger step"},
        {&Form1Texts::Text14, "0", 5, "Text14", "greater than 0"},
        {&Form1Texts::Text14, "-1", 5, "Text14", "greater than 0"},
        // Water boils at sea level; the air at 30000 m is thinner than the vapour.
        {&Form1Texts::Text21, "100", 5, "Text21", "lower the highest temperature"},
        {&Form1Texts::Text19, "30000", 5, "Text19", "lower the highest elevation"},
    };
    Module1 m;
    m.CalculateSolubility(Defaults());
    const double before = m.GasSolubility(3, 200);
    for (const Row& row : rows) {
        Form1Texts f = Defaults();
        f.*row.box = row.text;
        const test::Raised r = test::RaisedBy([&] { m.CalculateSolubility(f); });
        EXPECT_EQ(r.code, row.code) << row.named << " = " << row.text << ": " << r.detail;
        EXPECT_EQ(r.control, row.named) << row.text;
        EXPECT_NE(r.detail.find(row.detail), std::string::npos) << r.detail;
    }
    EXPECT_EQ(m.CaseCount(), 341);
    EXPECT_EQ(m.GasSolubility(3, 200), before);
}

TEST(GridRun, AGridWithoutCasesSaysWhy) {
    Module1 m;
    Form1Texts f = Defaults();
    f.Text19 = "-1";
    m.CalculateSolubility(f);
    EXPECT_EQ(m.CaseCount(), 0);
    EXPECT_NE(EmptyGridReason(m.Grid()).find("below 0 m"), std::string::npos);
    f = Defaults();
    f.Check1 = true;
    f.Text19 = "800";
    m.CalculateSolubility(f);
    EXPECT_NE(EmptyGridReason(m.Grid()).find("more than 3 °C above the highest temperature (10"),
              std::string::npos)
        << EmptyGridReason(m.Grid());
    m.CalculateSolubility(Defaults());
    EXPECT_EQ(EmptyGridReason(m.Grid()), "");
}

TEST(GridRun, ACancelledRunLeavesTheLastGrid) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    Form1Texts f = Defaults();
    f.Text26 = "0.5";
    RunControl control;
    GridPlan plan = m.PlanSolubility(f, control);
    EXPECT_EQ(plan.Cases(), 21 * 31);
    control.Cancel();
    EXPECT_THROW(m.FillSolubility(plan, control), Cancelled);
    EXPECT_THROW(m.CommitSolubility(std::move(plan)), TemraError); // never filled
    EXPECT_EQ(m.CaseCount(), 341);
    // A run watched to its end reports all of its work done.
    RunControl watched;
    GridPlan full = m.PlanSolubility(f, watched);
    m.FillSolubility(full, watched);
    EXPECT_EQ(watched.Fraction(), 1.0);
    m.CommitSolubility(std::move(full));
    EXPECT_EQ(m.CaseCount(), 21 * 31);
}

TEST(GridRun, TheMemoryProbeBoundsTheBudget) {
    Module1 m;
    m.run.MemoryBudget = std::uint64_t{1} << 40;
    m.run.MemoryProbe = [] { return std::uint64_t{1000}; };
    EXPECT_EQ(m.run.MemoryAvailable(), 1000u);
    EXPECT_EQ(ErrorCode(m, Defaults()), 7);
    // The desktop program's graph keeps memory per case beside the grid.
    m.run.MemoryProbe = nullptr;
    m.run.MemoryBudget = std::uint64_t{341} * 68 + 31 * sizeof(GridElevation);
    m.run.ExtraBytesPerCase = 1;
    EXPECT_EQ(ErrorCode(m, Defaults()), 7);
}
