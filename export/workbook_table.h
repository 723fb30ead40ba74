// A table of samples from a file: a CSV file (study/input/sample_table.h), or a
// sheet of a workbook (.xlsx) as a laboratory sends it or as Temra's "Study
// Results" workbook holds its samples.
//
// A workbook's sheet is read with the zip and XML libraries of the read-back
// (minizip, expat): numbers as the workbook stores them, texts (shared and
// inline strings, and the cached text of a formula), booleans as TRUE and FALSE.
// The header is the first row that names a gas's column (the rows above it are
// the sheet's titles, skipped and said); a row right below it whose numeric
// columns hold texts and no number is read as the columns' units and skipped,
// and said. Columns without a name in the header row are named by their letter
// ("column H"); rows are as wide as the header.
//
// Refused with a study::TableError naming the file, the sheet and the cell: in a
// column the study reads (study::UseOfColumn), a formula without a cached value,
// a date, or an error value; a merged range within the table; a workbook that is
// encrypted (or of the old .xls format), damaged, or lacks the sheet named; parts
// larger than the memory the process may use.
#pragma once

#include "study/input/sample_table.h"
#include "study/study_options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace temra::xl {

struct TableFile {
    study::SampleTable table;
    // What was read where, when there is something to say: "the sheet \"Data\":
    // rows 1 to 2 above the header (row 3) skipped as titles".
    std::string note;
};

// Whether the file begins as a zip does (a workbook is one).
bool IsZipFile(const std::string& path);

// The table of a CSV file or of a workbook's sheet (by the file's first bytes).
// `sheet`: the sheet's name; empty: the first sheet, or the "Samples" sheet of a
// "Study Results" workbook; a CSV file has none and is refused with one named.
// Throws study::TableError.
TableFile ReadTableFile(const std::string& path, const std::string& sheet,
                        std::uint64_t memoryBudget);

// The names of a workbook's sheets in order; none for a file that is no workbook.
// Throws study::TableError as ReadTableFile does.
std::vector<std::string> SheetNames(const std::string& path, std::uint64_t memoryBudget);

// The options a "Study Results" workbook of Temra's was fitted with (its
// "Settings" sheet's "Settings to fit again"); nothing for a CSV file, another
// workbook, or one written before it held them. Throws study::TableError as
// ReadTableFile does, study::StudyError when the line cannot be read.
std::optional<study::StudyOptions> FittedOptionsOf(const std::string& path,
                                                   std::uint64_t memoryBudget);

} // namespace temra::xl
