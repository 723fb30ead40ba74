#include "study/uncertainty/ensemble.h"

#include "study/fit/propagation.h"

#include "study/fit/profile_search.h"
#include "study/models/models.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace temra::study {

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The names a list of parameters gives: split at commas, semicolons and blanks.
// The names of a comma-separated list, each without the blanks about it; an empty
// text gives none, and an empty name between commas is kept as empty.
std::vector<std::string> Names(const std::string& text) {
    std::vector<std::string> names;
    if (text.find_first_not_of(" \t") == std::string::npos) return names;
    std::string name;
    auto trimmed = [](const std::string& n) {
        const auto first = n.find_first_not_of(" \t");
        if (first == std::string::npos) return std::string();
        return n.substr(first, n.find_last_not_of(" \t") - first + 1);
    };
    for (const char c : text + ",") {
        if (c == ',') {
            names.push_back(trimmed(name));
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

// The model's parameters as a list: "T, E, A, F".
std::string ParameterList(const ModelInfo& model) {
    std::string list = "T, E";
    for (int k = 0; k < model.paramCount; ++k)
        list += ", " + std::string(model.params[static_cast<std::size_t>(k)].symbol);
    return list;
}

const std::string kCanShare = "the members of a group share T,E (their recharge temperature and "
                              "elevation), each with its own excess air";

StudyError Refusal(const std::string& what) {
    return StudyError(what, StudySetting::Ensemble);
}

} // namespace

SharedParams ParseShared(const std::string& text, const StudyOptions& options) {
    if (options.allModels)
        throw Refusal("a group is fitted with one model; choose it (not every model at once)");
    const std::vector<std::string> names = Names(text);
    if (names.empty()) throw Refusal("name the parameters the members of a group share: T,E");
    const ModelInfo& model = InfoOf(options.model);
    SharedParams shared;
    for (const std::string& name : names) {
        const std::string key = Upper(name);
        if (key.empty()) throw Refusal("a name of the list is empty; " + kCanShare);
        if ((key == "T" && shared.T) || (key == "E" && shared.E))
            throw Refusal(std::string(key).append(" is named twice; ").append(kCanShare));
        if (key == "T") {
            shared.T = true;
            continue;
        }
        if (key == "E") {
            shared.E = true;
            continue;
        }
        const auto own =
            std::find_if(model.params.begin(), model.params.begin() + model.paramCount,
                         [&](const ModelParam& p) { return Upper(std::string(p.symbol)) == key; });
        if (own == model.params.begin() + model.paramCount) {
            std::string what = "\"" + name + "\" is no parameter of " + std::string(model.name);
            what += " (its parameters: " + ParameterList(model) + "); ";
            throw Refusal(what + kCanShare);
        }
        throw Refusal(std::string(own->symbol) + " of " + std::string(model.name) +
                      " is each member's own: " + kCanShare);
    }
    if (!(shared.T && shared.E))
        throw Refusal(std::string(shared.T ? "T" : "E") +
                      " alone cannot be shared: one recharge is one temperature at one "
                      "elevation, so T and E are shared together (T,E)");
    return shared;
}

std::string SharedText(const SharedParams& shared) {
    if (shared.T && shared.E) return "T, E";
    return shared.T ? "T" : shared.E ? "E" : "";
}

std::string GroupKey(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

GroupGrid GroupGridOf(const SampleGrid& grid) {
    GroupGrid g;
    g.layout = grid.layout;
    g.domain = DomainOf(grid);
    g.T.reserve(static_cast<std::size_t>(grid.layout->plan.Cases()));
    for (const TempTable* t : grid.tables) g.T.insert(g.T.end(), t->T.begin(), t->T.end());
    return g;
}

namespace {

// The sum of the members' continuous models, a surface of the valley's search.
class JointSurface {
  public:
    struct Slice {
        double T = 0;
        std::vector<MisfitSurface::Slice> members;
    };
    JointSurface(const std::vector<MisfitSurface>& models, RunControl* control)
        : models_(models), control_(control) {}
    Slice SliceAt(double T) const {
        if (control_) control_->CheckCancelled();
        Slice s{T, {}};
        s.members.reserve(models_.size());
        for (const MisfitSurface& m : models_) s.members.push_back(m.SliceAt(T));
        return s;
    }
    double Chi2(const Slice& s, double E) const {
        double sum = 0;
        for (std::size_t m = 0; m < models_.size(); ++m) sum += models_[m].Chi2(s.members[m], E);
        return sum;
    }
    Point At(double T, double E) const { return {T, E, Chi2(SliceAt(T), E), 0, 0}; }

  private:
    const std::vector<MisfitSurface>& models_;
    RunControl* control_;
};

Point CaseAt(const GroupGrid& g, std::size_t k, double chi2) {
    return {g.T[k], g.layout->plan.elevations[ElevationOfCase(g.layout->plan, k)].H, chi2, 0, 0};
}

// The case nearest a point.
std::size_t NearestCase(const GroupGrid& g, const Point& p) {
    return NearestCaseOf(g.layout->plan, p.T, p.E,
                         [&](std::size_t, std::size_t k) { return g.T[k]; });
}

// The group's misfit at every case, in the members' order; the best case (the
// lowest on a tie), or the number of cases when none is in the number range.
std::size_t SumCases(const std::vector<Member>& members, std::vector<double>& sum) {
    sum.assign(members.front().search.cases.chi2.size(), 0.0);
    for (const Member& m : members) {
        const std::vector<double>& chi2 = m.search.cases.chi2;
        for (std::size_t k = 0; k < sum.size(); ++k) sum[k] += chi2[k];
    }
    std::size_t best = sum.size();
    double least = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < sum.size(); ++k)
        if (sum[k] < least) {
            least = sum[k];
            best = k;
        }
    return best;
}

// The shared best and its ranges on the members' continuous models.
struct SharedFit {
    Point best;
    Ranges ranges;
};

SharedFit FitShared(const JointSurface& surface, const GroupGrid& g, const std::vector<double>& sum,
                    std::size_t bestCase) {
    const ProfileSearch<JointSurface> search(g.domain, surface);
    const Point gridCase = CaseAt(g, bestCase, sum[bestCase]);
    const Point gridBest = surface.At(gridCase.T, gridCase.E);
    const auto least = search.Least(gridBest);
    const Point found = surface.At(least.T, least.E);
    SharedFit fit;
    fit.best = found.chi2 <= gridBest.chi2 ? found : gridBest;
    RegionSeeds seeds;
    for (std::size_t k = 0; k < sum.size(); ++k)
        if (sum[k] <= fit.best.chi2 + 1) seeds.Add(CaseAt(g, k, sum[k]));
    auto seed = [&](std::size_t i) { return seeds.found ? seeds.extreme[i] : fit.best; };
    auto holdingBest = [](Interval range, double value) {
        return Interval{std::min(range.lo, value), std::max(range.hi, value)};
    };
    Ranges& r = fit.ranges;
    using S = RegionSeeds;
    r.T = holdingBest(search.RangeOfT(fit.best, seed(S::kLeastT), seed(S::kMostT), r), fit.best.T);
    r.E = holdingBest(search.RangeOfE(fit.best, seed(S::kLeastE), seed(S::kMostE), r.T, r),
                      fit.best.E);
    return fit;
}

// A member's row: the group's T and E with their ranges, its own excess air at
// them with its range there, its own chi2 there with its gases less the model's
// parameters as degrees of freedom, and the group's fit.
StudyResult MemberRow(const Member& m, const MisfitSurface& model, const SharedFit& shared,
                      const GroupFit& group, const GroupGrid& g, const StudyOptions& o) {
    StudyResult r = m.search.result;
    const ModelInfo& info = InfoOf(o.model);
    const Point at = model.At(shared.best.T, shared.best.E);
    const Ranges own = model.ExcessRangesAt(at);
    r.chi2 = at.chi2;
    r.freeParameters = info.paramCount;
    r.dof = r.n - r.freeParameters;
    if (r.dof > 0) r.p = ChiSquaredP(r.chi2, r.dof);
    r.temperature = at.T;
    r.temperatureLo = shared.ranges.T.lo;
    r.temperatureHi = shared.ranges.T.hi;
    r.elevation = at.E;
    r.elevationLo = shared.ranges.E.lo;
    r.elevationHi = shared.ranges.E.hi;
    r.A = at.A;
    r.ALo = own.A.lo;
    r.AHi = own.A.hi;
    if (info.HasSecond()) r.second = Estimate{at.second, own.second.lo, own.second.hi};
    AddFlags(r, g.domain, at, shared.ranges, m.search.fitted, o);
    if (group.dof <= 0 &&
        std::find(r.flags.begin(), r.flags.end(), flag::kUnderdetermined) == r.flags.end())
        r.flags.emplace_back(flag::kUnderdetermined);
    if (group.p && *group.p < 0.01) r.flags.emplace_back(flag::kGroupMisfit);
    SolubilityFlags(r, *m.values, o);
    // The member's own misfit about the group's best carries the fit's spread.
    Ranges around = shared.ranges;
    around.A = own.A;
    around.second = own.second;
    GasesBeyond(r, *m.values, at, o,
                ModelSpreads(*m.values, m.search.fitted, at, around, g.domain, o));
    r.caseNo = static_cast<CaseNumber>(NearestCase(g, at) + 1);
    ToTableUnit(r, m.search.fitted.aScale);
    r.groupName = group.name;
    r.group = group;
    return r;
}

// Every member's row as an error row.
std::vector<StudyResult> Refused(const std::vector<Member>& members, const std::string& group,
                                 const std::string& why) {
    std::vector<StudyResult> rows;
    for (const Member& m : members) {
        StudyResult r;
        r.sample = m.search.result.sample;
        r.model = m.search.result.model;
        r.groupName = group;
        r.error = "row " + std::to_string(m.sample->row);
        r.error += " (group \"" + group + "\"): ";
        r.error += why;
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace

std::vector<StudyResult> FitGroup(const std::string& name, const std::vector<Member>& members,
                                  const GroupGrid& grid, const StudyOptions& options,
                                  RunControl* control, std::vector<double>* joint) {
    std::vector<double> sum;
    const std::size_t bestCase = SumCases(members, sum);
    const std::uint64_t refineWork = SampleWork(sum.size(), options.model) / 2 * members.size();
    if (joint) *joint = sum;
    const std::string outOfRange = "the group's misfit leaves the number range (check its "
                                   "members' values and errors)";
    if (bestCase == sum.size()) {
        if (control) control->Advance(refineWork);
        return Refused(members, name, outOfRange);
    }
    std::vector<MisfitSurface> models;
    models.reserve(members.size());
    for (const Member& m : members)
        models.emplace_back(m.search.fitted, m.values->density, m.values->chloride, grid.domain,
                            options);
    const JointSurface surface(models, control);
    const SharedFit shared = FitShared(surface, grid, sum, bestCase);
    GroupFit group;
    group.name = name;
    group.members = members.size();
    group.chi2 = shared.best.chi2;
    group.dof = -(grid.domain.tFree ? 1 : 0) - (grid.domain.eFree ? 1 : 0);
    for (const Member& m : members)
        group.dof += m.search.fitted.n - InfoOf(options.model).paramCount;
    if (group.dof > 0) group.p = ChiSquaredP(group.chi2, group.dof);
    std::vector<StudyResult> rows;
    rows.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        rows.push_back(MemberRow(members[i], models[i], shared, group, grid, options));
    if (control) control->Advance(refineWork);
    const bool finite =
        std::isfinite(group.chi2) && std::all_of(rows.begin(), rows.end(), AllFinite);
    return finite ? rows : Refused(members, name, outOfRange);
}

} // namespace temra::study
