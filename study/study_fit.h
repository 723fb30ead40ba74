// The study fit: many samples, each fitted over the cases of the solubility grid
// with its misfit weighted by the measurement errors.
//
// For each sample and each grid case (the grid run's cases, in its order and
// numbering, computed with the sample's chloride and density, or at the sample's
// known elevation only), the model of the fitted gases i is
//   UA: model_i = Ceq_i + A z_i,                               A >= 0
//   CE: model_i = Ceq_i + (1 - F) A z_i / (1 + F A z_i / Ceq_i), 0 <= A <= Amax, 0 <= F <= 1
// with z_i the gas's fraction in dry air, and the misfit
//   chi2 = sum_i ((measured_i - model_i) / sigma_i)^2
// at the case's best A (and F). The best case has the least chi2 (the lowest
// case number on a tie); p is the upper tail of the chi-squared distribution with
// n - k degrees of freedom; the 1-sigma ranges are the extent of the region where
// chi2 <= chi2min + 1 over every case and every allowed A (and F).
//
// For UA the best A of a case has a closed form. For CE the two parameters are
// taken as B = F A and t = (1 - F) A: for a fixed B the model is linear in t, so
// the best t has a closed form, and the fit is a search over B alone.
#pragma once

#include "core/input_texts.h"
#include "core/module1.h"
#include "core/run_control.h"
#include "study/sample_table.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

enum class Model { UA, CE };

struct StudyOptions {
    // The grid's boxes; Text14 (density) and Text15 (chloride) serve the samples
    // without those columns.
    Form1Texts grid;
    Model model = Model::UA;
    std::array<bool, GasCount> gases{false, true, true, true, true, false, false};
    double relErr = 0.01; // sigma where a sample has no error column: relErr x measured
    double ceAMax = 0.1;  // cm3 STP/g
};

// One row of the table of samples, as text.
struct Sample {
    std::string name;
    std::size_t row = 0; // the row's number in the file
    std::array<std::string, GasCount> measured;
    std::array<std::string, GasCount> error;
    std::string chloride, density, elevation; // empty: not given
};

// The settings of a study that a command error may lie in; each caller names its
// own box or option for them.
enum class StudySetting { Table, Gases, RelErr, CeAMax };

// A command error: the table or the options cannot be used at all. `setting()`
// says which to change (the table when nothing else is named).
class StudyError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    StudyError(const std::string& what, StudySetting setting)
        : std::runtime_error(what), setting_(setting) {}
    StudySetting setting() const { return setting_; }

  private:
    StudySetting setting_ = StudySetting::Table;
};

struct SampleColumns {
    std::vector<Sample> samples;
    std::vector<std::string> ignored; // the names of columns Temra does not read
};

// The gas (1 to 7) a column name denotes ("He-4" or "He", "ne-20", " Xe ", ...),
// or 0.
int GasOfColumn(std::string_view name);

// The samples of a table: columns matched without regard to case or surrounding
// blanks ("sample", "He-4" or "He", ..., "<gas> err", "chloride", "density",
// "elevation"). Throws StudyError when a fitted gas has no column.
SampleColumns ReadSamples(const SampleTable& table, const StudyOptions& options);

struct StudyResult {
    std::string sample;
    std::string error; // not empty: the sample was refused (an error row)
    int n = 0;         // gases fitted
    int dof = 0;
    double chi2 = 0;
    std::optional<double> p; // empty when dof <= 0
    CaseNumber caseNo = 0;
    float elevation = 0, elevationLo = 0, elevationHi = 0;
    double temperature = 0, temperatureLo = 0, temperatureHi = 0;
    double A = 0, ALo = 0, AHi = 0;
    std::optional<double> F, FLo, FHi; // CE only
    std::vector<std::string> flags;
};

// Fits every sample, in input order. `settings` gives the decimal separator of the
// samples' numbers and the grid's boxes ('.' read as well) and the memory this
// process may use; the grid of samples that share chloride, density and
// elevation is computed once. Throws StudyError naming the setting (or TemraError
// for a grid option) when the options cannot be used: an option is checked only
// where the model uses it. A sample that cannot be fitted becomes an error row.
// Progress goes to `control` in evaluations of grid cases, across every group's
// grid run and every sample's fit.
std::vector<StudyResult> FitStudy(const std::vector<Sample>& samples, const StudyOptions& options,
                                  const Module1& settings, RunControl& control = Unwatched());

// The columns of a sample (in the samples window's order).
namespace SampleColumn {
inline constexpr int kName = 0;
inline constexpr int Measured(int gas) {
    return gas;
} // 1 to 7
inline constexpr int Error(int gas) {
    return 7 + gas;
} // 8 to 14
inline constexpr int kChloride = 15;
inline constexpr int kDensity = 16;
inline constexpr int kElevation = 17;
inline constexpr int kCount = 18;

// The column's name as a table of samples heads it ("sample", "He-4",
// "Ne-20 err", "chloride", "density", "elevation"), which ReadSamples reads back.
std::string Name(int column);
// A sample's text in the column.
const std::string& Text(const Sample& sample, int column);
std::string& Text(Sample& sample, int column);
} // namespace SampleColumn

// A number's text with `to` as its decimal separator, when it reads as a number
// with the decimal separator `from` (see ReadValues); any other text as it is.
std::string DecimalText(const std::string& text, char from, char to);

// The samples as a table (CSV: comma-separated, a header of the columns' names,
// numbers with '.' as decimal point, fields quoted where they need it), which
// ReadSampleTable and ReadSamples read back. `separator` is the decimal
// separator the samples' numbers are typed with.
std::string SamplesCsv(const std::vector<Sample>& samples, char separator);

// A cell that would make its sample an error row, and why (what and where).
struct CellProblem {
    int column;
    std::string what;
};
// The sample's numbers and the grid's boxes are read with the decimal separator
// `separator` ('.' read as well).
std::vector<CellProblem> SampleProblems(const Sample& sample, const StudyOptions& options,
                                        char separator);

// One sample's misfit over its grid: every case's chi2 at its best A (and F),
// with the grid and the sample's result. Throws StudyError when the sample
// cannot be read, TemraError when its grid cannot be made.
struct MisfitMap {
    GridPlan plan;
    std::vector<double> chi2; // per case
    StudyResult result;
};
MisfitMap CaseMisfits(const Sample& sample, const StudyOptions& options, const Module1& settings,
                      RunControl& control = Unwatched());

// The gases fitted, as "Ne-20;Ar-40;Kr-84;Xe".
std::string GasList(const std::array<bool, GasCount>& gases);

} // namespace temra::study

namespace temra::study {

// The columns of a study's results, in order (the CSV header and the workbook's
// first row).
extern const std::array<const char*, 21> kResultColumns;

// One cell of a result row: a number (single precision for elevations), a text,
// or nothing.
struct ResultCell {
    enum class Kind { Empty, Double, Single, Text } kind = Kind::Empty;
    double number = 0;
    std::string text;
};

// A result as its row of cells; an error row keeps the sample's name and has
// "error: <what and where>" as flags.
std::vector<ResultCell> ResultRow(const StudyResult& result, const StudyOptions& options);

// What a study ran with, as (setting, value) pairs: the model and its bounds, the
// gases, the relative error, and every box of the grid.
std::vector<std::pair<std::string, std::string>> StudySettings(const StudyOptions& options);

// The settings that differ between two studies, each as "name (before, now
// after)"; none when a fit with `before` is a fit with `after`.
std::vector<std::string> ChangedSettings(const StudyOptions& before, const StudyOptions& after);

} // namespace temra::study
