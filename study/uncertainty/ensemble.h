// The ensemble fit: the samples of a group (the table's column "group") share
// their recharge temperature and elevation, each with its own excess air.
//
// The group's misfit is the sum of its members': at each grid case
//   chi2_group(k) = sum_m chi2_m(k),
// each member at its own best excess air there. The best case of the sum is
// refined on the sum of the members' continuous models (study/fit/profile_search.h), and T
// and E get their ranges from Δchi2_group = 1, as a single sample's do. Each
// member's excess air (and the model's second parameter) is its best at the
// group's T and E, with the range where its own chi2 rises by 1 with T and E held
// there. The group has sum_m n_m - k_shared - sum_m k_m degrees of freedom (n_m
// the member's gases, k_shared the free shared parameters, k_m the model's
// parameters of each member) and p from them; a group whose p is below 0.01 is
// flagged "group-misfit": its members may not share one recharge.
//
// The members of a group share one grid: the grid's own, or a known elevation's.
// A member whose known elevation gives it another grid than its group's first
// member is fitted apart and named (its elevation is not the group's); so is a
// member whose own fit is refused (an error row). A group left with one member is
// that member's own fit.
#pragma once

#include "core/run_control.h"
#include "study/fit/fit_sample.h"
#include "study/fit/misfit_surface.h"
#include "study/fit/study_grids.h"
#include "study/results.h"

#include <string>
#include <vector>

namespace temra::study {

// The parameters a group's members share, as temra-cli's --ensemble names them
// ("T,E", any case, separated by commas, semicolons or blanks). T and E are
// shared together: one recharge is one place and one temperature. Throws
// StudyError (StudySetting::Ensemble) for a name that is no parameter of the
// model, a parameter of the model (each member keeps its own), or one of T and E
// alone.
SharedParams ParseShared(const std::string& text, const StudyOptions& options);

// The parameters an ensemble fit shares, as the Settings name them ("T, E").
std::string SharedText(const SharedParams& shared);

// A group's name as the table gives it, trimmed of blanks; empty: no group.
std::string GroupKey(const std::string& text);

// A grid the members of groups share, kept while its tables are gone: its domain,
// each case's temperature, and its layout (elevations and air pressures).
struct GroupGrid {
    const Layout* layout = nullptr;
    Domain domain;
    std::vector<double> T; // per case
};
GroupGrid GroupGridOf(const SampleGrid& grid);

// A member of a group as the joint fit takes it: its sample, values and search
// (whose cases hold every case's chi2).
struct Member {
    const Sample* sample = nullptr;
    const Values* values = nullptr;
    SampleSearch search;
};

// The joint fit of two or more members over their grid: each member's row, in
// their order (an error row for each when the group's misfit leaves the number
// range). `joint`, when given, receives the group's chi2 at every case. Counts
// the second half of SampleWork (the refinement) of each member into `control`.
std::vector<StudyResult> FitGroup(const std::string& name, const std::vector<Member>& members,
                                  const GroupGrid& grid, const StudyOptions& options,
                                  RunControl* control, std::vector<double>* joint = nullptr);

} // namespace temra::study
