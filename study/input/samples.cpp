#include "study/input/samples.h"

#include "core/csv_field.h"
#include "core/gas_table.h"
#include "core/numtext.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace temra::study {

std::string SampleLabel(const Sample& sample) {
    return sample.name.empty() ? "row " + std::to_string(sample.row) + " (no name)" : sample.name;
}

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

// The names a gas's column may have: the isotope's, and for the noble gases a
// laboratory reports as elements, the element's, whose values are the total gas.
// The gas a column name denotes, and whether it names the total gas.
struct GasColumn {
    int gas = -1; // the gas index; -1: none
    bool total = false;
};

GasColumn GasOfName(const std::string& name) {
    for (int g = 0; g < GasCount; ++g) {
        const Gas& n = kGases[static_cast<std::size_t>(g)];
        if (name == n.isotopeColumn) return {g, false};
        if (!n.elementColumn.empty() && name == n.elementColumn) return {g, true};
    }
    return {};
}

// A total's text as its isotope's: the number times the share, written with the
// decimal separator it is read with. A text that is no number stays as typed
// (ReadValues says why, in the words the user typed).
std::string IsotopeText(const std::string& text, double share, char separator) {
    try {
        return FormatGeneral(ParseDouble(text, FieldRef{}, separator) * share, separator);
    } catch (const TemraError&) {
        return text;
    }
}

// The name of a delimiter, for a message.
std::string DelimiterName(char delimiter) {
    return delimiter == '\t' ? "tab" : delimiter == ';' ? "semicolon" : "comma";
}

} // namespace

std::string ColumnNote::Text() const {
    return "column \"" + EchoText(column) + "\": " + reading;
}

std::string ConversionSummary(const std::vector<ColumnNote>& notes) {
    std::string list;
    for (const ColumnNote& n : notes) {
        // An error column goes without saying when its gas's values were converted.
        if (n.error && std::any_of(notes.begin(), notes.end(),
                                   [&](const ColumnNote& v) { return !v.error && v.gas == n.gas; }))
            continue;
        list += (list.empty() ? "" : ", ") + ("\"" + EchoText(n.column) + "\" as ") +
                GasName(n.gas) + (n.error ? " err" : "") + " (× " +
                ExactText(AtmosphericShare(n.gas)) + ")";
    }
    if (list.empty()) return {};
    return "columns of total gas read as their isotopes, each value and error times the "
           "isotope's share of the atmosphere's gas: " +
           list;
}

double AtmosphericShare(int gas) {
    return GasAt(gas).atmosphericShare;
}

std::string GasName(int gas) {
    return std::string(GasAt(gas).graphLabel);
}

std::string GasList(const std::array<bool, GasCount>& gases) {
    std::string list;
    for (int g = 0; g < GasCount; ++g)
        if (gases[static_cast<std::size_t>(g)]) list += (list.empty() ? "" : ";") + GasName(g);
    return list;
}

int GasOfColumn(std::string_view name) {
    return GasOfName(Normal(name)).gas;
}

std::string SampleColumn::Name(int column) {
    if (column == kName) return "sample";
    if (column >= Measured(0) && column < Measured(GasCount)) return GasName(column - Measured(0));
    if (column >= Error(0) && column < Error(GasCount)) return GasName(column - Error(0)) + " err";
    if (column == kChloride) return "chloride";
    if (column == kDensity) return "density";
    if (column == kElevation) return "elevation";
    return "group";
}

std::string& SampleColumn::Text(Sample& s, int column) {
    if (column >= Measured(0) && column < Measured(GasCount))
        return s.measured[static_cast<std::size_t>(column - Measured(0))];
    if (column >= Error(0) && column < Error(GasCount))
        return s.error[static_cast<std::size_t>(column - Error(0))];
    if (column == kChloride) return s.chloride;
    if (column == kDensity) return s.density;
    if (column == kElevation) return s.elevation;
    if (column == kGroup) return s.group;
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
        csv += CsvField(text, CsvRule::kTable);
    };
    for (int c = 0; c < SampleColumn::kCount; ++c) field(SampleColumn::Name(c), c == 0);
    csv += '\n';
    for (const Sample& s : samples) {
        field(s.name, true);
        // A group is a name, written as typed.
        for (int c = 1; c < SampleColumn::kCount; ++c)
            field(SampleColumn::HoldsNumber(c)
                      ? DecimalText(SampleColumn::Text(s, c), separator, '.')
                      : SampleColumn::Text(s, c),
                  false);
        csv += '\n';
    }
    return csv;
}

namespace {

// What a column of a table of samples holds.
enum Kind { kIgnored, kName, kGas, kError, kChloride, kDensity, kElevation, kGroup };
struct Column {
    Kind kind = kIgnored;
    int gas = -1;       // the gas index of a gas or its error; -1: none
    bool total = false; // the gas's total, read as its isotope
};

// The column a header names (its name matched without regard to case or blanks).
Column ColumnOf(const std::string& raw) {
    const std::string name = Normal(raw);
    if (name == "sample") return {kName};
    if (name == "chloride") return {kChloride};
    if (name == "density") return {kDensity};
    if (name == "elevation") return {kElevation};
    if (name == "group") return {kGroup};
    if (const GasColumn g = GasOfName(name); g.gas >= 0) return {kGas, g.gas, g.total};
    if (name.size() > 4 && name.compare(name.size() - 4, 4, " err") == 0) {
        const GasColumn e = GasOfName(Normal(name.substr(0, name.size() - 4)));
        if (e.gas >= 0) return {kError, e.gas, e.total};
    }
    return {};
}

std::string ElementName(int gas) {
    return std::string(GasAt(gas).element);
}

// A gas as a column holds it: "Ne-20" or "total neon".
std::string FormOf(const Column& c) {
    return c.total ? "total " + ElementName(c.gas) : GasName(c.gas);
}

// What two columns of one thing both hold: "density", "Ne-20", or "neon, one as
// Ne-20 and one as total neon".
std::string BothHold(const Column& a, const Column& b) {
    // Two columns of one gas: in one form, or one in each.
    auto forms = [&] {
        return a.total == b.total
                   ? FormOf(a)
                   : ElementName(a.gas) + ", one as " + FormOf(a) + " and one as " + FormOf(b);
    };
    switch (a.kind) {
    case kName:
        return "the samples' names";
    case kGas:
        return forms();
    case kError:
        return "the error of " + forms();
    case kChloride:
        return "chloride";
    case kDensity:
        return "density";
    case kElevation:
        return "elevation";
    case kGroup:
        return "the samples' groups";
    case kIgnored:
        break;
    }
    return {};
}

// Each thing is read from one column: a second one is refused, naming both. The
// first column of each thing (a kind, and its gas) is kept, once through.
void RefuseTwice(const std::vector<Column>& columns, const std::vector<std::string>& header) {
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    constexpr std::size_t kGasSlots = std::size_t{GasCount} + 1; // slot 0: no gas
    std::array<std::size_t, (kGroup + 1) * kGasSlots> firstOf{};
    firstOf.fill(kNone);
    for (std::size_t b = 0; b < columns.size(); ++b) {
        if (columns[b].kind == kIgnored) continue;
        std::size_t& a = firstOf[static_cast<std::size_t>(columns[b].kind) * kGasSlots +
                                 static_cast<std::size_t>(columns[b].gas + 1)];
        if (a == kNone) {
            a = b;
            continue;
        }
        throw StudyError("columns " + std::to_string(a + 1) + " (\"" + EchoText(header[a]) +
                         "\") and " + std::to_string(b + 1) + " (\"" + EchoText(header[b]) +
                         "\") both hold " + BothHold(columns[a], columns[b]) +
                         "; keep one of them");
    }
}

// The note of a column of total gas read as its isotope.
ColumnNote NoteOf(const std::string& name, const Column& column) {
    const bool error = column.kind == kError;
    return {name,
            std::string(error ? "the error of " : "") + FormOf(column) + ", read as " +
                GasName(column.gas) + (error ? " err" : "") + ": each value × " +
                ExactText(AtmosphericShare(column.gas)) + ", the share of " + GasName(column.gas) +
                " in the atmosphere's " + ElementName(column.gas),
            column.gas, error};
}

// Why a row with another count of fields than the header is no sample.
std::string WidthProblem(std::size_t row, std::size_t fields, std::size_t columns, char delimiter) {
    std::string problem = "row " + std::to_string(row) + " has " + std::to_string(fields) +
                          " fields, its header " + std::to_string(columns);
    if (fields < columns)
        return problem + ": give every column its field, an empty one where there is no value";
    return problem + ": a text with a " + DelimiterName(delimiter) + " outside quotes (" +
           (delimiter == ',' ? "a name, or a number with a decimal comma" : "such as a name") +
           ") is split in two and shifts the values after it; quote it";
}

// The sample of one row: each column's text in its place, a total as its
// isotope's.
Sample SampleOfRow(const SampleTable& table, std::size_t r, const std::vector<Column>& columns,
                   char separator) {
    Sample s;
    s.row = table.rowNumbers[r];
    s.name = "row " + std::to_string(s.row);
    const auto& fields = table.rows[r];
    if (fields.size() != columns.size())
        s.problem = WidthProblem(s.row, fields.size(), columns.size(), table.delimiter);
    for (std::size_t c = 0; c < columns.size() && c < fields.size(); ++c) {
        const std::string& text = fields[c];
        const Column& column = columns[c];
        const auto gi = static_cast<std::size_t>(std::max(0, column.gas));
        const double share = column.total ? AtmosphericShare(column.gas) : 1;
        switch (column.kind) {
        case kName:
            if (!text.empty()) s.name = text;
            break;
        case kGas:
            s.measured[gi] = column.total ? IsotopeText(text, share, separator) : text;
            break;
        case kError:
            s.error[gi] = column.total ? IsotopeText(text, share, separator) : text;
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
        case kGroup:
            s.group = text;
            break;
        case kIgnored:
            break;
        }
    }
    return s;
}

} // namespace

ColumnUse UseOfColumn(const std::string& name) {
    switch (ColumnOf(name).kind) {
    case kIgnored:
        return ColumnUse::kNotRead;
    case kName:
    case kGroup:
        return ColumnUse::kText;
    default:
        return ColumnUse::kNumber;
    }
}

SampleColumns ReadSamples(const SampleTable& table, const StudyOptions& options, char separator) {
    SampleColumns out;
    std::vector<Column> columns;
    std::array<bool, GasCount> present{};
    for (const std::string& raw : table.header) {
        const Column c = ColumnOf(raw);
        if (c.kind == kIgnored) out.ignored.push_back(raw);
        if (c.kind == kGas) present[static_cast<std::size_t>(c.gas)] = true;
        columns.push_back(c);
    }
    RefuseTwice(columns, table.header);
    for (int g = 0; g < GasCount; ++g)
        if (options.gases[static_cast<std::size_t>(g)] && !present[static_cast<std::size_t>(g)])
            throw StudyError("the table has no column for " + GasName(g) + ", a fitted gas");
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (columns[c].total) out.notes.push_back(NoteOf(table.header[c], columns[c]));
    for (std::size_t r = 0; r < table.rows.size(); ++r)
        out.samples.push_back(SampleOfRow(table, r, columns, separator));
    return out;
}

} // namespace temra::study
