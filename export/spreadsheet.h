// A small spreadsheet layer with the calls the exports make, modelled on the
// spreadsheet program's automation objects:
//
//   Application app;                      // one per export
//   Workbook& wb = app.Workbooks().Add(); // first sheet answers to "Sheet1"
//   app.Visible(true);
//   wb.Sheets("Sheet1").Range("a1").Value("Recharge Elevation");
//   wb.Sheets("sheet1").Columns("a:a").ColumnWidth(20);
//   wb.Sheets("sheet1").Columns("a:a").HorizontalAlignment(kAlignCenter);
//   wb.Sheets("sheet1").Cells(3, 1).Value(100.0f);
//   wb.Sheets("sheet1").Name("Difference Results");
//
// The workbook is built in memory (numbers stay numbers, texts stay texts; a
// single-precision value is kept as that value) and written as an .xlsx file by
// WriteXlsx when the export completes. Sheet names match without regard to case.
// A misuse (an unknown sheet, a bad address, a row beyond the sheet's last row)
// raises SpreadsheetError.
#pragma once

#include "core/run_control.h"

#include "core/errors.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace temra::xl {

inline constexpr int kAlignCenter = -4108; // the spreadsheet's alignment codes
inline constexpr int kAlignLeft = -4131;
inline constexpr std::uint32_t kMaxRows = 1048576; // rows a sheet holds
inline constexpr std::uint32_t kMaxColumns = 16384;

class SpreadsheetError : public Refusal {
  public:
    using Refusal::Refusal;
};

using CellValue = std::variant<std::monostate, double, float, std::string>;

class Worksheet;

// One cell, reached by an A1 address or by row and column (from 1).
class Range {
  public:
    Range(Worksheet& sheet, std::uint32_t row, std::uint32_t column)
        : sheet_(sheet), row_(row), column_(column) {}
    void Value(const CellValue& value);
    void Value(const char* text) { Value(CellValue(std::string(text))); }

  private:
    Worksheet& sheet_;
    std::uint32_t row_, column_;
};

// Whole columns, e.g. "a:a".
class Columns {
  public:
    Columns(Worksheet& sheet, std::uint32_t first, std::uint32_t last)
        : sheet_(sheet), first_(first), last_(last) {}
    void ColumnWidth(double width);
    void HorizontalAlignment(int code);           // kAlignCenter or kAlignLeft
    void VerticalAlignment(int code);             // kAlignCenter
    void NumberFormat(const std::string& format); // e.g. "0.000000E+00"

  private:
    Worksheet& sheet_;
    std::uint32_t first_, last_;
};

class Worksheet {
  public:
    explicit Worksheet(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    void Name(std::string newName);
    xl::Range Range(std::string_view address);
    xl::Range Cells(std::uint32_t row, std::uint32_t column);
    xl::Columns Columns(std::string_view range);

    // Reading back (for writing the file and for tests).
    struct ColumnFormat {
        double width = -1; // -1: the default width
        int horizontal = 0;
        int vertical = 0;
        std::string numberFormat; // empty: the spreadsheet's general format
    };
    std::uint32_t RowCount() const { return rows_; }
    std::uint32_t ColumnCount() const { return static_cast<std::uint32_t>(columns_.size()); }
    CellValue Get(std::uint32_t row, std::uint32_t column) const;
    // A cell without copying its text: a number, a text, or nothing.
    struct CellRef {
        const double* number = nullptr;
        const std::string* text = nullptr;
        bool single = false; // the number is a single-precision value
    };
    CellRef Peek(std::uint32_t row, std::uint32_t column) const;
    const ColumnFormat& Format(std::uint32_t column) const;

    // How the sheet prints: across or down the page, fitted to so many pages
    // wide and tall (0: as many as it takes; both 0: at its own scale), and the
    // first rows and columns printed again on every page.
    struct PageSetup {
        bool landscape = false;
        int pagesWide = 0, pagesTall = 0;
        std::uint32_t repeatRows = 0, repeatColumns = 0;
    };
    void Page(const PageSetup& page) { page_ = page; }
    const PageSetup& Page() const { return page_; }

  private:
    friend class xl::Range;
    friend class xl::Columns;
    enum class Kind : std::uint8_t { Empty, Double, Single, Text };
    // Cells are kept column by column: a number and a kind per row, texts apart.
    struct Column {
        std::vector<double> number;
        std::vector<Kind> kind;
        std::unordered_map<std::uint32_t, std::string> text;
        ColumnFormat format;
    };
    Column& At(std::uint32_t column);
    void Set(std::uint32_t row, std::uint32_t column, const CellValue& value);

    std::string name_;
    std::vector<Column> columns_;
    std::uint32_t rows_ = 0;
    ColumnFormat defaultFormat_;
    PageSetup page_;
};

class Workbook {
  public:
    Workbook();
    Worksheet& Sheets(std::string_view name);
    // Sheets.Add: a new sheet after the last.
    Worksheet& AddSheet(std::string name);
    const std::vector<std::unique_ptr<Worksheet>>& AllSheets() const { return sheets_; }

  private:
    std::vector<std::unique_ptr<Worksheet>> sheets_;
};

class Workbooks {
  public:
    Workbook& Add();
    std::size_t Count() const { return books_.size(); }
    Workbook& Item(std::size_t i) { return *books_.at(i); }

  private:
    std::vector<std::unique_ptr<Workbook>> books_;
};

class Application {
  public:
    xl::Workbooks& Workbooks() { return workbooks_; }
    void Visible(bool visible) { visible_ = visible; }
    bool Visible() const { return visible_; }
    // The memory the workbooks built here may take; an export whose table needs
    // more is refused before it is built.
    std::uint64_t MemoryBudget = std::uint64_t{1} << 62;

  private:
    xl::Workbooks workbooks_;
    bool visible_ = false;
};

// Writes the workbook as a new .xlsx file at `path` (the caller picks a free
// name), reads it back (ReadBackXlsx, export/read_back.h: every XML part parses,
// every sheet holds all of its rows and cells), and forces it to the disk. A
// single-precision value is written as the shortest decimal that reads back to the
// same single (0.001, not 0.00100000004749745); a text as CellText
// (export/xml_text.h) makes it safe for XML. A number that is not finite (inf,
// -inf, NaN) is never written: the workbook is refused, naming its sheet and cell.
// Raises SpreadsheetError with the reason; the file may then be left half-written
// and is the caller's to remove. Progress goes to `control` in rows, written and
// read back.
void WriteXlsx(const Workbook& workbook, const std::filesystem::path& path,
               const std::filesystem::path& scratchFolder, RunControl& control = Unwatched());

// The memory a table of `rows` by `columns` cells takes in a workbook being built.
std::uint64_t TableBytes(std::uint64_t rows, std::uint64_t columns);

// "a1" -> (1, 1); "J2" -> (2, 10).
std::pair<std::uint32_t, std::uint32_t> ParseAddress(std::string_view address);
// (2, 10) -> "J2"; (1, 27) -> "AA1".
std::string CellAddress(std::uint32_t row, std::uint32_t column);

} // namespace temra::xl
