// The calls of the `temra` Python module in standard C++: the study of a table
// with its arguments read as temra-cli reads its options, the equilibrium
// concentrations of arrays of conditions, and every refusal turned into the
// argument, row and column a Python user must change. The module's bindings
// (python/module.cpp) only move values between Python and these.
#pragma once

#include "core/errors.h"
#include "core/run_control.h"
#include "core/run_settings.h"
#include "study/input/sample_table.h"
#include "study/output/study_results.h"
#include "study/study_options.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace temra::python {

// A refusal as Python raises it (temra.Error): the message, the argument it lies
// in ("grid[\"temp_max\"]", "samples"), and for a table its row (counted as in a
// CSV file: the header is row 1) and its column's name; 0 and empty: none.
class Refused : public std::runtime_error {
  public:
    Refused(std::string argument, const std::string& what, std::size_t row = 0,
            std::string column = {})
        : std::runtime_error(argument + ": " + what), argument_(std::move(argument)), row_(row),
          column_(std::move(column)) {}
    const std::string& argument() const { return argument_; }
    std::size_t row() const { return row_; }
    const std::string& column() const { return column_; }

  private:
    std::string argument_;
    std::size_t row_;
    std::string column_;
};

// The arguments of temra.study, as the Python layer hands them on: numbers
// already numbers, the grid's boxes as texts.
struct StudyCall {
    // The table: its rows as texts (`table`), or the path of a CSV file.
    std::optional<study::SampleTable> table;
    std::string path;
    std::string sheet; // a workbook's sheet; empty: its first
    std::string model = "ua";
    std::optional<std::vector<std::string>> gases; // none: the default gases
    std::map<std::string, std::string> grid;       // by key ("temp_max"): the box's text
    std::map<std::string, bool> gridTicks;         // by key ("maat")
    std::string solubility;                        // empty: Temra's own
    std::optional<std::string> ensemble;
    double relErr = 0.01;
    std::int64_t mc = 0;
    std::uint64_t mcSeed = 1;
    bool prior = false;
    double priorOffset = 0, priorSd = 1;
    bool perGram = false;
    std::map<std::string, double> bounds; // by key ("pr_r_max", "pd_beta")
    int threads = 0;
};

// The results of a study as temra-cli prints them: its columns, one row of cells
// per result, the notes said once for the table and the samples refused.
struct StudyOutput {
    std::vector<std::string> columns;
    std::vector<std::vector<study::ResultCell>> rows;
    std::vector<std::string> notes; // the first: what was read where, if anything needs saying
    std::string time;               // "fitted 5 samples in 0.25 s"; empty when none was fitted
};

// What a running study is doing, for its progress: 0 reading, 1 fitting the
// samples, 2 the Monte Carlo draws.
enum class Stage : int { kReading, kFitting, kDrawing };

// Runs the study of the call (the threads it allows); throws Refused naming the
// argument at fault, Cancelled when `control` is cancelled. `stage` follows the
// work.
StudyOutput RunStudy(const StudyCall& call, RunControl& control, std::atomic<int>& stage);

// The equilibrium concentration (cm³ STP per cm³ of water) of `gas` (its label,
// "Ne-20", case-insensitive) at each temperature (°C), elevation (m), chloride
// (mol/l) and density (g/cm³) of the equal-length arrays, with the data set named
// by `solubility` (empty: Temra's own). Throws Refused naming the argument and
// the element.
std::vector<double> Equilibrium(const std::string& gas, std::span<const double> T,
                                std::span<const double> E, std::span<const double> chloride,
                                std::span<const double> density, const std::string& solubility);

// An exception of the calls above, or of the core beneath them, as the Refused
// that names its argument; `header` names a table's columns. Rethrows what is
// no refusal.
Refused AsRefused(std::exception_ptr error, const std::vector<std::string>& header = {});

// A text of the study's (a note, a flag's meaning, a message) in the module's
// words: each temra-cli option it names ("--temp-max") becomes its argument
// ("grid[\"temp_max\"]").
std::string PythonWords(std::string text);

// The tables the module offers, as rows of texts; the columns of `numbers` hold
// numbers written exactly (ExactText).
struct TableRows {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> numbers;
};
TableRows ModelTable();
TableRows GasTable();
TableRows FlagTable();
TableRows SolubilityTable();

} // namespace temra::python
