// The grids of a study: the input page's grid as the study reads it, planned
// once for the samples without an elevation and once per known elevation, and
// the temperature tables of each water (density and chloride), made once for
// its samples.
#pragma once

#include "core/module1.h"
#include "core/run_control.h"
#include "core/run_settings.h"
#include "core/solubility_model.h"
#include "study/input/sample_values.h"
#include "study/study_options.h"

#include <array>
#include <cmath>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace temra::study {

// The input page's boxes as the study's grid reads them: its conditions only (the
// measured boxes belong to the page's own sample and are not the study's).
Form1Texts GridOnly(const Form1Texts& grid);

// The program's separator and memory for the study's grids, which keep no graph
// of their cases.
RunSettings GridSettings(const RunSettings& settings, const StudyOptions& options);

// The elevations of a grid with their air pressures: the grid's own (counted,
// no case computed), or one elevation's when a sample's elevation is known.
struct Layout {
    GridPlan plan;
    std::vector<double> P; // per elevation
};
Layout MakeLayout(GridPlan plan);

// The index in plan.elevations of the elevation of grid case k (0-based).
std::size_t ElevationOfCase(const GridPlan& plan, std::uint64_t k);

// The grid case nearest (T, E): the nearest elevation, then its nearest
// temperature (the first on a tie); caseT(e, k) gives the temperature of case k
// of elevation e.
template <typename CaseT>
std::size_t NearestCaseOf(const GridPlan& plan, double T, double E, CaseT&& caseT) {
    const auto& els = plan.elevations;
    std::size_t e = 0;
    for (std::size_t i = 1; i < els.size(); ++i)
        if (std::fabs(els[i].H - E) < std::fabs(els[e].H - E)) e = i;
    const auto first = static_cast<std::size_t>(els[e].first);
    std::size_t k = first;
    for (std::size_t i = first + 1; i < first + els[e].count; ++i)
        if (std::fabs(caseT(e, i) - T) < std::fabs(caseT(e, k) - T)) k = i;
    return k;
}

using Window = std::pair<double, double>; // a temperature window's first and last
Window WindowOf(const GridElevation& e);

// The temperatures of one window with the factors of the fitted gases, made once
// for the samples of one density and chloride, in the grid run's loop.
using TempTable = FactorTable;

// A sample's grid: the layout and the table of each of its elevations, and,
// for a grid several samples share, every case's equilibrium concentrations.
struct SampleGrid {
    const Layout* layout = nullptr;
    std::vector<const TempTable*> tables;
    std::array<std::vector<double>, GasCount> cases; // by gas; empty when not made
};

// Every case's equilibrium concentration of the study's gases (the same
// arithmetic as the search's own).
void FillCases(SampleGrid& g, const std::array<bool, GasCount>& gases);

// A water: the samples of one density and chloride share their temperature
// tables.
struct Water {
    float density = 1;
    double chloride = 0;
    auto operator<=>(const Water&) const = default;
};

struct StudyGrids {
    std::optional<Layout> free;            // the grid's own elevations
    std::map<double, Layout> known;        // one per known elevation
    std::map<double, std::string> refused; // a known elevation whose grid cannot be made
};

// The layout of a sample's grid; nullptr when it has none.
const Layout* LayoutOf(const StudyGrids& grids, const Values& v);

// Plans the grids the samples need: the grid's own for the samples without an
// elevation, one elevation's for each known elevation.
StudyGrids PlanGrids(const std::vector<Values>& values, const std::vector<bool>& readable,
                     const GridInputs& inputs, const Form1Texts& texts, const RunSettings& run,
                     GridPlan freePlan, RunControl& control);

// The samples of one water and its tables, with the work they count.
struct WaterSamples {
    std::vector<std::size_t> members;
    std::map<Window, TempTable> tables;
    std::uint64_t tableWork = 0, work = 0;
};

// The windows a water's samples need, with their temperature counts.
std::map<Window, std::uint64_t> WindowsOf(const WaterSamples& m, const std::vector<Values>& values,
                                          const StudyGrids& grids);

// A sample's grid from its layout and its water's tables.
SampleGrid GridOf(const Layout& layout, const std::map<Window, TempTable>& tables);

// The tables of a water's windows, made in parallel; each counts its temperatures
// into `control`.
void BuildTables(WaterSamples& m, const std::map<Window, std::uint64_t>& windows,
                 const Water& water, double step, const StudyOptions& o, RunControl& control);

} // namespace temra::study
