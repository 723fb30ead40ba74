#include "study/study_run.h"

#include "core/numtext.h"
#include "core/parallel.h"
#include "study/fit/fit_sample.h"
#include "study/fit/misfit_surface.h"
#include "study/fit/study_grids.h"
#include "study/models/models.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/groups.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

namespace temra::study {

namespace {

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

    // With `keep`, the groups' misfits at every case are kept (GroupMisfits).
    void Keep() { keep_ = true; }
    std::map<std::string, KeptGroup>& Kept() { return kept_; }

    std::vector<StudyResult> Run() {
        // The grid's own boxes are checked once, before any sample: a fault there
        // is the command's.
        const RunSettings run = GridSettings(settings_, options_);
        const Form1Texts texts = GridOnly(options_.grid);
        const GridInputs inputs = ReadGridInputs(texts, settings_.DecimalSeparator);
        GridPlan freePlan = PlanGrid(inputs, texts, run, control_);
        step_ = freePlan.grid->TempStep;
        ReadAll();
        grids_ = PlanGrids(values_, readable_, inputs, texts, run, std::move(freePlan), control_);
        GroupByWater();
        PlanGroups();
        control_.Begin(CountWork());
        for (auto& [water, m] : waters_) FitWater(water, m);
        FitGroups();
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
            waters_[{v.density, v.chloride}].members.push_back(i);
        }
    }

    // The work of every water first: the measure of the study's work, which the
    // progress counts across them.
    std::uint64_t CountWork() {
        std::uint64_t total = 0;
        for (auto& [water, m] : waters_) {
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

    void FitWater(const Water& water, WaterSamples& m) {
        try {
            BuildTables(m, WindowsOf(m, values_, grids_), water, step_, options_, control_);
        } catch (const TemraError& e) {
            for (std::size_t i : m.members)
                Refuse(i, "row " + std::to_string(samples_[i].row) + " (density " +
                              ExactText(water.density) + ", chloride " + ExactText(water.chloride) +
                              "): " + e.description() + ": " + e.detail());
            control_.Advance(m.work - m.tableWork);
            for (std::size_t i : m.members)
                if (joint_[i] && groups_[groupOf_[i]].local) groups_[groupOf_[i]].done = true;
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
        // The grids of the groups' members are kept without their tables.
        for (std::size_t i : m.members) {
            const Layout* l = LayoutOf(grids_, values_[i]);
            if (joint_[i] && !groupGrids_.count(l))
                groupGrids_.emplace(l, GroupGridOf(sampleGrids.at(l)));
        }
        const std::vector<std::vector<std::size_t>> units = UnitsOf(m);
        std::mutex keeping;
        RunItems(units.size(), PartCount(static_cast<std::int64_t>(units.size()), 1),
                 [&](std::size_t k) { FitUnit(units[k], sampleGrids, keeping); });
        m.tables.clear(); // one water's tables in memory at a time
    }

    // The parts of a water's work: a sample, or a group whose members are all of
    // this water, searched and fitted together at once (its misfits kept no
    // longer): its first member and the group.
    std::vector<std::vector<std::size_t>> UnitsOf(const WaterSamples& m) const {
        std::vector<std::vector<std::size_t>> units;
        std::vector<bool> met(groups_.size(), false);
        for (std::size_t i : m.members) {
            const std::size_t g = groupOf_.empty() ? groups_.size() : groupOf_[i];
            if (!joint_[i] || !groups_[g].local) {
                units.push_back({i});
            } else if (!met[g]) {
                met[g] = true;
                units.push_back({i, g});
            }
        }
        return units;
    }

    void FitUnit(const std::vector<std::size_t>& unit,
                 const std::map<const Layout*, SampleGrid>& sampleGrids, std::mutex& keeping) {
        auto gridOf = [&](std::size_t i) -> const SampleGrid& {
            return sampleGrids.at(LayoutOf(grids_, values_[i]));
        };
        if (unit.size() == 1) {
            FitMember(unit.front(), gridOf(unit.front()));
            return;
        }
        StudyGroup& g = groups_[unit[1]];
        for (std::size_t i : g.members)
            if (joint_[i] && At(i, 0).error.empty()) FitMember(i, gridOf(i));
        const std::size_t alone = FitGroup(g, keeping);
        g.done = true;
        if (alone == samples_.size()) return;
        // The one member left: its own fit on this water's tables (its search
        // counted already).
        RunControl apart(control_, RunControl::kCountedApart);
        At(alone, 0) = FitSample(samples_[alone], values_[alone], gridOf(alone), options_, &apart);
        searches_[alone] = {};
    }

    // A sample's fit with each model, or, for a member of a group fitted
    // together, its search (the group's fit follows).
    void FitMember(std::size_t i, const SampleGrid& grid) {
        if (!joint_[i]) {
            for (std::size_t j = 0; j < models_.size(); ++j)
                At(i, j) = FitSample(samples_[i], values_[i], grid, models_[j], &control_);
            return;
        }
        SampleSearch search = SearchSample(samples_[i], values_[i], grid, options_, &control_);
        // The group's fit needs every case's chi2 only.
        search.cases.A = {};
        search.cases.second = {};
        At(i, 0) = search.result;
        searches_[i] = std::move(search);
    }

    // ---- The ensemble fit: the groups of samples that share their recharge ----

    // The groups the table names, each with the members on its first member's grid
    // (a member elsewhere is fitted apart and named); a group of two or more is
    // fitted together.
    void PlanGroups() {
        joint_.assign(samples_.size(), false);
        if (!options_.shared.Any()) return;
        searches_.resize(samples_.size());
        groups_ = IndexGroups(samples_, groupOf_);
        std::vector<bool> fitted(samples_.size());
        for (std::size_t i = 0; i < samples_.size(); ++i) fitted[i] = At(i, 0).error.empty();
        double bytes = 0, local = 0;
        for (StudyGroup& g : groups_) {
            const double group = PlanGroup(g, samples_, values_, grids_, fitted, joint_);
            // A group of one water is fitted with it, a few at a time; the others'
            // misfits are kept until every water is fitted.
            if (g.local)
                local = std::max(local, group);
            else
                bytes += group;
        }
        bytes += local * PartCount(static_cast<std::int64_t>(groups_.size()), 1);
        if (bytes > static_cast<double>(settings_.MemoryAvailable()))
            throw StudyError("the groups' misfits at every grid case would take " +
                                 ApproxText(bytes / 1e6) +
                                 " MB, more than this process may use; use larger steps of the "
                                 "grid or leave out the ensemble fit",
                             StudySetting::Ensemble);
    }

    // Each group fitted together, the groups in parallel; a group left with one
    // member (the others refused) is that member's own fit.
    void FitGroups() {
        if (groups_.empty()) return;
        std::vector<std::size_t> alone(groups_.size(), samples_.size());
        std::mutex keeping;
        RunItems(groups_.size(), PartCount(static_cast<std::int64_t>(groups_.size()), 1),
                 [&](std::size_t g) {
                     if (!groups_[g].done) alone[g] = FitGroup(groups_[g], keeping);
                 });
        for (std::size_t i : alone)
            if (i < samples_.size()) FitAlone(i);
        for (const StudyGroup& g : groups_)
            MarkGroup(g, samples_, [this](std::size_t i) -> StudyResult& { return At(i, 0); });
    }

    // The group's members fitted together; the member left alone, if any.
    std::size_t FitGroup(const StudyGroup& g, std::mutex& keeping) {
        if (!g.layout) return samples_.size(); // no member could be read
        std::vector<Member> members;
        std::vector<std::size_t> rows;
        std::size_t searched = 0; // the members whose search ran, counting their refinement
        for (std::size_t i : g.members) {
            searched += searches_[i].cases.ran;
            if (!joint_[i] || !At(i, 0).error.empty()) continue;
            members.push_back({&samples_[i], &values_[i], std::move(searches_[i])});
            rows.push_back(i);
        }
        const std::uint64_t refine =
            SampleWork(static_cast<std::uint64_t>(g.layout->plan.Cases()), options_.model) / 2;
        // The refinement of the members refused after the grid's search, and of
        // one left alone (its own fit is counted apart); the group's fit counts
        // its members'.
        control_.Advance(refine * (searched - (members.size() < 2 ? 0 : members.size())));
        if (members.size() < 2) return rows.empty() ? samples_.size() : rows.front();
        KeptGroup kept;
        if (keep_)
            for (const Member& m : members) kept.members.push_back(m.search.cases.chi2);
        const std::vector<StudyResult> fitted =
            study::FitGroup(g.name, members, groupGrids_.at(g.layout), options_, &control_,
                            keep_ ? &kept.joint : nullptr);
        for (std::size_t k = 0; k < rows.size(); ++k) At(rows[k], 0) = fitted[k];
        if (keep_) {
            const std::lock_guard<std::mutex> lock(keeping);
            kept_[g.name] = std::move(kept);
        }
        return samples_.size();
    }

    // A member whose group has no other member fitted: its own fit, on tables
    // made again for it.
    void FitAlone(std::size_t i) {
        const Values& v = values_[i];
        WaterSamples m;
        m.members = {i};
        RunControl apart(control_, RunControl::kCountedApart);
        BuildTables(m, WindowsOf(m, values_, grids_), {v.density, v.chloride}, step_, options_,
                    apart);
        const SampleGrid grid = GridOf(*LayoutOf(grids_, v), m.tables);
        At(i, 0) = FitSample(samples_[i], v, grid, options_, &apart);
        searches_[i] = {};
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
    std::map<Water, WaterSamples> waters_;
    double step_ = 0;
    // The ensemble fit.
    std::vector<StudyGroup> groups_;
    std::vector<bool> joint_;          // by sample: fitted together with its group
    std::vector<std::size_t> groupOf_; // by sample: its group (groups_.size(): none)
    std::vector<SampleSearch> searches_;
    std::map<const Layout*, GroupGrid> groupGrids_;
    bool keep_ = false;
    std::map<std::string, KeptGroup> kept_;
};

} // namespace

std::vector<StudyResult> RunStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control,
                                  std::map<std::string, KeptGroup>* kept) {
    StudyRun run(samples, options, settings, control);
    if (kept) run.Keep();
    std::vector<StudyResult> results = run.Run();
    if (kept) *kept = std::move(run.Kept());
    return results;
}

} // namespace temra::study
