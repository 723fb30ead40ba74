// The three workbooks: "NG Solubility" (the grid run), "Difference Results" (the
// best fit without excess air) and "Selected Results" (the best fit with excess
// air). Each is built through the spreadsheet layer in the order of the
// spreadsheet calls it makes, then published as a new file (or, for the
// command-line tool, saved at a given path).
#pragma once

#include "core/module1.h"
#include "export/spreadsheet.h"
#include "export/workbook_file.h"
#include "study/output/study_results.h"

#include <filesystem>

namespace temra::xl {

// What a workbook was made from, for its second sheet "Settings": (setting,
// value) pairs, the values as the user typed them.
using Settings = std::vector<std::pair<std::string, std::string>>;

// The version of Temra and the local date and time, which every "Settings"
// sheet begins with.
Settings WrittenBy();
// The input page's boxes of a grid run, and its number of cases.
Settings GridSettings(const SolubilityGrid& grid);

// Builds each workbook in `app` (a new workbook); raises ExportError when the
// table does not fit a sheet. The sheet each one is named after comes first and
// a sheet "Settings" with the inputs of the run it comes from second.
Workbook& WriteSolubilityToExcel(const Module1& module, Application& app);
Workbook& WriteBestFitToExcel(const BestFitNoEa& fit, Application& app);
Workbook& WriteSelectedResults(const BestFitEa& fit, Application& app);

// The study fit's results ("Study Results"), the settings they were made with
// ("Settings": (setting, value) pairs) and the samples as they were fitted
// ("Samples": one row per result, the columns of a table of samples, numbers as
// numbers and any other text as typed, so that the sheet saved as CSV is read
// back alike). The samples' numbers are typed with the decimal separator
// `separator` ('.' read as well).
Workbook& WriteStudyResults(const std::vector<study::StudyResult>& results,
                            const study::StudyOptions& options, const Settings& settings,
                            const std::vector<study::Sample>& samples, char separator,
                            Application& app);

inline constexpr const char* kSolubilitySheet = "NG Solubility";
inline constexpr const char* kStudySheet = "Study Results";
inline constexpr const char* kSamplesSheet = "Samples";
inline constexpr const char* kMonteCarloSheet = "Monte Carlo";
inline constexpr const char* kSettingsSheet = "Settings";
inline constexpr const char* kDifferenceSheet = "Difference Results";
inline constexpr const char* kSelectedSheet = "Selected Results";

} // namespace temra::xl
