#include "module1.h"

#include "checked_math.h"
#include "counting_loop.h"
#include "numtext.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>

namespace temra {

namespace {
MemoryAdvisor gMemoryAdvisor = nullptr;
constexpr std::size_t kLargeArray = std::size_t{32} << 20;
constexpr std::size_t kLargeAlignment = std::size_t{2} << 20;
} // namespace

void SetMemoryAdvisor(MemoryAdvisor advisor) {
    gMemoryAdvisor = advisor;
}

template <typename T> RunArray<T>::RunArray(std::size_t n) : size_(n) {
    const std::size_t bytes = std::max<std::size_t>(n, 1) * sizeof(T);
    const std::size_t alignment = bytes >= kLargeArray ? kLargeAlignment : alignof(T);
    data_ = std::unique_ptr<T[], Free>(
        static_cast<T*>(::operator new (bytes, std::align_val_t{alignment})), Free{alignment});
    if (bytes >= kLargeArray && gMemoryAdvisor) gMemoryAdvisor(data_.get(), bytes);
}
template class RunArray<double>;
template class RunArray<float>;

std::span<const double> SolubilityGrid::Row(int g) const {
    const auto n = static_cast<std::size_t>(CaseCount);
    return {Solubility.data() + static_cast<std::size_t>(g - 1) * n, n};
}

double RoundHalfEven(double x) {
    return std::nearbyint(x);
}

namespace {

// Three quarters of the physical memory where the system tells it, else 4 GiB.
std::uint64_t DefaultMemoryBudget() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    while (meminfo >> key) {
        if (key == "MemTotal:" && meminfo >> kib) return kib * 1024 / 4 * 3;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return std::uint64_t{4} << 30;
}

// Bytes the case arrays of one grid case take: temperature, elevation, 7 gases.
constexpr std::uint64_t kBytesPerCase = sizeof(double) + sizeof(float) + GasCount * sizeof(double);

[[noreturn]] void OutOfMemory(const FieldRef& field, std::uint64_t cases) {
    std::ostringstream detail;
    detail << "the grid would hold " << cases
           << " or more cases, more than this computer's memory takes; use larger steps";
    throw TemraError(ErrorNumber::OutOfMemory, field, detail.str());
}

float SingleOf(double value, const FieldRef& field, const char* what) {
    if (std::fabs(value) > std::numeric_limits<float>::max())
        throw TemraError(ErrorNumber::Overflow, field, what);
    return static_cast<float>(value);
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
};

void BuildBlock(TemperatureBlock& block, double first, double last, double step,
                const GasTableType& table, float density, double chloride) {
    block.first = first;
    block.last = last;
    block.valid = true;
    block.T.clear();
    block.VP.clear();
    for (auto& row : block.SX) row.clear();
    block.maxSX.fill(0);
    const ModelFields modelFields{fields::Form1("Text21"), fields::Form1("Text14"),
                                  fields::Form1("Text15")};
    const FieldRef& tempField = modelFields.temperature;
    for (double T = first; LoopContinues(T, last, step); T += step) {
        block.T.push_back(T);
        block.VP.push_back(VapourPressureAt(T, tempField));
        for (int g = 0; g < GasCount; ++g) {
            ModelValues v;
            SalineSolubility(table[g], T, density, chloride, v, modelFields);
            block.SX[g].push_back(checked::Finite(v.SalineSolubility * table[g].AtmFraction,
                                                  modelFields.density, "EquilConc"));
            block.maxSX[g] = std::max(block.maxSX[g], std::fabs(block.SX[g].back()));
        }
    }
}

// One elevation of the grid with the cases it contributes.
struct Elevation {
    double H;
    std::uint64_t first; // index of its first case
    std::uint64_t count;
    TemperatureWindow window;
};

// Fills the cases of `n` consecutive elevations:
//   EquilConc = (S x) (AirPressure - VapourPressure) / 1000,
// with S x and the vapour pressure of each temperature taken from the block, which
// is rebuilt only when the window changes.
void FillElevations(SolubilityGrid& g, const GasTableType& table, const Elevation* elevations,
                    std::size_t n) {
    const FieldRef elevField = fields::Form1("Text19");
    TemperatureBlock block;
    std::vector<double> diff;
    for (std::size_t e = 0; e < n; ++e) {
        const Elevation& el = elevations[e];
        const TemperatureWindow& w = el.window;
        if (!block.valid || block.first != w.TempMin || block.last != w.TempMax)
            BuildBlock(block, w.TempMin, w.TempMax, g.TempStep, table, g.WaterDensity, g.Chloride);
        const std::size_t nT = block.T.size();
        if (nT != el.count)
            throw TemraError(ErrorNumber::SubscriptRange, fields::Form1("Text26"),
                             "the temperatures of an elevation changed between passes");
        const double P = AirPressureAt(el.H, elevField);
        diff.resize(nT);
        double maxDiff = 0;
        for (std::size_t t = 0; t < nT; ++t) {
            diff[t] = P - block.VP[t];
            maxDiff = std::max(maxDiff, std::fabs(diff[t]));
        }
        const std::size_t k = el.first;
        const float elev = static_cast<float>(el.H);
        std::copy(block.T.begin(), block.T.end(), g.Temp.data() + k);
        std::fill_n(g.Elev.data() + k, nT, elev);
        const std::size_t rowLength = static_cast<std::size_t>(g.CaseCount);
        for (int gas = 0; gas < GasCount; ++gas) {
            const double* sx = block.SX[static_cast<std::size_t>(gas)].data();
            const double* d = diff.data();
            double* out = g.Solubility.data() + static_cast<std::size_t>(gas) * rowLength + k;
            for (std::size_t t = 0; t < nT; ++t) out[t] = sx[t] * d[t] / 1000;
            // No product can leave the number range when the largest factors cannot.
            if (!(block.maxSX[static_cast<std::size_t>(gas)] * maxDiff <=
                  std::numeric_limits<double>::max()))
                for (std::size_t t = 0; t < nT; ++t)
                    checked::Finite(out[t], fields::Form1("Text14"), "EquilConc");
        }
    }
}

} // namespace

Module1::Module1() : MemoryBudget(DefaultMemoryBudget()) {
    LoadGasTable();
}

void Module1::CalculateSolubility(const Form1Texts& f) {
    using checked::Div;
    using checked::Finite;
    const char sep = DecimalSeparator;
    auto F = [](const char* control) { return fields::Form1(control); };

    LoadGasTable();
    auto grid = std::make_shared<SolubilityGrid>();
    SolubilityGrid& g = *grid;

    // Inputs, in the order the run reads them.
    g.WaterDensity = ParseSingle(f.Text14, F("Text14"), sep);
    g.Chloride = ParseDouble(f.Text15, F("Text15"), sep);
    g.ElevMin = 0; // the grid always starts at 0 m; the "Min" box (Text18) is not read
    g.ElevMax = ParseDouble(f.Text19, F("Text19"), sep);
    g.ElevStep = ParseDouble(f.Text25, F("Text25"), sep);
    g.ElevStepCount =
        Div(g.ElevMax - g.ElevMin, g.ElevStep, F("Text25"), "the elevation step must not be zero");
    g.TempMaxInput = ParseSingle(f.Text21, F("Text21"), sep);
    g.TempMin = 0;
    g.TempMax = ParseDouble(f.Text21, F("Text21"), sep);
    g.TempStep = ParseDouble(f.Text26, F("Text26"), sep);
    g.TempStepCount = Finite(Div(static_cast<double>(g.TempMaxInput), g.TempStep, F("Text26"),
                                 "the temperature step must not be zero") *
                                 100,
                             F("Text26"), "too many temperatures");
    g.MaatSlope = ParseSingle(f.Text20, F("Text20"), sep);
    g.MaatIntercept = ParseSingle(f.Text22, F("Text22"), sep);
    g.MaatInUse = f.Check1;

    // Sizing: the capacity keeps its meaning for the errors it defines, while the
    // case arrays are sized to the cases the run really produces.
    const double capacity = RoundHalfEven((g.TempStepCount + 1) * (g.ElevStepCount + 1));
    if (!(capacity >= 1))
        throw TemraError(ErrorNumber::SubscriptRange, F("Text26"),
                         "the ranges give no room for a single case (check the signs of the "
                         "maxima and steps)");
    const std::uint64_t budgetCases = MemoryBudget / kBytesPerCase;
    if (capacity > 4e18) OutOfMemory(F("Text26"), budgetCases);
    g.Capacity = static_cast<std::int64_t>(capacity);
    // A first estimate of the real case count refuses absurd grids before counting.
    const double estimate = (std::fabs(static_cast<double>(g.TempMaxInput) / g.TempStep) + 1) *
                            (std::fabs(g.ElevStepCount) + 1);
    if (estimate > 1.01 * static_cast<double>(budgetCases) + 16)
        OutOfMemory(F("Text26"), static_cast<std::uint64_t>(estimate));

    for (int gas = 1; gas <= GasCount; ++gas)
        g.MeasuredConc[gas - 1] =
            ParseDouble(f.Measured(gas), F(("Text" + std::to_string(gas)).c_str()), sep);

    auto windowOf = [&](double H) {
        if (!g.MaatInUse) return TemperatureWindow{g.TempMin, g.TempMax};
        return MaatWindow(H, g.MaatSlope, g.MaatIntercept, g.TempMaxInput, F("Text20"));
    };

    // Pass 1: count the cases of every elevation; every fault of the loops shows
    // here, before any case array exists.
    const auto limit = std::min<std::uint64_t>(static_cast<std::uint64_t>(g.Capacity), budgetCases);
    std::vector<Elevation> elevations;
    std::uint64_t cases = 0, visited = 0;
    TemperatureWindow lastWindow{g.TempMin, g.TempMax};
    for (double H = g.ElevMin; LoopContinues(H, g.ElevMax, g.ElevStep); H += g.ElevStep) {
        if (++visited > static_cast<std::uint64_t>(g.Capacity))
            throw TemraError(ErrorNumber::SubscriptRange, F("Text25"),
                             "the elevations do not advance to the maximum");
        if (elevations.size() >= budgetCases / 4) OutOfMemory(F("Text25"), elevations.size());
        SingleOf(H, F("Text19"), "elevation beyond the single-precision range");
        AirPressureAt(H, F("Text19"));
        const TemperatureWindow w = windowOf(H);
        lastWindow = w;
        const std::uint64_t first = cases;
        for (double T = w.TempMin; LoopContinues(T, w.TempMax, g.TempStep); T += g.TempStep) {
            if (++cases > limit) {
                if (cases > static_cast<std::uint64_t>(g.Capacity))
                    throw TemraError(ErrorNumber::SubscriptRange, F("Text26"),
                                     "more cases than the grid has room for");
                OutOfMemory(F("Text26"), cases);
            }
        }
        if (cases > first) elevations.push_back({H, first, cases - first, w});
    }
    g.CaseCount = static_cast<CaseNumber>(cases);
    if (visited > 0) { // the window of the last elevation visited stays in the state
        g.TempMin = lastWindow.TempMin;
        g.TempMax = lastWindow.TempMax;
    }

    // Pass 2: fill, the elevations split over the cores. The old grid stays intact
    // until the new one is complete.
    try {
        g.Temp = RunArray<double>(cases);
        g.Elev = RunArray<float>(cases);
        g.Solubility = RunArray<double>(cases * GasCount);
    } catch (const std::bad_alloc&) {
        OutOfMemory(F("Text26"), cases);
    }
    const unsigned parts = PartCount(static_cast<std::int64_t>(cases), 250000);
    RunParts(parts, [&](unsigned part) {
        // Each part takes the whole elevations whose first case falls in its share.
        const std::uint64_t from = cases * part / parts, to = cases * (part + 1) / parts;
        auto byFirst = [](const Elevation& e, std::uint64_t k) { return e.first < k; };
        auto b = std::lower_bound(elevations.begin(), elevations.end(), from, byFirst);
        auto e = std::lower_bound(elevations.begin(), elevations.end(), to, byFirst);
        FillElevations(g, GasTable, elevations.data() + (b - elevations.begin()),
                       static_cast<std::size_t>(e - b));
    });

    if (cases > 0) {
        CurTemp = g.Temp[cases - 1];
        Working = EvaluateModel(GasTable[GasCount - 1], CurTemp, elevations.back().H,
                                g.WaterDensity, g.Chloride, F("Text21"));
    }
    grid_ = std::move(grid);
}

const SolubilityGrid& Module1::Grid() const {
    if (!grid_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Grid(), "no solubility run yet");
    return *grid_;
}

namespace {
[[noreturn]] void CaseOutOfRange(CaseNumber k) {
    throw TemraError(ErrorNumber::SubscriptRange, fields::Grid(),
                     "there is no grid case " + std::to_string(k));
}
} // namespace

double Module1::CaseTemp(CaseNumber k) const {
    if (k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Temp[static_cast<std::size_t>(k - 1)];
}

float Module1::CaseElev(CaseNumber k) const {
    if (k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Elev[static_cast<std::size_t>(k - 1)];
}

double Module1::GasSolubility(int g, CaseNumber k) const {
    if (g < 1 || g > GasCount || k < 1 || k > CaseIndex()) CaseOutOfRange(k);
    return grid_->Row(g)[static_cast<std::size_t>(k - 1)];
}

double Module1::MeasuredConc(int g) const {
    if (g < 1 || g > GasCount) CaseOutOfRange(g);
    return grid_ ? grid_->MeasuredConc[g - 1] : 0;
}

std::span<const double> Module1::Row(int g) const {
    if (!grid_) return {};
    return grid_->Row(g);
}

void Module1::BuildSelectedGasTables(const std::array<bool, GasCount>& deleted) {
    if (!grid_ || grid_->CaseCount == 0)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Grid(),
                         "the last solubility run produced no grid case");
    auto sel = std::make_shared<GasSelection>();
    sel->grid = grid_;
    for (int gas = 1; gas <= GasCount; ++gas) {
        if (deleted[gas - 1]) continue;
        sel->Gas.push_back(gas);
        sel->SelGasLabel.emplace_back(kSelectedGraphLabels[gas - 1]);
        sel->SelMeasured.push_back(grid_->MeasuredConc[gas - 1]);
        sel->GasNumber.push_back(static_cast<float>(sel->Gas.size()));
    }
    sel->SelGasCount = static_cast<int>(sel->Gas.size());
    if (sel->SelGasCount == 0)
        throw TemraError(ErrorNumber::SubscriptRange, fields::SolGraphSelection(),
                         "every gas is ticked for deletion; leave at least one");
    selection_ = std::move(sel);
}

const GasSelection& Module1::Selection() const {
    if (!selection_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::SolGraphSelection(),
                         "redraw the graph for the selected gases first");
    return *selection_;
}

const BestFitNoEa& Module1::NoEa() const {
    if (!noEa_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::SolGraphSelection(),
                         "no best fit without excess air yet");
    return *noEa_;
}

const BestFitEa& Module1::Ea() const {
    if (!ea_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Dialog("Text17"),
                         "no best fit with excess air yet");
    return *ea_;
}

const GasPairGraph& Module1::GasPair() const {
    if (!pair_)
        throw TemraError(ErrorNumber::SubscriptRange, fields::Form2Selection(),
                         "no gas-pair graph yet");
    return *pair_;
}

} // namespace temra
