#include "export/exports.h"

#include "core/fields.h"
#include "core/numtext.h"
#include "core/solubility_sets.h"
#include "core/version.h"
#include "study/models/models.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace temra::xl {

namespace {

// Concentrations and deviations span many orders of magnitude: one scientific
// form with seven significant digits keeps a column readable. At the
// spreadsheet's default width it would show as "###": the gas columns of the
// solubility table are made as wide as it needs.
constexpr const char* kConcentrationFormat = "0.000000E+00";
constexpr double kConcentrationWidth = 14;

// Refuses a table that a sheet cannot hold, or that would take more memory to
// build than the process may use.
void CheckRows(std::uint64_t dataRows, std::uint64_t columns, const char* sheet,
               const Application& app) {
    if (dataRows + 2 > kMaxRows)
        throw ExportError(std::string(sheet) + ".xlsx",
                          "the table has " + CountText(static_cast<double>(dataRows)) +
                              " rows, more than the " +
                              CountText(static_cast<double>(kMaxRows - 2)) +
                              " a sheet holds below its two header rows");
    const std::uint64_t bytes = TableBytes(dataRows + 2, columns);
    if (bytes > app.MemoryBudget)
        throw ExportError(std::string(sheet) + ".xlsx",
                          "the table of " + CountText(static_cast<double>(dataRows)) +
                              " rows needs about " + ByteText(static_cast<double>(bytes)) +
                              " to build, " + RoomText(static_cast<double>(app.MemoryBudget)));
}

// Header, unit and the settings of one column of the best-fit sheets.
void BestFitColumn(Worksheet& sheet, const char* letter, const char* title, const char* unit) {
    const std::string l(letter);
    sheet.Range(l + "1").Value(title);
    sheet.Range(l + "2").Value(unit);
    auto columns = sheet.Columns(l + ":" + l);
    columns.ColumnWidth(20);
    columns.HorizontalAlignment(kAlignCenter);
    columns.VerticalAlignment(kAlignCenter);
}

// A new visible workbook with the two columns both best-fit sheets begin with.
Workbook& NewBestFitWorkbook(Application& app) {
    Workbook& wb = app.Workbooks().Add();
    app.Visible(true);
    BestFitColumn(wb.Sheets("Sheet1"), "a", "Recharge Elevation", "m");
    BestFitColumn(wb.Sheets("Sheet1"), "b", "Recharge Temperature", "oC");
    return wb;
}

// The second sheet: one setting per row under "Setting" and "Value", both
// columns on one printed page.
void AddSettingsSheet(Workbook& wb, const Settings& settings) {
    Worksheet& set = wb.AddSheet(kSettingsSheet);
    set.Range("a1").Value("Setting");
    set.Range("b1").Value("Value");
    // Each value whole in its column (the longest at most 120 characters), and the
    // sheet on one page, across it when it is wide.
    std::size_t longest = 30;
    for (std::uint32_t i = 0; i < settings.size(); ++i) {
        set.Cells(i + 2, 1).Value(CellValue(settings[i].first));
        set.Cells(i + 2, 2).Value(CellValue(settings[i].second));
        longest = std::max(longest, std::min<std::size_t>(settings[i].second.size(), 120));
    }
    set.Columns("a:a").ColumnWidth(42);
    set.Columns("b:b").ColumnWidth(static_cast<double>(longest));
    set.Page({longest > 60, 1, 1, 1, 0});
}

// A table printed across the page, its header row and first column (the
// sample) on every page, fitted to as few pages wide as keep it readable: about
// 260 characters of column width a page.
void PrintAsTable(Worksheet& sheet) {
    double width = 0;
    for (std::uint32_t c = 1; c <= sheet.ColumnCount(); ++c)
        width += sheet.Format(c).width >= 0 ? sheet.Format(c).width : 8.43;
    const int pages = std::max(1, static_cast<int>(std::ceil(width / 260)));
    sheet.Page({true, pages, 0, 1, 1});
}

// The third sheet of the study's workbook: the samples, under the names a table
// of samples heads its columns with.
void AddSamplesSheet(Workbook& wb, const std::vector<study::Sample>& samples, char separator) {
    namespace SC = study::SampleColumn;
    Worksheet& sheet = wb.AddSheet(kSamplesSheet);
    for (int c = 0; c < SC::kCount; ++c)
        sheet.Cells(1, static_cast<std::uint32_t>(c + 1)).Value(CellValue(SC::Name(c)));
    sheet.Columns("a:a").ColumnWidth(20);
    sheet.Columns("b:r").ColumnWidth(14);
    // The gases and their errors in the workbooks' one form of concentrations.
    static_assert(SC::Measured(0) == 1 && SC::Error(GasCount - 1) == 14);
    sheet.Columns("b:o").NumberFormat(kConcentrationFormat);
    for (std::uint32_t r = 0; r < samples.size(); ++r)
        for (int c = 0; c < SC::kCount; ++c) {
            const std::string& text = SC::Text(samples[r], c);
            if (text.empty()) continue;
            Range cell = sheet.Cells(r + 2, static_cast<std::uint32_t>(c + 1));
            if (c == SC::kName || c == SC::kGroup) { // names, as typed
                cell.Value(CellValue(text));
                continue;
            }
            try {
                cell.Value(ParseDouble(text, FieldRef{}, separator));
            } catch (const TemraError&) {
                cell.Value(CellValue(text)); // as typed: the sample's error row says why
            }
        }
    PrintAsTable(sheet);
}

// A field's label with its unit, as a settings sheet names it.
std::string LabelOf(const Field& f) {
    std::string label(f.label);
    if (!f.unit.empty() && label.find('(') == std::string::npos)
        label += " (" + std::string(f.unit) + ")";
    return label;
}

std::string GasNames(const std::vector<int>& gases) {
    std::array<bool, GasCount> chosen{};
    for (int g : gases) chosen[static_cast<std::size_t>(g)] = true;
    return study::GasList(chosen);
}

// What every workbook of a run lists first: the version, the date, and the
// input page's boxes of the run.
Settings RunSettings(const SolubilityGrid& grid) {
    Settings settings = WrittenBy();
    for (auto& s : GridSettings(grid)) settings.push_back(std::move(s));
    return settings;
}

} // namespace

Settings WrittenBy() {
    return {{"Temra version", std::string(kVersion)}, {"Date", LocalTimeText("%Y-%m-%d %H:%M:%S")}};
}

Settings GridSettings(const SolubilityGrid& grid) {
    Settings s;
    for (const Field& f : kFields) {
        if (f.form1) s.emplace_back(LabelOf(f), grid.Inputs.*f.form1);
        if (f.tick) s.emplace_back(LabelOf(f), grid.Inputs.*f.tick ? "ticked" : "not ticked");
    }
    s.emplace_back("Grid cases", std::to_string(grid.CaseCount));
    if (auto data = SolubilitySetting(grid.DataSet)) s.push_back(std::move(*data));
    return s;
}

Workbook& WriteSolubilityToExcel(const Module1& module, Application& app) {
    const SolubilityGrid& grid = module.Grid();
    CheckRows(static_cast<std::uint64_t>(grid.CaseCount), 10, kSolubilitySheet, app);
    const auto n = static_cast<std::uint32_t>(grid.CaseCount);

    Workbook& wb = app.Workbooks().Add();
    app.Visible(true);
    // The columns: elevation, temperature, then a column per gas.
    struct Header {
        std::string_view letter;
        std::string_view text;
    };
    std::vector<Header> headers = {{"a", "Elevation (m)"}, {"b", "Temperature (oC)"}};
    for (const Gas& gas : kGases) headers.push_back({gas.workbookColumn, gas.workbookLabel});
    for (const Header& h : headers) {
        const std::string letter(h.letter);
        wb.Sheets("Sheet1").Range(letter + "1").Value(std::string(h.text));
        std::string range = letter;
        range += ':';
        range += letter;
        auto columns = wb.Sheets("Sheet1").Columns(range);
        if (letter == "a" || letter == "b") columns.ColumnWidth(20);
        columns.HorizontalAlignment(kAlignCenter);
        columns.VerticalAlignment(kAlignCenter);
    }
    const std::string gasColumns = std::string(kGases.front().workbookColumn) + ":" +
                                   std::string(kGases.back().workbookColumn);
    wb.Sheets("Sheet1").Columns(gasColumns).NumberFormat(kConcentrationFormat);
    wb.Sheets("Sheet1").Columns(gasColumns).ColumnWidth(kConcentrationWidth);
    wb.Sheets("Sheet1").Range("j2").Value("<< Observed data");
    wb.Sheets("Sheet1").Range("j1").Value("cm3STP/gH2O");
    auto unitColumn = wb.Sheets("Sheet1").Columns("j:j");
    unitColumn.ColumnWidth(20);
    unitColumn.HorizontalAlignment(kAlignLeft);
    unitColumn.VerticalAlignment(kAlignCenter);
    wb.Sheets("sheet1").Name(kSolubilitySheet);

    // Gas by gas, as the spreadsheet calls go: the measured value in row 2, then
    // every case with its elevation and temperature.
    Worksheet& sheet = wb.Sheets(kSolubilitySheet);
    for (int q = 0; q < GasCount; ++q) {
        const auto column = static_cast<std::uint32_t>(q + 3);
        sheet.Cells(2, column).Value(grid.MeasuredConc[static_cast<std::size_t>(q)]);
        const auto row = grid.Row(q);
        for (std::uint32_t j = 1; j <= n; ++j) {
            sheet.Cells(j + 2, 1).Value(grid.Elev[j - 1]);
            sheet.Cells(j + 2, 2).Value(grid.Temp[j - 1]);
            sheet.Cells(j + 2, column).Value(row[j - 1]);
        }
    }
    Settings settings = RunSettings(grid);
    AddSettingsSheet(wb, settings);
    return wb;
}

Workbook& WriteBestFitToExcel(const BestFitNoEa& fit, Application& app) {
    // The cases of the search the result window shows, with the grid run they came
    // from, whatever ran since.
    const SolubilityGrid& grid = *fit.grid;
    CheckRows(static_cast<std::uint64_t>(grid.CaseCount), 3, kDifferenceSheet, app);
    const auto n = static_cast<std::uint32_t>(grid.CaseCount);

    Workbook& wb = NewBestFitWorkbook(app);
    Worksheet& sheet1 = wb.Sheets("Sheet1");
    BestFitColumn(sheet1, "c", "Difference", "cm3STP/gH2O");
    sheet1.Columns("c:c").NumberFormat(kConcentrationFormat);
    Worksheet& sheet = wb.Sheets("sheet1");
    for (std::uint32_t i = 1; i <= n; ++i) {
        sheet.Cells(i + 2, 1).Value(grid.Elev[i - 1]);
        sheet.Cells(i + 2, 2).Value(grid.Temp[i - 1]);
        sheet.Cells(i + 2, 3).Value(fit.CaseRms[i - 1]);
    }
    wb.Sheets("Sheet1").Name(kDifferenceSheet);
    Settings settings = RunSettings(grid);
    settings.emplace_back("Gases compared", GasNames(fit.Gas));
    AddSettingsSheet(wb, settings);
    return wb;
}

Workbook& WriteSelectedResults(const BestFitEa& fit, Application& app) {
    const SolubilityGrid& grid = *fit.grid;
    CheckRows(static_cast<std::uint64_t>(fit.M) * kRankCount, 4, kSelectedSheet, app);

    Workbook& wb = NewBestFitWorkbook(app);
    Worksheet& sheet1 = wb.Sheets("Sheet1");
    BestFitColumn(sheet1, "c", "Excess Air", "cm3 STP/g H2O");
    BestFitColumn(sheet1, "d", "Difference", "cm3 STP/g H2O");
    sheet1.Columns("d:d").NumberFormat(kConcentrationFormat);
    Worksheet& sheet = wb.Sheets("sheet1");
    for (std::int64_t m = 1; m <= fit.M; ++m)
        for (int k = 1; k <= kRankCount; ++k) {
            const auto r = static_cast<std::uint32_t>((m - 1) * kRankCount + k + 2);
            const CaseNumber c = fit.BestCaseAt(m, k);
            // A rank that points at no case of this grid (no case was ever
            // eligible) leaves its elevation and temperature empty.
            if (c >= 1 && c <= grid.CaseCount) {
                sheet.Cells(r, 1).Value(grid.Elev[static_cast<std::size_t>(c - 1)]);
                sheet.Cells(r, 2).Value(grid.Temp[static_cast<std::size_t>(c - 1)]);
            }
            sheet.Cells(r, 3).Value(fit.EaValue[static_cast<std::size_t>(m - 1)]);
            sheet.Cells(r, 4).Value(fit.BestRmsAt(m, k));
        }
    wb.Sheets("Sheet1").Name(kSelectedSheet);
    Settings settings = RunSettings(grid);
    settings.emplace_back("Gases compared", GasNames(fit.Gas));
    for (const Field& f : kFields)
        if (f.dialog) settings.emplace_back(LabelOf(f), fit.Inputs.*f.dialog);
    settings.emplace_back("Trial amounts of excess air", std::to_string(fit.M));
    AddSettingsSheet(wb, settings);
    return wb;
}

namespace {

// The Monte Carlo summaries, a row per sample and parameter.
void AddMonteCarloSheet(Workbook& wb, const std::vector<study::StudyResult>& results,
                        const study::StudyOptions& options) {
    Worksheet& sheet = wb.AddSheet(kMonteCarloSheet);
    const char* heads[] = {"sample",
                           "parameter",
                           "mean",
                           "SD",
                           "p16",
                           "p50",
                           "p84",
                           "draws fitted",
                           "draws",
                           "share at a bound",
                           "share at the grid's end"};
    for (std::uint32_t c = 1; c <= 11; ++c) sheet.Cells(1, c).Value(heads[c - 1]);
    sheet.Columns("a:a").ColumnWidth(20);
    sheet.Columns("b:b").ColumnWidth(16);
    sheet.Columns("c:k").ColumnWidth(18);
    const study::ModelInfo& model = study::InfoOf(options.model);
    std::uint32_t row = 2;
    for (const study::StudyResult& r : results) {
        if (!r.mc || r.mc->fitted == 0) continue;
        const study::McSummary& mc = *r.mc;
        std::vector<std::pair<std::string, const study::Spread*>> params = {
            {"temperature_C", &mc.T}, {"elevation_m", &mc.E}, {"excess_air", &mc.A}};
        if (mc.second) params.emplace_back(std::string(model.params[1].column), &*mc.second);
        for (const auto& [name, s] : params) {
            sheet.Cells(row, 1).Value(CellValue(r.sample));
            sheet.Cells(row, 2).Value(name);
            const double values[] = {s->mean, s->sd, s->p16, s->p50, s->p84};
            for (std::uint32_t c = 0; c < 5; ++c) sheet.Cells(row, 3 + c).Value(values[c]);
            sheet.Cells(row, 8).Value(static_cast<double>(mc.fitted));
            sheet.Cells(row, 9).Value(static_cast<double>(mc.draws));
            sheet.Cells(row, 10).Value(mc.atBound);
            sheet.Cells(row, 11).Value(mc.atEdge);
            ++row;
        }
    }
    PrintAsTable(sheet);
}

} // namespace

Workbook& WriteStudyResults(const std::vector<study::StudyResult>& results,
                            const study::StudyOptions& options, const Settings& settings,
                            const std::vector<study::Sample>& samples, char separator,
                            Application& app) {
    const std::vector<study::ResultColumn> resultColumns = study::ResultColumns(&options);
    CheckRows(results.size(), resultColumns.size(), kStudySheet, app);
    CheckRows(samples.size(), study::SampleColumn::kCount, kSamplesSheet, app);
    if (options.mcDraws > 0) CheckRows(4 * results.size(), 11, kMonteCarloSheet, app);
    Workbook& wb = app.Workbooks().Add();
    app.Visible(true);
    Worksheet& sheet = wb.Sheets("Sheet1");
    std::vector<std::vector<study::ResultCell>> rows;
    rows.reserve(results.size());
    for (const study::StudyResult& r : results) rows.push_back(study::ResultRow(r, options));
    // A column that only some fits fill (another model's parameter, a gas beyond
    // the fit) is left out where no row fills it; the CSV keeps every column.
    std::vector<std::size_t> kept;
    for (std::size_t c = 0; c < resultColumns.size(); ++c) {
        const bool filled = std::any_of(rows.begin(), rows.end(), [c](const auto& row) {
            return row[c].kind != study::ResultCell::Kind::Empty;
        });
        if (filled || !resultColumns[c].hideWhenEmpty) kept.push_back(c);
    }
    for (std::uint32_t k = 0; k < kept.size(); ++k) {
        sheet.Cells(1, k + 1).Value(resultColumns[kept[k]].name);
        xl::Columns(sheet, k + 1, k + 1).ColumnWidth(resultColumns[kept[k]].width);
    }
    for (std::uint32_t r = 0; r < rows.size(); ++r) {
        for (std::uint32_t k = 0; k < kept.size(); ++k) {
            const study::ResultCell& cell = rows[r][kept[k]];
            using K = study::ResultCell::Kind;
            if (cell.kind == K::Double) sheet.Cells(r + 2, k + 1).Value(cell.number);
            if (cell.kind == K::Single)
                sheet.Cells(r + 2, k + 1).Value(static_cast<float>(cell.number));
            if (cell.kind == K::Text) sheet.Cells(r + 2, k + 1).Value(CellValue(cell.text));
        }
    }
    PrintAsTable(sheet);
    sheet.Name(kStudySheet);
    AddSettingsSheet(wb, settings);
    AddSamplesSheet(wb, samples, separator);
    if (options.mcDraws > 0) AddMonteCarloSheet(wb, results, options);
    return wb;
}

} // namespace temra::xl
