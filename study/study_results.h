// A study's results as rows of cells (the CSV, the workbook and the window draw
// from them) and the settings a study ran with.
#pragma once

#include "study/study_fit.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace temra::study {

// One cell of a result row: a number (single precision for elevations), a text,
// or nothing.
struct ResultCell {
    enum class Kind { Empty, Double, Single, Text } kind = Kind::Empty;
    double number = 0;
    std::string text;
};

// The columns of a study's results, in order: the name (the CSV header and the
// workbook's first row) and how a result fills the column. An error row fills
// the sample and the flags only.
struct ResultColumn {
    const char* name;
    ResultCell (*cell)(const StudyResult& result, const StudyOptions& options);
};
extern const std::array<ResultColumn, 21> kResultColumns;

// A result as its row of cells; an error row keeps the sample's name and has
// "error: <what and where>" as flags.
std::vector<ResultCell> ResultRow(const StudyResult& result, const StudyOptions& options);

// What a study ran with, as (setting, value) pairs: the model and its bounds, the
// gases, the relative error, the unit of the concentrations, and every box of the
// grid.
std::vector<std::pair<std::string, std::string>> StudySettings(const StudyOptions& options);

// A line of the Settings for each column of total gas the samples hold as its
// isotope: ("Column \"Ne\"", "total neon, read as Ne-20: ...").
std::vector<std::pair<std::string, std::string>>
ColumnSettings(const std::vector<ColumnNote>& notes);

// The settings that differ between two studies, each as "name (before, now
// after)"; none when a fit with `before` is a fit with `after`.
std::vector<std::string> ChangedSettings(const StudyOptions& before, const StudyOptions& after);

} // namespace temra::study
