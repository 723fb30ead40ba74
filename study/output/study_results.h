// A study's results as rows of cells (the CSV, the workbook and the window draw
// from them) and the settings a study ran with.
#pragma once

#include "study/input/samples.h"
#include "study/results.h"

#include <array>
#include <functional>
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

// How the samples window shows a result column.
enum class Shown { Not, Temperature, Elevation, Number, Text, Flags };

// A column of a study's results: the name (the CSV header and the workbook's
// first row), the samples window's header, place and manner, the unit, the
// workbook column's width, and how a result fills the column. An error row fills
// the sample and the flags only.
struct ResultColumn {
    std::string name;
    std::string header; // empty when the window does not show it
    int place = 0;      // the window's order, lowest first
    Shown shown = Shown::Not;
    std::string unit;
    double width = 18; // characters: the name, or a number of seventeen digits
    bool hideWhenEmpty =
        false; // filled for some results only: the window hides it when none fills it
    std::function<ResultCell(const StudyResult& result, const StudyOptions& options)> cell;
    // What the column holds, in words, where its name does not say it (the
    // window's header tooltip); empty: the name and unit say it.
    std::string meaning = {};
};

// Every result column in the CSV's order: the sample and its fit, the elevation
// and temperature, the parameters of the table's models (one set of columns for
// each parameter column the models name, in the table's order), what the gases
// say beyond the fit, the flags; with `options` of an ensemble fit, the group's
// columns after them, then those of the lapse-rate prior and of a Monte Carlo
// run (mcDraws > 0).
std::vector<ResultColumn> ResultColumns(const StudyOptions* options = nullptr);

// A result as its row of cells; an error row keeps the sample's name and has
// "error: <what and where>" as flags.
std::vector<ResultCell> ResultRow(const StudyResult& result, const StudyOptions& options);

// What a study ran with, as (setting, value) pairs: the model and its bounds, the
// gases, the relative error, the unit of the concentrations, and every box of the
// grid.
// In the samples window's words, a bound is named by its box ("Largest R of PR"),
// on the command line by its option as well ("Largest R (--pr-r-max)").
enum class Words { kCommandLine, kWindow };
std::vector<std::pair<std::string, std::string>> StudySettings(const StudyOptions& options,
                                                               Words words = Words::kCommandLine);

// A line of the Settings for each column of total gas the samples hold as its
// isotope: ("Column \"Ne\"", "total neon, read as Ne-20: ...").
std::vector<std::pair<std::string, std::string>>
ColumnSettings(const std::vector<ColumnNote>& notes);

// A study's options as one line a program reads back, for a workbook's Settings
// ("Settings to fit again"): "key=value" pairs separated by "; " (the model, the
// gases, the relative error, the data set, the unit, the prior, the draws and
// their seed, the parameters shared in a group, every bound and exponent of the
// table of models, and every box of the grid by its control), a value's '%', ';'
// and '=' written as %25, %3B and %3D. OptionsOfLine reads it back into options
// that fit as these do; it throws StudyError when the line is not one.
inline constexpr const char* kRefitSetting = "Settings to fit again";
std::string OptionsLine(const StudyOptions& options);
StudyOptions OptionsOfLine(const std::string& line);

// The settings that differ between two studies, each as "name (before, now
// after)"; none when a fit with `before` is a fit with `after`.
std::vector<std::string> ChangedSettings(const StudyOptions& before, const StudyOptions& after,
                                         Words words = Words::kCommandLine);

} // namespace temra::study
