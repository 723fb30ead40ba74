// A table of samples as text: the rows of a CSV file (or of a block pasted from a
// spreadsheet), read with libcsv. The delimiter is found in the first row: tab,
// semicolon or comma, whichever it holds most of (a tab wins a tie, then the
// semicolon). Quoted fields may hold delimiters, quotes ("") and line breaks; a
// quote within an unquoted field is kept as typed. Blank rows are skipped; the
// first row holds the column names.
//
// The table is UTF-8 text (a byte-order mark is skipped). Refused, with a
// TableError that says where: a quoted field that is never closed (naming the
// row and column where its quote opened), a field that is not UTF-8 or holds a
// NUL byte (naming its row and column), and a text in UTF-16 or UTF-32 (known by
// its byte-order mark or by the NUL bytes of its first characters, and named).
#pragma once

#include "core/errors.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

struct SampleTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows; // without the header row
    std::vector<std::size_t> rowNumbers;        // each row's number in the file (the header is 1)
    char delimiter = ',';
};

class TableError : public Refusal {
  public:
    using Refusal::Refusal;
};

// Reads a table from its text; throws TableError when it is not one, or when its
// fields would take more than `memoryBudget` bytes (each field counted as it is
// stored: its string and its text).
SampleTable
ParseSampleTable(std::string_view text,
                 std::uint64_t memoryBudget = std::numeric_limits<std::uint64_t>::max());

// Reads a table from a file, or from standard input for "-", in pieces; throws
// TableError naming the file when it cannot be read, or when its fields would take
// more than `memoryBudget` bytes (said with the row and its count of fields).
SampleTable ReadSampleTable(const std::string& path, std::uint64_t memoryBudget);

} // namespace temra::study
