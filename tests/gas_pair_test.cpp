#include "tests/test_support.h"

using namespace temra;
using temra::test::Defaults;
using temra::test::MatchesDigits;

namespace {

Form2Ticks Ticks(std::initializer_list<int> gases) {
    Form2Ticks t;
    for (int g : gases) t.Check[static_cast<std::size_t>(g - 1)] = true;
    return t;
}

int ErrorOf(Module1& m, const Form2Ticks& t, const Dialog1Texts& d,
            std::string* control = nullptr) {
    try {
        m.DrawGasPairGraph(Defaults(), t, d);
    } catch (const TemraError& e) {
        if (control) *control = e.field().control;
        return e.code();
    }
    return 0;
}

// The point at `celsius` of the curve j.
std::pair<double, double> PointAt(const GasPairGraph& p, int j, float celsius) {
    for (int t = 1; t <= p.nPts; ++t)
        if (p.PairTempValues[static_cast<std::size_t>(t - 1)] == celsius)
            return {p.Conc(t, j, 1), p.Conc(t, j, 2)};
    ADD_FAILURE() << "no point at " << celsius;
    return {0, 0};
}

} // namespace

TEST(GasPair, DefaultRangesForHeliumAndNeon) {
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}), Dialog1Texts{});
    const GasPairGraph& p = m.GasPair();
    EXPECT_EQ(p.J, 6);
    EXPECT_EQ(p.nPts, 7);
    EXPECT_EQ(p.CurveTitles, (std::vector<std::string>{"EA Content: 0", "EA Content: 0.01",
                                                       "EA Content: 0.02", "EA Content: 0.03",
                                                       "EA Content: 0.04", "EA Content: 0.05"}));
    EXPECT_EQ(p.PairTempValues, (std::vector<float>{0, 5, 10, 15, 20, 25, 30}));
    EXPECT_EQ(p.Label3, "Tmin=0oC");
    EXPECT_EQ(p.Label4, "Tmax=30oC");
    EXPECT_EQ(p.PairXTitle, "He-4 (cm3STP/gH2O)");
    EXPECT_EQ(p.PairYTitle, "Ne-20 (cm3STP/gH2O)");

    auto [x0, y0] = PointAt(p, 1, 10);
    EXPECT_TRUE(MatchesDigits(x0, "4.693e-8"));
    EXPECT_TRUE(MatchesDigits(y0, "1.846e-7"));
    auto [x1, y1] = PointAt(p, 2, 10);
    EXPECT_TRUE(MatchesDigits(x1, "9.932e-8"));
    EXPECT_TRUE(MatchesDigits(y1, "3.491e-7"));
    auto [x5, y5] = PointAt(p, 6, 10);
    EXPECT_TRUE(MatchesDigits(x5, "3.089e-7"));
    EXPECT_TRUE(MatchesDigits(y5, "1.007e-6"));

    EXPECT_TRUE(MatchesDigits(p.PairXMin, "4.386e-8"));
    EXPECT_TRUE(MatchesDigits(p.PairYMin, "1.576e-7"));
    EXPECT_TRUE(MatchesDigits(p.PairXMax, "3.116e-7"));
    EXPECT_TRUE(MatchesDigits(p.PairYMax, "1.029e-6"));
    EXPECT_EQ(p.PairXMin, PointAt(p, 1, 30).first);
    EXPECT_EQ(p.PairXMax, PointAt(p, 6, 0).first);
    // The measured sample, from the texts of the input page; it takes no part in
    // the range.
    EXPECT_EQ(p.MeasuredX, 4.87138E-08);
    EXPECT_EQ(p.MeasuredY, 1.99793E-07);
    // The B coefficient is held in single precision.
    EXPECT_EQ(m.PairCoefB[0], 131.42f);
    EXPECT_EQ(m.PairCoefA[1], 41.667);
}

TEST(GasPair, ExcessAirShiftsEachPointByTheAtmosphericFractions) {
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({3, 6}), Dialog1Texts{});
    const GasPairGraph& p = m.GasPair();
    for (int j = 2; j <= p.J; ++j)
        for (int t = 1; t <= p.nPts; ++t) {
            const double ea = p.PairEaValues[static_cast<std::size_t>(j - 1)];
            EXPECT_DOUBLE_EQ(p.Conc(t, j, 1) - p.Conc(t, 1, 1), ea * 0.00934);
            EXPECT_DOUBLE_EQ(p.Conc(t, j, 2) - p.Conc(t, 1, 2), ea * 0.78084);
        }
}

TEST(GasPair, AccumulatedStepsDecideTheLastValue) {
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}), Dialog1Texts{"0", "0.3", "0.1", "0", "30", "5"});
    EXPECT_EQ(m.GasPair().J, 3);
    EXPECT_EQ(m.GasPair().PairEaValues.size(), 4u);
    EXPECT_EQ(m.GasPair().PairEaValues[3], 0.0);

    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}),
                       Dialog1Texts{"0", "0.05", "0.01", "0", "1", "0.3"});
    EXPECT_EQ(m.GasPair().nPts, 4);
    EXPECT_EQ(m.GasPair().Label4, "Tmax=0.9oC");
    EXPECT_EQ(m.GasPair().PairTempValues[3], 0.3f + 0.3f + 0.3f);
}

TEST(GasPair, TheFirstTwoTickedGasesInGasOrderFormThePair) {
    Module1 a, b;
    a.DrawGasPairGraph(Defaults(), Ticks({2, 1}), Dialog1Texts{});
    b.DrawGasPairGraph(Defaults(), Ticks({1, 2, 5, 7}), Dialog1Texts{});
    EXPECT_EQ(a.GasPair().PairXTitle, "He-4 (cm3STP/gH2O)");
    EXPECT_EQ(a.GasPair().PairConc, b.GasPair().PairConc);
    EXPECT_EQ(b.GasPair().PairYTitle, "Ne-20 (cm3STP/gH2O)");
}

TEST(GasPair, LeavesTheGridRunIntact) {
    Module1 m;
    m.CalculateSolubility(Defaults());
    const double ar = m.SolAr()[100], temp = m.CaseTemp(100);
    m.DrawGasPairGraph(Defaults(), Ticks({3, 6}), Dialog1Texts{});
    EXPECT_EQ(m.CaseIndex(), 341);
    EXPECT_EQ(m.SolAr().size(), 341u);
    EXPECT_EQ(m.SolAr()[100], ar);
    EXPECT_EQ(m.CaseTemp(100), temp);
}

TEST(GasPair, RefusesWhatItCannotDraw) {
    struct Row {
        std::vector<int> ticks;
        Dialog1Texts dialog;
        const char* measuredNe; // Text2 of the input page
        ErrorNumber number;
        const char* named;
    };
    using E = ErrorNumber;
    const Row rows[] = {
        {{3}, {}, "1.99793E-07", E::InvalidCall, "Check1"}, // one gas
        {{}, {}, "1.99793E-07", E::InvalidCall, "Check1"},
        {{1, 2}, {"a", "0.05", "0.01", "0", "30", "5"}, "1.99793E-07", E::TypeMismatch, "Text1"},
        {{1, 2}, {"0", "0.05", "0", "0", "30", "5"}, "1.99793E-07", E::DivisionByZero, "Text3"},
        {{1, 2}, {"0", "0.05", "0.01", "0", "30", "0"}, "1.99793E-07", E::DivisionByZero, "Text6"},
        {{1, 2}, {"0", "0.05", "-0.01", "0", "30", "5"}, "1.99793E-07", E::InvalidCall, "Text3"},
        {{1, 2}, {"0", "0.05", "0.01", "30", "0", "5"}, "1.99793E-07", E::InvalidCall, "Text5"},
        {{1, 2}, {"0", "1.01", "0.01", "0", "30", "5"}, "1.99793E-07", E::SubscriptRange, "Text3"},
        {{1, 2},
         {"0", "0.05", "0.01", "0", "30", "0.01"},
         "1.99793E-07",
         E::SubscriptRange,
         "Text6"},
        {{1, 2}, {}, "", E::TypeMismatch, "Text2"}, // the measured value of the Y gas
    };
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}), Dialog1Texts{});
    const auto before = m.GasPair().PairConc;
    for (const Row& row : rows) {
        Form1Texts f = Defaults();
        f.Text2 = row.measuredNe;
        Form2Ticks ticks;
        for (int g : row.ticks) ticks.Check[static_cast<std::size_t>(g - 1)] = true;
        const test::Raised r = test::RaisedBy([&] { m.DrawGasPairGraph(f, ticks, row.dialog); });
        EXPECT_TRUE(r.Is(row.number)) << row.named << ": error " << r.code << " " << r.detail;
        EXPECT_EQ(r.control, row.named) << r.detail;
        EXPECT_EQ(m.GasPair().PairConc, before) << row.named;
    }
}

TEST(GasPair, DrawsUpToItsLimitsAndDownwardRanges) {
    Module1 m;
    EXPECT_EQ(
        ErrorOf(m, Ticks({1, 2}), Dialog1Texts{"0", "0.995", "0.01", "0", "31.21875", "0.03125"}),
        0);
    EXPECT_EQ(m.GasPair().J, 100);
    EXPECT_EQ(m.GasPair().nPts, 1000);
    // Negative steps run downwards from the minimum to the maximum.
    EXPECT_EQ(ErrorOf(m, Ticks({1, 2}), Dialog1Texts{"0.05", "0", "-0.01", "30", "0", "-5"}), 0);
    // 0.05 less 0.01 five times is just below 0: five curves.
    EXPECT_EQ(m.GasPair().J, 5);
    EXPECT_EQ(m.GasPair().nPts, 7);
    EXPECT_EQ(m.GasPair().Label3, "Tmin=30oC");
    EXPECT_EQ(m.GasPair().Label4, "Tmax=0oC");
}

TEST(GasPair, AxisBoundsIgnoreZeroValues) {
    // A curve at (0, 0) (the curve without excess air, were nothing dissolved):
    // the lower bounds come from the smallest non-zero values, those of the curve
    // for 0.01 at 30 °C.
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}), Dialog1Texts{});
    GasPairGraph p = m.GasPair();
    const std::size_t perCurve = static_cast<std::size_t>(p.nPts);
    for (int s = 1; s <= 2; ++s)
        std::fill_n(p.PairConc.begin() + static_cast<std::ptrdiff_t>(s - 1) * p.J * p.nPts,
                    perCurve, 0.0);
    SetPairAxisRange(p);
    EXPECT_EQ(p.Conc(1, 1, 1), 0.0);
    EXPECT_EQ(p.PairXMin, p.Conc(7, 2, 1));
    EXPECT_EQ(p.PairYMin, p.Conc(7, 2, 2));
    EXPECT_EQ(p.PairXMax, p.Conc(1, 6, 1));
}

TEST(GasPair, RefusalsNameTheBoxToChange) {
    struct Row {
        const char* density;
        Dialog1Texts dialog;
        const char* window;
        const char* named;
    };
    const Row rows[] = {
        {"1", {"0", "0.05", "0.01", "-300", "30", "5"}, "Dialog1", "Text4"},
        {"1", {"0", "0.05", "0.01", "0", "120", "5"}, "Dialog1", "Text5"},
        {"1", {"0", "0.05", "0.01", "150", "160", "5"}, "Dialog1", "Text4"},
        {"0", {}, "Form1", "Text14"},
        {"-2", {}, "Form1", "Text14"},
    };
    Module1 m;
    for (const Row& row : rows) {
        Form1Texts f = Defaults();
        f.Text14 = row.density;
        const test::Raised r = test::RaisedBy([&] {
            m.DrawGasPairGraph(f, Ticks({1, 2}), row.dialog);
        });
        EXPECT_NE(r.code, 0) << row.named;
        EXPECT_EQ(r.window, row.window) << r.detail;
        EXPECT_EQ(r.control, row.named) << r.detail;
    }
    EXPECT_FALSE(m.HasGasPair());
}

// Impossible amounts and ranges that run the wrong way name the box the user
// moved, with both values; the graph drawn last stays.
TEST(GasPair, RefusalsNameTheBoxMovedWithATrueDetail) {
    struct Row {
        Dialog1Texts dialog;
        std::string Form1Texts::*box; // a box of the input page, or none
        const char* text;
        const char* window;
        const char* named;
        const char* detail;
    };
    const Row rows[] = {
        {{"0", "0.05", "0.01", "40", "30", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text4",
         "the minimum (40 °C) lies above the maximum (30 °C)"},
        {{"0", "0.05", "0.01", "0", "-5", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text5",
         "the minimum (0 °C) lies above the maximum (-5 °C)"},
        {{"0", "0.05", "0.01", "40", "35", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text5",
         "the minimum (40 °C) lies above the maximum (35 °C)"},
        {{"0", "0.05", "0.01", "0", "30", "-5"},
         nullptr,
         "",
         "Dialog1",
         "Text6",
         "the temperature step (-5 °C) points away from the maximum (30 °C)"},
        {{"0.06", "0.05", "0.01", "0", "30", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text1",
         "the minimum (0.06 cm³ STP/g H2O) lies above the maximum (0.05 cm³ STP/g H2O)"},
        {{"0", "0.01", "-0.01", "0", "30", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text3",
         "the excess-air step (-0.01 cm³ STP/g H2O) points away"},
        {{"-0.5", "-0.5", "0.01", "0", "30", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text1",
         "the excess air (-0.5 cm³ STP/g H2O) must not be negative"},
        {{"0.05", "-0.01", "-0.01", "0", "30", "5"},
         nullptr,
         "",
         "Dialog1",
         "Text2",
         "the excess air (-0.01 cm³ STP/g H2O) must not be negative"},
        {{},
         &Form1Texts::Text2,
         "-5",
         "Form1",
         "Text2",
         "the measured Neon-20 (-5 cm³ STP/cm³ H2O) must be greater than 0"},
        {{},
         &Form1Texts::Text1,
         "0",
         "Form1",
         "Text1",
         "the measured Helium-4 (0 cm³ STP/cm³ H2O) must be greater than 0"},
        {{},
         &Form1Texts::Text15,
         "-1",
         "Form1",
         "Text15",
         "the chloride concentration (-1 mol/l) must not be negative"},
    };
    Module1 m;
    m.DrawGasPairGraph(Defaults(), Ticks({1, 2}), Dialog1Texts{});
    const auto before = m.GasPair().PairConc;
    for (const Row& row : rows) {
        Form1Texts f = Defaults();
        if (row.box) f.*row.box = row.text;
        const test::Raised r = test::RaisedBy([&] {
            m.DrawGasPairGraph(f, Ticks({1, 2}), row.dialog);
        });
        EXPECT_TRUE(r.Is(ErrorNumber::InvalidCall)) << row.detail << ": " << r.code;
        EXPECT_EQ(r.window, row.window) << row.detail;
        EXPECT_EQ(r.control, row.named) << r.detail;
        EXPECT_EQ(r.detail.rfind(row.detail, 0), 0u) << r.detail;
        EXPECT_EQ(m.GasPair().PairConc, before) << row.detail;
    }
    // Too few gases: what is needed and how many are selected.
    EXPECT_EQ(
        test::RaisedBy([&] { m.DrawGasPairGraph(Defaults(), Ticks({3}), Dialog1Texts{}); }).detail,
        "two gases are needed, 1 is selected");
    EXPECT_EQ(
        test::RaisedBy([&] { m.DrawGasPairGraph(Defaults(), Ticks({}), Dialog1Texts{}); }).detail,
        "two gases are needed, none is selected");
}
