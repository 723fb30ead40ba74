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

// What a study took, for the status line and the notes: "fitted 5 samples in
// 0.25 s", "fitted 5 samples × 300 draws in 1.6 s" (two significant digits, at
// least the whole seconds, with the decimal separator given; "under 0.001 s"
// below a millisecond). `samples` counts those fitted, not those refused.
std::string TimeNote(std::size_t samples, int draws, double seconds, char separator);

} // namespace temra::study
