// The solubility data sets against the check values printed with their
// coefficients, their units against Temra's own model, and the sea-salt reading
// of a sample's chloride.
#include "core/solubility_sets.h"
#include "tests/test_support.h"

using namespace temra;
using temra::test::MatchesDigits;

namespace {

const ModelFields kBoxes{
    {"Form1", "Text21", "t"}, {"Form1", "Text14", "d"}, {"Form1", "Text15", "c"}};

// C* at 1 atm of moist air in the unit the source prints: mol/kg or µmol/kg.
double InSourceUnit(SolubilitySet set, const char* gas, double t, double S, double perUnit) {
    const SolubilitySetInfo& info = SetInfoOf(set);
    return MoistAirConc(info, GasIndexOf(gas), t, S) / perUnit;
}

} // namespace

// The check values at 10 °C and a salinity of 35, to the digits printed:
// - Jenkins, Lott & Cahill 2019 (mol/kg; He, Ar, Kr as carried with the
//   authors' coefficients), converted with the molar volumes of Dymond et al.;
// - Hamme & Emerson 2004, N2 500.885 µmol/kg;
// - Garcia & Gordon 1992, O2 274.610 µmol/kg (the fit of Benson & Krause's data).
TEST(SolubilitySets, CheckValuesOfTheirSources) {
    struct Row {
        const char* gas;
        double perUnit; // cm3 STP/g per unit of the source
        const char* printed;
    };
    const Row rows[] = {
        {"He-4", 22.426, "1.7401e-9"},  {"Ar-40", 22.393, "1.3583e-5"},
        {"Kr-84", 22.352, "3.1609e-9"}, {"N2", 22.404e-6, "500.885"},
        {"O2", 22.392e-6, "274.610"},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(MatchesDigits(
            InSourceUnit(SolubilitySet::Jenkins2019, r.gas, 10, 35, r.perUnit), r.printed))
            << r.gas;
}

// Every set's concentrations are in Temra's unit and of Temra's isotopes: at 5,
// 10 and 15 °C in fresh water and at sea level, each gas lies within 2.5 % of
// Temra's own model (the sets differ from it by -1.1 to +0.6 % at 10 °C; neon
// or krypton taken whole would be 10 % and 75 % above), and each set's vapour
// pressure within 0.5 % of Temra's; the built-in set is Temra's model itself.
TEST(SolubilitySets, EverySetSpeaksTemrasUnits) {
    for (const double t : {5.0, 10.0, 15.0}) {
        const TemperatureFactors own = FactorsAt(t, 1, 0, kBoxes, kAllGases);
        for (const SolubilitySetInfo& set : SolubilitySets()) {
            const TemperatureFactors f = SetFactorsAt(set.set, t, 1, 0, kBoxes, kAllGases);
            if (set.set == SolubilitySet::Builtin) {
                EXPECT_EQ(f.SX, own.SX);
                EXPECT_EQ(f.VapourPressure, own.VapourPressure);
                continue;
            }
            // Temra's vapour pressure is in hPa / 1000, the sets' in atm.
            EXPECT_NEAR(f.VapourPressure / (own.VapourPressure / 1.01325), 1, 0.005) << set.key;
            for (std::size_t g = 0; g < GasCount; ++g) {
                const double C = EquilConcOf(f.SX[g], 1, f.VapourPressure);
                const double builtin = EquilConcOf(own.SX[g], 1, own.VapourPressure);
                EXPECT_NEAR(C / builtin, 1, 0.025)
                    << set.key << " " << kGases[g].graphLabel << " " << t << " °C";
            }
        }
    }
}

// At another pressure the concentration scales with the dry air's share:
// C(P) = C*(P - e) / (1 - e); per cm3 it is per gram times the density.
TEST(SolubilitySets, PressureAndDensityScaleTheMoistAirValue) {
    const SolubilitySetInfo& set = SetInfoOf(SolubilitySet::Weiss);
    const std::size_t ne = GasIndexOf("Ne-20");
    const TemperatureFactors f = SetFactorsAt(set.set, 8, 1.002F, 0, kBoxes, kAllGases);
    const double e = set.vapour(8, 0);
    const double atSea = MoistAirConc(set, ne, 8, 0);
    const double share = kGases[ne].atmosphericShare; // the sets give neon, Temra fits Ne-20
    EXPECT_NEAR(EquilConcOf(f.SX[ne], 1, f.VapourPressure) / (1.002 * share * atSea), 1, 1e-6);
    EXPECT_NEAR(EquilConcOf(f.SX[ne], 0.8, f.VapourPressure) /
                    (1.002 * share * atSea * (0.8 - e) / (1 - e)),
                1, 1e-6);
}

// Sea water's chlorinity of 19.374 g/kg is a salinity of 35 (S = 1.80655 Cl):
// its chloride is 19.374 x 1.02476 / 35.453 mol/l at its density of 1.02476.
TEST(SolubilitySets, ChlorideIsReadAsSeaSalt) {
    EXPECT_NEAR(SeaSalinity(19.374 * 1.02476 / 35.453, 1.02476), 35.0, 0.001);
    EXPECT_EQ(SeaSalinity(0, 1), 0);
    for (const SolubilitySetInfo& set : SolubilitySets()) EXPECT_EQ(SetOfKey(set.key), set.set);
    EXPECT_FALSE(SetOfKey("Weiss").has_value());
}
