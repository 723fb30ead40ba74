// The notes a study's results need once for the whole table.
#pragma once

#include "core/fields.h"
#include "study/study_fit.h"

#include <functional>
#include <string>
#include <vector>

namespace temra::study {

// What a study's results cannot say by themselves, once for the whole table: the
// samples best at an end of the grid (naming the box or option to widen, as
// `name` gives it), those without a degree of freedom, and the gases left out.
std::vector<std::string> StudyNotes(const std::vector<StudyResult>& results,
                                    const StudyOptions& options, char separator,
                                    const std::function<std::string(FieldId)>& name);

} // namespace temra::study
