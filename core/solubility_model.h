// The air-equilibrium solubility model.
//
// For one gas, a water temperature T (°C), an elevation H (m), a water density
// and a chloride concentration the model gives the concentration that water holds
// in equilibrium with moist air at the pressure of that elevation. Every function
// evaluates its equations in the order written here, in double precision, and
// tests each intermediate: a division by zero, an overflow or an argument outside
// a function's domain raises a TemraError naming `field`.
#pragma once

#include "core/errors.h"
#include "core/gas_table.h"
#include "core/run_control.h"
#include "core/run_settings.h"

#include <array>
#include <vector>

namespace temra {

// The model's working values of one evaluation.
struct ModelValues {
    double HenryConst = 0;
    double FreshSolubility = 0;
    double SaltingCoef = 0;
    double SalineSolubility = 0; // FreshSolubility / exp(SaltingCoef * Cl)
    double AirPressure = 0;
    double VapourPressure = 0;
    double EquilConc = 0;
};

// The input boxes a fault of the model is laid to.
struct ModelFields {
    FieldRef temperature;
    FieldRef density;
    FieldRef chloride;
};

// Fresh-water and saline solubility at T:
//   TK = T + 273.15; y = B / TK - 1; lnX = 36.855 y^2 + A y; HenryConst = 1 / exp(lnX);
//   FreshSolubility = rho * 1244000 / HenryConst; tau = (T + 273.15) / 100;
//   SaltingCoef = C3 tau^3 + C2 tau^2 + C1 tau + C0; S = FreshSolubility / exp(SaltingCoef Cl).
// Fills HenryConst, FreshSolubility, SaltingCoef and SalineSolubility.
// The chloride (mol/l) beyond which the salt correction above moves a fitted
// recharge temperature by more than 0.1 °C against the sea-salt solubilities of
// Jenkins, Lott & Cahill 2019 (Mar. Chem. 211, 94-107): measured on Ne, Ar, Kr
// and Xe of waters recharged at 5, 10 and 15 °C with and without excess air,
// fitted with unfractionated excess air, the shift beyond the fresh-water one
// reaches 0.1 °C at 0.034 to 0.039 mol/l (2.2 to 2.5 g/kg of sea salt), and grows
// by about 0.04 °C per g/kg (+1.4 °C at 35 g/kg); the least, rounded down.
inline constexpr double kSalineChloride = 0.033;

void SalineSolubility(const GasConstants& gas, double T, float density, double chloride,
                      ModelValues& v, const ModelFields& fields);

// Air pressure (atm) at elevation H: (1 - 0.0065 H / 288.16) ^ 5.2561.
double AirPressureAt(double H, const FieldRef& field);

// Saturation vapour pressure over water at T (Goff-Gratch, with TV = T + 273.16),
// in hPa divided by 1000.
double VapourPressureAt(double T, const FieldRef& field);

// The factors of the equilibrium concentration that depend on the temperature
// (with the density and chloride): each gas's saline solubility times its
// fraction in dry air, SX = S x, and the vapour pressure, so that at the air
// pressure P of an elevation
//   EquilConc = SX (P - VapourPressure) / 1000        (EquilConcOf).
// The gases not in `gases` are left 0.
struct TemperatureFactors {
    std::array<double, GasCount> SX{};
    double VapourPressure = 0;
};
TemperatureFactors FactorsAt(double T, float density, double chloride, const ModelFields& fields,
                             const std::array<bool, GasCount>& gases);

inline double EquilConcOf(double SX, double airPressure, double vapourPressure) {
    return SX * (airPressure - vapourPressure) / 1000;
}

// The temperatures first, first + step, ... while not past last (the grid run's
// counting loop), each with its factors under the data set `set` (FactorsAt, or
// SetFactorsAt of core/solubility_sets.h) for the gases of `gases`; the
// other gases' rows stay empty. A factor of 0 is refused (NothingDissolved);
// `control` is asked for a cancel every 4096 temperatures.
struct FactorTable {
    std::vector<double> T, VP;
    std::array<std::vector<double>, GasCount> SX;
};
FactorTable TabulateFactors(double first, double last, double step, float density, double chloride,
                            const std::array<bool, GasCount>& gases, SolubilitySet set,
                            const RunControl& control);

// A concentration of 0: the salting-out of a large chloride concentration (or a
// density too small) has left nothing dissolved in the number range.
[[noreturn]] void NothingDissolved(double chloride);

// The whole model in the grid run's order:
//   EquilConc = S * x * (AirPressure - VapourPressure) / 1000.
ModelValues EvaluateModel(const GasConstants& gas, double T, double H, float density,
                          double chloride, const FieldRef& field);

// Temperature window of one elevation from the relation H = a T + b:
//   Tm = (H - b) / a; TempMin = Tm - 3, floored at 0; TempMax = Tm + 3, cut to
//   TempMaxInput when its single-precision value reaches it, then floored at 0.
struct TemperatureWindow {
    double TempMin;
    double TempMax;
};
TemperatureWindow MaatWindow(double H, float slope, float intercept, float tempMaxInput,
                             const FieldRef& slopeField);

} // namespace temra
