// Module1: the shared calculation state of the calculator and its procedures.
//
// One instance lives for the whole program (the desktop program owns one and hands
// it to its windows; tests make their own). The procedures read the texts of the
// windows' boxes, which the callers pass in, and leave their results in the state,
// where the windows and the exports read them.
//
// Numbering follows the calculator: gases 1 to 7 in the gas order, grid cases from
// 1 in the order the grid run produces them, ranks 1 to 10, trial amounts of
// excess air from 1.
//
// A procedure either completes or changes nothing: every fault raises TemraError
// before the state is touched, so the results of the last complete run stay as
// they were.
#pragma once

#include "errors.h"
#include "gas_table.h"
#include "input_texts.h"
#include "solubility_model.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace temra {

using CaseNumber = std::int64_t;

inline constexpr double kExclusionValue = 10000; // deviation of an excluded or ranked case
inline constexpr int kRankCount = 10;

// Advice to the operating system about a large array just allocated (for example
// to back it with huge pages). The programs install one; by default there is none.
using MemoryAdvisor = void (*)(void* data, std::size_t bytes);
void SetMemoryAdvisor(MemoryAdvisor advisor);

// Storage of one array without zero-filling it first (the run writes every entry).
// Large arrays (32 MiB and more) are aligned to 2 MiB and handed to the memory
// advisor.
template <typename T> class RunArray {
  public:
    RunArray() = default;
    explicit RunArray(std::size_t n);
    std::size_t size() const { return size_; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    struct Free {
        std::size_t alignment = alignof(T);
        void operator()(T* p) const { ::operator delete (p, std::align_val_t{alignment}); }
    };
    std::unique_ptr<T[], Free> data_;
    std::size_t size_ = 0;
};

// The result of one grid run, with the inputs it was computed from. Immutable once
// built; results of later stages keep a reference to the run they describe.
struct SolubilityGrid {
    float WaterDensity = 0;
    double Chloride = 0;
    double ElevMin = 0;
    double ElevMax = 0;
    double ElevStep = 0;
    double ElevStepCount = 0;
    float TempMaxInput = 0;
    double TempMin = 0; // window of the last elevation visited when the relation is in use
    double TempMax = 0;
    double TempStep = 0;
    double TempStepCount = 0;
    float MaatSlope = 0;
    float MaatIntercept = 0;
    bool MaatInUse = false;
    std::array<double, GasCount> MeasuredConc{};
    // (TempStepCount + 1) x (ElevStepCount + 1) rounded half to even: the size the
    // case arrays would have if they were sized for every case a run could visit.
    std::int64_t Capacity = 0;
    CaseNumber CaseCount = 0;

    RunArray<double> Temp;       // CaseTemp, index k - 1
    RunArray<float> Elev;        // CaseElev, index k - 1
    RunArray<double> Solubility; // GasSolubility, row g - 1 of CaseCount entries

    std::span<const double> Row(int g) const;
};

// The gases left on the solubility graph after a redraw, and their tables.
struct GasSelection {
    std::shared_ptr<const SolubilityGrid> grid; // the run the tables describe
    int SelGasCount = 0;
    std::vector<int> Gas;                 // gas index of selected gas j (j - 1)
    std::vector<std::string> SelGasLabel; // "He - 4", ...
    std::vector<double> SelMeasured;      // measured value of selected gas j
    std::vector<float> GasNumber;         // x position of selected gas j: j
    // SelSolubility(j, i): the calculated value of selected gas j in case i.
    double SelSolubility(int j, CaseNumber i) const { return grid->Row(Gas[j - 1])[i - 1]; }
};

// The best fit without excess air.
struct BestFitNoEa {
    std::shared_ptr<const SolubilityGrid> grid; // the run the deviations belong to
    int SelGasCount = 0;
    std::vector<double> CaseRms;              // deviation of case i at i - 1
    std::array<double, kRankCount> BestRms{}; // rank k at k - 1
    std::array<CaseNumber, kRankCount> BestCase{};
    int Ranked = 0; // ranks taken by a case with a deviation below 10000 (0 to 10)
};

// The best fit with excess air.
struct BestFitEa {
    std::shared_ptr<const SolubilityGrid> grid;
    double EaMin = 0, EaMax = 0, EaStep = 0, EaStepCount = 0;
    std::int64_t GeneratedCount = 0;    // trial amounts the counting loop produced
    std::int64_t M = 0;                 // trial amounts evaluated: integer part of EaStepCount
    std::vector<float> EaValue;         // R entries
    std::vector<double> EaCorrMeasured; // n x R, selected gas j, trial m at (j - 1) * R + m - 1
    std::vector<double> BestRms;        // M x 10, trial m, rank k at (m - 1) * 10 + k - 1
    std::vector<CaseNumber> BestCase;   // same shape
    std::vector<int> Ranked;            // per trial: ranks taken by a case below 10000
    double BestRmsAt(std::int64_t m, int k) const { return BestRms[(m - 1) * kRankCount + k - 1]; }
    CaseNumber BestCaseAt(std::int64_t m, int k) const {
        return BestCase[(m - 1) * kRankCount + k - 1];
    }
};

// One gas-pair graph.
struct GasPairGraph {
    std::array<int, 2> GasIndex{};      // gas of slot 1 (X) and slot 2 (Y)
    std::string PairXTitle, PairYTitle; // "He-4 (cm3STP/gH2O)", ...
    double PairEaMin = 0, PairEaMax = 0, PairEaStep = 0;
    float PairTempMin = 0, PairTempMax = 0, PairTempStep = 0;
    std::vector<double> PairEaValues;  // nEA entries; the loop fills the first J
    std::vector<float> PairTempValues; // nT entries; the loop fills the first nPts
    int J = 0;                         // curves (excess-air values)
    int nPts = 0;                      // points per curve (temperatures)
    std::vector<double> PairConc;      // (t, j, s) at ((s - 1) * J + j - 1) * nPts + t - 1
    double PairXMin = 1000, PairYMin = 1000, PairXMax = 1e-17, PairYMax = 1e-17;
    double MeasuredX = 0, MeasuredY = 0;  // the sample, from the measured-value texts
    std::vector<std::string> CurveTitles; // "EA Content: 0.01", ...
    std::string Label3, Label4;           // "Tmin=0oC", "Tmax=30oC"

    double Conc(int t, int j, int s) const {
        return PairConc[((static_cast<std::size_t>(s) - 1) * J + j - 1) * nPts + t - 1];
    }
};

class Module1 {
  public:
    Module1();

    // Decimal separator of the user's locale; '.' is always accepted as well.
    char DecimalSeparator = '.';
    // The most memory a grid run may claim for its case arrays, in bytes.
    std::uint64_t MemoryBudget;

    // The gas constants, assigned when the input page loads and by every grid run.
    GasTableType GasTable{};
    void LoadGasTable() { GasTable = kGasTable; }

    // ---- Grid run -------------------------------------------------------------
    // Reads the input page, evaluates the model for the seven gases over the grid
    // of elevations and temperatures and replaces the grid.
    void CalculateSolubility(const Form1Texts& form1);

    bool HasGrid() const { return grid_ != nullptr; }
    const SolubilityGrid& Grid() const;
    std::shared_ptr<const SolubilityGrid> GridPtr() const { return grid_; }
    CaseNumber CaseIndex() const { return grid_ ? grid_->CaseCount : 0; }
    CaseNumber CaseCount() const { return CaseIndex(); }
    double CaseTemp(CaseNumber k) const;
    float CaseElev(CaseNumber k) const;
    double GasSolubility(int g, CaseNumber k) const;
    double MeasuredConc(int g) const;
    std::span<const double> SolHe() const { return Row(1); }
    std::span<const double> SolNe() const { return Row(2); }
    std::span<const double> SolAr() const { return Row(3); }
    std::span<const double> SolKr() const { return Row(4); }
    std::span<const double> SolXe() const { return Row(5); }
    std::span<const double> SolN2() const { return Row(6); }
    std::span<const double> SolO2() const { return Row(7); }
    // Working values of the last case the grid run computed (gas 7).
    ModelValues Working{};
    double CurTemp = 0;

    // ---- Selected gases (the solubility graph's redraw) ------------------------
    // `deleted`: the "Tick to Delete Gas" boxes, index 0 = gas 1.
    void BuildSelectedGasTables(const std::array<bool, GasCount>& deleted);
    bool HasSelection() const { return selection_ != nullptr; }
    const GasSelection& Selection() const;
    int SelGasCount() const { return selection_ ? selection_->SelGasCount : 0; }
    int SelGasIndex() const { return SelGasCount(); }

    // ---- Best fit without excess air -------------------------------------------
    void FindBestFitNoEa();
    bool HasBestFitNoEa() const { return noEa_ != nullptr; }
    const BestFitNoEa& NoEa() const;
    std::shared_ptr<const BestFitNoEa> NoEaPtr() const { return noEa_; }

    // ---- Best fit with excess air ----------------------------------------------
    // The dialog's OK: reads the range, builds the corrected measurements, then
    // scores (EANGCorel) and ranks (EANGBestfit).
    void RunExcessAirSearch(const DialogTexts& dialog);
    bool HasBestFitEa() const { return ea_ != nullptr; }
    const BestFitEa& Ea() const;

    // Shared by both rankings: the running minimum and its case. RunMinCase is
    // never reset, so a rank without any eligible case repeats the case picked
    // just before it, even in an earlier search.
    double RunMin = 0;
    CaseNumber RunMinCase = 0;

    // ---- Gas-pair graph ----------------------------------------------------------
    void DrawGasPairGraph(const Form1Texts& form1, const Form2Ticks& form2,
                          const Dialog1Texts& dialog1);
    bool HasGasPair() const { return pair_ != nullptr; }
    const GasPairGraph& GasPair() const;

    // Pair slots (slot 1 = X axis, slot 2 = Y axis), kept between drawings.
    std::array<double, 2> PairCoefA{};
    std::array<float, 2> PairCoefB{};
    std::array<double, 2> PairAtmFraction{}, PairSalt3{}, PairSalt2{}, PairSalt1{}, PairSalt0{};

  private:
    std::span<const double> Row(int g) const;

    std::shared_ptr<const SolubilityGrid> grid_;
    std::shared_ptr<const GasSelection> selection_;
    std::shared_ptr<const BestFitNoEa> noEa_;
    std::shared_ptr<const BestFitEa> ea_;
    std::shared_ptr<const GasPairGraph> pair_;
};

// Rounds to the nearest integer, a value exactly halfway going to the even one.
double RoundHalfEven(double x);

} // namespace temra
