// The groups of an ensemble fit within a study's run: which samples the table
// groups (its column "group"), which members share their first member's grid and
// are fitted together, and what each row then says of its group. The run fits
// the groups (study/study_run.cpp) with the ensemble's fit (ensemble.h).
#pragma once

#include "study/fit/study_grids.h"
#include "study/input/sample_values.h"
#include "study/input/samples.h"
#include "study/results.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace temra::study {

// A group the table names.
struct StudyGroup {
    std::string name;
    std::vector<std::size_t> all;     // every sample that names it, in order
    std::vector<std::size_t> members; // those on the group's grid
    const Layout* layout = nullptr;
    std::map<std::size_t, std::string> apart; // the members fitted apart, and why
    bool local = false;                       // every member of one water: fitted with its water
    bool done = false;
};

// The groups in the order the table first names them, with their samples;
// `groupOf` gets each sample's group (groups.size() for a sample of none).
std::vector<StudyGroup> IndexGroups(const std::vector<Sample>& samples,
                                    std::vector<std::size_t>& groupOf);

// A group's members on its first member's grid (a sample that is not `usable`,
// refused as it stands or without a grid, is an error row of its own), whether
// they are fitted together (then marked in `joint`) and of one water; returns
// the bytes of their misfits.
double PlanGroup(StudyGroup& g, const std::vector<Sample>& samples,
                 const std::vector<Values>& values, const StudyGrids& grids,
                 const std::vector<bool>& usable, std::vector<bool>& joint);

// Each row of a group names it; a refused member says it was left out; a group
// with one member fitted gives that member's own fit as the group's. `rowOf(i)`
// is sample i's result.
void MarkGroup(const StudyGroup& g, const std::vector<Sample>& samples,
               const std::function<StudyResult&(std::size_t)>& rowOf);

} // namespace temra::study
