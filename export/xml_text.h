// Text as the XML of a workbook may hold it.
//
// A workbook's parts are XML 1.0 in UTF-8: a text that is not valid UTF-8, or
// that holds a character XML 1.0 forbids, would make a part no program can read.
// Every text cell goes through CellText on its way into the file:
//
//   - bytes that are not valid UTF-8 become U+FFFD (the replacement character),
//     one for each maximal subpart of an ill-formed sequence;
//   - the control characters XML forbids (U+0000 to U+001F other than tab, line
//     feed and carriage return) are shown as a backslash, 'x' and two hexadecimal
//     digits: "\x00", "\x01", "\x1B";
//   - the non-characters U+FFFE and U+FFFF become U+FFFD;
//   - everything else stays as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace temra::xl {

// The first character of a UTF-8 text (not empty). A well-formed sequence (The
// Unicode Standard, Version 15.0, §3.9, Table 3-7) gives its code point and its
// bytes; an ill-formed one gives `valid` false and the bytes of its maximal subpart
// (§3.9, "U+FFFD Substitution of Maximal Subparts"), at least one.
struct Utf8Char {
    char32_t code = 0;
    std::size_t length = 1;
    bool valid = false;
};
Utf8Char FirstChar(std::string_view text);

// A character XML 1.0 allows in a document (the production Char of XML 1.0, fifth
// edition, §2.2).
bool IsXmlChar(char32_t code);

// The text as a cell of the written workbook holds it (see above).
std::string CellText(std::string_view text);

} // namespace temra::xl
