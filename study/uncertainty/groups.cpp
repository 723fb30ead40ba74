#include "study/uncertainty/groups.h"

#include "study/uncertainty/ensemble.h"

namespace temra::study {

namespace {

// Why a sample's grid is not its group's: its known elevation, or none.
std::string OtherGrid(const std::vector<Sample>& samples, std::size_t i, std::size_t first) {
    const std::string firstRow = "row " + std::to_string(samples[first].row);
    const std::string own = samples[i].elevation.empty()
                                ? "it has no known elevation"
                                : "its known elevation (" + samples[i].elevation + " m)";
    const std::string theirs = samples[first].elevation.empty()
                                   ? "the grid's elevations"
                                   : "the elevation " + samples[first].elevation + " m";
    return own + " gives it another grid than the group's first member (" + firstRow + ", " +
           theirs + "), so it cannot share the group's elevation";
}

} // namespace

std::vector<StudyGroup> IndexGroups(const std::vector<Sample>& samples,
                                    std::vector<std::size_t>& groupOf) {
    std::vector<StudyGroup> groups;
    std::map<std::string, std::size_t> index;
    groupOf.assign(samples.size(), 0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::string key = GroupKey(samples[i].group);
        if (key.empty()) continue;
        if (!index.count(key)) {
            index.emplace(key, groups.size());
            groups.push_back({key, {}, {}, nullptr, {}, false, false});
        }
        groupOf[i] = index.at(key);
        groups[groupOf[i]].all.push_back(i);
    }
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (GroupKey(samples[i].group).empty()) groupOf[i] = groups.size();
    return groups;
}

double PlanGroup(StudyGroup& g, const std::vector<Sample>& samples,
                 const std::vector<Values>& values, const StudyGrids& grids,
                 const std::vector<bool>& usable, std::vector<bool>& joint) {
    for (std::size_t i : g.all) {
        const Layout* l = LayoutOf(grids, values[i]);
        if (!usable[i] || !l) continue;
        if (!g.layout) g.layout = l;
        if (l == g.layout)
            g.members.push_back(i);
        else
            g.apart[i] = OtherGrid(samples, i, g.members.front());
    }
    if (g.members.size() < 2) return 0;
    g.local = true;
    const Values& first = values[g.members.front()];
    for (std::size_t i : g.members) {
        joint[i] = true;
        g.local =
            g.local && values[i].density == first.density && values[i].chloride == first.chloride;
    }
    return static_cast<double>(g.members.size() + 2) * static_cast<double>(g.layout->plan.Cases()) *
           sizeof(double);
}

void MarkGroup(const StudyGroup& g, const std::vector<Sample>& samples,
               const std::function<StudyResult&(std::size_t)>& rowOf) {
    std::vector<std::size_t> own;
    bool together = false;
    for (std::size_t i : g.all) {
        StudyResult& r = rowOf(i);
        r.groupName = g.name;
        const std::string row = "row " + std::to_string(samples[i].row) + ": ";
        if (g.apart.count(i)) r.leftOut = row + g.apart.at(i);
        if (!r.error.empty()) r.leftOut = row + "its fit is refused";
        together = together || r.group.has_value();
        if (r.error.empty() && r.leftOut.empty() && !r.group) own.push_back(i);
    }
    if (together || own.size() != 1) return;
    StudyResult& r = rowOf(own.front());
    r.group = GroupFit{g.name, 1, r.chi2, r.dof, r.p};
}

} // namespace temra::study
