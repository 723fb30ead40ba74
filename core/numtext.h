// Conversion between numbers and the texts the user types and reads.
//
// Reading: the text may use the user's decimal separator or '.', which is always
// accepted because the stored defaults are typed with it. Blanks around the number
// are ignored; a sign, digits with at most one decimal separator, and an exponent
// introduced by 'E' or 'e' are accepted. Anything else, including an empty text,
// "inf", "nan", hexadecimal and digit grouping, is a type mismatch (error 13). So
// is, where the user's decimal separator is not '.', a text that reads both ways:
// "3.000" or "1.500" (a '.' after one to three digits that do not begin with 0,
// followed by exactly three digits and no exponent) is a thousand-fold apart in
// the two readings, and the user is asked to type it unambiguously. A
// value beyond the range of the target width is an overflow (error 6); one too
// small for it becomes zero. The value is the correctly rounded nearest number of
// the target width, read directly from the decimal text.
//
// Writing (general format): at most 15 significant digits for doubles and 7 for
// floats, trailing zeros dropped, the user's decimal separator. Magnitudes from
// 1E-5 up to (but excluding) 1E15 for doubles, 1E7 for floats, are written in
// plain positional form ("0.00012", "3000", "9.861"); the others in exponent form
// with a signed exponent of at least two digits ("4.69312345678901E-08",
// "1.234568E+07"). Zero is "0".
//
// For exchange with other programs (CSV, JSON), ExactText gives the shortest text
// that reads back to the same value of the same width.
#pragma once

#include "core/errors.h"

#include <string>
#include <string_view>

namespace temra {

double ParseDouble(std::string_view text, const FieldRef& field, char decimalSeparator = '.');
float ParseSingle(std::string_view text, const FieldRef& field, char decimalSeparator = '.');

std::string FormatGeneral(double value, char decimalSeparator = '.');
std::string FormatGeneral(float value, char decimalSeparator = '.');

std::string ExactText(double value);
std::string ExactText(float value);

// A value for a message: four significant digits in the general format ("0.7819",
// "3.301E+12").
std::string ApproxText(double value);
// A count for a message, its thousands grouped: "33,000,000" (beyond 10^15 as
// ApproxText writes it).
std::string CountText(double count);
// An amount of memory for a message: "640 bytes", "12 MB", "17.5 GB".
std::string ByteText(double bytes);
// What a refusal for memory says of the room: "more than this process may use
// (12 MB)"; with no room at all, that the process's limits leave nothing beside
// the program itself and are what to raise (no step or table would help).
std::string RoomText(double budget);
// A text the user gave, as a message quotes it: whole up to `most` characters;
// longer, its first `most` characters (never cutting a UTF-8 character) and
// "… (N characters)".
std::string EchoText(std::string_view text, std::size_t most = 80);

} // namespace temra
