#include "study/sample_table.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

namespace temra::study {

namespace {

// The delimiter the first row holds most of, outside quotes.
char DetectDelimiter(std::string_view text) {
    std::size_t tabs = 0, semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        tabs += c == '\t';
        semicolons += c == ';';
        commas += c == ',';
    }
    if (tabs > 0 && tabs >= semicolons && tabs >= commas) return '\t';
    if (semicolons > 0 && semicolons >= commas) return ';';
    return ',';
}

// Only blanks are trimmed from unquoted fields: a tab may be the delimiter.
int IsBlank(unsigned char c) {
    return c == ' ' ? 1 : 0;
}

struct Reader {
    SampleTable table;
    std::vector<std::string> row;
    std::size_t rowNumber = 0;
};

void OnField(void* data, std::size_t length, void* context) {
    auto* r = static_cast<Reader*>(context);
    r->row.emplace_back(data ? static_cast<const char*>(data) : "", data ? length : 0);
}

void OnRow(int, void* context) {
    auto* r = static_cast<Reader*>(context);
    ++r->rowNumber;
    const bool blank =
        std::all_of(r->row.begin(), r->row.end(), [](const std::string& f) { return f.empty(); });
    if (!blank) {
        if (r->table.header.empty() && r->table.rows.empty()) {
            r->table.header = std::move(r->row);
        } else {
            r->table.rows.push_back(std::move(r->row));
            r->table.rowNumbers.push_back(r->rowNumber);
        }
    }
    r->row.clear();
}

struct ParserCloser {
    void operator()(csv_parser* p) const {
        csv_free(p);
        delete p;
    }
};

} // namespace

SampleTable ParseSampleTable(std::string_view text) {
    // A byte-order mark of a file saved by a spreadsheet program is no column name.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Reader reader;
    reader.table.delimiter = DetectDelimiter(text);
    std::unique_ptr<csv_parser, ParserCloser> parser(new csv_parser{});
    if (csv_init(parser.get(), CSV_APPEND_NULL) != 0)
        throw TableError("the table reader cannot be started");
    csv_set_delim(parser.get(), static_cast<unsigned char>(reader.table.delimiter));
    csv_set_space_func(parser.get(), IsBlank);
    if (csv_parse(parser.get(), text.data(), text.size(), OnField, OnRow, &reader) != text.size() ||
        csv_fini(parser.get(), OnField, OnRow, &reader) != 0)
        throw TableError(std::string("the table cannot be read: ") +
                         csv_strerror(csv_error(parser.get())));
    if (reader.table.header.empty()) throw TableError("the table is empty");
    return std::move(reader.table);
}

SampleTable ReadSampleTable(const std::string& path, std::uint64_t memoryBudget) {
    const std::string name = path == "-" ? std::string("standard input") : "\"" + path + "\"";
    std::ifstream file;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) throw TableError(name + " cannot be opened: " + std::strerror(errno));
    }
    std::istream& in = path == "-" ? std::cin : file;
    // The text and its fields take about four times the file's size.
    const std::uint64_t limit = memoryBudget / 4;
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit)
            throw TableError(name + " is larger than this process can read into memory");
    }
    if (in.bad()) throw TableError(name + " cannot be read: " + std::strerror(errno));
    try {
        return ParseSampleTable(text);
    } catch (const TableError& e) {
        throw TableError(name + ": " + e.what());
    }
}

} // namespace temra::study
