// Module1: the shared calculation state of Temra and its procedures.
//
// One instance lives for the whole program (the desktop program owns one and hands
// it to its windows; tests make their own). The procedures read the texts of the
// windows' boxes, which the callers pass in, and leave their results in the state,
// where the windows and the exports read them.
//
// Numbering: grid cases from 1 in the order the grid run produces them, ranks 1
// to 10, trial amounts of excess air from 1, selected gases from 1; a gas is its
// gas index (core/gas_table.h), except in GasSolubility(g, k) and
// MeasuredConc(g), which number the gases 1 to 7 as the grid run's arrays do.
//
// A procedure either completes or changes nothing: every fault raises TemraError
// before the state is touched, so the results of the last complete run stay as
// they were.
#pragma once

#include "core/errors.h"
#include "core/gas_table.h"
#include "core/input_texts.h"
#include "core/run_array.h"
#include "core/run_control.h"
#include "core/run_settings.h"
#include "core/solubility_model.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace temra {

using CaseNumber = std::int64_t;

inline constexpr double kExclusionValue = 10000; // deviation of an excluded or ranked case
inline constexpr int kRankCount = 10;

// The result of one grid run, with the inputs it was computed from. Immutable once
// built; results of later stages keep a reference to the run they describe.
// The grid's inputs as numbers: read from the input page's texts and checked
// (ReadGridInputs), or given by a caller that has them as numbers (the study).
struct GridInputs {
    float WaterDensity = 0;
    double Chloride = 0;
    double ElevMax = 0;
    double ElevStep = 0;
    double ElevStepCount = 0; // ElevMax / ElevStep
    float TempMaxInput = 0;
    double TempMax = 0;
    double TempStep = 0;
    double TempStepCount = 0; // TempMaxInput / TempStep x 100
    float MaatSlope = 0;
    float MaatIntercept = 0;
    bool MaatInUse = false;
    std::array<double, GasCount> MeasuredConc{};
};

// Reads and checks the input page's texts with the decimal separator `separator`
// ('.' read as well); a fault is a TemraError naming its box, in the order the
// boxes are read.
GridInputs ReadGridInputs(const Form1Texts& form1, char separator);

struct SolubilityGrid : GridInputs {
    Form1Texts Inputs;                              // the input page's texts the run was made from
    SolubilitySet DataSet = SolubilitySet::Builtin; // the solubility data it was computed with
    double ElevMin = 0; // the grid always starts at 0 m; the "Min" box (Text18) is not read
    double TempMin = 0; // window of the last elevation visited when the relation is in use
    // (TempStepCount + 1) x (ElevStepCount + 1) rounded half to even: the size the
    // case arrays would have if they were sized for every case a run could visit.
    std::int64_t Capacity = 0;
    CaseNumber CaseCount = 0;
    std::uint64_t ElevationsVisited = 0; // elevations the loop passed, with or without cases

    RunArray<double> Temp;       // CaseTemp, index k - 1
    RunArray<float> Elev;        // CaseElev, index k - 1
    RunArray<double> Solubility; // GasSolubility, by gas index a row of CaseCount entries

    std::span<const double> Row(int g) const;
};

// Why a run produced no grid case, in the user's words; empty when it has cases.
std::string EmptyGridReason(const SolubilityGrid& grid);

// One elevation of a planned grid with the cases it contributes.
struct GridElevation {
    double H;
    std::uint64_t first; // index of its first case
    std::uint64_t count;
    TemperatureWindow window;
};

// A grid run in two steps: the plan reads and checks the inputs and counts the
// cases (every fault of the inputs shows here, before any case array exists); the
// fill computes them. Neither touches the calculation state until the run is
// committed.
struct GridPlan {
    std::shared_ptr<SolubilityGrid> grid;  // inputs and case count; arrays after the fill
    std::vector<GridElevation> elevations; // the elevations that have cases
    std::uint64_t bytes = 0;               // memory the filled grid takes, with its graph
    ModelValues working{};                 // the model's values of the last case (after the fill)
    double curTemp = 0;
    bool filled = false;
    CaseNumber Cases() const { return grid ? grid->CaseCount : 0; }
};

// The grid run's steps from inputs as numbers (the study's way in): the plan of
// every elevation, or of `onlyElevation` alone (a single pass of the elevation
// loop there, with its temperature loop and its MAAT window when ticked), then
// its fill. `form1` is kept with the run as the texts it stands for; `run` gives
// the memory the plan is weighed against.
GridPlan PlanGrid(const GridInputs& inputs, const Form1Texts& form1, const RunSettings& run,
                  RunControl& control = Unwatched(),
                  std::optional<double> onlyElevation = std::nullopt);
void FillGrid(GridPlan& plan, const RunSettings& run, RunControl& control = Unwatched());

// The gases left on the solubility graph after a redraw, and their tables.
struct GasSelection {
    std::shared_ptr<const SolubilityGrid> grid; // the run the tables describe
    int SelGasCount = 0;
    std::vector<int> Gas;                 // gas index of selected gas j (at j - 1)
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
    std::vector<int> Gas;                     // the gases compared (gas indices)
    std::vector<double> CaseRms;              // deviation of case i at i - 1
    std::array<double, kRankCount> BestRms{}; // rank k at k - 1
    std::array<CaseNumber, kRankCount> BestCase{};
    int Ranked = 0;            // ranks taken by a case with a deviation below 10000 (0 to 10)
    CaseNumber Excluded = 0;   // cases excluded for a calculated concentration of 0
    double Smallest = 0;       // the smallest deviation of a case that is not excluded
    CaseNumber RunMinCase = 0; // the ranking's last pick, carried to the next search
};

// Why a best fit without excess air ranked no case; empty when it ranked one.
std::string NoFitReason(const BestFitNoEa& fit);

// The best fit with excess air.
struct BestFitEa {
    std::shared_ptr<const SolubilityGrid> grid;
    DialogTexts Inputs;   // the excess-air range as typed
    std::vector<int> Gas; // the gases compared (gas indices)
    double EaMin = 0, EaMax = 0, EaStep = 0, EaStepCount = 0;
    std::int64_t GeneratedCount = 0;    // trial amounts the counting loop produced
    std::int64_t M = 0;                 // trial amounts evaluated: integer part of EaStepCount
    std::vector<float> EaValue;         // R entries
    std::vector<double> EaCorrMeasured; // n x R, selected gas j, trial m at (j - 1) * R + m - 1
    std::vector<double> BestRms;        // M x 10, trial m, rank k at (m - 1) * 10 + k - 1
    std::vector<CaseNumber> BestCase;   // same shape
    std::vector<int> Ranked;            // per trial: ranks taken by a case below 10000
    CaseNumber RunMinCase = 0;          // the ranking's last pick, carried to the next search
    double BestRmsAt(std::int64_t m, int k) const { return BestRms[(m - 1) * kRankCount + k - 1]; }
    CaseNumber BestCaseAt(std::int64_t m, int k) const {
        return BestCase[(m - 1) * kRankCount + k - 1];
    }
};

// One gas-pair graph.
struct GasPairGraph {
    std::array<int, 2> GasIndex{};      // gas index of slot 1 (X) and slot 2 (Y)
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

// The axis range of a gas-pair graph, from its curves alone: the smallest value
// that is not zero and the largest value of each axis.
void SetPairAxisRange(GasPairGraph& graph);

class Module1 {
  public:
    Module1();

    // The decimal separator and the memory of the program's runs.
    RunSettings run;

    // The gas constants, assigned when the input page loads and by every grid run.
    GasTableType GasTable{};
    void LoadGasTable() { GasTable = kGasTable; }

    // ---- Grid run -------------------------------------------------------------
    // Reads the input page, evaluates the model for the seven gases over the grid
    // of elevations and temperatures and replaces the grid: the three steps below
    // in one call.
    void CalculateSolubility(const Form1Texts& form1);
    GridPlan PlanSolubility(const Form1Texts& form1, RunControl& control = Unwatched()) const;
    // The same with one elevation only: a single pass of the elevation loop at
    // `elevation`, with its temperature loop (and its MAAT window when ticked).
    GridPlan PlanSolubilityAt(const Form1Texts& form1, double elevation,
                              RunControl& control = Unwatched()) const;
    void FillSolubility(GridPlan& plan, RunControl& control = Unwatched()) const;
    // Makes a filled plan the current grid. The selected-gas tables and the search
    // results of the previous grid are dropped with it: a search always ranks the
    // grid the user sees.
    void CommitSolubility(GridPlan&& plan);

    bool HasGrid() const { return grid_ != nullptr; }
    const SolubilityGrid& Grid() const;
    std::shared_ptr<const SolubilityGrid> GridPtr() const { return grid_; }
    CaseNumber CaseIndex() const { return grid_ ? grid_->CaseCount : 0; }
    CaseNumber CaseCount() const { return CaseIndex(); }
    double CaseTemp(CaseNumber k) const;
    float CaseElev(CaseNumber k) const;
    // GasSolubility(g, k) and MeasuredConc(g) number the gases as the grid run's
    // arrays do, 1 to 7 (gas index + 1); everything else uses the gas index.
    double GasSolubility(int g, CaseNumber k) const;
    double MeasuredConc(int g) const;
    std::span<const double> SolHe() const { return Row(GasIndexOf("He-4")); }
    std::span<const double> SolNe() const { return Row(GasIndexOf("Ne-20")); }
    std::span<const double> SolAr() const { return Row(GasIndexOf("Ar-40")); }
    std::span<const double> SolKr() const { return Row(GasIndexOf("Kr-84")); }
    std::span<const double> SolXe() const { return Row(GasIndexOf("Xe")); }
    std::span<const double> SolN2() const { return Row(GasIndexOf("N2")); }
    std::span<const double> SolO2() const { return Row(GasIndexOf("O2")); }
    // Working values of the last case the grid run computed (gas 7).
    ModelValues Working{};
    double CurTemp = 0;

    // ---- Selected gases (the solubility graph's redraw) ------------------------
    // `deleted`: the "Tick to Delete Gas" boxes, by gas index.
    void BuildSelectedGasTables(const std::array<bool, GasCount>& deleted);
    bool HasSelection() const { return selection_ != nullptr; }
    const GasSelection& Selection() const;
    int SelGasCount() const { return selection_ ? selection_->SelGasCount : 0; }
    int SelGasIndex() const { return SelGasCount(); }

    // ---- Best fit without excess air -------------------------------------------
    void FindBestFitNoEa();
    std::shared_ptr<BestFitNoEa> ComputeBestFitNoEa(RunControl& control = Unwatched()) const;
    void CommitBestFitNoEa(std::shared_ptr<const BestFitNoEa> fit);
    bool HasBestFitNoEa() const { return noEa_ != nullptr; }
    const BestFitNoEa& NoEa() const;
    std::shared_ptr<const BestFitNoEa> NoEaPtr() const { return noEa_; }

    // ---- Best fit with excess air ----------------------------------------------
    // The dialog's OK: reads the range, builds the corrected measurements, then
    // scores (EANGCorel) and ranks (EANGBestfit).
    void RunExcessAirSearch(const DialogTexts& dialog);
    std::shared_ptr<BestFitEa> ComputeExcessAirSearch(const DialogTexts& dialog,
                                                      RunControl& control = Unwatched()) const;
    void CommitExcessAirSearch(std::shared_ptr<const BestFitEa> fit);
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
