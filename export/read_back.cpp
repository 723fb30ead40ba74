#include "export/read_back.h"

#include "core/numtext.h"
#include "export/xml_text.h"

#include <expat.h>
#include <unzip.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace temra::xl {

namespace {

// Element names as the parser gives them: the namespace, a space, the local name.
constexpr const char* kWorksheet =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main worksheet";
constexpr const char* kRow = "http://schemas.openxmlformats.org/spreadsheetml/2006/main row";
constexpr const char* kCell = "http://schemas.openxmlformats.org/spreadsheetml/2006/main c";

// The parts without which no spreadsheet program opens a workbook.
constexpr std::array<const char*, 4> kRequiredParts = {
    "[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"};

struct UnzipCloser {
    void operator()(void* zip) const {
        if (zip) unzClose(zip);
    }
};

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

// The rows and cells a sheet holds.
struct SheetCounts {
    std::uint64_t rows = 0;
    std::uint64_t cells = 0;
};

// What the parse of one part has met so far. The parser's handlers only count and
// copy into fixed space: nothing in them allocates or throws.
struct PartState {
    bool sheet = false; // a sheet: its rows and cells are counted
    int depth = 0;
    bool worksheetRoot = false;
    SheetCounts counts;
    bool inCell = false;
    std::array<char, 16> lastCell{}; // the address of the last cell begun ("XFD1048576")
};

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<PartState*>(data);
    if (state.depth++ == 0) state.worksheetRoot = std::strcmp(name, kWorksheet) == 0;
    if (!state.sheet) return;
    if (std::strcmp(name, kRow) == 0) {
        ++state.counts.rows;
    } else if (std::strcmp(name, kCell) == 0) {
        ++state.counts.cells;
        state.inCell = true;
        state.lastCell[0] = '\0';
        for (const XML_Char** a = attributes; a[0]; a += 2)
            if (std::strcmp(a[0], "r") == 0)
                std::snprintf(state.lastCell.data(), state.lastCell.size(), "%s", a[1]);
    }
}

void XMLCALL EndElement(void* data, const XML_Char* name) {
    auto& state = *static_cast<PartState*>(data);
    --state.depth;
    if (state.sheet && std::strcmp(name, kCell) == 0) state.inCell = false;
}

std::string Hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

// The bytes of one character that is not UTF-8: "the byte 0xC3, which is not
// UTF-8,", "the bytes 0xE2 0x28, which are not UTF-8,".
std::string NotUtf8Text(std::string_view bytes) {
    std::string list;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        list += (i ? " 0x" : "0x") + Hex(static_cast<unsigned char>(bytes[i]), 2);
    return (bytes.size() == 1 ? "the byte " : "the bytes ") + list +
           (bytes.size() == 1 ? ", which is not UTF-8," : ", which are not UTF-8,");
}

// The first character of `token` (what follows the place the parser stopped at,
// the token it could not take first) that XML cannot take: bytes that are not
// UTF-8, or a character XML does not allow. Nothing when its first 256 bytes hold
// none, or when the bytes at fault are cut by the end of what was read.
std::optional<std::string> BadCharacterText(std::string_view token) {
    for (std::size_t at = 0; at < token.size() && at < 256;) {
        const Utf8Char c = FirstChar(token.substr(at));
        if (!c.valid) {
            if (at + c.length >= token.size()) break; // cut by the end of what was read
            return NotUtf8Text(token.substr(at, c.length));
        }
        if (!IsXmlChar(c.code))
            return std::string(c.code < 0x20 ? "the control character" : "the character") + " U+" +
                   Hex(c.code, 4) + ", which XML does not allow,";
        at += c.length;
    }
    return std::nullopt;
}

// What the parser stopped at. Where it met a character it cannot take, the bytes
// say more than its "not well-formed (invalid token)".
std::string FaultText(XML_Parser parser) {
    const XML_Error code = XML_GetErrorCode(parser);
    const char* general = XML_ErrorString(code);
    if (code != XML_ERROR_INVALID_TOKEN) return general;
    int offset = 0, size = 0;
    const char* context = XML_GetInputContext(parser, &offset, &size);
    if (!context || offset < 0 || offset >= size) return general;
    const std::string_view rest(context + offset, static_cast<std::size_t>(size - offset));
    return BadCharacterText(rest).value_or(general);
}

// Where the parser stopped: the line and column, and in a sheet the cell.
std::string FaultPlace(XML_Parser parser, const PartState& state) {
    const std::string place = "line " + std::to_string(XML_GetCurrentLineNumber(parser)) +
                              ", column " + std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
    if (!state.sheet || state.lastCell[0] == '\0') return "at " + place;
    return std::string(state.inCell ? "in cell " : "after cell ") + state.lastCell.data() + " (" +
           place + ")";
}

// Faults the parser meets only because the part ends too soon.
bool EndsTooSoon(XML_Error code) {
    return code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN ||
           code == XML_ERROR_PARTIAL_CHAR || code == XML_ERROR_UNCLOSED_CDATA_SECTION;
}

// Parses the zip's current part as XML in UTF-8; `label` names it in a fault.
void ParsePart(unzFile zip, const std::string& label, PartState& state, RunControl& control) {
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        throw SpreadsheetError(label + " cannot be read back from the written file");
    // UTF-8 whatever the part declares: a workbook's parts are written in it.
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS("UTF-8", ' '));
    if (!parser) throw std::bad_alloc();
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), StartElement, EndElement);
    std::vector<char> buffer(std::size_t{1} << 16);
    std::uint64_t rowsCounted = 0;
    for (;;) {
        const int n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0) throw SpreadsheetError(label + " cannot be read back from the written file");
        const bool last = n == 0;
        if (XML_Parse(parser.get(), buffer.data(), n, last ? XML_TRUE : XML_FALSE) !=
            XML_STATUS_OK) {
            if (last && EndsTooSoon(XML_GetErrorCode(parser.get())))
                throw SpreadsheetError(label + " was cut short while it was written");
            throw SpreadsheetError(label + " is not well-formed XML in the written file: " +
                                   FaultText(parser.get()) + " " + FaultPlace(parser.get(), state));
        }
        control.Advance(state.counts.rows - rowsCounted);
        rowsCounted = state.counts.rows;
        if (last) break;
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        throw SpreadsheetError(label + " is damaged in the written file");
    if (state.sheet && !state.worksheetRoot)
        throw SpreadsheetError(label + " in the written file is not a sheet");
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The number of a sheet's part ("xl/worksheets/sheet3.xml" -> 3); 0 for any other.
std::size_t SheetNumber(std::string_view entry) {
    constexpr std::string_view kPrefix = "xl/worksheets/sheet", kSuffix = ".xml";
    if (entry.size() <= kPrefix.size() + kSuffix.size() ||
        entry.substr(0, kPrefix.size()) != kPrefix || !EndsWith(entry, kSuffix))
        return 0;
    const std::string_view digits =
        entry.substr(kPrefix.size(), entry.size() - kPrefix.size() - kSuffix.size());
    std::size_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() ? number : 0;
}

// The rows and cells the workbook's sheet has: a row counts when it has a cell.
SheetCounts CountsOf(const Worksheet& sheet) {
    SheetCounts counts;
    for (std::uint32_t r = 1; r <= sheet.RowCount(); ++r) {
        std::uint64_t inRow = 0;
        for (std::uint32_t c = 1; c <= sheet.ColumnCount(); ++c) {
            const Worksheet::CellRef cell = sheet.Peek(r, c);
            if (cell.number || (cell.text && !cell.text->empty())) ++inRow;
        }
        counts.cells += inRow;
        counts.rows += inRow > 0;
    }
    return counts;
}

// The name of the zip's current part; nothing when its entry cannot be read.
std::optional<std::string> CurrentPartName(unzFile zip) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return std::nullopt;
    std::string entry(info.size_filename, '\0');
    if (unzGetCurrentFileInfo64(zip, &info, entry.data(), info.size_filename, nullptr, 0, nullptr,
                                0) != UNZ_OK)
        return std::nullopt;
    return entry;
}

using Sheets = std::vector<std::unique_ptr<Worksheet>>;

// What the written file holds: the rows and cells of each of the workbook's
// sheets, and which of the required parts.
struct PartsFound {
    std::vector<std::optional<SheetCounts>> sheets;
    std::array<bool, kRequiredParts.size()> required{};
};

// Parses the part `entry` (the zip's current one) and notes in `found` what it is.
void ReadPart(unzFile zip, const std::string& entry, const Sheets& sheets, PartsFound& found,
              RunControl& control) {
    PartState state;
    const std::size_t number = SheetNumber(entry);
    state.sheet = number >= 1 && number <= sheets.size();
    const std::string label = state.sheet ? "the sheet \"" + sheets[number - 1]->Name() + "\""
                                          : "the part \"" + entry + "\"";
    ParsePart(zip, label, state, control);
    if (state.sheet) found.sheets[number - 1] = state.counts;
    for (std::size_t i = 0; i < kRequiredParts.size(); ++i)
        if (entry == kRequiredParts[i]) found.required[i] = true;
}

// Every part of the written file that is XML, parsed in the order the zip lists them.
PartsFound ReadParts(unzFile zip, const Sheets& sheets, RunControl& control) {
    PartsFound found;
    found.sheets.resize(sheets.size());
    int status = unzGoToFirstFile(zip);
    for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
        const std::optional<std::string> entry = CurrentPartName(zip);
        if (!entry) break;
        if (!EndsWith(*entry, ".xml") && !EndsWith(*entry, ".rels")) continue;
        ReadPart(zip, *entry, sheets, found, control);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE)
        throw SpreadsheetError("the written file is damaged: its list of parts cannot be read");
    return found;
}

void RequireParts(const PartsFound& found) {
    for (std::size_t i = 0; i < kRequiredParts.size(); ++i)
        if (!found.required[i])
            throw SpreadsheetError("the written file lacks its part \"" +
                                   std::string(kRequiredParts[i]) + "\"");
}

// Every sheet of the workbook is in the written file with all its rows and cells.
void RequireWholeSheets(const Sheets& sheets, const PartsFound& found) {
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string& name = sheets[i]->Name();
        const std::optional<SheetCounts>& read = found.sheets[i];
        if (!read)
            throw SpreadsheetError("the sheet \"" + name + "\" is missing from the written file");
        const SheetCounts expected = CountsOf(*sheets[i]);
        if (read->rows != expected.rows || read->cells != expected.cells)
            throw SpreadsheetError("the sheet \"" + name + "\" holds " +
                                   CountText(static_cast<double>(read->rows)) + " of its " +
                                   CountText(static_cast<double>(expected.rows)) + " rows (" +
                                   CountText(static_cast<double>(read->cells)) + " of its " +
                                   CountText(static_cast<double>(expected.cells)) +
                                   " cells) in the written file; the disk may be full");
    }
}

} // namespace

void ReadBackXlsx(const Workbook& workbook, const std::filesystem::path& path,
                  RunControl& control) {
    std::unique_ptr<void, UnzipCloser> zip(unzOpen64(path.c_str()));
    if (!zip) throw SpreadsheetError("the written file cannot be read back as a workbook");
    const PartsFound found = ReadParts(zip.get(), workbook.AllSheets(), control);
    RequireParts(found);
    RequireWholeSheets(workbook.AllSheets(), found);
}

} // namespace temra::xl
