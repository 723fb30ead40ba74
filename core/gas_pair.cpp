// The gas-pair graph: for two gases, the concentration that water carries after
// equilibrating with air at sea level at temperature T and then taking up an
// amount EA of unfractionated excess air; one curve per excess-air value across
// the temperatures, the first gas on the X axis and the second on the Y axis.
//
// The computation has its own counters and scratch: the grid run's cases stay
// intact.
#include "core/module1.h"

#include "core/checked_math.h"
#include "core/counting_loop.h"
#include "core/numtext.h"

#include <cmath>
#include <string>
#include <type_traits>
#include <utility>

namespace temra {

namespace {

constexpr int kMaxEaValues = 100;
constexpr int kMaxTemperatures = 1000;

// Counts the values of a counting loop, stopping once `limit` is passed.
template <typename T> int CountValues(T first, T last, T step, int limit) {
    int count = 0;
    for (T v = first; LoopContinues(v, last, step); v += step)
        if (++count > limit) break;
    return count;
}

FieldRef Ref(FieldId id) {
    return fields::Ref(id);
}

// A box's stored default as the computation reads it.
template <typename T> T DefaultOf(FieldId id) {
    const Field& f = FieldOf(id);
    if constexpr (std::is_same_v<T, float>)
        return ParseSingle(f.defaultText, Ref(id), '.');
    else
        return ParseDouble(f.defaultText, Ref(id), '.');
}

// A value with its box's unit, for a message: "40 °C".
template <typename T> std::string WithUnit(T value, FieldId id) {
    return ApproxText(static_cast<double>(value)) + " " + std::string(FieldOf(id).unit);
}

// A range whose step points away from its maximum is refused, naming the box to
// change: the step when its sign differs from that of its stored default; else
// the end the user moved away from its stored default (the maximum when both
// ends were moved).
template <typename T>
void CheckRange(T first, T last, T step, FieldId minId, FieldId maxId, FieldId stepId,
                const char* what) {
    if (step == 0)
        throw TemraError(ErrorNumber::DivisionByZero, Ref(stepId),
                         std::string("the ") + what + " step must not be zero");
    const bool up = step > 0;
    if (up ? last >= first : last <= first) return;
    if (up != (DefaultOf<T>(stepId) > 0))
        throw TemraError(ErrorNumber::InvalidCall, Ref(stepId),
                         std::string("the ") + what + " step (" + WithUnit(step, stepId) +
                             ") points away from the maximum (" + WithUnit(last, maxId) + ")");
    const bool minMoved = first != DefaultOf<T>(minId);
    const bool maxMoved = last != DefaultOf<T>(maxId);
    throw TemraError(ErrorNumber::InvalidCall, Ref(minMoved && !maxMoved ? minId : maxId),
                     "the minimum (" + WithUnit(first, minId) + ") lies " +
                         (up ? "above" : "below") + " the maximum (" + WithUnit(last, maxId) + ")" +
                         (up ? "" : ", and the step runs downwards"));
}

} // namespace

void SetPairAxisRange(GasPairGraph& p) {
    p.PairXMin = p.PairYMin = 1000;
    for (int j = 1; j <= p.J; ++j)
        for (int t = 1; t <= p.nPts; ++t) {
            const double x = p.Conc(t, j, 1), y = p.Conc(t, j, 2);
            if (x < p.PairXMin && x != 0) p.PairXMin = x;
            if (y < p.PairYMin && y != 0) p.PairYMin = y;
        }
    p.PairXMax = p.PairYMax = 1e-17;
    for (int j = 1; j <= p.J; ++j)
        for (int t = 1; t <= p.nPts; ++t) {
            const double x = p.Conc(t, j, 1), y = p.Conc(t, j, 2);
            if (x > p.PairXMax) p.PairXMax = x;
            if (y > p.PairYMax) p.PairYMax = y;
        }
}

namespace {

// The water and the two ranges of the range dialog, with their counts.
struct PairInputs {
    float density = 0;
    double chloride = 0;
    double nEA = 0; // sizes of the value arrays
    double nT = 0;
};

PairInputs ReadRanges(GasPairGraph& p, const Form1Texts& f1, const Dialog1Texts& d1, char sep) {
    PairInputs in;
    in.density = ParseSingle(f1.Text14, Ref(FieldId::Density), sep);
    if (!(in.density > 0))
        throw TemraError(ErrorNumber::InvalidCall, Ref(FieldId::Density),
                         "the density of water must be greater than 0 g/cm³");
    in.chloride = ParseDouble(f1.Text15, Ref(FieldId::Chloride), sep);
    if (!(in.chloride >= 0))
        throw TemraError(ErrorNumber::InvalidCall, Ref(FieldId::Chloride),
                         "the chloride concentration (" + WithUnit(in.chloride, FieldId::Chloride) +
                             ") must not be negative");
    p.PairEaMin = ParseDouble(d1.Text1, Ref(FieldId::PairEaMin), sep);
    p.PairEaMax = ParseDouble(d1.Text2, Ref(FieldId::PairEaMax), sep);
    p.PairEaStep = ParseDouble(d1.Text3, Ref(FieldId::PairEaStep), sep);
    p.PairTempMin = ParseSingle(d1.Text4, Ref(FieldId::PairTempMin), sep);
    p.PairTempMax = ParseSingle(d1.Text5, Ref(FieldId::PairTempMax), sep);
    p.PairTempStep = ParseSingle(d1.Text6, Ref(FieldId::PairTempStep), sep);

    // Water takes up air, it does not give off a negative amount of it.
    for (const auto& [value, id] :
         {std::pair{p.PairEaMin, FieldId::PairEaMin}, std::pair{p.PairEaMax, FieldId::PairEaMax}})
        if (value < 0)
            throw TemraError(ErrorNumber::InvalidCall, Ref(id),
                             "the excess air (" + WithUnit(value, id) + ") must not be negative");
    CheckRange(p.PairEaMin, p.PairEaMax, p.PairEaStep, FieldId::PairEaMin, FieldId::PairEaMax,
               FieldId::PairEaStep, "excess-air");
    CheckRange(p.PairTempMin, p.PairTempMax, p.PairTempStep, FieldId::PairTempMin,
               FieldId::PairTempMax, FieldId::PairTempStep, "temperature");
    // Array sizes: the nearest integers to the step counts plus one, halves to even.
    in.nEA = RoundHalfEven(checked::Finite((p.PairEaMax - p.PairEaMin) / p.PairEaStep + 1,
                                           Ref(FieldId::PairEaStep), "count"));
    const float nTf = (p.PairTempMax - p.PairTempMin) / p.PairTempStep + 1;
    in.nT = RoundHalfEven(checked::Finite(nTf, Ref(FieldId::PairTempStep), "count"));
    p.J = CountValues(p.PairEaMin, p.PairEaMax, p.PairEaStep, kMaxEaValues);
    p.nPts = CountValues(p.PairTempMin, p.PairTempMax, p.PairTempStep, kMaxTemperatures);
    if (p.J > kMaxEaValues || in.nEA > 1e9)
        throw TemraError(ErrorNumber::SubscriptRange, Ref(FieldId::PairEaStep),
                         "the graph takes at most 100 excess-air values; use a larger step");
    if (p.nPts > kMaxTemperatures || in.nT > 1e9)
        throw TemraError(ErrorNumber::SubscriptRange, Ref(FieldId::PairTempStep),
                         "the graph takes at most 1000 temperatures; use a larger step");
    if (p.J > in.nEA || p.nPts > in.nT)
        throw TemraError(ErrorNumber::SubscriptRange,
                         p.J > in.nEA ? Ref(FieldId::PairEaStep) : Ref(FieldId::PairTempStep),
                         "more values than the range's step count");
    return in;
}

// The first ticked gas in gas order goes on the X axis, the second on the Y axis;
// further ticks are ignored.
void SelectPair(GasPairGraph& p, const Form1Texts& f1, const Form2Ticks& f2, char sep) {
    int ticked = 0;
    for (int gas = 0; gas < GasCount && ticked < 2; ++gas)
        if (f2.Check[static_cast<std::size_t>(gas)]) p.GasIndex[ticked++] = gas;
    if (ticked < 2)
        throw TemraError(ErrorNumber::InvalidCall, Ref(FieldId::PairSelection),
                         std::string("two gases are needed, ") + (ticked ? "1" : "none") +
                             " is selected");
    p.PairXTitle = GasAt(p.GasIndex[0]).pairAxisTitle;
    p.PairYTitle = GasAt(p.GasIndex[1]).pairAxisTitle;
    // The measured sample is drawn among the curves: an amount, greater than 0.
    auto measured = [&](int gas) {
        const FieldId id = fields::Measured(gas);
        const double value = ParseDouble(f1.Measured(gas), Ref(id), sep);
        if (!(value > 0))
            throw TemraError(ErrorNumber::InvalidCall, Ref(id),
                             "the measured " + std::string(FieldOf(id).label) + " (" +
                                 WithUnit(value, id) + ") must be greater than 0");
        return value;
    };
    p.MeasuredX = measured(p.GasIndex[0]);
    p.MeasuredY = measured(p.GasIndex[1]);
}

// The equilibrium concentration of a slot's gas at sea level and T. A fault at the
// first temperature is the minimum's, later ones the maximum's: the box the user
// must change.
double EquilibriumAt(const GasConstants& gas, float T, bool first, const PairInputs& in) {
    const ModelFields mf{Ref(first ? FieldId::PairTempMin : FieldId::PairTempMax),
                         Ref(FieldId::Density), Ref(FieldId::Chloride)};
    ModelValues v;
    double vp = 0;
    try {
        SalineSolubility(gas, static_cast<double>(T), in.density, in.chloride, v, mf);
        vp = VapourPressureAt(static_cast<double>(T), mf.temperature);
    } catch (const TemraError& e) {
        if (e.field().id != mf.temperature.id) throw;
        throw TemraError(e.number(), e.field(),
                         "at " + ApproxText(T) + " °C the solubility model leaves its range (" +
                             e.detail() + ")");
    }
    const double airPressure = 1; // at sea level
    if (!(airPressure - vp > 0))
        throw TemraError(ErrorNumber::InvalidCall, mf.temperature,
                         "at " + ApproxText(T) + " °C the vapour pressure of water (" +
                             ApproxText(vp) +
                             " atm) is not below the air pressure at sea level (1 atm), so no "
                             "gas stays dissolved");
    // The equilibrium concentration as EquilConcOf forms it, the product taken in
    // the curves' own order: it agrees with the grid run's to the last digit or
    // two, and the curves' numbers stay as they are.
    const double equil =
        checked::Finite((airPressure - vp) * gas.AtmFraction * v.SalineSolubility / 1000,
                        mf.temperature, "EquilConc");
    if (!(equil > 0))
        throw TemraError(ErrorNumber::InvalidCall, Ref(FieldId::Chloride),
                         "at this chloride concentration the salting-out leaves no gas dissolved "
                         "(a concentration of 0)");
    return equil;
}

// One curve per excess-air value across the temperatures, for each slot:
//   PairConc(t, j, s) = EA x AtmFraction x AirPressure + EquilConc.
void ComputeCurves(GasPairGraph& p, const std::array<GasConstants, 2>& slot, const PairInputs& in) {
    p.PairEaValues.assign(static_cast<std::size_t>(in.nEA), 0.0);
    p.PairTempValues.assign(static_cast<std::size_t>(in.nT), 0.0f);
    p.PairConc.assign(2 * static_cast<std::size_t>(p.J) * static_cast<std::size_t>(p.nPts), 0.0);
    const double airPressure = AirPressureAt(0, Ref(FieldId::PairTempMax)); // exactly 1 atm
    for (int s = 1; s <= 2; ++s) {
        const GasConstants& gas = slot[static_cast<std::size_t>(s - 1)];
        int j = 0;
        for (double ea = p.PairEaMin; LoopContinues(ea, p.PairEaMax, p.PairEaStep);
             ea += p.PairEaStep) {
            ++j;
            p.PairEaValues[static_cast<std::size_t>(j - 1)] = ea;
            int t = 0;
            for (float T = p.PairTempMin; LoopContinues(T, p.PairTempMax, p.PairTempStep);
                 T += p.PairTempStep) {
                ++t;
                p.PairTempValues[static_cast<std::size_t>(t - 1)] = T;
                const double equil = EquilibriumAt(gas, T, t == 1, in);
                p.PairConc[(static_cast<std::size_t>(s - 1) * p.J + j - 1) * p.nPts + t - 1] =
                    checked::Finite(ea * gas.AtmFraction * airPressure + equil,
                                    Ref(FieldId::PairEaMax), "concentration with excess air");
            }
        }
    }
}

void SetTitles(GasPairGraph& p, char sep) {
    for (int j = 1; j <= p.J; ++j)
        p.CurveTitles.push_back(
            "EA Content: " + FormatGeneral(p.PairEaValues[static_cast<std::size_t>(j - 1)], sep));
    p.Label3 = "Tmin=" + FormatGeneral(p.PairTempValues[0], sep) + "oC";
    p.Label4 =
        "Tmax=" + FormatGeneral(p.PairTempValues[static_cast<std::size_t>(p.nPts - 1)], sep) + "oC";
}

} // namespace

void Module1::DrawGasPairGraph(const Form1Texts& f1, const Form2Ticks& f2, const Dialog1Texts& d1) {
    const char sep = run.DecimalSeparator;
    auto pair = std::make_shared<GasPairGraph>();
    GasPairGraph& p = *pair;
    const PairInputs in = ReadRanges(p, f1, d1, sep);
    SelectPair(p, f1, f2, sep);

    // Slot constants; the B coefficient is held in single precision.
    std::array<GasConstants, 2> slot{};
    auto coefA = PairCoefA;
    auto coefB = PairCoefB;
    for (std::size_t s = 0; s < 2; ++s) {
        slot[s] = GasTable[static_cast<std::size_t>(p.GasIndex[s])];
        coefA[s] = slot[s].SolCoefA;
        coefB[s] = static_cast<float>(slot[s].SolCoefB);
        slot[s].SolCoefB = static_cast<double>(coefB[s]);
    }

    ComputeCurves(p, slot, in);
    SetPairAxisRange(p);
    SetTitles(p, sep);

    // Complete: the slots keep this drawing's gases.
    PairCoefA = coefA;
    PairCoefB = coefB;
    for (std::size_t s = 0; s < 2; ++s) {
        PairAtmFraction[s] = slot[s].AtmFraction;
        PairSalt3[s] = slot[s].SaltCoef3;
        PairSalt2[s] = slot[s].SaltCoef2;
        PairSalt1[s] = slot[s].SaltCoef1;
        PairSalt0[s] = slot[s].SaltCoef0;
    }
    pair_ = std::move(pair);
}

} // namespace temra
