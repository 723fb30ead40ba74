// The solubility grid run: the equilibrium concentration of the seven gases for
// every elevation and temperature of the grid.
//
// The run is planned first (inputs read and checked, cases counted, memory
// weighed), then filled (the elevations split over the cores), then committed.
// Every fault of the inputs shows in the plan, before any case array exists; a
// fault or a cancel at any step leaves the last complete grid as it was.
#include "core/checked_math.h"
#include "core/counting_loop.h"
#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/range_blame.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

namespace temra {

namespace {

FieldRef F(FieldId id) {
    return fields::Ref(id);
}

// Bytes the case arrays of one grid case take: temperature, elevation, 7 gases.
constexpr std::uint64_t kGridBytesPerCase =
    sizeof(double) + sizeof(float) + GasCount * sizeof(double);

// Defaults of the input page, against which a range that holds far too many
// values is judged (which box to name).
constexpr double kTypicalElevExtent = 3000, kTypicalElevStep = 100;
constexpr double kTypicalTempExtent = 10, kTypicalTempStep = 1;

float SingleOf(double value, const FieldRef& field, const char* what) {
    if (std::fabs(value) > std::numeric_limits<float>::max())
        throw TemraError(ErrorNumber::Overflow, field, what);
    return static_cast<float>(value);
}

// How many elevations and temperatures the ranges span (before the loops run).
struct GridSpan {
    double elevations;
    double temperatures;
};

GridSpan SpanOf(const SolubilityGrid& g) {
    double temperatures = std::fabs(static_cast<double>(g.TempMaxInput) / g.TempStep) + 1;
    // The relation keeps each elevation to a window of 6 °C.
    if (g.MaatInUse) temperatures = std::min(temperatures, 6 / std::fabs(g.TempStep) + 2);
    return {std::fabs(g.ElevStepCount) + 1, temperatures};
}

// The box that makes a grid too large: the range with more values, and of it its
// extent or its step.
FieldRef TooLargeCulprit(const SolubilityGrid& g) {
    const GridSpan span = SpanOf(g);
    if (span.elevations >= span.temperatures)
        return ExtentIsCulprit(g.ElevMax, g.ElevStep, kTypicalElevExtent, kTypicalElevStep)
                   ? F(FieldId::ElevMax)
                   : F(FieldId::ElevStep);
    return ExtentIsCulprit(g.TempMaxInput, g.TempStep, kTypicalTempExtent, kTypicalTempStep)
               ? F(FieldId::TempMax)
               : F(FieldId::TempStep);
}

// The memory of `cases` grid cases: the grid's arrays and what the caller keeps
// beside them per case, up to its limit.
struct CaseCost {
    std::uint64_t extra = 0;
    std::uint64_t extraLimit = 0;
    double operator()(double cases) const {
        return cases * static_cast<double>(kGridBytesPerCase) +
               std::min(cases, static_cast<double>(extraLimit)) * static_cast<double>(extra);
    }
};

[[noreturn]] void OutOfMemory(const SolubilityGrid& g, double cases, const CaseCost& cost,
                              std::uint64_t budget) {
    const GridSpan span = SpanOf(g);
    const FieldRef culprit = TooLargeCulprit(g);
    const bool isStep = culprit.id == FieldId::ElevStep || culprit.id == FieldId::TempStep;
    auto count = [](double n, const char* one, const char* many) {
        return CountText(n) + " " + (n == 1 ? one : many);
    };
    std::string detail = "the grid would hold " + CountText(cases) + " or more cases (up to " +
                         count(span.temperatures, "temperature", "temperatures") + " at each of " +
                         count(span.elevations, "elevation", "elevations") + ") and need about " +
                         ByteText(cost(cases)) + ", " + RoomText(static_cast<double>(budget)) +
                         (budget == 0 ? ""
                          : isStep    ? "; use a larger step"
                                      : "; lower the maximum");
    throw TemraError(ErrorNumber::OutOfMemory, culprit, detail);
}

// A capacity below one case: the range with a factor below one names its box.
[[noreturn]] void NoRoom(const SolubilityGrid& g) {
    const bool elevationsAtFault = g.ElevStepCount + 1 < g.TempStepCount + 1;
    if (elevationsAtFault) {
        if (g.ElevStep < 0 && g.ElevMax >= 0)
            throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::ElevStep),
                             "the elevation step is negative, so the elevations, which start at "
                             "0 m, never reach the highest elevation");
        throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::ElevMax),
                         "the highest elevation (" + ApproxText(g.ElevMax) +
                             " m) lies below 0 m, where the grid starts");
    }
    if (g.TempStep < 0 && g.TempMaxInput >= 0)
        throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::TempStep),
                         "the temperature step is negative, so the temperatures, which start at "
                         "0 °C, never reach the highest temperature");
    throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::TempMax),
                     "the highest temperature (" + ApproxText(g.TempMaxInput) +
                         " °C) lies below 0 °C, where the grid starts");
}

} // namespace

// The elevations start at 0 m, so their count is ElevMax / ElevStep.
GridInputs ReadGridInputs(const Form1Texts& f, char sep) {
    GridInputs g;
    using checked::Div;
    using checked::Finite;
    g.WaterDensity = ParseSingle(f.Text14, F(FieldId::Density), sep);
    if (!(g.WaterDensity > 0))
        throw TemraError(ErrorNumber::InvalidCall, F(FieldId::Density),
                         "the density of water must be greater than 0 g/cm³");
    g.Chloride = ParseDouble(f.Text15, F(FieldId::Chloride), sep);
    if (!(g.Chloride >= 0))
        throw TemraError(ErrorNumber::InvalidCall, F(FieldId::Chloride),
                         "the chloride concentration (" + ApproxText(g.Chloride) +
                             " mol/l) must be 0 or more");
    g.ElevMax = ParseDouble(f.Text19, F(FieldId::ElevMax), sep);
    g.ElevStep = ParseDouble(f.Text25, F(FieldId::ElevStep), sep);
    g.ElevStepCount =
        Div(g.ElevMax, g.ElevStep, F(FieldId::ElevStep), "the elevation step must not be zero");
    g.TempMaxInput = ParseSingle(f.Text21, F(FieldId::TempMax), sep);
    g.TempMax = ParseDouble(f.Text21, F(FieldId::TempMax), sep);
    g.TempStep = ParseDouble(f.Text26, F(FieldId::TempStep), sep);
    g.TempStepCount = Finite(Div(static_cast<double>(g.TempMaxInput), g.TempStep,
                                 F(FieldId::TempStep), "the temperature step must not be zero") *
                                 100,
                             F(FieldId::TempStep), "too many temperatures");
    g.MaatSlope = ParseSingle(f.Text20, F(FieldId::MaatA), sep);
    g.MaatIntercept = ParseSingle(f.Text22, F(FieldId::MaatB), sep);
    g.MaatInUse = f.Check1;
    for (int gas = 0; gas < GasCount; ++gas) {
        const FieldRef field = F(fields::Measured(gas));
        const double measured = ParseDouble(f.Measured(gas), field, sep);
        // A concentration is above 0; a gas that was not measured keeps any positive
        // value and is ticked for deletion on the graph.
        if (!(measured > 0))
            throw TemraError(ErrorNumber::InvalidCall, field,
                             "a measured concentration must be above 0 (" + field.label + ": " +
                                 ApproxText(measured) +
                                 "); for a gas that was not measured, keep any positive value "
                                 "and tick it for deletion on the graph");
        g.MeasuredConc[static_cast<std::size_t>(gas)] = measured;
    }
    return g;
}

namespace {

// Gases dissolve only while the air pressure lies above the vapour pressure of
// water; at or below it every equilibrium concentration would be zero or negative.
// The vapour pressure rises with the temperature, so the ends of the window tell.
class PressureCheck {
  public:
    void Check(double H, double P, double firstT, double lastT) {
        if (!(valid_ && firstT == firstT_ && lastT == lastT_)) {
            firstT_ = firstT;
            lastT_ = lastT;
            valid_ = true;
            const double vpFirst = VapourPressureAt(firstT, F(FieldId::TempMax));
            const double vpLast = VapourPressureAt(lastT, F(FieldId::TempMax));
            worstT_ = vpLast >= vpFirst ? lastT : firstT;
            worstVP_ = std::max(vpFirst, vpLast);
        }
        if (P - worstVP_ > 0) return;
        // Water that boils even at sea level: the temperature is at fault.
        const bool temperatureAtFault = worstVP_ >= 1;
        throw TemraError(ErrorNumber::InvalidCall,
                         temperatureAtFault ? F(FieldId::TempMax) : F(FieldId::ElevMax),
                         "at " + ApproxText(H) + " m and " + ApproxText(worstT_) +
                             " °C the air pressure (" + ApproxText(P) +
                             " atm) is not above the vapour pressure of water (" +
                             ApproxText(worstVP_) + " atm), so no gas stays dissolved; " +
                             (temperatureAtFault ? "lower the highest temperature"
                                                 : "lower the highest elevation"));
    }

  private:
    bool valid_ = false;
    double firstT_ = 0, lastT_ = 0, worstT_ = 0, worstVP_ = 0;
};

// Pass 1, an elevation at a time: counts the cases of every elevation. Every
// fault of the loops shows here, before any case array exists.
class CaseCounter {
  public:
    CaseCounter(GridPlan& plan, std::uint64_t budget, const CaseCost& cost, RunControl& control)
        : plan_(plan), g_(*plan.grid), budget_(budget), cost_(cost), control_(control),
          capacity_(static_cast<std::uint64_t>(g_.Capacity)), lastWindow_{g_.TempMin, g_.TempMax} {}

    // The cases of elevation H, noted in the plan when it has any.
    void Visit(double H) {
        if (++visited_ > capacity_)
            throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::ElevStep),
                             "the elevations do not advance to the maximum");
        if ((visited_ & 0xFFF) == 0) control_.CheckCancelled();
        SingleOf(H, F(FieldId::ElevMax), "elevation beyond the single-precision range");
        const double P = AirPressureAt(H, F(FieldId::ElevMax));
        const TemperatureWindow w = WindowOf(H);
        lastWindow_ = w;
        const std::uint64_t first = cases_;
        const double lastT = CountTemperatures(w);
        if (cases_ == first) return;
        CheckRoom(cases_);
        pressure_.Check(H, P, w.TempMin, lastT);
        plan_.elevations.push_back({H, first, cases_ - first, w});
    }

    // The count into the grid; the window of the last elevation visited stays in it.
    void Finish() {
        g_.CaseCount = static_cast<CaseNumber>(cases_);
        g_.ElevationsVisited = visited_;
        if (visited_ > 0) {
            g_.TempMin = lastWindow_.TempMin;
            g_.TempMax = lastWindow_.TempMax;
        }
    }

  private:
    TemperatureWindow WindowOf(double H) const {
        if (!g_.MaatInUse) return TemperatureWindow{g_.TempMin, g_.TempMax};
        return MaatWindow(H, g_.MaatSlope, g_.MaatIntercept, g_.TempMaxInput, F(FieldId::MaatA));
    }

    // Refuses a grid of `cases` cases, with one elevation more, that would not fit
    // the memory this process may use.
    void CheckRoom(std::uint64_t cases) const {
        const std::size_t elevations = plan_.elevations.size() + 1;
        if (!(cost_(static_cast<double>(cases)) +
                  static_cast<double>(elevations) * sizeof(GridElevation) <=
              static_cast<double>(budget_)))
            OutOfMemory(g_, static_cast<double>(cases), cost_, budget_);
    }

    // Counts the temperatures of window w; returns the last.
    double CountTemperatures(const TemperatureWindow& w) {
        std::uint64_t cases = cases_;
        double lastT = w.TempMin;
        for (double T = w.TempMin; LoopContinues(T, w.TempMax, g_.TempStep); T += g_.TempStep) {
            if (++cases > capacity_)
                throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::TempStep),
                                 "more cases than the grid has room for");
            if ((cases & 0xFFFFF) == 0) {
                control_.CheckCancelled();
                CheckRoom(cases);
            }
            lastT = T;
        }
        cases_ = cases;
        return lastT;
    }

    GridPlan& plan_;
    SolubilityGrid& g_;
    std::uint64_t budget_;
    CaseCost cost_;
    RunControl& control_;
    std::uint64_t capacity_;
    PressureCheck pressure_;
    std::uint64_t cases_ = 0, visited_ = 0;
    TemperatureWindow lastWindow_;
};

void CountCases(GridPlan& plan, std::uint64_t budget, const CaseCost& cost, RunControl& control,
                std::optional<double> onlyElevation) {
    const SolubilityGrid& g = *plan.grid;
    CaseCounter counter(plan, budget, cost, control);
    if (onlyElevation) {
        counter.Visit(*onlyElevation);
    } else {
        for (double H = g.ElevMin; LoopContinues(H, g.ElevMax, g.ElevStep); H += g.ElevStep)
            counter.Visit(H);
    }
    counter.Finish();
}

// The temperatures of one elevation and the model's temperature-dependent values
// for them: SX(g, t) = saline solubility times AtmFraction, and the vapour pressure.
struct TemperatureBlock {
    double first = 0, last = 0; // the window the block was built for
    bool valid = false;
    std::vector<double> T;
    std::vector<double> VP;
    std::array<std::vector<double>, GasCount> SX;
    std::array<double, GasCount> maxSX{}; // largest |SX| of each gas
    std::array<double, GasCount> minSX{}; // smallest SX of each gas
};

void BuildBlock(TemperatureBlock& block, double first, double last, double step, float density,
                double chloride, SolubilitySet set, const RunControl& control) {
    block.first = first;
    block.last = last;
    block.valid = true;
    FactorTable table =
        TabulateFactors(first, last, step, density, chloride, kAllGases, set, control);
    block.T = std::move(table.T);
    block.VP = std::move(table.VP);
    block.SX = std::move(table.SX);
    block.maxSX.fill(0);
    block.minSX.fill(std::numeric_limits<double>::infinity());
    for (std::size_t g = 0; g < GasCount; ++g)
        for (const double sx : block.SX[g]) {
            block.maxSX[g] = std::max(block.maxSX[g], sx);
            block.minSX[g] = std::min(block.minSX[g], sx);
        }
}

// Fills the cases of `n` consecutive elevations:
//   EquilConc = (S x) (AirPressure - VapourPressure) / 1000,
// with S x and the vapour pressure of each temperature taken from the block, which
// is rebuilt only when the window changes.
void FillElevations(SolubilityGrid& g, const GridElevation* elevations, std::size_t n,
                    RunControl& control) {
    const FieldRef elevField = F(FieldId::ElevMax);
    TemperatureBlock block;
    std::vector<double> diff;
    for (std::size_t e = 0; e < n; ++e) {
        const GridElevation& el = elevations[e];
        const TemperatureWindow& w = el.window;
        if (!block.valid || block.first != w.TempMin || block.last != w.TempMax)
            BuildBlock(block, w.TempMin, w.TempMax, g.TempStep, g.WaterDensity, g.Chloride,
                       g.DataSet, control);
        const std::size_t nT = block.T.size();
        if (nT != el.count)
            throw TemraError(ErrorNumber::SubscriptRange, F(FieldId::TempStep),
                             "the temperatures of an elevation changed between passes");
        const double P = AirPressureAt(el.H, elevField);
        diff.resize(nT);
        double maxDiff = 0, minDiff = std::numeric_limits<double>::infinity();
        for (std::size_t t = 0; t < nT; ++t) {
            diff[t] = P - block.VP[t];
            maxDiff = std::max(maxDiff, std::fabs(diff[t]));
            minDiff = std::min(minDiff, diff[t]);
        }
        const std::size_t k = el.first;
        const float elev = static_cast<float>(el.H);
        std::copy(block.T.begin(), block.T.end(), g.Temp.data() + k);
        std::fill_n(g.Elev.data() + k, nT, elev);
        const std::size_t rowLength = static_cast<std::size_t>(g.CaseCount);
        for (std::size_t gas = 0; gas < GasCount; ++gas) {
            const double* sx = block.SX[gas].data();
            double* out = g.Solubility.data() + gas * rowLength + k;
            for (std::size_t t = 0; t < nT; ++t) out[t] = EquilConcOf(sx[t], P, block.VP[t]);
            // No product can leave the number range when the largest factors cannot,
            // nor fall to 0 when the smallest cannot.
            if (!(block.maxSX[gas] * maxDiff <= std::numeric_limits<double>::max()))
                for (std::size_t t = 0; t < nT; ++t)
                    checked::Finite(out[t], F(FieldId::Density), "EquilConc");
            if (!(block.minSX[gas] * minDiff / 1000 > 0))
                for (std::size_t t = 0; t < nT; ++t)
                    if (!(out[t] > 0)) NothingDissolved(g.Chloride);
        }
        control.Advance(el.count);
    }
}

} // namespace

GridPlan Module1::PlanSolubility(const Form1Texts& f, RunControl& control) const {
    return PlanGrid(ReadGridInputs(f, run.DecimalSeparator), f, run, control);
}

GridPlan Module1::PlanSolubilityAt(const Form1Texts& f, double elevation,
                                   RunControl& control) const {
    return PlanGrid(ReadGridInputs(f, run.DecimalSeparator), f, run, control, elevation);
}

GridPlan PlanGrid(const GridInputs& inputs, const Form1Texts& f, const RunSettings& run,
                  RunControl& control, std::optional<double> onlyElevation) {
    GridPlan plan;
    plan.grid = std::make_shared<SolubilityGrid>();
    SolubilityGrid& g = *plan.grid;
    g.Inputs = f;
    static_cast<GridInputs&>(g) = inputs;
    g.DataSet = run.Solubility;

    // Sizing: the capacity keeps its meaning for the errors it defines, while the
    // case arrays are sized to the cases the run really produces.
    const double capacity = RoundHalfEven((g.TempStepCount + 1) * (g.ElevStepCount + 1));
    if (!(capacity >= 1)) NoRoom(g);
    const std::uint64_t budget = run.MemoryAvailable();
    const CaseCost cost{run.ExtraBytesPerCase, run.ExtraCasesLimit};
    if (capacity > 4e18) OutOfMemory(g, capacity, cost, budget);
    g.Capacity = static_cast<std::int64_t>(capacity);
    // A first estimate of the real case count refuses absurd grids before counting.
    const GridSpan span = SpanOf(g);
    const double estimate = span.elevations * span.temperatures;
    if (cost(estimate) > 1.01 * static_cast<double>(budget) + 4096)
        OutOfMemory(g, estimate, cost, budget);

    CountCases(plan, budget, cost, control, onlyElevation);
    plan.bytes = static_cast<std::uint64_t>(cost(static_cast<double>(g.CaseCount))) +
                 plan.elevations.size() * sizeof(GridElevation);
    return plan;
}

void Module1::FillSolubility(GridPlan& plan, RunControl& control) const {
    FillGrid(plan, run, control);
}

void FillGrid(GridPlan& plan, const RunSettings& run, RunControl& control) {
    SolubilityGrid& g = *plan.grid;
    const auto cases = static_cast<std::uint64_t>(g.CaseCount);
    control.Begin(cases);
    try {
        g.Temp = RunArray<double>(cases);
        g.Elev = RunArray<float>(cases);
        g.Solubility = RunArray<double>(cases * GasCount);
    } catch (const std::bad_alloc&) {
        OutOfMemory(g, static_cast<double>(cases),
                    CaseCost{run.ExtraBytesPerCase, run.ExtraCasesLimit}, run.MemoryAvailable());
    }
    const std::vector<GridElevation>& elevations = plan.elevations;
    const unsigned parts = PartCount(static_cast<std::int64_t>(cases), 250000);
    RunParts(parts, [&](unsigned part) {
        // Each part takes the whole elevations whose first case falls in its share.
        const std::uint64_t from = cases * part / parts, to = cases * (part + 1) / parts;
        auto byFirst = [](const GridElevation& e, std::uint64_t k) { return e.first < k; };
        auto b = std::lower_bound(elevations.begin(), elevations.end(), from, byFirst);
        auto e = std::lower_bound(elevations.begin(), elevations.end(), to, byFirst);
        FillElevations(g, elevations.data() + (b - elevations.begin()),
                       static_cast<std::size_t>(e - b), control);
    });
    if (cases > 0) {
        plan.curTemp = g.Temp[cases - 1];
        plan.working = EvaluateModel(kGasTable[GasCount - 1], plan.curTemp, elevations.back().H,
                                     g.WaterDensity, g.Chloride, F(FieldId::TempMax));
    }
    plan.filled = true;
}

void Module1::CommitSolubility(GridPlan&& plan) {
    if (!plan.grid || !plan.filled)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Ref(FieldId::Calculate),
                         "the run is not complete");
    LoadGasTable();
    if (plan.grid->CaseCount > 0) {
        CurTemp = plan.curTemp;
        Working = plan.working;
    }
    grid_ = std::move(plan.grid);
    selection_.reset();
    noEa_.reset();
    ea_.reset();
}

void Module1::CalculateSolubility(const Form1Texts& f) {
    GridPlan plan = PlanSolubility(f);
    FillSolubility(plan);
    CommitSolubility(std::move(plan));
}

std::string EmptyGridReason(const SolubilityGrid& g) {
    if (g.CaseCount > 0) return {};
    if (g.ElevationsVisited == 0)
        return g.ElevStep > 0 ? "the highest elevation (" + ApproxText(g.ElevMax) +
                                    " m) lies below 0 m, where the grid starts"
                              : "the elevation step is negative, so the elevations never reach "
                                "the highest elevation (" +
                                    ApproxText(g.ElevMax) + " m)";
    if (g.MaatInUse)
        return "with the MAAT equation H = aT + b (a = " + ApproxText(g.MaatSlope) +
               ", b = " + ApproxText(g.MaatIntercept) +
               ") every elevation's mean annual air temperature lies more than 3 °C above the "
               "highest temperature (" +
               ApproxText(g.TempMaxInput) + " °C), so no elevation has a temperature to compute";
    return g.TempStep > 0 ? "the highest temperature (" + ApproxText(g.TempMaxInput) +
                                " °C) lies below 0 °C, where the grid starts"
                          : "the temperature step is negative, so the temperatures never reach "
                            "the highest temperature (" +
                                ApproxText(g.TempMaxInput) + " °C)";
}

} // namespace temra
