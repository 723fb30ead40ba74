// The solubility model against its reference values: the air pressure at 0,
// 1000 and 3000 m, the vapour pressure at 0, 10 and 20 °C, the seven gases at
// 10 °C in fresh water at 0 and 1000 m, and two at 0.5 mol/l chloride. These are
// the model's published check values, given to four or five significant digits;
// a computed value passes when it rounds to the value as written (MatchesDigits:
// within half a unit of the last digit given), which is as exact as the
// reference allows and far wider than any rounding of the computation.
#include "core/solubility_model.h"
#include "tests/test_support.h"

using namespace temra;
using temra::test::MatchesDigits;

namespace {
const FieldRef kField{"Form1", "Text21", "t"};
}

TEST(SolubilityModel, AirPressureAtElevation) {
    EXPECT_EQ(AirPressureAt(0, kField), 1.0);
    EXPECT_TRUE(MatchesDigits(AirPressureAt(1000, kField), "0.88699"));
    EXPECT_TRUE(MatchesDigits(AirPressureAt(3000, kField), "0.69192"));
    // At 288.16 / 0.0065 m the pressure is 0; above it the base is negative.
    EXPECT_EQ(AirPressureAt(288.16 / 0.0065, kField), 0.0);
    try {
        AirPressureAt(44333, kField);
        FAIL();
    } catch (const TemraError& e) {
        EXPECT_EQ(e.code(), 5);
    }
}

TEST(SolubilityModel, VapourPressure) {
    EXPECT_TRUE(MatchesDigits(VapourPressureAt(0, kField), "0.0061078"));
    EXPECT_TRUE(MatchesDigits(VapourPressureAt(10, kField), "0.012272"));
    EXPECT_TRUE(MatchesDigits(VapourPressureAt(20, kField), "0.023373"));
}

TEST(SolubilityModel, FreshWaterAtTenDegrees) {
    const char* atSea[] = {"4.693e-8", "1.846e-7", "3.846e-4", "5.198e-8",
                           "1.325e-8", "1.451e-2", "7.893e-3"};
    const char* at1000[] = {"4.156e-8", "1.635e-7", "3.406e-4", "4.603e-8",
                            "1.174e-8", "1.285e-2", "6.990e-3"};
    for (int g = 0; g < GasCount; ++g) {
        EXPECT_TRUE(
            MatchesDigits(EvaluateModel(kGasTable[g], 10, 0, 1, 0, kField).EquilConc, atSea[g]))
            << "gas " << g + 1;
        EXPECT_TRUE(
            MatchesDigits(EvaluateModel(kGasTable[g], 10, 1000, 1, 0, kField).EquilConc, at1000[g]))
            << "gas " << g + 1;
    }
}

TEST(SolubilityModel, SalineWaterAndDensity) {
    EXPECT_TRUE(
        MatchesDigits(EvaluateModel(kGasTable[0], 10, 0, 1, 0.5, kField).EquilConc, "3.978e-8"));
    EXPECT_TRUE(
        MatchesDigits(EvaluateModel(kGasTable[2], 10, 0, 1, 0.5, kField).EquilConc, "3.142e-4"));
    for (int g = 0; g < GasCount; ++g) {
        const double one = EvaluateModel(kGasTable[g], 7.3, 1234, 1, 0.1, kField).EquilConc;
        const double two = EvaluateModel(kGasTable[g], 7.3, 1234, 2, 0.1, kField).EquilConc;
        EXPECT_EQ(two, 2 * one);
    }
}

TEST(SolubilityModel, MaatWindow) {
    const FieldRef slope{"Form1", "Text20", "a"};
    TemperatureWindow w = MaatWindow(0, -108, 2289, 30, slope);
    EXPECT_TRUE(MatchesDigits(w.TempMin + 3, "21.19"));
    EXPECT_TRUE(MatchesDigits(w.TempMin, "18.19"));
    EXPECT_TRUE(MatchesDigits(w.TempMax, "24.19"));
    w = MaatWindow(0, -108, 2289, 10, slope);
    EXPECT_TRUE(MatchesDigits(w.TempMin, "18.19"));
    EXPECT_EQ(w.TempMax, 10.0);
    w = MaatWindow(2200, -108, 2289, 10, slope);
    EXPECT_EQ(w.TempMin, 0.0);
    EXPECT_TRUE(MatchesDigits(w.TempMax, "3.824"));
    // A window entirely below 0 collapses to 0..0.
    w = MaatWindow(5000, -108, 2289, 10, slope);
    EXPECT_EQ(w.TempMin, 0.0);
    EXPECT_EQ(w.TempMax, 0.0);
    try {
        MaatWindow(100, 0, 2289, 10, slope);
        FAIL();
    } catch (const TemraError& e) {
        EXPECT_EQ(e.code(), 11);
        EXPECT_EQ(e.field().control, "Text20");
    }
}
