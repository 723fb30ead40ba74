#include "export/xml_text.h"

#include <array>

namespace temra::xl {

Utf8Char FirstChar(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    if (lead < 0x80) return {lead, 1, true};
    // The bytes that follow the lead byte, and the range the first of them must
    // lie in (Table 3-7); the others lie in 80..BF.
    std::size_t following = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        following = 1;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        following = 2;
        code = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        following = 3;
        code = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;  // no overlong forms
        if (lead == 0xF4) high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return {0xFFFD, 1, false}; // a continuation byte, C0, C1 or F5..FF
    }
    std::size_t i = 1;
    for (; i <= following; ++i) {
        if (i >= text.size()) return {0xFFFD, i, false};
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < low || byte > high) return {0xFFFD, i, false};
        code = (code << 6) | (byte & 0x3Fu);
        low = 0x80;
        high = 0xBF;
    }
    return {code, i, true};
}

bool IsXmlChar(char32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

std::string CellText(std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = FirstChar(text.substr(at));
        if (c.valid && IsXmlChar(c.code)) {
            out.append(text.substr(at, c.length));
        } else if (c.valid && c.code < 0x20) {
            constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                   '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
            out += "\\x";
            out += kHex[c.code >> 4];
            out += kHex[c.code & 0xFu];
        } else {
            out.append(kReplacement);
        }
        at += c.length;
    }
    return out;
}

} // namespace temra::xl
