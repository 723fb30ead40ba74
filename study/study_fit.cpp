#include "study/study_fit.h"

#include "core/numtext.h"
#include "core/parallel.h"
#include "study/continuum.h"
#include "study/fit_sample.h"
#include "study/models.h"
#include "study/study_grids.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace temra::study {

namespace {

// The options a study cannot run with at all, each named by its setting; an
// option is checked only where the model uses it.
void CheckOptions(const StudyOptions& options) {
    if (std::none_of(options.gases.begin(), options.gases.end(), [](bool b) { return b; }))
        throw StudyError("no gas is fitted; choose at least one", StudySetting::Gases);
    if (!(options.relErr > 0) || !std::isfinite(options.relErr))
        throw StudyError("the relative error (" + ApproxText(options.relErr) +
                             ") must be greater than 0",
                         StudySetting::RelErr);
    if (InfoOf(options.model).usesAMax && (!(options.ceAMax > 0) || !std::isfinite(options.ceAMax)))
        throw StudyError("the largest excess air A (" + ApproxText(options.ceAMax) +
                             " cm³ STP/g H2O) must be greater than 0",
                         StudySetting::CeAMax);
    const ModelInfo& model = InfoOf(options.model);
    for (int k = 0; k < model.paramCount; ++k) {
        const ModelParam& p = model.params[static_cast<std::size_t>(k)];
        if (p.option.empty()) continue;
        const double hi = p.hi(p, options);
        if (!(hi > p.lo) || !std::isfinite(hi))
            throw StudyError("the largest " + std::string(p.symbol) + " of " +
                                 std::string(model.name) + " (" + ApproxText(hi) +
                                 ") must be greater than " + ApproxText(p.lo),
                             StudySetting::Upper, std::string(p.option));
    }
}

// One run of the study: the samples read, grouped by their water, their grids
// planned, then fitted water by water.
class StudyRun {
  public:
    StudyRun(const std::vector<Sample>& samples, const StudyOptions& options,
             const RunSettings& settings, RunControl& control)
        : samples_(samples), options_(options), settings_(settings), control_(control),
          models_(ModelOptions(options)), results_(samples.size() * models_.size()),
          values_(samples.size()), readable_(samples.size(), false) {
        for (std::size_t i = 0; i < samples.size(); ++i)
            for (std::size_t k = 0; k < models_.size(); ++k) {
                At(i, k).sample = samples[i].name;
                At(i, k).model = models_[k].model;
            }
    }

    std::vector<StudyResult> Run() {
        // The grid's own boxes are checked once, before any sample: a fault there
        // is the command's.
        const RunSettings run = GridSettings(settings_);
        const Form1Texts texts = GridOnly(options_.grid);
        const GridInputs inputs = ReadGridInputs(texts, settings_.DecimalSeparator);
        GridPlan freePlan = PlanGrid(inputs, texts, run, control_);
        step_ = freePlan.grid->TempStep;
        ReadAll();
        grids_ = PlanGrids(values_, readable_, inputs, texts, run, std::move(freePlan), control_);
        GroupByWater();
        control_.Begin(CountWork());
        for (auto& [medium, m] : media_) FitWater(medium, m);
        if (options_.allModels) MarkPreferred();
        return std::move(results_);
    }

  private:
    // The options of each model fitted: the study's own, or one per model of the
    // table when every model is fitted.
    static std::vector<StudyOptions> ModelOptions(const StudyOptions& o) {
        if (!o.allModels) return {o};
        std::vector<StudyOptions> all;
        for (const ModelInfo& m : Models()) {
            all.push_back(o);
            all.back().model = m.model;
            all.back().allModels = false;
        }
        return all;
    }

    // The result of sample i with model k: each sample's rows one per model.
    StudyResult& At(std::size_t i, std::size_t k) { return results_[i * models_.size() + k]; }

    void Refuse(std::size_t i, const std::string& error) {
        for (std::size_t k = 0; k < models_.size(); ++k) At(i, k).error = error;
    }

    // Among each sample's models, the one with the highest p of those with a
    // degree of freedom (the first on a tie).
    void MarkPreferred() {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            StudyResult* best = nullptr;
            for (std::size_t k = 0; k < models_.size(); ++k) {
                StudyResult& r = At(i, k);
                if (r.error.empty() && r.dof > 0 && r.p && (!best || *r.p > *best->p)) best = &r;
            }
            if (best) best->preferred = true;
        }
    }
    void ReadAll() {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            try {
                values_[i] = ReadValues(samples_[i], options_, settings_.DecimalSeparator);
                readable_[i] = true;
            } catch (const StudyError& e) {
                Refuse(i, e.what());
            }
        }
    }

    // The samples of one density and chloride share their tables; a sample whose
    // known elevation makes no grid is an error row.
    void GroupByWater() {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            if (!readable_[i]) continue;
            const Values& v = values_[i];
            if (v.elevation && grids_.refused.count(*v.elevation)) {
                Refuse(i, "row " + std::to_string(samples_[i].row) + " (elevation " +
                              samples_[i].elevation + "): " + grids_.refused.at(*v.elevation));
                continue;
            }
            media_[{v.density, v.chloride}].members.push_back(i);
        }
    }

    // The work of every water first: the measure of the study's work, which the
    // progress counts across them.
    std::uint64_t CountWork() {
        std::uint64_t total = 0;
        for (auto& [medium, m] : media_) {
            for (const auto& w : WindowsOf(m, values_, grids_)) m.tableWork += w.second;
            m.work = m.tableWork;
            for (std::size_t i : m.members)
                for (const StudyOptions& o : models_)
                    m.work += SampleWork(
                        static_cast<std::uint64_t>(LayoutOf(grids_, values_[i])->plan.Cases()),
                        o.model);
            total += m.work;
        }
        return total;
    }

    void FitWater(const Medium& medium, MediumWork& m) {
        try {
            BuildTables(m, WindowsOf(m, values_, grids_), medium, step_, options_, control_);
        } catch (const TemraError& e) {
            for (std::size_t i : m.members)
                Refuse(i, "row " + std::to_string(samples_[i].row) + " (density " +
                              ExactText(medium.first) + ", chloride " + ExactText(medium.second) +
                              "): " + e.description() + ": " + e.detail());
            control_.Advance(m.work - m.tableWork);
            return;
        }
        std::map<const Layout*, SampleGrid> sampleGrids;
        std::map<const Layout*, std::size_t> sharing;
        for (std::size_t i : m.members) {
            const Layout* l = LayoutOf(grids_, values_[i]);
            ++sharing[l];
            if (!sampleGrids.count(l)) sampleGrids.emplace(l, GridOf(*l, m.tables));
        }
        // A grid that several samples share gets its cases' concentrations once
        // (within the memory its plan was weighed with: the grid's own arrays).
        const bool closedForm = std::any_of(models_.begin(), models_.end(), [](const auto& o) {
            return InfoOf(o.model).closedForm;
        });
        for (auto& [layout, g] : sampleGrids)
            if (sharing[layout] > 1 && closedForm) FillCases(g, options_.gases);
        const std::vector<std::size_t>& members = m.members;
        const unsigned parts = PartCount(static_cast<std::int64_t>(members.size()), 1);
        RunParts(parts, [&](unsigned part) {
            for (std::size_t k = members.size() * part / parts,
                             end = members.size() * (part + 1) / parts;
                 k < end; ++k) {
                const std::size_t i = members[k];
                for (std::size_t j = 0; j < models_.size(); ++j)
                    At(i, j) = FitSample(samples_[i], values_[i],
                                         sampleGrids.at(LayoutOf(grids_, values_[i])), models_[j],
                                         &control_);
            }
        });
        m.tables.clear(); // one water's tables in memory at a time
    }

    const std::vector<Sample>& samples_;
    const StudyOptions& options_;
    const RunSettings& settings_;
    RunControl& control_;
    std::vector<StudyOptions> models_;
    std::vector<StudyResult> results_;
    std::vector<Values> values_;
    std::vector<bool> readable_;
    StudyGrids grids_;
    std::map<Medium, MediumWork> media_;
    double step_ = 0;
};

} // namespace

std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control) {
    if (!options.allModels) CheckOptions(options);
    for (const ModelInfo& m : Models()) {
        if (!options.allModels) break;
        StudyOptions o = options;
        o.model = m.model;
        CheckOptions(o);
    }
    return StudyRun(samples, options, settings, control).Run();
}

namespace {

// The map's fine raster of the continuous model: the region's extent and as much
// again around it, within the grid's bounds, in kRasterSteps steps each way; a
// column counts its points into `control`.
constexpr int kRasterSteps = 160;

void FineRaster(MisfitMap& map, const Fitted& fitted, const Values& v, const Domain& d,
                const StudyOptions& options, bool counted, RunControl& control) {
    const StudyResult& r = map.result;
    const Continuum model(fitted, v.density, v.chloride, d, options);
    const double tPad = std::max(d.tStep, r.temperatureHi - r.temperatureLo) / 2;
    const double ePad = std::max(d.eStep, r.elevationHi - r.elevationLo) / 2;
    const Interval tSpan{std::max(d.T().lo, r.temperatureLo - tPad),
                         std::min(d.T().hi, r.temperatureHi + tPad)};
    const Interval eSpan{std::max(0.0, r.elevationLo - ePad),
                         std::min(d.eMax, r.elevationHi + ePad)};
    for (int i = 0; i <= kRasterSteps; ++i) {
        map.fineT.push_back(tSpan.lo + (tSpan.hi - tSpan.lo) * i / kRasterSteps);
        map.fineE.push_back(eSpan.lo + (eSpan.hi - eSpan.lo) * i / kRasterSteps);
    }
    map.fine.assign(map.fineT.size() * map.fineE.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t ix = 0; ix < map.fineT.size(); ++ix) {
        control.CheckCancelled();
        const double T = map.fineT[ix];
        const Interval allowed = d.E(T);
        for (std::size_t iy = 0; iy < map.fineE.size(); ++iy) {
            const double E = map.fineE[iy];
            if (E >= allowed.lo && E <= allowed.hi)
                map.fine[iy * map.fineT.size() + ix] = model.At(T, E).chi2;
        }
        if (counted) control.Advance(map.fineE.size());
    }
}

} // namespace

MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options,
                      const RunSettings& settings, RunControl& control) {
    MisfitMap map;
    const Values v = ReadValues(sample, options, settings.DecimalSeparator);
    const RunSettings run = GridSettings(settings);
    // The grid of the boxes, with the sample's own density and chloride.
    const Form1Texts texts = GridOnly(options.grid);
    GridInputs inputs = ReadGridInputs(texts, settings.DecimalSeparator);
    inputs.WaterDensity = v.density;
    inputs.Chloride = v.chloride;
    map.plan = PlanGrid(inputs, texts, run, control, v.elevation);
    const Layout layout = MakeLayout(map.plan);
    const auto cases = static_cast<std::uint64_t>(map.plan.Cases());
    std::map<Window, std::uint64_t> windows;
    for (const GridElevation& e : layout.plan.elevations) windows[WindowOf(e)] = e.count;
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
    MediumWork m;
    BuildTables(m, windows, {v.density, v.chloride}, map.plan.grid->TempStep, options, control);
    const SampleGrid grid = GridOf(layout, m.tables);
    map.result = FitSample(sample, v, grid, options, &control, &map.chi2);
    const Domain d = DomainOf(grid);
    if (map.result.error.empty() && d.eFree && d.tFree) {
        FineRaster(map, FittedGases(v, options), v, d, options, raster, control);
    } else {
        control.Advance(rasterWork);
    }
    return map;
}
} // namespace temra::study
