// The texts temra-cli writes: every character of what it quotes visible.
#include "cli/cli_parts.h"

#include "cli/cli.h"
#include "cli/options.h"
#include "core/csv_field.h"
#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/version.h"
#include "export/exports.h"
#include "platform/platform.h"
#include "study/input/sample_table.h"
#include "study/models/models.h"
#include "study/output/study_notes.h"
#include "study/output/study_results.h"
#include "study/study_fit.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/monte_carlo.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace temra::cli {

namespace {

// Nothing but blanks: an empty text.
// `value` in `digits` lower-case hexadecimal digits.
std::string HexDigits(unsigned value, int digits) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (int d = digits - 1; d >= 0; --d) out += kHex[(value >> (4 * d)) & 15];
    return out;
}

// The length of the UTF-8 sequence that begins at text[i]; 0 where the bytes are
// not UTF-8: a byte that begins no sequence, a sequence cut short or broken, an
// overlong form, a surrogate or a value above U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    if (length >= 3) {
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) ||
            (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F))
            return 0;
    }
    return length;
}

// A byte below 0x80 as shown: tab, line feed and carriage return as "\t", "\n",
// "\r", the other controls (C0 and DEL) as "\xHH", any other as itself.
void AppendVisibleAscii(std::string& out, unsigned char c) {
    if (c == '\t' || c == '\n' || c == '\r')
        out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    else if (c < 0x20 || c == 0x7F)
        out += "\\x" + HexDigits(c, 2);
    else
        out += static_cast<char>(c);
}

// The character that begins at text[i] as shown; returns the bytes it took. A
// UTF-8 sequence is kept, but for the C1 controls (U+0080 to U+009F, bytes C2 80
// to C2 9F); any other byte is shown as its value.
std::size_t AppendVisibleChar(std::string& out, std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        AppendVisibleAscii(out, c);
        return 1;
    }
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
        out += "\\x" + HexDigits(c, 2);
        return 1;
    }
    if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
        out += "\\u00" + HexDigits(static_cast<unsigned char>(text[i + 1]), 2);
        return 2;
    }
    out.append(text.substr(i, length));
    return length;
}

// A text as a terminal shows it, every character visible: control characters
// (C0, DEL, C1) as escapes ("\t", "\n", "\x00", "\u009b") and bytes that are not
// UTF-8 as "\xHH". A message quotes what the table and the arguments hold, which
// may be anything.
// A line to standard error, every character of it visible.

} // namespace

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

std::string Visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) i += AppendVisibleChar(out, text, i);
    return out;
}

void Say(std::ostream& err, const std::string& text) {
    err << "temra-cli: " << Visible(text) << '\n';
}

void Note(std::ostream& err, const std::string& text) {
    Say(err, "note: " + text);
}

} // namespace temra::cli
