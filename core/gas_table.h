// The seven gases: one table of everything Temra knows of each, in the fixed gas
// order He-4, Ne-20, Ar-40, Kr-84, Xe, N2, O2 (gas index 0 to 6; a gas is named
// in code by its label, GasIndexOf("Ne-20"), never by a number). Only the grid
// run's state as Module1 gives it, GasSolubility(g, k) and MeasuredConc(g),
// numbers the gases 1 to 7. The model's constants, every label and title, the
// names a table of samples may give its column, and the column of the
// solubility workbook are drawn from here; adding a gas means adding a row (and
// its input box to the table of fields).
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace temra {

struct GasConstants {
    double AtmFraction; // volume fraction in dry air
    double SolCoefA;    // fresh-water solubility coefficients
    double SolCoefB;    // (kelvin)
    double SaltCoef3;   // cubic in reduced temperature giving the salting-out coefficient
    double SaltCoef2;
    double SaltCoef1;
    double SaltCoef0;
};

struct Gas {
    GasConstants constants;      // the literal constants of the input page and every grid run
    std::string_view inputLabel; // the input page's box ("Helium-4")
    std::string_view graphLabel; // graphs, ticks, tables, the study ("He-4")
    std::string_view selectedGraphLabel; // the redrawn solubility graph ("He - 4")
    std::string_view workbookLabel;      // the solubility workbook's header ("He-4", "N-28")
    std::string_view workbookColumn;     // and its column ("c")
    std::string_view pairSelection;      // the gas-pair selection ("Helium-4")
    std::string_view pairAxisTitle;      // the gas-pair graph's axis
    // A table of samples: the isotope's column (matched without regard to case),
    // the column of the total gas (empty when the gas has one name), the element's
    // name, and the isotope's share of the atmosphere's gas (mole fraction), by
    // which a total is read as the isotope:
    // - He-4: 1 / (1 + R) with the atmospheric 3He/4He ratio R = 1.384e-6
    //   (Clarke, Jenkins & Top 1976, Int. J. Appl. Radiat. Isot. 27, 515-522),
    //   1 - 1.384e-6 to the digits given;
    // - Ne-20 0.9048 and Kr-84 0.56987: the IUPAC representative isotopic
    //   compositions, which are those of atmospheric neon and krypton (Berglund
    //   & Wieser 2011, "Isotopic compositions of the elements 2009", Pure Appl.
    //   Chem. 83, 397-410);
    // - Ar-40: 295.5 / (1 + 0.188 + 295.5) = 0.99600 from the atmospheric
    //   40Ar/36Ar = 295.5 and 38Ar/36Ar = 0.188 (Ozima & Podosek 2002, "Noble
    //   Gas Geochemistry", 2nd ed., Cambridge University Press).
    // Xenon is fitted as all its isotopes, and N2 and O2 as the molecules: their
    // columns have one name.
    std::string_view isotopeColumn;
    std::string_view elementColumn;
    std::string_view element;
    double atmosphericShare;
    // The diffusion coefficient in fresh water, D = diffusionA exp(-diffusionEa /
    // (R T)) with diffusionA in 1e-5 cm2/s and diffusionEa in kJ/mol (the
    // fractionating excess-air models use D / D(Ne)):
    // - He, Ne, Kr, Xe: measured by Jähne, Heinz & Dietrich 1987, "Measurement
    //   of the diffusion coefficients of sparingly soluble gases in water",
    //   J. Geophys. Res. 92(C10), 10767-10776;
    // - Ar: Jähne's He, Ne, Kr and Xe extrapolated to argon's mass (Hamme,
    //   gas_diffusion 2.0, 2013, as used by Hamme & Emerson);
    // - N2, O2: Ferrell & Himmelblau 1967, "Diffusion coefficients of nitrogen
    //   and oxygen in water", J. Chem. Eng. Data 12(1), 111-115.
    double diffusionA;
    double diffusionEa;
    // The molar mass (g/mol) and the Lennard-Jones constants (well depth over
    // Boltzmann's constant in K, collision diameter in angstrom) by which the gas
    // diffusion relaxation model gives the gas's diffusion coefficient in air:
    // - masses: the isotopes' atomic masses (Wang, Huang, Kondev, Audi & Naimi
    //   2021, "The AME 2020 atomic mass evaluation", Chin. Phys. C 45, 030003),
    //   xenon's standard atomic weight and the molecules' from the IUPAC atomic
    //   weights (Prohaska et al. 2022, Pure Appl. Chem. 94, 573-600);
    // - Lennard-Jones constants: Poling, Prausnitz & O'Connell 2001, "The
    //   Properties of Gases and Liquids", 5th ed., McGraw-Hill, Appendix B.
    double molarMass;
    double ljEpsilon;
    double ljSigma;
};

// clang-format off
inline constexpr std::array<Gas, 7> kGases = {{
    {{5.239e-6, 41.824, 131.42, -0.2304, 2.2951, -7.7154, 9.006},
     "Helium-4", "He-4", "He - 4", "He-4", "c", "Helium-4", "He-4 (cm3STP/gH2O)",
     "he-4", "he", "helium", 1 - 1.384e-6, 818, 11.70, 4.002603, 10.22, 2.551},
    {{0.00001645, 41.667, 142.5, -0.3022, 3.6278, -13.6641, 16.8309},
     "Neon-20", "Ne-20", "Ne - 20", "Ne-20", "d", "Neon-20", "Ne-20 (cm3STP/gH2O)",
     "ne-20", "ne", "neon", 0.9048, 1608, 14.84, 19.992440, 32.8, 2.820},
    {{0.00934, 40.404, 168.87, -0.405, 3.8471, -12.3389, 13.6921},
     "Argon-40", "Ar-40", "Ar - 40", "Ar-40", "e", "Argon-40", "Ar-40 (cm3STP/gH2O)",
     "ar-40", "ar", "argon", 0.99600, 2227, 16.68, 39.962383, 93.3, 3.542},
    {{6.48e-7, 39.781, 179.21, -0.1124, 1.3282, -5.1432, 6.8403},
     "Krypton-84", "Kr-84", "Kr - 84", "Kr-84", "f", "Krypton-84", "Kr-84 (cm3STP/gH2O)",
     "kr-84", "kr", "krypton", 0.56987, 6393, 20.20, 83.911498, 178.9, 3.655},
    {{8.7e-8, 39.273, 188.78, -0.1611, 1.9007, -7.3019, 9.5072},
     "Xenon-total", "Xe", "Xe", "Xe", "g", "Xenon", "Xe (cm3STP/gH2O)",
     "xe", "", "xenon", 1, 9007, 21.61, 131.293, 231.0, 4.047},
    {{0.78084, 41.712, 162.02, -0.2427, 2.1504, -6.61, 7.4294},
     "N-28", "N2", "N2", "N-28", "h", "N-28", "N-28 (cm3STP/gH2O)",
     "n2", "", "nitrogen", 1, 3412, 18.50, 28.014, 71.4, 3.798},
    {{0.20948, 40.622, 168.85, -0.3616, 3.3454, -10.5501, 11.6687},
     "O-32", "O2", "O2", "O-32", "I", "O-32", "O-32 (cm3STP/gH2O)",
     "o2", "", "oxygen", 1, 4286, 18.70, 31.998, 106.7, 3.467},
}};
// clang-format on

inline constexpr int GasCount = static_cast<int>(kGases.size());

// The row of gas index 0 to GasCount - 1.
constexpr const Gas& GasAt(int gas) {
    return kGases[static_cast<std::size_t>(gas)];
}

// The 0-based index of the gas whose graph label is `label` ("O2"), so that code
// names a gas by the table's own words; a label the table lacks does not compile
// where a constant is asked for.
constexpr std::size_t GasIndexOf(std::string_view label) {
    for (std::size_t g = 0; g < kGases.size(); ++g)
        if (kGases[g].graphLabel == label) return g;
    throw "no such gas";
}

// The gas whose graph label is `name` without regard to case ("ne-20"), as a
// user types it; nothing for a name the table lacks.
inline std::optional<int> GasOfName(std::string_view name) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    for (int g = 0; g < GasCount; ++g) {
        const std::string_view label = GasAt(g).graphLabel;
        if (std::equal(label.begin(), label.end(), name.begin(), name.end(), same)) return g;
    }
    return std::nullopt;
}

// The gases' graph labels in the table's order, for a message: "He-4, Ne-20, ...".
inline std::string GasLabels() {
    std::string labels;
    for (const Gas& g : kGases) labels += (labels.empty() ? "" : ", ") + std::string(g.graphLabel);
    return labels;
}

using GasTableType = std::array<GasConstants, GasCount>;

// The constants alone, as the calculation state holds them.
inline constexpr GasTableType kGasTable = [] {
    GasTableType t{};
    for (std::size_t g = 0; g < t.size(); ++g) t[g] = kGases[g].constants;
    return t;
}();

inline constexpr std::array<bool, GasCount> kAllGases = [] {
    std::array<bool, GasCount> all{};
    all.fill(true);
    return all;
}();

} // namespace temra
