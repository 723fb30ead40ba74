// The seven gases, their constants and their labels, in the fixed gas order
// He-4, Ne-20, Ar-40, Kr-84, Xe, N2, O2 (gas index 1 to 7).
#pragma once

#include <array>
#include <string_view>

namespace temra {

inline constexpr int GasCount = 7;

struct GasConstants {
    double AtmFraction; // volume fraction in dry air
    double SolCoefA;    // fresh-water solubility coefficients
    double SolCoefB;    // (kelvin)
    double SaltCoef3;   // cubic in reduced temperature giving the salting-out coefficient
    double SaltCoef2;
    double SaltCoef1;
    double SaltCoef0;
};

using GasTableType = std::array<GasConstants, GasCount>;

// The literal constants assigned when the input page loads and at every grid run.
inline constexpr GasTableType kGasTable = {{
    {5.239e-6, 41.824, 131.42, -0.2304, 2.2951, -7.7154, 9.006},
    {0.00001645, 41.667, 142.5, -0.3022, 3.6278, -13.6641, 16.8309},
    {0.00934, 40.404, 168.87, -0.405, 3.8471, -12.3389, 13.6921},
    {6.48e-7, 39.781, 179.21, -0.1124, 1.3282, -5.1432, 6.8403},
    {8.7e-8, 39.273, 188.78, -0.1611, 1.9007, -7.3019, 9.5072},
    {0.78084, 41.712, 162.02, -0.2427, 2.1504, -6.61, 7.4294},
    {0.20948, 40.622, 168.85, -0.3616, 3.3454, -10.5501, 11.6687},
}};

inline constexpr std::array<bool, GasCount> kAllGases = {true, true, true, true, true, true, true};

// Labels, index 0 = gas 1.
inline constexpr std::array<std::string_view, GasCount> kInputPageLabels = {
    "Helium-4", "Neon-20", "Argon-40", "Krypton-84", "Xenon-total", "N-28", "O-32"};
inline constexpr std::array<std::string_view, GasCount> kGraphLabels = {
    "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N2", "O2"};
inline constexpr std::array<std::string_view, GasCount> kSelectedGraphLabels = {
    "He - 4", "Ne - 20", "Ar - 40", "Kr - 84", "Xe", "N2", "O2"};
inline constexpr std::array<std::string_view, GasCount> kWorkbookLabels = {
    "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N-28", "O-32"};
inline constexpr std::array<std::string_view, GasCount> kPairSelectionLabels = {
    "Helium-4", "Neon-20", "Argon-40", "Krypton-84", "Xenon", "N-28", "O-32"};
inline constexpr std::array<std::string_view, GasCount> kPairAxisTitles = {
    "He-4 (cm3STP/gH2O)", "Ne-20 (cm3STP/gH2O)", "Ar-40 (cm3STP/gH2O)", "Kr-84 (cm3STP/gH2O)",
    "Xe (cm3STP/gH2O)",   "N-28 (cm3STP/gH2O)",  "O-32 (cm3STP/gH2O)"};

} // namespace temra
