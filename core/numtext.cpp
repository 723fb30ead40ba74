#include "core/numtext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace temra {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text without the blanks around it.
std::string_view Trimmed(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// What the digits of a number's mantissa tell of its size.
struct MantissaDigits {
    bool seenDigit = false;
    bool seenNonZero = false;
    long digitsBeforePoint = 0;      // from the first significant one
    long leadingZerosAfterPoint = 0; // before the first significant one
};

// Reads the mantissa that begins at text[i] (digits with at most one decimal point,
// `decimalSeparator` or '.'), copying it to `out` with '.' as decimal point;
// returns where it ends.
std::size_t ReadMantissa(std::string_view text, std::size_t i, char decimalSeparator,
                         std::string& out, MantissaDigits& m) {
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            m.seenDigit = true;
            if (c != '0') m.seenNonZero = true;
            if (!seenPoint) {
                if (m.seenNonZero) ++m.digitsBeforePoint;
            } else if (!m.seenNonZero) {
                ++m.leadingZerosAfterPoint;
            }
            out += c;
        } else if ((c == decimalSeparator || c == '.') && !seenPoint) {
            seenPoint = true;
            out += '.';
        } else {
            break;
        }
    }
    return i;
}

// Reads the exponent that makes up the rest of the text from text[i] ('e' or 'E',
// a sign, digits), copying it to `out`; false when the rest is not one. Its value
// stops growing once it passes 100000, out of range either way.
bool ReadExponent(std::string_view text, std::size_t i, std::string& out, long& exponent) {
    if (text[i] != 'e' && text[i] != 'E') return false;
    out += 'e';
    ++i;
    const std::size_t expStart = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        out += text[i];
        ++i;
    }
    const std::size_t digitsStart = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        out += text[i];
        if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (i == digitsStart || i != text.size()) return false;
    if (text[expStart] == '-') exponent = -exponent;
    return true;
}

// Checks the grammar and rewrites the text with '.' as decimal point. Returns
// false when the text is not a plain decimal number. On success `decimalExponent`
// is the power of ten of the leading significant digit (or 0 for a zero value),
// which tells an overflow from an underflow when the value is out of range.
bool Normalise(std::string_view text, char decimalSeparator, std::string& out,
               long& decimalExponent, bool& isZero) {
    text = Trimmed(text);
    if (text.empty()) return false;

    std::size_t i = 0;
    out.clear();
    if (text[i] == '+' || text[i] == '-') {
        if (text[i] == '-') out += '-';
        ++i;
    }
    MantissaDigits m;
    i = ReadMantissa(text, i, decimalSeparator, out, m);
    if (!m.seenDigit) return false;
    long exponent = 0;
    if (i < text.size() && !ReadExponent(text, i, out, exponent)) return false;
    isZero = !m.seenNonZero;
    decimalExponent = exponent + (m.digitsBeforePoint > 0 ? m.digitsBeforePoint - 1
                                                          : -(m.leadingZerosAfterPoint + 1));
    return true;
}

// "3.000", "-1.500", "12.345": in a locale that groups thousands with '.', the
// text may mean a thousand times what '.' as decimal point makes of it.
bool AmbiguousGrouping(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos || point < 1 || point > 3 || text[0] == '0') return false;
    if (text.size() != point + 4) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != point && (text[i] < '0' || text[i] > '9')) return false;
    return true;
}

[[noreturn]] void RefuseAmbiguous(std::string_view text, const FieldRef& field,
                                  char decimalSeparator) {
    std::string whole, decimal(text);
    for (char c : text)
        if (c != '.' && !IsBlank(c)) whole += c;
    for (char& c : decimal)
        if (c == '.') c = decimalSeparator;
    throw TemraError(
        ErrorNumber::TypeMismatch, field,
        "\"" + std::string(text) + "\" can be read two ways: the decimal separator here is \"" +
            std::string(1, decimalSeparator) + "\" while \".\" also groups thousands; type " +
            whole + " for the whole number or " + decimal + " for the decimal one");
}

template <typename T>
T ParseAs(std::string_view text, const FieldRef& field, char decimalSeparator) {
    std::string normal;
    long decimalExponent = 0;
    bool isZero = false;
    if (!Normalise(text, decimalSeparator, normal, decimalExponent, isZero))
        throw TemraError(ErrorNumber::TypeMismatch, field,
                         text.empty() ? "the box is empty"
                                      : "\"" + EchoText(text) + "\" is not a number");
    if (decimalSeparator != '.' && AmbiguousGrouping(text))
        RefuseAmbiguous(text, field, decimalSeparator);
    T value{};
    const char* first = normal.data();
    const char* last = normal.data() + normal.size();
    auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (!isZero && decimalExponent > 0)
            throw TemraError(ErrorNumber::Overflow, field,
                             "\"" + std::string(text) + "\" is too large");
        return normal[0] == '-' ? -T(0) : T(0);
    }
    if (result.ec != std::errc() || result.ptr != last)
        throw TemraError(ErrorNumber::TypeMismatch, field,
                         "\"" + EchoText(text) + "\" is not a number");
    return value;
}

// Digits and decimal exponent of `value` rounded to `precision` significant digits.
std::string FormatWith(double value, int precision, double upperFixed, char decimalSeparator) {
    if (value == 0) return "0";
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    // to_chars is independent of the C locale, which the desktop program sets.
    char buf[64];
    auto written =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    const std::string s(buf, written.ptr); // [-]d.dddde[+-]xx
    const std::size_t ePos = s.find('e');
    int exponent = 0;
    std::from_chars(s.data() + ePos + (s[ePos + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
    std::string mantissa = s.substr(0, ePos);
    const bool negative = mantissa[0] == '-';
    if (negative) mantissa.erase(0, 1);
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits += c;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    double rounded = 0;
    std::from_chars(s.data(), s.data() + s.size(), rounded);
    const double magnitude = std::fabs(rounded);
    std::string out = negative ? "-" : "";
    if (magnitude >= 1e-5 && magnitude < upperFixed) {
        if (exponent >= 0) {
            const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits + std::string(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += decimalSeparator;
                out += digits.substr(intDigits);
            }
        } else {
            out += '0';
            out += decimalSeparator;
            out += std::string(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
        out += decimalSeparator;
        out += digits.substr(1);
    }
    char expBuf[16];
    std::snprintf(expBuf, sizeof expBuf, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + expBuf;
}

template <typename T> std::string Shortest(T value) {
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace

double ParseDouble(std::string_view text, const FieldRef& field, char decimalSeparator) {
    return ParseAs<double>(text, field, decimalSeparator);
}

float ParseSingle(std::string_view text, const FieldRef& field, char decimalSeparator) {
    return ParseAs<float>(text, field, decimalSeparator);
}

std::string FormatGeneral(double value, char decimalSeparator) {
    return FormatWith(value, 15, 1e15, decimalSeparator);
}

std::string FormatGeneral(float value, char decimalSeparator) {
    return FormatWith(static_cast<double>(value), 7, 1e7, decimalSeparator);
}

std::string ApproxText(double value) {
    return FormatWith(value, 4, 1e15, '.');
}

std::string CountText(double count) {
    if (!(std::fabs(count) < 1e15)) return ApproxText(count);
    const auto whole = static_cast<long long>(std::llround(std::fabs(count)));
    std::string digits = std::to_string(whole), grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return (count < 0 && whole != 0 ? "-" : "") + grouped;
}

std::string ByteText(double bytes) {
    if (bytes < 1000) return FormatWith(std::round(bytes), 4, 1e15, '.') + " bytes";
    const char* units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    int u = 0;
    double v = bytes / 1000;
    while (v >= 1000 && u < 5) {
        v /= 1000;
        ++u;
    }
    return FormatWith(v < 10 ? std::round(v * 10) / 10 : std::round(v), 4, 1e15, '.') + " " +
           units[u];
}

std::string ExactText(double value) {
    return Shortest(value);
}
std::string ExactText(float value) {
    return Shortest(value);
}

} // namespace temra

namespace temra {

std::string RoomText(double budget) {
    if (budget >= 1) return "more than this process may use (" + ByteText(budget) + ")";
    return "more than this process may use: its memory limits (address space, data or control "
           "group) leave nothing beside what the program itself takes, so raise them";
}

std::string EchoText(std::string_view text, std::size_t most) {
    // Characters are counted as UTF-8 lead bytes.
    std::size_t count = 0, cut = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count == most) cut = i;
        ++count;
    }
    if (count <= most) return std::string(text);
    return std::string(text.substr(0, cut)) + "… (" + CountText(static_cast<double>(count)) +
           " characters)";
}

} // namespace temra
