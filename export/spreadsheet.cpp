#include "export/spreadsheet.h"

#include "core/numtext.h"
#include "export/read_back.h"
#include "export/xml_text.h"
#include "platform/platform.h"

#include <xlsxwriter.h>

#include <clocale>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace temra::xl {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Column letters to a column number: "a" -> 1, "J" -> 10, "aa" -> 27.
std::uint32_t ColumnNumber(std::string_view letters, std::string_view whole) {
    if (letters.empty() || letters.size() > 3)
        throw SpreadsheetError("bad cell address \"" + std::string(whole) + "\"");
    std::uint32_t n = 0;
    for (char c : letters) {
        if (!std::isalpha(static_cast<unsigned char>(c)))
            throw SpreadsheetError("bad cell address \"" + std::string(whole) + "\"");
        n = n * 26 +
            static_cast<std::uint32_t>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 1);
    }
    if (n > kMaxColumns) throw SpreadsheetError("column beyond the sheet: " + std::string(whole));
    return n;
}

void CheckCell(std::uint32_t row, std::uint32_t column) {
    if (row < 1 || row > kMaxRows)
        throw SpreadsheetError("row " + CountText(row) + " lies beyond the " + CountText(kMaxRows) +
                               " rows a sheet holds");
    if (column < 1 || column > kMaxColumns)
        throw SpreadsheetError("column " + std::to_string(column) + " lies beyond the sheet");
}

} // namespace

std::pair<std::uint32_t, std::uint32_t> ParseAddress(std::string_view address) {
    std::size_t i = 0;
    while (i < address.size() && std::isalpha(static_cast<unsigned char>(address[i]))) ++i;
    const std::uint32_t column = ColumnNumber(address.substr(0, i), address);
    std::uint64_t row = 0;
    if (i == address.size())
        throw SpreadsheetError("bad cell address \"" + std::string(address) + "\"");
    for (; i < address.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(address[i])) || row > kMaxRows)
            throw SpreadsheetError("bad cell address \"" + std::string(address) + "\"");
        row = row * 10 + static_cast<std::uint64_t>(address[i] - '0');
    }
    CheckCell(static_cast<std::uint32_t>(std::min<std::uint64_t>(row, kMaxRows + 1)), column);
    return {static_cast<std::uint32_t>(row), column};
}

std::string CellAddress(std::uint32_t row, std::uint32_t column) {
    std::string letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
    return letters + std::to_string(row);
}

void Range::Value(const CellValue& value) {
    sheet_.Set(row_, column_, value);
}

void Columns::ColumnWidth(double width) {
    if (!(width >= 0 && width <= 255)) throw SpreadsheetError("column width out of range");
    for (auto c = first_; c <= last_; ++c) sheet_.At(c).format.width = width;
}

void Columns::HorizontalAlignment(int code) {
    if (code != kAlignCenter && code != kAlignLeft)
        throw SpreadsheetError("unknown horizontal alignment " + std::to_string(code));
    for (auto c = first_; c <= last_; ++c) sheet_.At(c).format.horizontal = code;
}

void Columns::VerticalAlignment(int code) {
    if (code != kAlignCenter)
        throw SpreadsheetError("unknown vertical alignment " + std::to_string(code));
    for (auto c = first_; c <= last_; ++c) sheet_.At(c).format.vertical = code;
}

void Columns::NumberFormat(const std::string& format) {
    if (format.empty() || format.size() > 255 || CellText(format) != format)
        throw SpreadsheetError("bad number format");
    for (auto c = first_; c <= last_; ++c) sheet_.At(c).format.numberFormat = format;
}

void Worksheet::Name(std::string newName) {
    if (newName.empty() || newName.size() > 31 ||
        newName.find_first_of("[]:*?/\\") != std::string::npos || CellText(newName) != newName)
        throw SpreadsheetError("\"" + CellText(newName) + "\" cannot name a sheet");
    name_ = std::move(newName);
}

xl::Range Worksheet::Range(std::string_view address) {
    auto [row, column] = ParseAddress(address);
    return {*this, row, column};
}

xl::Range Worksheet::Cells(std::uint32_t row, std::uint32_t column) {
    CheckCell(row, column);
    return {*this, row, column};
}

xl::Columns Worksheet::Columns(std::string_view range) {
    const auto colon = range.find(':');
    if (colon == std::string_view::npos)
        throw SpreadsheetError("bad column range \"" + std::string(range) + "\"");
    const auto first = ColumnNumber(range.substr(0, colon), range);
    const auto last = ColumnNumber(range.substr(colon + 1), range);
    if (last < first) throw SpreadsheetError("bad column range \"" + std::string(range) + "\"");
    return {*this, first, last};
}

Worksheet::Column& Worksheet::At(std::uint32_t column) {
    if (columns_.size() < column) columns_.resize(column);
    return columns_[column - 1];
}

void Worksheet::Set(std::uint32_t row, std::uint32_t column, const CellValue& value) {
    Column& c = At(column);
    if (c.kind.size() < row) {
        c.kind.resize(row, Kind::Empty);
        c.number.resize(row, 0.0);
    }
    const std::size_t i = row - 1;
    c.text.erase(row);
    if (std::holds_alternative<double>(value)) {
        c.kind[i] = Kind::Double;
        c.number[i] = std::get<double>(value);
    } else if (std::holds_alternative<float>(value)) {
        c.kind[i] = Kind::Single;
        c.number[i] = static_cast<double>(std::get<float>(value));
    } else if (std::holds_alternative<std::string>(value)) {
        c.kind[i] = Kind::Text;
        c.text[row] = std::get<std::string>(value);
    } else {
        c.kind[i] = Kind::Empty;
    }
    rows_ = std::max(rows_, row);
}

CellValue Worksheet::Get(std::uint32_t row, std::uint32_t column) const {
    if (column < 1 || column > columns_.size()) return {};
    const Column& c = columns_[column - 1];
    if (row < 1 || row > c.kind.size()) return {};
    switch (c.kind[row - 1]) {
    case Kind::Double:
        return c.number[row - 1];
    case Kind::Single:
        return static_cast<float>(c.number[row - 1]);
    case Kind::Text:
        return c.text.at(row);
    case Kind::Empty:
        break;
    }
    return {};
}

Worksheet::CellRef Worksheet::Peek(std::uint32_t row, std::uint32_t column) const {
    if (column < 1 || column > columns_.size()) return {};
    const Column& c = columns_[column - 1];
    if (row < 1 || row > c.kind.size()) return {};
    switch (c.kind[row - 1]) {
    case Kind::Double:
        return {&c.number[row - 1], nullptr, false};
    case Kind::Single:
        return {&c.number[row - 1], nullptr, true};
    case Kind::Text:
        return {nullptr, &c.text.at(row), false};
    case Kind::Empty:
        break;
    }
    return {};
}

const Worksheet::ColumnFormat& Worksheet::Format(std::uint32_t column) const {
    if (column < 1 || column > columns_.size()) return defaultFormat_;
    return columns_[column - 1].format;
}

Workbook::Workbook() {
    sheets_.push_back(std::make_unique<Worksheet>("Sheet1"));
}

Worksheet& Workbook::Sheets(std::string_view name) {
    const std::string wanted = Lower(name);
    for (auto& s : sheets_)
        if (Lower(s->Name()) == wanted) return *s;
    throw SpreadsheetError("the workbook has no sheet \"" + std::string(name) + "\"");
}

Worksheet& Workbook::AddSheet(std::string name) {
    auto sheet = std::make_unique<Worksheet>("Sheet" + std::to_string(sheets_.size() + 1));
    sheet->Name(std::move(name));
    for (const auto& s : sheets_)
        if (Lower(s->Name()) == Lower(sheet->Name()))
            throw SpreadsheetError("the workbook has a sheet \"" + s->Name() + "\" already");
    sheets_.push_back(std::move(sheet));
    return *sheets_.back();
}

Workbook& Workbooks::Add() {
    books_.push_back(std::make_unique<Workbook>());
    return *books_.back();
}

namespace {

// A workbook abandoned on a fault or a cancel is freed without being written.
struct WorkbookCloser {
    void operator()(lxw_workbook* wb) const {
        if (wb) lxw_workbook_free(wb);
    }
};

// libxlsxwriter prints numbers with the C library's printf, which follows the C
// locale; the desktop program sets that from the user's environment, where the
// decimal separator may be a comma. While a workbook is written, this thread
// uses the "C" numeric conventions, so the file always holds '.'.
class ClassicNumbers {
  public:
    ClassicNumbers() : classic_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (classic_) previous_ = uselocale(classic_);
    }
    ~ClassicNumbers() {
        if (classic_) {
            uselocale(previous_);
            freelocale(classic_);
        }
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

  private:
    locale_t classic_;
    locale_t previous_ = nullptr;
};

// The double that a single-precision value's shortest decimal denotes: what the
// user reads in the program is what the spreadsheet shows.
double ShortestOfSingle(double value) {
    const auto single = static_cast<float>(value);
    char buf[32];
    const auto written = std::to_chars(buf, buf + sizeof buf, single);
    double out = value;
    std::from_chars(buf, written.ptr, out);
    return out;
}

// The file is created here first, so that a folder where it cannot be made is
// reported in Temra's words before the library is asked.
void CreateTheFileFirst(const std::filesystem::path& path) {
    std::FILE* probe = std::fopen(path.c_str(), "wbx");
    if (!probe) throw SpreadsheetError(std::strerror(errno));
    std::fclose(probe);
}

std::uint64_t TotalRows(const Workbook& workbook) {
    std::uint64_t totalRows = 0;
    for (const auto& sheet : workbook.AllSheets()) totalRows += sheet->RowCount();
    return totalRows;
}

void CheckLibraryCall(lxw_error error, const char* what) {
    if (error == LXW_NO_ERROR) return;
    throw SpreadsheetError(std::string(what) + ": " + lxw_strerror(error));
}

// The library's workbook, its rows going to the file in order; `tmpdir` (the
// folder of its scratch files, empty for the system's) outlives it.
std::unique_ptr<lxw_workbook, WorkbookCloser> NewLibraryWorkbook(const std::filesystem::path& path,
                                                                 std::string& tmpdir) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to the file in order
    options.tmpdir = tmpdir.empty() ? nullptr : tmpdir.data();
    options.use_zip64 = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new_opt(path.c_str(), &options));
    if (!wb) throw SpreadsheetError("the file cannot be created");
    return wb;
}

// The format of a column with an alignment or a number format; none for a column
// without either.
lxw_format* ColumnFormatOf(lxw_workbook* wb, const Worksheet::ColumnFormat& f) {
    if (f.horizontal == 0 && f.vertical == 0 && f.numberFormat.empty()) return nullptr;
    lxw_format* format = workbook_add_format(wb);
    if (f.horizontal == kAlignCenter) format_set_align(format, LXW_ALIGN_CENTER);
    if (f.horizontal == kAlignLeft) format_set_align(format, LXW_ALIGN_LEFT);
    if (f.vertical == kAlignCenter) format_set_align(format, LXW_ALIGN_VERTICAL_CENTER);
    if (!f.numberFormat.empty()) format_set_num_format(format, f.numberFormat.c_str());
    return format;
}

// One format per column with an alignment or a number format, set on the column;
// libxlsxwriter gives it to every cell of the column that is written without a
// format of its own, so it shows on every cell.
void WriteColumnFormats(lxw_workbook* wb, lxw_worksheet* ws, const Worksheet& sheet) {
    for (std::uint32_t c = 1; c <= sheet.ColumnCount(); ++c) {
        const auto& f = sheet.Format(c);
        lxw_format* format = ColumnFormatOf(wb, f);
        if (format || f.width >= 0)
            CheckLibraryCall(worksheet_set_column(
                                 ws, static_cast<lxw_col_t>(c - 1), static_cast<lxw_col_t>(c - 1),
                                 f.width >= 0 ? f.width : LXW_DEF_COL_WIDTH, format),
                             "column format");
    }
}

SpreadsheetError CellFault(const Worksheet& sheet, std::uint32_t r, std::uint32_t c,
                           const std::string& what) {
    return SpreadsheetError("cell " + CellAddress(r, c) + " of the sheet \"" + sheet.Name() +
                            "\" " + what);
}

// The number a cell is written with. A workbook holds finite numbers only: the
// library would write "INF" or "NAN", which spreadsheet programs take for damage.
double FiniteNumberOf(const Worksheet& sheet, std::uint32_t r, std::uint32_t c,
                      const Worksheet::CellRef& cell) {
    const double value = cell.single ? ShortestOfSingle(*cell.number) : *cell.number;
    if (!std::isfinite(value))
        throw CellFault(sheet, r, c,
                        "would hold " +
                            std::string(std::isnan(value) ? "NaN"
                                        : value > 0       ? "inf"
                                                          : "-inf") +
                            ", which is not a finite number; no workbook is written with it");
    return value;
}

void WriteCell(lxw_worksheet* ws, const Worksheet& sheet, std::uint32_t r, std::uint32_t c) {
    const Worksheet::CellRef cell = sheet.Peek(r, c);
    const auto row = static_cast<lxw_row_t>(r - 1);
    const auto col = static_cast<lxw_col_t>(c - 1);
    lxw_error error = LXW_NO_ERROR;
    if (cell.number) {
        error = worksheet_write_number(ws, row, col, FiniteNumberOf(sheet, r, c, cell), nullptr);
    } else if (cell.text && !cell.text->empty()) { // an empty text is a blank cell
        error = worksheet_write_string(ws, row, col, CellText(*cell.text).c_str(), nullptr);
    }
    if (error != LXW_NO_ERROR)
        throw CellFault(sheet, r, c, std::string("cannot be written: ") + lxw_strerror(error));
}

// Where the library makes its scratch files, as a message quotes it.
std::string ScratchPlace(const std::string& folder) {
    return "\"" + (folder.empty() ? std::string("the system's folder") : folder) + "\"";
}

void WritePageSetup(lxw_worksheet* ws, const Worksheet::PageSetup& page) {
    if (page.landscape) worksheet_set_landscape(ws);
    if (page.pagesWide > 0 || page.pagesTall > 0)
        worksheet_fit_to_pages(ws, static_cast<std::uint16_t>(page.pagesWide),
                               static_cast<std::uint16_t>(page.pagesTall));
    if (page.repeatRows > 0) worksheet_repeat_rows(ws, 0, page.repeatRows - 1);
    if (page.repeatColumns > 0)
        worksheet_repeat_columns(ws, 0, static_cast<lxw_col_t>(page.repeatColumns - 1));
}

// One sheet: its columns' formats and page setup, then its rows in order.
void WriteSheet(lxw_workbook* wb, const Worksheet& sheet, const std::string& scratchFolder,
                RunControl& control) {
    errno = 0;
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheet.Name().c_str());
    // A sheet's rows go to a scratch file of its own: what fails here is that file.
    if (!ws)
        throw SpreadsheetError("the scratch file of the sheet \"" + sheet.Name() +
                               "\" cannot be made in " + ScratchPlace(scratchFolder) +
                               (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    WriteColumnFormats(wb, ws, sheet);
    WritePageSetup(ws, sheet.Page());
    for (std::uint32_t r = 1; r <= sheet.RowCount(); ++r) {
        for (std::uint32_t c = 1; c <= sheet.ColumnCount(); ++c) WriteCell(ws, sheet, r, c);
        if ((r & 0xFFF) == 0) control.Advance(0x1000);
    }
}

} // namespace

namespace {

// What stopped the library from completing the file, in words a user can act on.
std::string CloseFault(lxw_error error, const std::string& scratchFolder) {
    const std::string cause = errno != 0 ? std::string(": ") + std::strerror(errno) : "";
    if (errno == EMFILE || errno == ENFILE)
        return "no further file can be opened: the process's limit of open files is reached";
    if (error == LXW_ERROR_CREATING_TMPFILE)
        return "a scratch file cannot be made in " + ScratchPlace(scratchFolder) + cause;
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
        return "the file could not be completed" + cause;
    return std::string("the file could not be completed (") + lxw_strerror(error) + ")" + cause;
}

} // namespace

std::uint64_t TableBytes(std::uint64_t rows, std::uint64_t columns) {
    // A number and a kind per cell, twice over while the columns grow.
    return rows * columns * 2 * (sizeof(double) + 1);
}

void WriteXlsx(const Workbook& workbook, const std::filesystem::path& path,
               const std::filesystem::path& scratchFolder, RunControl& control) {
    control.CheckCancelled();
    const ClassicNumbers classicNumbers;
    CreateTheFileFirst(path);
    control.Begin(2 * TotalRows(workbook)); // written, then read back

    // The library prints its faults to standard error as well; they are said once,
    // here, in the message of the SpreadsheetError.
    const platform::QuietStderr quiet;
    std::string tmpdir = scratchFolder.string();
    {
        std::unique_ptr<lxw_workbook, WorkbookCloser> wb = NewLibraryWorkbook(path, tmpdir);
        for (const auto& sheet : workbook.AllSheets())
            WriteSheet(wb.get(), *sheet, tmpdir, control);
        errno = 0;
        const lxw_error closed = workbook_close(wb.release());
        if (closed != LXW_NO_ERROR) throw SpreadsheetError(CloseFault(closed, tmpdir));
    }
    ReadBackXlsx(workbook, path, control);
    std::string reason;
    if (!platform::SyncFile(path, reason))
        throw SpreadsheetError("the file cannot be forced to the disk: " + reason);
}

} // namespace temra::xl
