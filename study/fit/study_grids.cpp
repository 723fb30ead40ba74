#include "study/fit/study_grids.h"

#include "core/fields.h"
#include "core/parallel.h"

#include <algorithm>
#include <set>

namespace temra::study {

Form1Texts GridOnly(const Form1Texts& grid) {
    Form1Texts f = grid;
    const Form1Texts defaults;
    for (int g = 0; g < GasCount; ++g) f.Measured(g) = defaults.Measured(g);
    return f;
}

RunSettings GridSettings(const RunSettings& settings, const StudyOptions& options) {
    RunSettings run = settings;
    run.Solubility = options.solubility;
    run.ExtraBytesPerCase = 0;
    run.ExtraCasesLimit = std::numeric_limits<std::uint64_t>::max();
    return run;
}

Layout MakeLayout(GridPlan plan) {
    Layout l;
    l.P.reserve(plan.elevations.size());
    for (const GridElevation& e : plan.elevations)
        l.P.push_back(AirPressureAt(e.H, fields::Ref(FieldId::ElevMax)));
    l.plan = std::move(plan);
    return l;
}

Window WindowOf(const GridElevation& e) {
    return {e.window.TempMin, e.window.TempMax};
}

void FillCases(SampleGrid& g, const std::array<bool, GasCount>& gases) {
    const GridPlan& plan = g.layout->plan;
    const auto N = static_cast<std::size_t>(plan.Cases());
    for (std::size_t gas = 0; gas < GasCount; ++gas) {
        if (!gases[gas]) continue;
        std::vector<double>& C = g.cases[gas];
        C.resize(N);
        for (std::size_t e = 0; e < plan.elevations.size(); ++e) {
            const TempTable& tab = *g.tables[e];
            const double P = g.layout->P[e];
            double* out = C.data() + plan.elevations[e].first;
            for (std::size_t t = 0; t < tab.T.size(); ++t)
                out[t] = EquilConcOf(tab.SX[gas][t], P, tab.VP[t]);
        }
    }
}

const Layout* LayoutOf(const StudyGrids& grids, const Values& v) {
    if (!v.elevation) return grids.free ? &*grids.free : nullptr;
    const auto it = grids.known.find(*v.elevation);
    return it == grids.known.end() ? nullptr : &it->second;
}

StudyGrids PlanGrids(const std::vector<Values>& values, const std::vector<bool>& readable,
                     const GridInputs& inputs, const Form1Texts& texts, const RunSettings& run,
                     GridPlan freePlan, RunControl& control) {
    StudyGrids grids;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (readable[i] && !values[i].elevation) {
            grids.free = MakeLayout(std::move(freePlan));
            break;
        }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!readable[i] || !values[i].elevation) continue;
        const double H = *values[i].elevation;
        if (grids.known.count(H) || grids.refused.count(H)) continue;
        try {
            grids.known.emplace(H, MakeLayout(PlanGrid(inputs, texts, run, control, H)));
        } catch (const TemraError& e) {
            grids.refused.emplace(H, std::string(e.description()) + ": " + e.detail());
        }
    }
    return grids;
}

std::map<Window, std::uint64_t> WindowsOf(const WaterSamples& m, const std::vector<Values>& values,
                                          const StudyGrids& grids) {
    // Each layout once (the draws of a Monte Carlo run share one): the last
    // elevation of a window, in the members' order, gives its count.
    std::map<Window, std::uint64_t> windows;
    std::set<const Layout*> seen;
    for (auto i = m.members.rbegin(); i != m.members.rend(); ++i)
        if (const Layout* l = LayoutOf(grids, values[*i]); l && seen.insert(l).second)
            for (auto e = l->plan.elevations.rbegin(); e != l->plan.elevations.rend(); ++e)
                windows.emplace(WindowOf(*e), e->count);
    return windows;
}

SampleGrid GridOf(const Layout& layout, const std::map<Window, TempTable>& tables) {
    SampleGrid g;
    g.layout = &layout;
    g.tables.reserve(layout.plan.elevations.size());
    for (const GridElevation& e : layout.plan.elevations)
        g.tables.push_back(&tables.at(WindowOf(e)));
    return g;
}

void BuildTables(WaterSamples& m, const std::map<Window, std::uint64_t>& windows,
                 const Water& water, double step, const StudyOptions& o, RunControl& control) {
    std::vector<Window> list;
    list.reserve(windows.size());
    for (const auto& w : windows) list.push_back(w.first);
    std::vector<TempTable> made(list.size());
    const unsigned parts = PartCount(static_cast<std::int64_t>(list.size()), 8);
    RunParts(parts, [&](unsigned part) {
        for (std::size_t w = list.size() * part / parts, end = list.size() * (part + 1) / parts;
             w < end; ++w) {
            control.CheckCancelled();
            made[w] = TabulateFactors(list[w].first, list[w].second, step, water.density,
                                      water.chloride, o.gases, o.solubility, control);
            control.Advance(made[w].T.size());
        }
    });
    for (std::size_t w = 0; w < list.size(); ++w) m.tables.emplace(list[w], std::move(made[w]));
}

std::size_t ElevationOfCase(const GridPlan& plan, std::uint64_t k) {
    const auto& els = plan.elevations;
    const auto el =
        std::upper_bound(els.begin(), els.end(), k,
                         [](std::uint64_t v, const GridElevation& e) { return v < e.first; }) -
        1;
    return static_cast<std::size_t>(el - els.begin());
}

} // namespace temra::study
