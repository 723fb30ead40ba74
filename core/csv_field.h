// One writer of CSV fields for every CSV Temra writes. A field is quoted (a
// quote inside it doubled) when it must be, by one of two rules:
// - kData, the results printed for other programs (temra-cli's CSV, the file of
//   draws): a comma, a quote or any control character (a line break, a tab,
//   DEL) is kept as it is inside the quotes, so that the field stays one;
// - kTable, a table of samples that Temra reads back: a comma, a quote, a line
//   break, or a space at either end (which the reader would trim).
#pragma once

#include <string>
#include <string_view>

namespace temra {

enum class CsvRule { kData, kTable };

std::string CsvField(std::string_view text, CsvRule rule);

} // namespace temra
