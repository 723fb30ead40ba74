// The run of a study, FitStudy's work: the samples read, grouped by their
// water, their grids planned, then fitted water by water, and the groups of an
// ensemble fit fitted together.
#pragma once

#include "core/run_control.h"
#include "core/run_settings.h"
#include "study/input/samples.h"
#include "study/study_fit.h"
#include "study/study_options.h"

#include <map>
#include <string>
#include <vector>

namespace temra::study {

// A group's misfit at every grid case, and each member's (empty: not fitted).
struct KeptGroup {
    std::vector<double> joint;
    std::vector<std::vector<double>> members;
};

// Fits the samples as FitStudy does (the options checked by the caller); with
// `kept`, the groups' misfits at every case are kept there by the group's key.
std::vector<StudyResult> RunStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const RunSettings& settings, RunControl& control,
                                  std::map<std::string, KeptGroup>* kept = nullptr);

} // namespace temra::study
