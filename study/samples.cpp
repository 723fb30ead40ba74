#include "study/samples.h"

#include "core/gas_table.h"
#include "core/numtext.h"

#include <csv.h>

#include <algorithm>
#include <cctype>

namespace temra::study {

namespace {

std::string Normal(std::string_view name) {
    std::string s(name);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    s.erase(0, b);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The gas a column name denotes ("He-4", "He", "N2", ...), or 0.
int GasOfName(const std::string& name) {
    static const std::array<std::array<const char*, 2>, GasCount> names = {{
        {"he-4", "he"},
        {"ne-20", "ne"},
        {"ar-40", "ar"},
        {"kr-84", "kr"},
        {"xe", "xe"},
        {"n2", "n2"},
        {"o2", "o2"},
    }};
    for (int g = 0; g < GasCount; ++g)
        for (const char* n : names[static_cast<std::size_t>(g)])
            if (name == n) return g + 1;
    return 0;
}

} // namespace

std::string GasName(int gas) {
    return std::string(kGraphLabels[static_cast<std::size_t>(gas - 1)]);
}

std::string GasList(const std::array<bool, GasCount>& gases) {
    std::string list;
    for (int g = 1; g <= GasCount; ++g)
        if (gases[static_cast<std::size_t>(g - 1)]) list += (list.empty() ? "" : ";") + GasName(g);
    return list;
}

int GasOfColumn(std::string_view name) {
    return GasOfName(Normal(name));
}

std::string SampleColumn::Name(int column) {
    if (column == kName) return "sample";
    if (column >= Measured(1) && column <= Measured(GasCount)) return GasName(column);
    if (column >= Error(1) && column <= Error(GasCount))
        return GasName(column - Error(1) + 1) + " err";
    if (column == kChloride) return "chloride";
    if (column == kDensity) return "density";
    return "elevation";
}

std::string& SampleColumn::Text(Sample& s, int column) {
    if (column >= Measured(1) && column <= Measured(GasCount))
        return s.measured[static_cast<std::size_t>(column - Measured(1))];
    if (column >= Error(1) && column <= Error(GasCount))
        return s.error[static_cast<std::size_t>(column - Error(1))];
    if (column == kChloride) return s.chloride;
    if (column == kDensity) return s.density;
    if (column == kElevation) return s.elevation;
    return s.name;
}

const std::string& SampleColumn::Text(const Sample& s, int column) {
    return Text(const_cast<Sample&>(s), column);
}

std::string DecimalText(const std::string& text, char from, char to) {
    try {
        ParseDouble(text, FieldRef{}, from);
    } catch (const TemraError&) {
        return text;
    }
    std::string out = text;
    for (char& c : out)
        if (c == '.' || c == from) c = to;
    return out;
}

std::string SamplesCsv(const std::vector<Sample>& samples, char separator) {
    std::string csv;
    auto field = [&csv](const std::string& text, bool first) {
        if (!first) csv += ',';
        const bool plain = text.find_first_of(",\"\r\n") == std::string::npos &&
                           (text.empty() || (text.front() != ' ' && text.back() != ' '));
        if (plain) {
            csv += text;
            return;
        }
        // libcsv quotes the field: at most twice its length and the two quotes.
        std::string quoted(2 * text.size() + 2, '\0');
        quoted.resize(csv_write(quoted.data(), quoted.size(), text.data(), text.size()));
        csv += quoted;
    };
    for (int c = 0; c < SampleColumn::kCount; ++c) field(SampleColumn::Name(c), c == 0);
    csv += '\n';
    for (const Sample& s : samples) {
        field(s.name, true);
        for (int c = 1; c < SampleColumn::kCount; ++c)
            field(DecimalText(SampleColumn::Text(s, c), separator, '.'), false);
        csv += '\n';
    }
    return csv;
}

SampleColumns ReadSamples(const SampleTable& table, const StudyOptions& options) {
    enum Kind { kIgnored, kName, kGas, kError, kChloride, kDensity, kElevation };
    struct Column {
        Kind kind = kIgnored;
        int gas = 0;
    };
    SampleColumns out;
    std::vector<Column> columns;
    std::array<bool, GasCount> present{};
    for (const std::string& raw : table.header) {
        const std::string name = Normal(raw);
        Column c;
        if (name == "sample") {
            c.kind = kName;
        } else if (name == "chloride") {
            c.kind = kChloride;
        } else if (name == "density") {
            c.kind = kDensity;
        } else if (name == "elevation") {
            c.kind = kElevation;
        } else if (const int gas = GasOfName(name)) {
            c = {kGas, gas};
            present[static_cast<std::size_t>(gas - 1)] = true;
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, " err") == 0 &&
                   GasOfName(Normal(name.substr(0, name.size() - 4)))) {
            c = {kError, GasOfName(Normal(name.substr(0, name.size() - 4)))};
        } else {
            out.ignored.push_back(raw);
        }
        columns.push_back(c);
    }
    for (int g = 1; g <= GasCount; ++g)
        if (options.gases[static_cast<std::size_t>(g - 1)] &&
            !present[static_cast<std::size_t>(g - 1)])
            throw StudyError("the table has no column for " + GasName(g) + ", a fitted gas");
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        Sample s;
        s.row = table.rowNumbers[r];
        s.name = "row " + std::to_string(s.row);
        const auto& fields = table.rows[r];
        for (std::size_t c = 0; c < columns.size() && c < fields.size(); ++c) {
            const std::string& text = fields[c];
            const auto gi = static_cast<std::size_t>(std::max(0, columns[c].gas - 1));
            switch (columns[c].kind) {
            case kName:
                if (!text.empty()) s.name = text;
                break;
            case kGas:
                s.measured[gi] = text;
                break;
            case kError:
                s.error[gi] = text;
                break;
            case kChloride:
                s.chloride = text;
                break;
            case kDensity:
                s.density = text;
                break;
            case kElevation:
                s.elevation = text;
                break;
            case kIgnored:
                break;
            }
        }
        out.samples.push_back(std::move(s));
    }
    return out;
}

} // namespace temra::study
