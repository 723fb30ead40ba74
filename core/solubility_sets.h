// The solubility data sets: one table of the equations a recharge temperature
// may be computed with. `builtin` is Temra's own model (core/solubility_model.h),
// the default everywhere and the only one of the input page. The others are the
// field's standard sets, each gas's equation with its coefficients as published:
// each gives the concentration in water of salinity S in equilibrium with moist
// air at 1 atm total pressure, C*(T, S). At an air pressure P (atm), with the
// set's own water vapour pressure e (atm),
//   C(P) = C*(T, S) (P - e) / (1 - e),
// per gram of water; Temra's concentrations are per cm3, C(P) times the density.
// The salinity is the sample's chloride and density read as sea salt:
//   S = 1.80655 x 35.453 x chloride / density     (g/kg; chloride in mol/l),
// the chlorinity of sea water (35.453 g/mol of chloride, a salinity of 1.80655
// times the chlorinity; UNESCO 1981). A groundwater's salt is seldom sea salt:
// the guide says what this assumes.
#pragma once

#include "core/run_settings.h"
#include "core/solubility_model.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace temra {

// How one gas's equation of a data set reads (T in kelvin, t in °C, S in g/kg):
enum class SolubilityForm {
    // ln C = a0 + a1 (100/T) + a2 ln(T/100) + a3 (T/100)
    //        + S (b0 + b1 (T/100) + b2 (T/100)^2) + c S^2
    kWeiss,
    // ln C = a0 + a1 Ts + ... + a5 Ts^5 + S (b0 + b1 Ts + b2 Ts^2 + b3 Ts^3) + c S^2,
    // Ts = ln((298.15 - t) / (273.15 + t))
    kScaledTemperature,
    // The mole fraction of the pure gas at 1 atm, ln x = a0 + a1 / (T/100) +
    // a2 ln(T/100), taken up from air of volume fraction `airFraction`, with
    // the salting-out ln(C(S)/C(0)) = -K c(NaCl), K = b0 + b1 (100/T) + b2
    // ln(T/100) per mol/l of NaCl (the salinity read as NaCl, 58.443 g/mol).
    kMoleFraction,
};

struct SolubilityEquation {
    SolubilityForm form = SolubilityForm::kWeiss;
    std::array<double, 6> a{};
    std::array<double, 4> b{};
    double c = 0;
    // What the equation's unit is multiplied by to give cm3 STP per gram of
    // water (for kMoleFraction, the molar volume over the molar mass of water).
    double toCm3PerGram = 1;
    double airFraction = 0; // kMoleFraction only
};

struct SolubilitySetInfo {
    SolubilitySet set;
    std::string_view key;     // temra-cli's --solubility ("weiss")
    std::string_view name;    // the Settings sheet's and the notes' ("Weiss/Clever")
    std::string_view sources; // each gas's source, as the Settings sheet lists them
    // The range of temperature (°C) and salinity (g/kg) its equations hold for.
    double tMin, tMax, sMax;
    // The water vapour pressure (atm) the set's authors use, at t (°C) and S.
    double (*vapour)(double t, double S);
    std::array<SolubilityEquation, GasCount> gases; // none for builtin
};

std::span<const SolubilitySetInfo> SolubilitySets();
const SolubilitySetInfo& SetInfoOf(SolubilitySet set);
// The set of a key of --solubility; nothing when no set has it.
std::optional<SolubilitySet> SetOfKey(std::string_view key);

// The Settings sheet's line of a data set ("Solubility data", its name and
// sources); nothing for Temra's own, which goes unsaid.
std::optional<std::pair<std::string, std::string>> SolubilitySetting(SolubilitySet set);

// The salinity (g/kg) of a chloride concentration (mol/l) and density (g/cm3)
// read as sea salt.
double SeaSalinity(double chloride, double density);

// C*(t, S) of gas index `gas` in a set other than builtin, cm3 STP per gram of
// water in equilibrium with moist air at 1 atm, of the whole element (helium,
// neon, argon, krypton, xenon) as the sources give it.
double MoistAirConc(const SolubilitySetInfo& set, std::size_t gas, double t, double S);

// The factors of the equilibrium concentration at T (°C) under `set`, as
// FactorsAt gives them for builtin: EquilConcOf(SX, P, VapourPressure) is the
// concentration per cm3 of water at the air pressure P (atm), of the isotope
// Temra fits (the element's concentration times the atmosphere's share of the
// isotope, the gas table's atmosphericShare).
TemperatureFactors SetFactorsAt(SolubilitySet set, double T, float density, double chloride,
                                const ModelFields& fields, const std::array<bool, GasCount>& gases);

} // namespace temra
