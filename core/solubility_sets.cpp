#include "core/solubility_sets.h"

#include "core/checked_math.h"

#include <cmath>
#include <limits>

namespace temra {

namespace {

using Form = SolubilityForm;

// Temra's own model is checked by its own flags (saline), not by a range.
constexpr double kNoLimit = std::numeric_limits<double>::infinity();

// Weiss & Price 1980, Mar. Chem. 8, 347-359, eq. 10: the vapour pressure (atm)
// over sea water of salinity S, from the Goff-Gratch formula and Robinson 1954.
double WeissPriceVapour(double t, double S) {
    const double T = t + 273.15;
    return std::exp(24.4543 - 67.4509 * (100 / T) - 4.8489 * std::log(T / 100) - 0.000544 * S);
}

// Dickson, Sabine & Christian (eds.) 2007, PICES Special Publication 3, ch. 5:
// the vapour pressure of pure water (Wagner & Pruss 2002) lowered by sea salt
// through the osmotic coefficient of Millero 1974; atm (101.32501 kPa).
double DicksonVapour(double t, double S) {
    const double T = t + 273.15;
    const double tau = 1 - T / 647.096, root = std::sqrt(tau), tau3 = tau * tau * tau;
    const double p0 =
        22.064e3 * std::exp(647.096 / T *
                            (-7.85951783 * tau + 1.84408259 * tau * root - 11.7866497 * tau3 +
                             22.6807411 * tau3 * root - 15.9618719 * tau3 * tau +
                             1.80122502 * tau3 * tau3 * tau * root)); // kPa
    const double m = 31.998 * S / (1000 - 1.005 * S);
    const double h = m / 2;
    const double phi =
        0.90799 - 0.08992 * h + 0.18458 * h * h - 0.07395 * h * h * h - 0.00221 * h * h * h * h;
    return p0 * std::exp(-0.018 * phi * m) / 101.32501;
}

// Weiss's form in mL(STP)/kg of water, from moist air at 1 atm: cm3 STP/g is
// one thousandth.
constexpr SolubilityEquation WeissMlPerKg(double a0, double a1, double a2, double a3, double b0,
                                          double b1, double b2) {
    return {Form::kWeiss, {a0, a1, a2, a3}, {b0, b1, b2}, 0, 1e-3, 0};
}

// Jenkins, Lott & Cahill 2019 in mol/kg, from moist air at 1 atm; cm3 STP/g is
// the gas's molar volume at STP in l/mol (Dymond et al. 2002, as the
// oceanographic gas toolbox of Manning, Nicholson & Hamme lists them).
constexpr SolubilityEquation JenkinsMolPerKg(const std::array<double, 4>& a,
                                             const std::array<double, 3>& b, double c,
                                             double molarVolume) {
    return {Form::kWeiss, {a[0], a[1], a[2], a[3]}, {b[0], b[1], b[2]}, c, molarVolume, 0};
}

// A fit in the scaled temperature Ts in µmol/kg, from moist air at 1 atm: cm3
// STP/g is the molar volume (l/mol) times 1e-6.
constexpr SolubilityEquation ScaledMicromolPerKg(const std::array<double, 6>& a,
                                                 const std::array<double, 4>& b, double c,
                                                 double molarVolume) {
    return {Form::kScaledTemperature, a, b, c, molarVolume * 1e-6, 0};
}

// clang-format off
const std::array<SolubilitySetInfo, 3> kSets = {{
    {SolubilitySet::Builtin, "builtin", "Temra's own",
     "Temra's own solubility model (the input page's)",
     -kNoLimit, kNoLimit, kNoLimit, nullptr, {}},
    // He, Ne: Weiss 1971, J. Chem. Eng. Data 16, 235-241, table 3 (mL/kg).
    // Ar, N2, O2: Weiss 1970, Deep-Sea Res. 17, 721-735 (mL/kg).
    // Kr: Weiss & Kyser 1978, J. Chem. Eng. Data 23, 69-72, table 2 (mL/kg).
    // Xe: Clever 1979, IUPAC Solubility Data Series 2, the mole fraction of the
    // pure gas, as the field converts it (noblefit, Brennwald; after Peeters
    // 1998): x / (1 - x) x 22280.4 cm3/mol / 18.016 g/mol x 8.7e-8 x the dry
    // air's pressure, salted out as NaCl by Smith & Kennedy 1983, Geochim.
    // Cosmochim. Acta 47, 503-515.
    // The vapour pressure of Weiss & Price 1980. Transcribed from the TEOS-10
    // GSW toolbox (He, Kr), ruediPy/noblefit (every gas) and the oceanographic
    // codes that carry Weiss 1970 (N2, O2).
    {SolubilitySet::Weiss, "weiss", "Weiss/Clever",
     "He, Ne: Weiss 1971; Ar, N2, O2: Weiss 1970; Kr: Weiss & Kyser 1978; Xe: Clever 1979 "
     "(salted out by Smith & Kennedy 1983); vapour pressure: Weiss & Price 1980",
     -2, 40, 40, WeissPriceVapour,
     {{WeissMlPerKg(-167.2178, 216.3442, 139.2032, -22.6202, -0.044781, 0.023541, -0.0034266),
       WeissMlPerKg(-170.6018, 225.1946, 140.8863, -22.6290, -0.127113, 0.079277, -0.0129095),
       WeissMlPerKg(-178.1725, 251.8139, 145.2337, -22.2046, -0.038729, 0.017171, -0.0021281),
       WeissMlPerKg(-112.6840, 153.5817, 74.4690, -10.0189, -0.011213, -0.001844, 0.0011201),
       {Form::kMoleFraction, {-74.7398, 105.210, 27.4664}, {-14.1338, 21.8772, 6.5527}, 0,
        22280.4 / 18.016, 8.7e-8},
       WeissMlPerKg(-177.0212, 254.6078, 146.3611, -22.0933, -0.054052, 0.027266, -0.0038430),
       WeissMlPerKg(-177.7888, 255.5907, 146.4813, -22.2040, -0.037362, 0.016504, -0.0020564)}}},
    // He, Ne, Ar, Kr, Xe: Jenkins, Lott & Cahill 2019, Mar. Chem. 211, 94-107,
    // table 4 (mol/kg), as PAGOS and the URI gas-solubility codes carry it.
    // N2: Hamme & Emerson 2004, Deep-Sea Res. I 51, 1517-1528, table 4 (µmol/kg).
    // O2: Garcia & Gordon 1992, Limnol. Oceanogr. 37, 1307-1312, table 1, the fit
    // of Benson & Krause's data they recommend (µmol/kg), as the GSW toolbox
    // carries it. The vapour pressure of Dickson et al. 2007.
    {SolubilitySet::Jenkins2019, "jenkins2019", "Jenkins et al. 2019",
     "He, Ne, Ar, Kr, Xe: Jenkins, Lott & Cahill 2019; N2: Hamme & Emerson 2004; O2: Garcia & "
     "Gordon 1992 (Benson & Krause fit); vapour pressure: Dickson et al. 2007",
     0, 35, 36.7, DicksonVapour,
     {{JenkinsMolPerKg({-178.1424, 217.5991, 140.7506, -23.01954},
                       {-0.038129, 0.019190, -0.0026898}, -2.55157e-6, 22.426),
       JenkinsMolPerKg({-274.1329, 352.6201, 226.9676, -37.13393},
                       {-0.063860, 0.035326, -0.0053258}, 1.28233e-5, 22.425),
       JenkinsMolPerKg({-227.4607, 305.4347, 180.5278, -27.99450},
                       {-0.066942, 0.037201, -0.0056364}, -5.30325e-6, 22.393),
       JenkinsMolPerKg({-122.4694, 153.5654, 70.1969, -8.52524},
                       {-0.049522, 0.024434, -0.0033968}, 4.19208e-6, 22.352),
       JenkinsMolPerKg({-224.5100, 292.8234, 157.6127, -22.66895},
                       {-0.084915, 0.047996, -0.0073595}, 6.69292e-6, 22.258),
       ScaledMicromolPerKg({6.42931, 2.92704, 4.32531, 4.69149},
                           {-7.44129e-3, -8.02566e-3, -1.46775e-2}, 0, 22.404),
       ScaledMicromolPerKg({5.80871, 3.20291, 4.17887, 5.10006, -9.86643e-2, 3.80369},
                           {-7.01577e-3, -7.70028e-3, -1.13864e-2, -9.51519e-3}, -2.75915e-7,
                           22.392)}}},
}};
// clang-format on

double LnWeiss(const SolubilityEquation& q, double T, double S) {
    const double u = T / 100;
    return q.a[0] + q.a[1] / u + q.a[2] * std::log(u) + q.a[3] * u +
           S * (q.b[0] + q.b[1] * u + q.b[2] * u * u) + q.c * S * S;
}

double LnScaled(const SolubilityEquation& q, double t, double S) {
    const double Ts = std::log((298.15 - t) / (273.15 + t));
    double a = 0, b = 0;
    for (std::size_t k = q.a.size(); k-- > 0;) a = a * Ts + q.a[k];
    for (std::size_t k = q.b.size(); k-- > 0;) b = b * Ts + q.b[k];
    return a + S * b + q.c * S * S;
}

// The pure gas's mole fraction taken up from moist air at 1 atm, salted out.
double MoleFractionConc(const SolubilityEquation& q, double t, double S, double vapour) {
    const double T = t + 273.15, u = T / 100;
    const double x = std::exp(q.a[0] + q.a[1] / u + q.a[2] * std::log(u));
    const double K = q.b[0] + q.b[1] / u + q.b[2] * std::log(u);
    const double nacl = S / 58.443; // mol of NaCl per kg of water, near enough per litre
    return x / (1 - x) * q.toCm3PerGram * q.airFraction * (1 - vapour) * std::exp(-K * nacl);
}

} // namespace

std::span<const SolubilitySetInfo> SolubilitySets() {
    return kSets;
}

const SolubilitySetInfo& SetInfoOf(SolubilitySet set) {
    return kSets[static_cast<std::size_t>(set)];
}

std::optional<SolubilitySet> SetOfKey(std::string_view key) {
    for (const SolubilitySetInfo& s : kSets)
        if (s.key == key) return s.set;
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> SolubilitySetting(SolubilitySet set) {
    if (set == SolubilitySet::Builtin) return std::nullopt;
    const SolubilitySetInfo& info = SetInfoOf(set);
    return std::pair{std::string("Solubility data"),
                     std::string(info.name) + ": " + std::string(info.sources)};
}

double SeaSalinity(double chloride, double density) {
    return 1.80655 * 35.453 * chloride / density;
}

double MoistAirConc(const SolubilitySetInfo& set, std::size_t gas, double t, double S) {
    const SolubilityEquation& q = set.gases[gas];
    switch (q.form) {
    case Form::kWeiss:
        return std::exp(LnWeiss(q, t + 273.15, S)) * q.toCm3PerGram;
    case Form::kScaledTemperature:
        return std::exp(LnScaled(q, t, S)) * q.toCm3PerGram;
    case Form::kMoleFraction:
        return MoleFractionConc(q, t, S, set.vapour(t, S));
    }
    return 0;
}

TemperatureFactors SetFactorsAt(SolubilitySet set, double T, float density, double chloride,
                                const ModelFields& fields,
                                const std::array<bool, GasCount>& gases) {
    if (set == SolubilitySet::Builtin) return FactorsAt(T, density, chloride, fields, gases);
    const SolubilitySetInfo& info = SetInfoOf(set);
    const double rho = static_cast<double>(density);
    const double S = checked::Finite(SeaSalinity(chloride, rho), fields.chloride, "salinity");
    TemperatureFactors f;
    f.VapourPressure = checked::Finite(info.vapour(T, S), fields.temperature, "vapour pressure");
    const double dry = 1 - f.VapourPressure;
    for (std::size_t g = 0; g < GasCount; ++g) {
        if (!gases[g]) continue;
        // The sets give the element; Temra fits its isotope (He-4, Ne-20, Ar-40,
        // Kr-84), the atmosphere's share of it.
        const double C = checked::Finite(MoistAirConc(info, g, T, S) * kGases[g].atmosphericShare,
                                         fields.temperature, "solubility of the data set");
        f.SX[g] = checked::Div(1000 * rho * C, dry, fields.temperature, "SX");
        if (!(f.SX[g] > 0)) NothingDissolved(chloride);
    }
    return f;
}

} // namespace temra
