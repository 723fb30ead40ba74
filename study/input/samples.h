// The samples of a study as the table gives them: text, column by column, and
// the names of the columns that hold them.
#pragma once

#include "study/input/sample_table.h"
#include "study/study_options.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

// One row of the table of samples, as text.
struct Sample {
    std::string name;
    std::size_t row = 0; // the row's number in the file
    std::array<std::string, GasCount> measured;
    std::array<std::string, GasCount> error;
    std::string chloride, density, elevation; // empty: not given
    // The group of samples that share their recharge (an ensemble fit); empty:
    // the sample stands alone.
    std::string group;
    // Not empty: what keeps the row from being a sample as the table stands (its
    // count of fields is not the header's); ReadValues reports it first.
    std::string problem;

    bool operator==(const Sample&) const = default;
};

// How the windows' texts call a sample: its name, or its row for a sample
// without one ("row 7 (no name)").
std::string SampleLabel(const Sample& sample);

// A column of total gas that the samples hold as its isotope: its name as the
// table heads it, and how it was read.
struct ColumnNote {
    std::string column;  // "Ne", "kr err"
    std::string reading; // "total neon, read as Ne-20: each value × 0.9048, ..."
    int gas = 0;         // the isotope's gas index
    bool error = false;  // an error column
    // The note as one sentence: column "Ne": total neon, read as Ne-20: ...
    std::string Text() const;
};

// The notes of a table's columns of total gas as one sentence, to be said once:
// the columns of total gas read as their isotopes ... "Ne" as Ne-20 (× 0.9048), ...;
// empty when there are none.
std::string ConversionSummary(const std::vector<ColumnNote>& notes);

struct SampleColumns {
    std::vector<Sample> samples;
    std::vector<std::string> ignored; // the names of columns Temra does not read
    std::vector<ColumnNote> notes;    // the columns of total gas, converted
};

// The gas index a column name denotes ("He-4" or "He", "ne-20", " Xe ", ...), or
// -1.
int GasOfColumn(std::string_view name);

// The share of the isotope the study fits (He-4, Ne-20, Ar-40, Kr-84) in the
// gas of the atmosphere: what a total's value is multiplied by to give the
// isotope's. By gas index (He-4 to Kr-84; 1 for the gases fitted as a whole).
double AtmosphericShare(int gas);

// What a table's column of this name is to the study (its name matched as
// ReadSamples matches it): not read, a text (the sample's name, its group), or
// numbers.
enum class ColumnUse { kNotRead, kText, kNumber };
ColumnUse UseOfColumn(const std::string& name);

// The samples of a table: columns matched without regard to case or surrounding
// blanks ("sample", "He-4", ..., "<gas> err", "chloride", "density",
// "elevation", "group"). The columns "He", "Ne", "Ar", "Kr" (and their "err") hold the
// total gas: each value is read as its isotope's, times AtmosphericShare, its text
// written anew with the decimal separator `separator` (a text that is no number
// stays as typed), and a note says so. A row whose count of fields is not the
// header's gets its problem. Throws StudyError when a fitted gas has no column,
// or when two columns hold the same (the same gas or error twice, in either
// form; the samples' names, chloride, density or elevation twice), naming both.
SampleColumns ReadSamples(const SampleTable& table, const StudyOptions& options,
                          char separator = '.');

// The columns of a sample (in the samples window's order).
namespace SampleColumn {
// The name, each gas's value (by gas index), each gas's error, then chloride,
// density, elevation and group.
inline constexpr int kName = 0;
inline constexpr int Measured(int gas) {
    return 1 + gas;
}
inline constexpr int Error(int gas) {
    return 1 + GasCount + gas;
}
inline constexpr int kChloride = 2 * GasCount + 1;
inline constexpr int kDensity = kChloride + 1;
inline constexpr int kElevation = kDensity + 1;
inline constexpr int kGroup = kElevation + 1;
inline constexpr int kCount = kGroup + 1;
// Whether the column holds a number (the name and the group are texts).
inline constexpr bool HoldsNumber(int column) {
    return column > kName && column < kGroup;
}

// The column's name as a table of samples heads it ("sample", "He-4",
// "Ne-20 err", "chloride", "density", "elevation", "group"), which ReadSamples
// reads back.
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

} // namespace temra::study
