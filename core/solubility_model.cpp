#include "core/solubility_model.h"

#include "core/checked_math.h"
#include "core/counting_loop.h"
#include "core/fields.h"
#include "core/solubility_sets.h"

namespace temra {

using namespace checked;

void SalineSolubility(const GasConstants& gas, double T, float density, double chloride,
                      ModelValues& v, const ModelFields& fields) {
    const FieldRef& field = fields.temperature;
    const double TK = Finite(T + 273.15, field, "absolute temperature");
    const double y = Finite(Div(gas.SolCoefB, TK, field, "B / TK") - 1, field, "B / TK - 1");
    const double lnX = Finite(36.855 * Pow(y, 2, field, "y^2") + gas.SolCoefA * y, field, "lnX");
    const double e = Exp(lnX, field, "exp(lnX)");
    v.HenryConst = Div(1, e, field, "HenryConst");
    v.FreshSolubility = Div(static_cast<double>(density) * 1244000, v.HenryConst, fields.density,
                            "FreshSolubility");
    const double tau = Finite(T + 273.15, field, "tau") / 100;
    v.SaltingCoef = Finite(gas.SaltCoef3 * Pow(tau, 3, field, "tau^3") +
                               gas.SaltCoef2 * Pow(tau, 2, field, "tau^2") + gas.SaltCoef1 * tau +
                               gas.SaltCoef0,
                           field, "SaltingCoef");
    const double salt = Exp(Finite(v.SaltingCoef * chloride, fields.chloride, "SaltingCoef * Cl"),
                            fields.chloride, "exp(SaltingCoef * Cl)");
    v.SalineSolubility = Div(v.FreshSolubility, salt, fields.chloride, "saline solubility");
}

double AirPressureAt(double H, const FieldRef& field) {
    const double base =
        Finite(1 - Finite(0.0065 * H, field, "0.0065 H") / 288.16, field, "1 - 0.0065 H / 288.16");
    if (base < 0)
        throw TemraError(ErrorNumber::InvalidCall, field,
                         "the elevation lies above 44332.3 m, where the air pressure ends");
    return Pow(base, 5.2561, field, "AirPressure");
}

double VapourPressureAt(double T, const FieldRef& field) {
    const double TV = Finite(T + 273.16, field, "TV");
    const double Ts = 373.16;
    const double r = Div(Ts, TV, field, "Ts / TV");
    const double L = Finite(
        -7.90298 * (r - 1) + 5.02808 * Log10(r, field, "log10(Ts / TV)") -
            1.3816e-7 * (Pow(10, 11.344 * (1 - TV / Ts), field, "10^(11.344 (1 - TV/Ts))") - 1) +
            8.1328e-3 * (Pow(10, -3.49149 * (r - 1), field, "10^(-3.49149 (Ts/TV - 1))") - 1) +
            std::log10(1013.246),
        field, "vapour pressure exponent");
    return Pow(10, L, field, "VapourPressure") / 1000;
}

TemperatureFactors FactorsAt(double T, float density, double chloride, const ModelFields& fields,
                             const std::array<bool, GasCount>& gases) {
    TemperatureFactors f;
    f.VapourPressure = VapourPressureAt(T, fields.temperature);
    for (std::size_t g = 0; g < GasCount; ++g) {
        if (!gases[g]) continue;
        ModelValues v;
        SalineSolubility(kGasTable[g], T, density, chloride, v, fields);
        f.SX[g] =
            Finite(v.SalineSolubility * kGasTable[g].AtmFraction, fields.density, "EquilConc");
    }
    return f;
}

FactorTable TabulateFactors(double first, double last, double step, float density, double chloride,
                            const std::array<bool, GasCount>& gases, SolubilitySet set,
                            const RunControl& control) {
    const ModelFields modelFields{fields::Ref(FieldId::TempMax), fields::Ref(FieldId::Density),
                                  fields::Ref(FieldId::Chloride)};
    FactorTable table;
    for (double T = first; LoopContinues(T, last, step); T += step) {
        if ((table.T.size() & 0xFFF) == 0xFFF) control.CheckCancelled();
        table.T.push_back(T);
        const TemperatureFactors factors =
            SetFactorsAt(set, T, density, chloride, modelFields, gases);
        table.VP.push_back(factors.VapourPressure);
        for (std::size_t g = 0; g < GasCount; ++g) {
            if (!gases[g]) continue;
            if (!(factors.SX[g] > 0)) NothingDissolved(chloride);
            table.SX[g].push_back(factors.SX[g]);
        }
    }
    return table;
}

void NothingDissolved(double chloride) {
    throw TemraError(ErrorNumber::InvalidCall,
                     fields::Ref(chloride > 0 ? FieldId::Chloride : FieldId::Density),
                     chloride > 0 ? "at this chloride concentration the salting-out leaves no "
                                    "gas dissolved (a concentration of 0)"
                                  : "the density is too small: a concentration becomes 0");
}

ModelValues EvaluateModel(const GasConstants& gas, double T, double H, float density,
                          double chloride, const FieldRef& field) {
    ModelValues v;
    SalineSolubility(gas, T, density, chloride, v, {field, field, field});
    v.AirPressure = AirPressureAt(H, field);
    v.VapourPressure = VapourPressureAt(T, field);
    v.EquilConc =
        Finite(v.SalineSolubility * gas.AtmFraction * (v.AirPressure - v.VapourPressure) / 1000,
               field, "EquilConc");
    return v;
}

TemperatureWindow MaatWindow(double H, float slope, float intercept, float tempMaxInput,
                             const FieldRef& slopeField) {
    const double Tm = Div(H - static_cast<double>(intercept), static_cast<double>(slope),
                          slopeField, "Tm = (H - b) / a");
    TemperatureWindow w{Tm - 3, Tm + 3};
    if (!(w.TempMin > 0)) w.TempMin = 0;
    if (static_cast<float>(w.TempMax) >= tempMaxInput) w.TempMax = tempMaxInput;
    if (!(w.TempMax > 0)) w.TempMax = 0;
    return w;
}

} // namespace temra
