#include "study/study_fit.h"

#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_sets.h"
#include "study/fit/fit_sample.h"
#include "study/fit/misfit_surface.h"
#include "study/fit/study_grids.h"
#include "study/models/models.h"
#include "study/study_run.h"
#include "study/uncertainty/ensemble.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace temra::study {

namespace {

void CheckGases(const StudyOptions& o) {
    if (std::none_of(o.gases.begin(), o.gases.end(), [](bool b) { return b; }))
        throw StudyError("no gas is fitted; choose at least one", StudySetting::Gases);
}

void CheckRelErr(const StudyOptions& o) {
    if (!(o.relErr > 0) || !std::isfinite(o.relErr))
        throw StudyError("the relative error (" + ApproxText(o.relErr) + ") must be greater than 0",
                         StudySetting::RelErr);
}

// The models the options fit: the one chosen, or every row of the table.
std::vector<const ModelInfo*> ModelsFitted(const StudyOptions& o) {
    std::vector<const ModelInfo*> fitted;
    for (const ModelInfo& m : Models())
        if (o.allModels || m.model == o.model) fitted.push_back(&m);
    return fitted;
}

// Each fitted model's upper bounds, each within what its option accepts.
void CheckUpper(const StudyOptions& o) {
    for (const ModelInfo* model : ModelsFitted(o))
        for (int k = 0; k < model->paramCount; ++k) {
            const ModelParam& p = model->params[static_cast<std::size_t>(k)];
            if (p.option.empty()) continue;
            const double hi = p.hi(p, o);
            const std::string what = "the largest " + std::string(p.symbol) + " of " +
                                     std::string(model->name) + " (" + ApproxText(hi) + ")";
            if (!(hi > p.lo) || !std::isfinite(hi))
                throw StudyError(what + " must be greater than " + ApproxText(p.lo),
                                 StudySetting::Upper, std::string(p.option));
            if (hi > p.most)
                throw StudyError(what + " must be at most " + ApproxText(p.most) + ": " +
                                     std::string(p.beyondMost),
                                 StudySetting::Upper, std::string(p.option));
        }
}

void CheckConstants(const StudyOptions& o) {
    for (const ModelInfo* model : ModelsFitted(o)) {
        const ModelConstant& c = model->exponent;
        if (c.option.empty()) continue;
        const double v = ConstantOf(c, o);
        if (!(v >= c.lo && v <= c.hi))
            throw StudyError(std::string(c.meaning) + " (" + ApproxText(v) + ") must lie from " +
                                 ApproxText(c.lo) + " to " + ApproxText(c.hi),
                             StudySetting::Constant, std::string(c.option));
    }
}

void CheckDraws(const StudyOptions& o) {
    if (o.mcDraws < 0)
        throw StudyError("the draws (" + std::to_string(o.mcDraws) + ") must be 0 or more",
                         StudySetting::MonteCarlo);
    if (o.mcDraws > 0 && o.allModels)
        throw StudyError("Monte Carlo fits the draws with one model; choose one",
                         StudySetting::MonteCarlo);
    if (o.mcDraws > 0 && o.allSolubility)
        throw StudyError("Monte Carlo fits the draws with one solubility data set; choose one",
                         StudySetting::MonteCarlo);
}

void CheckPrior(const StudyOptions& o) {
    if (!(o.priorSd >= 0) || !std::isfinite(o.priorSd))
        throw StudyError("the spread (" + ApproxText(o.priorSd) + ") must be 0 or more",
                         StudySetting::Prior, "prior-sd");
    if (!std::isfinite(o.priorOffset))
        throw StudyError("the offset (" + ApproxText(o.priorOffset) + ") must be a number",
                         StudySetting::Prior, "prior-offset");
}

// What an ensemble fit cannot be fitted with, every conflict named at once; the
// error names the first one's option.
void CheckEnsemble(const StudyOptions& o) {
    if (!o.shared.Any()) return;
    std::vector<std::pair<std::string, std::string>> conflicts;
    if (o.allModels)
        conflicts.emplace_back("model",
                               "a group is fitted with one model; choose it (not every model at "
                               "once)");
    if (o.allSolubility)
        conflicts.emplace_back("solubility", "a group is fitted with one solubility data set; "
                                             "choose it (not every data set at once)");
    if (o.mcDraws > 0)
        conflicts.emplace_back("mc", "Monte Carlo draws fit each sample alone; leave out the "
                                     "draws or the ensemble fit");
    if (o.prior)
        conflicts.emplace_back("prior-maat", "the lapse-rate prior weighs each sample alone; "
                                             "leave out the prior or the ensemble fit");
    if (conflicts.empty()) return;
    std::string text;
    for (const auto& [option, what] : conflicts) text += (text.empty() ? "" : "; ") + what;
    throw StudyError(text, StudySetting::Ensemble, conflicts.front().first);
}

} // namespace

void CheckSetting(const StudyOptions& options, StudySetting setting) {
    switch (setting) {
    case StudySetting::Gases:
        return CheckGases(options);
    case StudySetting::RelErr:
        return CheckRelErr(options);
    case StudySetting::Upper:
        return CheckUpper(options);
    case StudySetting::Constant:
        return CheckConstants(options);
    case StudySetting::MonteCarlo:
        return CheckDraws(options);
    case StudySetting::Prior:
        return CheckPrior(options);
    case StudySetting::Ensemble:
        return CheckEnsemble(options);
    case StudySetting::Table:
        return;
    }
}

void CheckOptions(const StudyOptions& options) {
    for (const StudySetting s :
         {StudySetting::Gases, StudySetting::RelErr, StudySetting::Upper, StudySetting::Constant,
          StudySetting::Ensemble, StudySetting::MonteCarlo, StudySetting::Prior})
        CheckSetting(options, s);
}

std::size_t FitsPerSample(const StudyOptions& o) {
    return (o.allModels ? Models().size() : 1) * (o.allSolubility ? SolubilitySets().size() : 1);
}

FitKind KindOfFit(const StudyOptions& o, std::size_t k) {
    const std::size_t models = o.allModels ? Models().size() : 1;
    return {o.allModels ? Models()[k % models].model : o.model,
            o.allSolubility ? SolubilitySets()[k / models].set : o.solubility};
}

std::size_t RefusedSamples(const std::vector<StudyResult>& results, const StudyOptions& o) {
    const std::size_t fits = FitsPerSample(o);
    std::size_t refused = 0;
    for (std::size_t i = 0; i + fits <= results.size(); i += fits)
        refused += std::all_of(results.begin() + static_cast<std::ptrdiff_t>(i),
                               results.begin() + static_cast<std::ptrdiff_t>(i + fits),
                               [](const StudyResult& r) { return !r.error.empty(); });
    return refused;
}

namespace {

// Every solubility data set compared: the study once with each, each an equal
// share of the progress; each sample's rows one per set in the table's order,
// each with its shift against builtin's row of the same model.
std::vector<StudyResult> CompareSolubility(const std::vector<Sample>& samples,
                                           const StudyOptions& options, const RunSettings& settings,
                                           RunControl& control) {
    constexpr std::uint64_t kShare = 1000;
    const auto sets = SolubilitySets();
    control.Begin(kShare * sets.size());
    std::vector<std::vector<StudyResult>> bySet;
    std::size_t builtin = 0;
    for (const SolubilitySetInfo& set : sets) {
        StudyOptions o = options;
        o.allSolubility = false;
        o.solubility = set.set;
        if (set.set == SolubilitySet::Builtin) builtin = bySet.size();
        {
            RunControl part(control, kShare);
            bySet.push_back(RunStudy(samples, o, settings, part));
            control.Advance(kShare - std::min(kShare, part.Shared()));
        }
        for (StudyResult& r : bySet.back()) r.solubility = set.set;
    }
    const std::size_t rows = samples.empty() ? 0 : bySet.front().size() / samples.size();
    std::vector<StudyResult> out;
    out.reserve(bySet.front().size() * sets.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (auto& results : bySet)
            for (std::size_t k = 0; k < rows; ++k) {
                StudyResult& r = results[i * rows + k];
                const StudyResult& base = bySet[builtin][i * rows + k];
                if (r.error.empty() && base.error.empty())
                    r.shift = StudyResult::Shift{r.temperature - base.temperature,
                                                 r.elevation - base.elevation, r.A - base.A};
                out.push_back(std::move(r));
            }
    return out;
}

} // namespace

std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control) {
    CheckOptions(options);
    if (options.allSolubility) return CompareSolubility(samples, options, settings, control);
    std::vector<StudyResult> results = RunStudy(samples, options, settings, control);
    for (StudyResult& r : results) r.solubility = options.solubility;
    return results;
}

namespace {

// The map's fine raster of the continuous model: the region's extent and as much
// again around it, within the grid's bounds, in kRasterSteps steps each way; a
// column counts its points into `control`.
constexpr int kRasterSteps = 160;

// The raster around the 1-sigma region of `r` (its ranges of T and E, and
// `pad` times their extent beside them) of chi2At(T, E) into fineT, fineE and
// fine.
template <typename Chi2At>
void FineRaster(const StudyResult& r, const Domain& d, double pad, Chi2At&& chi2At, bool counted,
                RunControl& control, std::vector<double>& fineT, std::vector<double>& fineE,
                std::vector<double>& fine) {
    const double tPad = std::max(d.tStep, r.temperatureHi - r.temperatureLo) * pad;
    const double ePad = std::max(d.eStep, r.elevationHi - r.elevationLo) * pad;
    const Interval tSpan{std::max(d.T().lo, r.temperatureLo - tPad),
                         std::min(d.T().hi, r.temperatureHi + tPad)};
    const Interval eSpan{std::max(0.0, r.elevationLo - ePad),
                         std::min(d.eMax, r.elevationHi + ePad)};
    for (int i = 0; i <= kRasterSteps; ++i) {
        fineT.push_back(tSpan.lo + (tSpan.hi - tSpan.lo) * i / kRasterSteps);
        fineE.push_back(eSpan.lo + (eSpan.hi - eSpan.lo) * i / kRasterSteps);
    }
    fine.assign(fineT.size() * fineE.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t ix = 0; ix < fineT.size(); ++ix) {
        control.CheckCancelled();
        const double T = fineT[ix];
        const Interval allowed = d.E(T);
        for (std::size_t iy = 0; iy < fineE.size(); ++iy) {
            const double E = fineE[iy];
            if (E >= allowed.lo && E <= allowed.hi) fine[iy * fineT.size() + ix] = chi2At(T, E);
        }
        if (counted) control.Advance(fineE.size());
    }
}

// Where the continuous fit may go on a filled grid (as DomainOf gives it from
// the grid's tables).
Domain DomainOfPlan(const GridPlan& plan) {
    const SolubilityGrid& g = *plan.grid;
    Domain d = DomainOfBoxes(plan);
    d.t0 = g.Temp[0];
    for (CaseNumber k = 0; k < g.CaseCount; ++k) d.tFree = d.tFree || g.Temp[k] != d.t0;
    return d;
}

// The group's rasters: the sum of the continuous models of the members fitted
// together, around the group's 1-sigma region (a valley narrower than the
// grid's step shows whole), and each member's own over twice the region's
// extent on each side of it.
void GroupRaster(GroupMap& map, const std::vector<Sample>& members, const StudyOptions& o,
                 const RunSettings& settings, RunControl& control) {
    if (map.chi2.empty() || map.plan.elevations.size() < 2) return;
    const Domain d = DomainOfPlan(map.plan);
    if (!d.tFree) return;
    std::vector<Values> values;
    std::vector<Fitted> fitted;
    const StudyResult* row = nullptr;
    values.reserve(members.size());
    fitted.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        const StudyResult& r = map.results[i];
        if (!r.error.empty() || !r.group || r.group->members < 2) continue;
        row = &r;
        values.push_back(ReadValues(members[i], o, settings.DecimalSeparator));
        fitted.push_back(FittedGases(values.back(), o));
    }
    std::vector<MisfitSurface> models;
    models.reserve(values.size());
    for (std::size_t m = 0; m < values.size(); ++m)
        models.emplace_back(fitted[m], values[m].density, values[m].chloride, d, o);
    const auto sum = [&](double T, double E) {
        double chi2 = 0;
        for (const MisfitSurface& model : models) chi2 += model.At(T, E).chi2;
        return chi2;
    };
    if (!row) return;
    FineRaster(*row, d, 0.5, sum, false, control, map.fineT, map.fineE, map.fine);
    // Each member's own, wider by about the square root of their number.
    for (const MisfitSurface& model : models) {
        map.memberFine.emplace_back();
        map.memberFineT.clear();
        map.memberFineE.clear();
        FineRaster(
            *row, d, 2.0, [&](double T, double E) { return model.At(T, E).chi2; }, false, control,
            map.memberFineT, map.memberFineE, map.memberFine.back());
    }
}

} // namespace

namespace {

// Each case's misfit with the excess air integrated out, for the cases within
// e^-40 of the least (the others weigh nothing in the posterior).
std::vector<double> IntegratedMisfits(const MisfitMap& map, const MisfitSurface& model) {
    constexpr double kNegligible = 80; // in chi2
    const SolubilityGrid& g = *map.plan.grid;
    const double least = *std::min_element(map.chi2.begin(), map.chi2.end());
    std::vector<double> out(map.chi2.size(), std::numeric_limits<double>::infinity());
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (!(map.chi2[k] <= least + kNegligible)) continue;
        out[k] = -2 * LogWeightOf(model.MixtureAt(g.Temp[k], g.Elev[k]));
    }
    return out;
}

// The grid of the boxes with a sample's own density and chloride (at its known
// elevation, when it has one).
GridPlan PlanOfSample(const Values& v, const StudyOptions& options, const RunSettings& settings,
                      RunControl& control) {
    const Form1Texts texts = GridOnly(options.grid);
    GridInputs inputs = ReadGridInputs(texts, settings.DecimalSeparator);
    inputs.WaterDensity = v.density;
    inputs.Chloride = v.chloride;
    return PlanGrid(inputs, texts, GridSettings(settings, options), control, v.elevation);
}

// The temperature windows of a layout's elevations, with the cases of each.
std::map<Window, std::uint64_t> WindowsOfLayout(const Layout& layout) {
    std::map<Window, std::uint64_t> windows;
    for (const GridElevation& e : layout.plan.elevations) windows[WindowOf(e)] = e.count;
    return windows;
}

} // namespace

std::shared_ptr<const DrawReach> ReachOf(const Sample& sample, const StudyOptions& options,
                                         const RunSettings& settings, RunControl& control) {
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    const GridPlan plan = PlanOfSample(v, options, settings, control);
    const Layout layout = MakeLayout(plan);
    const std::map<Window, std::uint64_t> windows = WindowsOfLayout(layout);
    WaterSamples m;
    BuildTables(m, windows, {v.density, v.chloride}, plan.grid->TempStep, options, control);
    // Every case's misfit, the elevations spread over the threads.
    const SampleSearch found =
        SearchSample(sample, v, GridOf(layout, m.tables), options, &control, true,
                     PartCount(static_cast<std::int64_t>(layout.plan.elevations.size()), 4));
    if (!found.cases.found) return nullptr;
    auto reach = std::make_shared<DrawReach>();
    const std::vector<double>& chi2 = found.cases.chi2;
    reach->cases = chi2.size();
    reach->order.reserve(chi2.size());
    const auto& els = layout.plan.elevations;
    for (std::size_t e = 0; e < els.size(); ++e)
        for (std::size_t k = els[e].first; k < els[e].first + els[e].count; ++k)
            reach->order.push_back(
                {std::isfinite(chi2[k]) ? std::sqrt(std::max(0.0, chi2[k])) : std::nan(""), k, e});
    // Those with a misfit, least first (the lower case number on a tie), then the others.
    const auto misfitEnd =
        std::stable_partition(reach->order.begin(), reach->order.end(),
                              [](const DrawReach::Case& c) { return !std::isnan(c.root); });
    std::stable_sort(
        reach->order.begin(), misfitEnd,
        [](const DrawReach::Case& a, const DrawReach::Case& b) { return a.root < b.root; });
    reach->withMisfit = static_cast<std::size_t>(misfitEnd - reach->order.begin());
    for (int j = 0; j < found.fitted.n; ++j)
        reach->measured[found.fitted.gas[static_cast<std::size_t>(j)]] =
            found.fitted.m[static_cast<std::size_t>(j)];
    AddCaseTerms(*reach, found.fitted, GridOf(layout, m.tables), options,
                 settings.MemoryAvailable());
    return reach;
}

MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control) {
    MisfitMap map;
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    const RunSettings run = GridSettings(settings, options);
    map.plan = PlanOfSample(v, options, settings, control);
    const Layout layout = MakeLayout(map.plan);
    const auto cases = static_cast<std::uint64_t>(map.plan.Cases());
    const std::map<Window, std::uint64_t> windows = WindowsOfLayout(layout);
    std::uint64_t tableWork = 0;
    for (const auto& w : windows) tableWork += w.second;
    // The raster counts a unit a point (drawn when the grid has more than one
    // elevation and more than one temperature).
    const bool raster = layout.plan.elevations.size() > 1 && cases > layout.plan.elevations.size();
    const std::uint64_t rasterWork = raster ? (kRasterSteps + 1) * (kRasterSteps + 1) : 0;
    control.Begin(cases + tableWork + SampleWork(cases, options.model) + rasterWork);
    {
        RunControl part(control); // the grid's arrays, for the map's axes
        FillGrid(map.plan, run, part);
    }
    WaterSamples m;
    BuildTables(m, windows, {v.density, v.chloride}, map.plan.grid->TempStep, options, control);
    const SampleGrid grid = GridOf(layout, m.tables);
    map.result = FitSample(sample, v, grid, options, &control, &map.chi2);
    const Domain d = DomainOf(grid);
    const Fitted fitted = FittedGases(v, options);
    const MisfitSurface model(fitted, v.density, v.chloride, d, options);
    if (options.prior && map.result.error.empty() && InfoOf(options.model).fit.integral)
        map.integrated = IntegratedMisfits(map, model);
    if (map.result.error.empty() && d.eFree && d.tFree) {
        FineRaster(
            map.result, d, 0.5, [&](double T, double E) { return model.At(T, E).chi2; }, raster,
            control, map.fineT, map.fineE, map.fine);
    } else {
        control.Advance(rasterWork);
    }
    return map;
}

GroupMap GroupMisfits(const std::vector<Sample>& samples, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control) {
    StudyOptions o = options;
    if (!o.shared.Any()) o.shared = {true, true};
    CheckOptions(o);
    // Every sample a member of the one group.
    std::vector<Sample> members = samples;
    const std::string name = samples.empty() || GroupKey(samples.front().group).empty()
                                 ? "group"
                                 : samples.front().group;
    for (Sample& s : members) s.group = name;
    GroupMap map;
    std::map<std::string, KeptGroup> groups;
    map.results = RunStudy(members, o, settings, control, &groups);
    const auto kept = groups.find(GroupKey(name));
    if (kept != groups.end()) {
        map.chi2 = std::move(kept->second.joint);
        map.members = std::move(kept->second.members);
    }
    // The grid of the first member fitted together, for the map's axes.
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (!map.results[i].group || !map.results[i].error.empty()) continue;
        const Values v = ReadValues(members[i], o, settings.DecimalSeparator);
        RunControl part(control, RunControl::kCountedApart);
        map.plan = PlanOfSample(v, o, settings, part);
        FillGrid(map.plan, GridSettings(settings, o), part);
        break;
    }
    GroupRaster(map, members, o, settings, control);
    return map;
}

} // namespace temra::study
