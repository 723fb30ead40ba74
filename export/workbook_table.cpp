#include "export/workbook_table.h"

#include "core/numtext.h"
#include "export/exports.h"
#include "study/input/samples.h"
#include "study/output/study_results.h"

#include <expat.h>
#include <unzip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace temra::xl {

namespace {

using study::TableError;

// The first bytes of a zip, and of an OLE compound file: an encrypted workbook,
// or one of the old .xls format.
constexpr std::string_view kZipMagic{"PK\x03\x04", 4};
constexpr std::string_view kOleMagic{"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8};
constexpr std::uint32_t kMostRows = 1048576, kMostColumns = 16384;

std::string FirstBytes(const std::string& path, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, file.gcount())));
    return bytes;
}

std::string Quoted(const std::string& text) {
    return "\"" + EchoText(text) + "\"";
}

// An element's or attribute's name without its namespace.
std::string_view Local(const XML_Char* name) {
    const std::string_view n(name);
    const auto space = n.rfind(' ');
    return space == std::string_view::npos ? n : n.substr(space + 1);
}

const char* Attribute(const XML_Char** attributes, std::string_view local) {
    for (const XML_Char** a = attributes; a[0]; a += 2)
        if (Local(a[0]) == local) return a[1];
    return nullptr;
}

// A part of the workbook parsed as XML. The handlers keep their exceptions from
// the parser (a C library): the first stops it and is raised once it has returned.
class XmlPart {
  public:
    XmlPart() = default;
    XmlPart(const XmlPart&) = delete;
    XmlPart& operator=(const XmlPart&) = delete;
    virtual ~XmlPart() = default;

    void Parse(const std::string& text, const std::string& label) {
        std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
            XML_ParserCreateNS("UTF-8", ' '), &XML_ParserFree);
        if (!parser) throw std::bad_alloc();
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, OnStart, OnEnd);
        XML_SetCharacterDataHandler(parser_, OnText);
        const auto status =
            XML_Parse(parser_, text.data(), static_cast<int>(text.size()), XML_TRUE);
        if (failure_) std::rethrow_exception(failure_);
        if (status != XML_STATUS_OK)
            throw TableError(label + " is damaged: " + XML_ErrorString(XML_GetErrorCode(parser_)) +
                             " at line " + std::to_string(XML_GetCurrentLineNumber(parser_)));
    }

  protected:
    virtual void Start(std::string_view name, const XML_Char** attributes) = 0;
    virtual void End(std::string_view /*name*/) {}
    virtual void Text(std::string_view /*text*/) {}

  private:
    template <typename Fn> static void Guard(void* data, Fn&& fn) {
        auto* self = static_cast<XmlPart*>(data);
        if (self->failure_) return;
        try {
            fn(*self);
        } catch (...) {
            self->failure_ = std::current_exception();
            XML_StopParser(self->parser_, XML_FALSE);
        }
    }
    static void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        Guard(data, [&](XmlPart& self) { self.Start(Local(name), attributes); });
    }
    static void XMLCALL OnEnd(void* data, const XML_Char* name) {
        Guard(data, [&](XmlPart& self) { self.End(Local(name)); });
    }
    static void XMLCALL OnText(void* data, const XML_Char* text, int length) {
        Guard(data, [&](XmlPart& self) {
            self.Text(std::string_view(text, static_cast<std::size_t>(length)));
        });
    }

    XML_Parser parser_ = nullptr;
    std::exception_ptr failure_;
};

struct UnzipCloser {
    void operator()(void* zip) const {
        if (zip) unzClose(zip);
    }
};

// The workbook's zip, its parts read within the memory left.
class Zip {
  public:
    Zip(const std::string& path, std::string label, std::uint64_t budget)
        : zip_(unzOpen64(path.c_str())), label_(std::move(label)), budget_(budget) {
        if (!zip_) throw TableError(label_ + " cannot be read as a workbook: it is damaged");
    }

    // The part's text; nothing when the workbook has no such part.
    std::optional<std::string> Part(const std::string& entry) {
        if (unzLocateFile(zip_.get(), entry.c_str(), 1) != UNZ_OK) return std::nullopt;
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip_.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            throw TableError(label_ + " is damaged: its part " + Quoted(entry) + " cannot be read");
        // A part is held once as its text and about once again as what it holds.
        if (info.uncompressed_size > budget_ / 2)
            throw TableError(label_ + ": its part " + Quoted(entry) + " (" +
                             CountText(static_cast<double>(info.uncompressed_size)) +
                             " bytes) needs more memory than this process may use");
        budget_ -= 2 * info.uncompressed_size;
        if (unzOpenCurrentFile(zip_.get()) != UNZ_OK)
            throw TableError(label_ + " is damaged: its part " + Quoted(entry) +
                             " cannot be opened");
        std::string text(info.uncompressed_size, '\0');
        const int n = text.empty() ? 0
                                   : unzReadCurrentFile(zip_.get(), text.data(),
                                                        static_cast<unsigned>(text.size()));
        const bool whole =
            n == static_cast<int>(text.size()) && unzCloseCurrentFile(zip_.get()) == UNZ_OK;
        if (!whole) throw TableError(label_ + " is damaged: its part " + Quoted(entry) + " is cut");
        return text;
    }
    std::string Required(const std::string& entry) {
        auto text = Part(entry);
        if (!text) throw TableError(label_ + " is damaged: it lacks its part " + Quoted(entry));
        return std::move(*text);
    }
    const std::string& Label() const { return label_; }

  private:
    std::unique_ptr<void, UnzipCloser> zip_;
    std::string label_;
    std::uint64_t budget_;
};

// xl/workbook.xml: the sheets in order, each with its relationship.
struct SheetEntry {
    std::string name, id;
};
class WorkbookPart : public XmlPart {
  public:
    std::vector<SheetEntry> sheets;

  protected:
    void Start(std::string_view name, const XML_Char** a) override {
        if (name != "sheet") return;
        const char* sheet = Attribute(a, "name");
        const char* id = Attribute(a, "id");
        if (sheet && id) sheets.push_back({sheet, id});
    }
};

// xl/_rels/workbook.xml.rels: each relationship's part.
class RelationsPart : public XmlPart {
  public:
    std::map<std::string, std::string> targets;

  protected:
    void Start(std::string_view name, const XML_Char** a) override {
        const char* id = Attribute(a, "Id");
        const char* target = Attribute(a, "Target");
        if (name == "Relationship" && id && target) targets[id] = target;
    }
};

// xl/sharedStrings.xml: each string's text, its phonetic runs left out.
class StringsPart : public XmlPart {
  public:
    std::vector<std::string> strings;

  protected:
    void Start(std::string_view name, const XML_Char**) override {
        if (name == "si") strings.emplace_back();
        if (name == "rPh") ++phonetic_;
        inText_ = name == "t" && phonetic_ == 0 && !strings.empty();
    }
    void End(std::string_view name) override {
        if (name == "rPh") --phonetic_;
        if (name == "t") inText_ = false;
    }
    void Text(std::string_view text) override {
        if (inText_) strings.back().append(text);
    }

  private:
    int phonetic_ = 0;
    bool inText_ = false;
};

// Whether a number format shows a date or a time: Excel's built-in ones, or a
// code with a date's or time's letters outside quoted texts, escapes and
// brackets (a colour, a condition; [h], [m] and [s] are elapsed time).
bool IsDateFormat(int id, const std::string& code) {
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
        (id >= 50 && id <= 58))
        return true;
    std::string lower;
    for (const char c : code)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 0; i < lower.size(); ++i) {
        const char c = lower[i];
        if (lower.compare(i, 7, "general") == 0) {
            i += 6;
        } else if (c == '"') {
            i = std::min(lower.size(), lower.find('"', i + 1));
        } else if (c == '\\' || c == '_' || c == '*' ||
                   (c == 'e' && i + 1 < lower.size() &&
                    (lower[i + 1] == '+' || lower[i + 1] == '-'))) {
            ++i; // the character escaped or repeated, or the sign of an exponent
        } else if (c == '[') {
            const std::size_t end = std::min(lower.size(), lower.find(']', i));
            const std::string inside = lower.substr(i + 1, end - i - 1);
            if (!inside.empty() && inside.find_first_not_of("hms") == std::string::npos)
                return true;
            i = end;
        } else if (c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 's') {
            return true;
        }
    }
    return false;
}

// xl/styles.xml: whether each cell format shows a date.
class StylesPart : public XmlPart {
  public:
    std::vector<bool> dates;

  protected:
    void Start(std::string_view name, const XML_Char** a) override {
        if (name == "numFmt") {
            const char* id = Attribute(a, "numFmtId");
            const char* code = Attribute(a, "formatCode");
            if (id && code) codes_[std::atoi(id)] = code;
        } else if (name == "cellXfs") {
            inCellFormats_ = true;
        } else if (name == "xf" && inCellFormats_) {
            const char* id = Attribute(a, "numFmtId");
            const int number = id ? std::atoi(id) : 0;
            const auto code = codes_.find(number);
            dates.push_back(IsDateFormat(number, code == codes_.end() ? "" : code->second));
        }
    }
    void End(std::string_view name) override {
        if (name == "cellXfs") inCellFormats_ = false;
    }

  private:
    std::map<int, std::string> codes_;
    bool inCellFormats_ = false;
};

// What keeps a cell's value from being read where the study reads it.
enum class Fault { kNone, kFormula, kDate, kError };
struct Cell {
    std::string text;
    Fault fault = Fault::kNone;
};
using Rows = std::map<std::uint32_t, std::map<std::uint32_t, Cell>>;

// A cell's address ("AB12") as its column and row; nothing when it is none.
std::optional<std::pair<std::uint32_t, std::uint32_t>> Address(std::string_view ref) {
    std::uint32_t column = 0, row = 0;
    std::size_t i = 0;
    for (; i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])); ++i)
        column = column * 26 + static_cast<std::uint32_t>(std::toupper(ref[i]) - 'A' + 1);
    const std::size_t letters = i;
    for (; i < ref.size() && std::isdigit(static_cast<unsigned char>(ref[i])) && row <= kMostRows;
         ++i)
        row = row * 10 + static_cast<std::uint32_t>(ref[i] - '0');
    if (letters == 0 || letters > 3 || i != ref.size() || column > kMostColumns || row == 0 ||
        row > kMostRows)
        return std::nullopt;
    return std::make_pair(column, row);
}

std::string ColumnLetters(std::uint32_t column) {
    std::string letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
    return letters;
}

// A sheet's cells and merged ranges.
class SheetPart : public XmlPart {
  public:
    SheetPart(const std::vector<std::string>& strings, const std::vector<bool>& dates,
              std::string label)
        : strings_(strings), dates_(dates), label_(std::move(label)) {}
    Rows rows;
    std::vector<std::string> merged;

  protected:
    void Start(std::string_view name, const XML_Char** a) override {
        if (name == "row") {
            const char* r = Attribute(a, "r");
            row_ = r ? static_cast<std::uint32_t>(std::strtoul(r, nullptr, 10)) : row_ + 1;
            if (row_ == 0 || row_ > kMostRows) Damaged("a row's number");
            column_ = 0;
        } else if (name == "c") {
            BeginCell(a);
        } else if (name == "f") {
            cell_.formula = true;
        } else if (name == "v" || (name == "t" && inCell_)) {
            inValue_ = true;
        } else if (name == "mergeCell") {
            if (const char* ref = Attribute(a, "ref")) merged.emplace_back(ref);
        }
    }
    void End(std::string_view name) override {
        if (name == "v" || name == "t") inValue_ = false;
        if (name == "c") EndCell();
    }
    void Text(std::string_view text) override {
        if (inValue_) cell_.value.append(text);
    }

  private:
    struct Open {
        std::string type, value;
        int style = 0;
        bool formula = false;
    };

    [[noreturn]] void Damaged(const std::string& what) const {
        throw TableError(label_ + " is damaged: " + what + " is not one");
    }

    void BeginCell(const XML_Char** a) {
        inCell_ = true;
        cell_ = Open{};
        if (const char* r = Attribute(a, "r")) {
            const auto at = Address(r);
            if (!at || at->second != row_) Damaged("the cell address " + Quoted(r));
            column_ = at->first;
        } else if (++column_ > kMostColumns) {
            Damaged("a cell's column");
        }
        if (const char* t = Attribute(a, "t")) cell_.type = t;
        if (const char* s = Attribute(a, "s")) cell_.style = std::atoi(s);
    }

    void EndCell() {
        inCell_ = false;
        Cell cell;
        const std::string& t = cell_.type;
        if (t == "s") {
            const auto i = static_cast<std::size_t>(std::strtoul(cell_.value.c_str(), nullptr, 10));
            if (cell_.value.empty() || i >= strings_.size()) Damaged("a shared string's number");
            cell.text = strings_[i];
        } else if (t == "b") {
            cell.text = cell_.value == "1" ? "TRUE" : "FALSE";
        } else {
            cell.text = cell_.value;
        }
        const bool number = t.empty() || t == "n";
        // A number in its shortest exact text ("4.828E-008" as 4.828e-08).
        if (number && !cell.text.empty()) {
            double value = 0;
            const auto [end, error] =
                std::from_chars(cell.text.data(), cell.text.data() + cell.text.size(), value);
            if (error == std::errc() && end == cell.text.data() + cell.text.size())
                cell.text = ExactText(value);
        }
        const auto style = static_cast<std::size_t>(std::max(0, cell_.style));
        if (t == "e") cell.fault = Fault::kError;
        if (t == "d" || (number && !cell.text.empty() && style < dates_.size() && dates_[style]))
            cell.fault = Fault::kDate;
        if (cell_.formula && cell_.value.empty()) cell.fault = Fault::kFormula;
        if (!cell.text.empty() || cell.fault != Fault::kNone) rows[row_][column_] = std::move(cell);
    }

    const std::vector<std::string>& strings_;
    const std::vector<bool>& dates_;
    std::string label_;
    std::uint32_t row_ = 0, column_ = 0;
    bool inCell_ = false, inValue_ = false;
    Open cell_;
};

// The part of a relationship's target, from the top of the zip.
std::string PartOf(const std::string& target) {
    if (!target.empty() && target.front() == '/') return target.substr(1);
    return "xl/" + target;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The sheet to read: the one named (exactly, else without regard to case), or
// the first, or Temra's study's samples.
const SheetEntry& ChooseSheet(const std::vector<SheetEntry>& sheets, const std::string& wanted,
                              const std::string& label) {
    if (sheets.empty()) throw TableError(label + " is damaged: it lists no sheet");
    auto named = [&](const std::string& name, bool exact) {
        return std::find_if(sheets.begin(), sheets.end(), [&](const SheetEntry& s) {
            return exact ? s.name == name : Lower(s.name) == Lower(name);
        });
    };
    if (wanted.empty()) {
        const auto samples = named(kSamplesSheet, true);
        if (sheets.front().name == kStudySheet && samples != sheets.end()) return *samples;
        return sheets.front();
    }
    if (const auto s = named(wanted, true); s != sheets.end()) return *s;
    if (const auto s = named(wanted, false); s != sheets.end()) return *s;
    std::string names;
    for (const SheetEntry& s : sheets) names += (names.empty() ? "" : ", ") + Quoted(s.name);
    throw TableError(label + " has no sheet " + Quoted(wanted) + "; its sheets: " + names,
                     OptionCulprit("sheet"));
}

bool Blank(const std::map<std::uint32_t, Cell>& row) {
    return std::all_of(row.begin(), row.end(), [](const auto& c) {
        return c.second.text.find_first_not_of(" \t") == std::string::npos;
    });
}

// The header: the first row that names a gas's column, else the first that is
// not blank.
Rows::const_iterator HeaderOf(const Rows& rows) {
    for (auto r = rows.begin(); r != rows.end(); ++r)
        for (const auto& [column, cell] : r->second)
            if (study::GasOfColumn(cell.text) >= 0) return r;
    return std::find_if(rows.begin(), rows.end(), [](const auto& r) { return !Blank(r.second); });
}

bool IsNumber(const std::string& text) {
    try {
        ParseDouble(text, FieldRef{}, '.');
        return true;
    } catch (const TemraError&) {
        return false;
    }
}

// What a sheet's rows give as a table.
class TableOfRows {
  public:
    // `label` names the sheet and its file (the refusals), `sheet` the sheet alone
    // (the note of what was read).
    TableOfRows(const Rows& rows, std::string label, std::string sheet)
        : rows_(rows), label_(std::move(label)), sheet_(std::move(sheet)) {}

    TableFile Make(const std::vector<std::string>& merged) {
        const auto header = HeaderOf(rows_);
        if (header == rows_.end()) throw TableError(label_ + " is empty");
        ReadHeader(header);
        CheckMerged(merged, header->first);
        auto next = std::next(header);
        if (next != rows_.end() && next->first == header->first + 1 && IsUnits(next->second)) {
            notes_.push_back("row " + std::to_string(next->first) +
                             " read as the columns' units, not a sample");
            ++next;
        }
        for (; next != rows_.end(); ++next) AddRow(*next);
        TableFile file;
        file.table = std::move(table_);
        for (const std::string& n : notes_) file.note += (file.note.empty() ? "" : "; ") + n;
        if (!file.note.empty()) file.note = sheet_ + ": " + file.note;
        return file;
    }

  private:
    void ReadHeader(Rows::const_iterator header) {
        std::uint32_t width = 0;
        for (auto r = header; r != rows_.end(); ++r)
            for (const auto& [column, cell] : r->second)
                if (!cell.text.empty()) width = std::max(width, column);
        for (std::uint32_t c = 1; c <= width; ++c) {
            const auto cell = header->second.find(c);
            const bool named = cell != header->second.end() && !Blank({*cell});
            table_.header.push_back(named ? cell->second.text : "column " + ColumnLetters(c));
            uses_.push_back(study::UseOfColumn(table_.header.back()));
        }
        std::size_t titles = 0;
        std::uint32_t first = 0;
        for (auto r = rows_.begin(); r != header; ++r)
            if (!Blank(r->second)) {
                if (titles++ == 0) first = r->first;
            }
        if (titles > 0)
            notes_.push_back(
                (first + 1 == header->first ? "row " + std::to_string(first)
                                            : "rows " + std::to_string(first) + " to " +
                                                  std::to_string(header->first - 1)) +
                " above the header (row " + std::to_string(header->first) + ") skipped as titles");
        for (auto r = header; r != rows_.end(); ++r) CheckCells(*r);
    }

    study::ColumnUse UseOf(std::uint32_t column) const {
        return column <= uses_.size() ? uses_[column - 1] : study::ColumnUse::kNotRead;
    }

    // A cell of a column the study reads holds a value it can read.
    void CheckCells(const Rows::value_type& row) const {
        for (const auto& [column, cell] : row.second) {
            if (cell.fault == Fault::kNone || UseOf(column) == study::ColumnUse::kNotRead) continue;
            const std::string where = "cell " + ColumnLetters(column) + std::to_string(row.first) +
                                      " (" + Quoted(table_.header[column - 1]) + ") of " + label_;
            const Culprit at{
                .row = row.first, .column = column, .columnName = table_.header[column - 1]};
            if (cell.fault == Fault::kFormula)
                throw TableError(where + " holds a formula without a stored value: open the "
                                         "workbook in a spreadsheet program and save it, so that "
                                         "its values are stored with it",
                                 at);
            if (cell.fault == Fault::kDate)
                throw TableError(where + " holds a date (" + cell.text +
                                     ") where the study reads a value; give the value itself, "
                                     "formatted as a number",
                                 at);
            throw TableError(
                where + " holds the error value " + cell.text + "; give the value itself", at);
        }
    }

    void CheckMerged(const std::vector<std::string>& merged, std::uint32_t headerRow) const {
        for (const std::string& ref : merged) {
            const auto colon = ref.find(':');
            const auto first = Address(ref.substr(0, colon));
            const auto last = colon == std::string::npos ? first : Address(ref.substr(colon + 1));
            if (!first || !last) continue;
            if (last->second < headerRow) continue; // a title above the table
            for (std::uint32_t c = first->first; c <= last->first; ++c)
                if (UseOf(c) != study::ColumnUse::kNotRead)
                    throw TableError("the cells " + ref + " of " + label_ +
                                         " are merged within the table; unmerge them, so that "
                                         "each value stands in its own cell",
                                     Culprit{.row = first->second, .column = c});
        }
    }

    // A row of the columns' units: texts and no number where the study reads numbers.
    bool IsUnits(const std::map<std::uint32_t, Cell>& row) const {
        bool text = false;
        for (const auto& [column, cell] : row) {
            if (UseOf(column) != study::ColumnUse::kNumber || cell.text.empty()) continue;
            if (IsNumber(cell.text)) return false;
            text = true;
        }
        return text;
    }

    void AddRow(const Rows::value_type& row) {
        if (Blank(row.second)) return;
        std::vector<std::string> fields(table_.header.size());
        for (const auto& [column, cell] : row.second)
            if (column <= fields.size()) fields[column - 1] = cell.text;
        table_.rows.push_back(std::move(fields));
        table_.rowNumbers.push_back(row.first);
    }

    const Rows& rows_;
    std::string label_, sheet_;
    study::SampleTable table_;
    std::vector<study::ColumnUse> uses_;
    std::vector<std::string> notes_;
};

// A sheet of a workbook, parsed: its cells and merged ranges.
struct ParsedSheet {
    Rows rows;
    std::vector<std::string> merged;
    std::string label, sheet; // the sheet with its file's name, and alone
};

// The sheet `sheet` of the workbook (as ChooseSheet takes it); with `onlyStudy`,
// nothing unless the workbook is a "Study Results" of Temra's.
std::optional<ParsedSheet> ParseSheet(const std::string& path, const std::string& sheet,
                                      std::uint64_t budget, bool onlyStudy = false) {
    const std::string name = Quoted(path);
    Zip zip(path, name, budget);
    WorkbookPart workbook;
    workbook.Parse(zip.Required("xl/workbook.xml"), name);
    if (onlyStudy && (workbook.sheets.empty() || workbook.sheets.front().name != kStudySheet))
        return std::nullopt;
    RelationsPart relations;
    relations.Parse(zip.Required("xl/_rels/workbook.xml.rels"), name);
    const SheetEntry& chosen = ChooseSheet(workbook.sheets, sheet, name);
    ParsedSheet parsed;
    parsed.sheet = "the sheet " + Quoted(chosen.name);
    parsed.label = parsed.sheet + " of " + name;
    const auto target = relations.targets.find(chosen.id);
    if (target == relations.targets.end())
        throw TableError(name + " is damaged: the part of the sheet " + Quoted(chosen.name) +
                         " is not named");
    StringsPart strings;
    if (auto text = zip.Part("xl/sharedStrings.xml")) strings.Parse(*text, name);
    StylesPart styles;
    if (auto text = zip.Part("xl/styles.xml")) styles.Parse(*text, name);
    SheetPart part(strings.strings, styles.dates, parsed.label);
    part.Parse(zip.Required(PartOf(target->second)), parsed.label);
    parsed.rows = std::move(part.rows);
    parsed.merged = std::move(part.merged);
    return parsed;
}

} // namespace

bool IsZipFile(const std::string& path) {
    return path != "-" && FirstBytes(path, kZipMagic.size()) == kZipMagic;
}

TableFile ReadTableFile(const std::string& path, const std::string& sheet,
                        std::uint64_t memoryBudget) {
    if (path != "-" && FirstBytes(path, kOleMagic.size()) == kOleMagic)
        throw TableError(Quoted(path) + " is an encrypted workbook, or one of the old .xls "
                                        "format; save it as an .xlsx workbook without a password");
    if (IsZipFile(path)) {
        try {
            const ParsedSheet parsed = *ParseSheet(path, sheet, memoryBudget);
            return TableOfRows(parsed.rows, parsed.label, parsed.sheet).Make(parsed.merged);
        } catch (const std::bad_alloc&) {
            throw TableError(Quoted(path) + " needs more memory than this process may use");
        }
    }
    if (!sheet.empty())
        throw TableError((path == "-" ? std::string("standard input") : Quoted(path)) +
                             " is a CSV table, not a workbook: it has no sheet " + Quoted(sheet),
                         OptionCulprit("sheet"));
    return {study::ReadSampleTable(path, memoryBudget), {}};
}

std::vector<std::string> SheetNames(const std::string& path, std::uint64_t memoryBudget) {
    if (!IsZipFile(path)) return {};
    const std::string name = Quoted(path);
    Zip zip(path, name, memoryBudget);
    WorkbookPart workbook;
    workbook.Parse(zip.Required("xl/workbook.xml"), name);
    std::vector<std::string> names;
    names.reserve(workbook.sheets.size());
    for (const SheetEntry& s : workbook.sheets) names.push_back(s.name);
    return names;
}

std::optional<study::StudyOptions> FittedOptionsOf(const std::string& path,
                                                   std::uint64_t memoryBudget) {
    if (!IsZipFile(path)) return std::nullopt;
    const auto settings = ParseSheet(path, kSettingsSheet, memoryBudget, true);
    if (!settings) return std::nullopt;
    for (const auto& [row, cells] : settings->rows) {
        const auto key = cells.find(1), value = cells.find(2);
        if (key != cells.end() && value != cells.end() && key->second.text == study::kRefitSetting)
            return study::OptionsOfLine(value->second.text);
    }
    return std::nullopt;
}

} // namespace temra::xl
