#include "core/csv_field.h"

#include <algorithm>

namespace temra {

namespace {

bool MustQuote(std::string_view text, CsvRule rule) {
    if (rule == CsvRule::kTable)
        return text.find_first_of(",\"\r\n") != std::string_view::npos ||
               (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == ',' || c == '"' || u < 0x20 || u == 0x7F;
    });
}

} // namespace

std::string CsvField(std::string_view text, CsvRule rule) {
    if (!MustQuote(text, rule)) return std::string(text);
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (char c : text) quoted += c == '"' ? std::string_view("\"\"") : std::string_view(&c, 1);
    return quoted + "\"";
}

} // namespace temra
