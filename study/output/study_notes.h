// The notes a study's results need once for the whole table.
#pragma once

#include "core/fields.h"
#include "study/results.h"

#include <functional>
#include <string>
#include <vector>

namespace temra::study {

// What a study's results cannot say by themselves, once for the whole table: the
// samples best at an end of the grid (naming the box or option to widen, as
// `name` gives it), those without a degree of freedom, the gases left out, and,
// with an ensemble fit, the members fitted apart from their group, the groups
// with one member fitted and those flagged group-misfit.
std::vector<std::string> StudyNotes(const std::vector<StudyResult>& results,
                                    const StudyOptions& options, char separator,
                                    const std::function<std::string(FieldId)>& name);

} // namespace temra::study
