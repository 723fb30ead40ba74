#include "export/exports.h"
#include "export/read_back.h"
#include "tests/test_support.h"

#include "core/version.h"

#include <unzip.h>
#include <zip.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

using namespace temra;
using namespace temra::xl;
namespace fs = std::filesystem;

namespace {

fs::path FreshFolder(const std::string& name) {
    fs::path folder = fs::path(::testing::TempDir()) / ("temra_export_" + name);
    fs::remove_all(folder);
    return folder;
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::exists(folder))
        for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path().filename());
    std::sort(files.begin(), files.end());
    return files;
}

// A part of a .xlsx file as it is stored; empty when it is not there.
std::string PartOf(const fs::path& file, const std::string& part) {
    std::string data;
    unzFile zip = unzOpen64(file.c_str());
    if (zip && unzLocateFile(zip, part.c_str(), 0) == UNZ_OK && unzOpenCurrentFile(zip) == UNZ_OK) {
        std::array<char, 4096> buf{};
        for (int n; (n = unzReadCurrentFile(zip, buf.data(), buf.size())) > 0;)
            data.append(buf.data(), static_cast<std::size_t>(n));
        unzCloseCurrentFile(zip);
    }
    if (zip) unzClose(zip);
    return data;
}

// A .xlsx file made by hand from (part, content) pairs.
void WriteZip(const fs::path& file, const std::map<std::string, std::string>& parts) {
    zipFile zip = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
    ASSERT_TRUE(zip);
    for (const auto& [name, content] : parts) {
        zip_fileinfo info{};
        ASSERT_EQ(zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                        Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size()));
        zipCloseFileInZip(zip);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

} // namespace

// Texts that are not valid UTF-8 or hold characters XML forbids are written made
// safe (U+FFFD, "\x01"), in every sheet they go to.
TEST(WorkbookText, SampleNamesThatXmlCannotHoldAreWrittenMadeSafe) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string name, written;
    } rows[] = {
        {"a\xFF!", "a" + fffd + "!"},                    // a byte that is not UTF-8
        {"\xE2\x82x", fffd + "x"},                       // a sequence cut short: one U+FFFD
        {"\xC0\xAF", fffd + fffd},                       // an overlong form
        {"\xED\xA0\x80", fffd + fffd + fffd},            // a surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // beyond U+10FFFF
        {"\xEF\xBF\xBEz", fffd + "z"},                   // the non-character U+FFFE
        {"bell\x07", "bell\\x07"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"\x1B[1m", "\\x1B[1m"},
        {"tab\tline\n<&>", "tab\tline\n&lt;&amp;&gt;"},
        {"Ne \xC3\xBC \xE2\x9C\x93 \xF0\x9D\x84\x9E", "Ne \xC3\xBC \xE2\x9C\x93 \xF0\x9D\x84\x9E"},
    };
    std::vector<study::Sample> samples;
    std::vector<study::StudyResult> results;
    for (const auto& row : rows) {
        samples.emplace_back().name = row.name;
        results.emplace_back().sample = row.name;
        results.back().error = "not fitted";
    }
    Application app;
    const fs::path file = FreshFolder("bad_names") / "study.xlsx";
    fs::create_directories(file.parent_path());
    SaveAs(WriteStudyResults(results, study::StudyOptions{}, WrittenBy(), samples, '.', app), file);
    // Written, so read back as XML; each name in its cell as made safe.
    for (const char* sheet : {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet3.xml"}) {
        const std::string xml = PartOf(file, sheet);
        for (std::uint32_t r = 0; r < std::size(rows); ++r)
            EXPECT_NE(xml.find("<c r=\"A" + std::to_string(r + 2) + "\" t=\"inlineStr\"><is><t>" +
                               rows[r].written + "</t>"),
                      std::string::npos)
                << sheet << " row " << r;
    }
}

// The read-back parses every XML part: a part that is not well-formed XML in UTF-8,
// is cut short, or is missing is refused with the sheet or part, what and where.
TEST(WorkbookReadBack, EveryPartIsParsedAsXml) {
    const std::string ns = R"( xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";
    const std::string rels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"/>)";
    auto sheet = [&](const std::string& text) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<worksheet" + ns +
               R"(><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>)" + text +
               "</t></is></c></row></sheetData></worksheet>";
    };
    const std::map<std::string, std::string> valid = {
        {"[Content_Types].xml",
         R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)"},
        {"_rels/.rels", rels},
        {"xl/_rels/workbook.xml.rels", rels},
        {"xl/workbook.xml", "<workbook" + ns + "/>"},
        {"xl/styles.xml", "<styleSheet" + ns + "/>"},
        {"xl/worksheets/sheet1.xml", sheet("x")},
    };
    const struct {
        const char* part;
        std::string content; // "-": the part is left out
        std::vector<std::string> said;
    } rows[] = {
        {"xl/styles.xml", "<styleSheet" + ns + "/>", {}},
        {"xl/worksheets/sheet1.xml",
         sheet("a\xFF"),
         {"sheet \"Sheet1\"", "0xFF", "not UTF-8", "in cell A1", "line 2"}},
        {"xl/worksheets/sheet1.xml", sheet("a\x01"), {"sheet \"Sheet1\"", "U+0001", "in cell A1"}},
        {"xl/worksheets/sheet1.xml",
         sheet("&#1;"),
         {"sheet \"Sheet1\"", "reference to invalid character", "in cell A1"}},
        {"xl/worksheets/sheet1.xml", sheet("x").substr(0, 150), {"sheet \"Sheet1\"", "cut short"}},
        {"xl/worksheets/sheet1.xml",
         "<worksheet" + ns + "><sheetData/></worksheet>",
         {"holds 0 of its 1 rows"}},
        {"xl/worksheets/sheet1.xml", "<workbook" + ns + "/>", {"sheet \"Sheet1\"", "not a sheet"}},
        {"xl/worksheets/sheet1.xml", "-", {"sheet \"Sheet1\" is missing"}},
        {"xl/styles.xml",
         "<styleSheet" + ns + "><a></b></styleSheet>",
         {"\"xl/styles.xml\"", "mismatched tag", "line 1, column"}},
        {"xl/workbook.xml", "<x:workbook/>", {"\"xl/workbook.xml\"", "unbound prefix"}},
        {"xl/workbook.xml", "-", {"lacks its part \"xl/workbook.xml\""}},
        // UTF-8 whatever the part declares.
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Types a=\"\xE9\"/>",
         {"\"[Content_Types].xml\"", "0xE9"}},
    };
    Workbook wb;
    wb.Sheets("Sheet1").Range("a1").Value("x");
    const fs::path folder = FreshFolder("read_back");
    fs::create_directories(folder);
    int n = 0;
    for (const auto& row : rows) {
        auto parts = valid;
        if (row.content == "-")
            parts.erase(row.part);
        else
            parts[row.part] = row.content;
        const fs::path file = folder / ("hand-made " + std::to_string(++n) + ".xlsx");
        WriteZip(file, parts);
        std::string said;
        try {
            ReadBackXlsx(wb, file);
        } catch (const SpreadsheetError& e) {
            said = e.what();
        }
        EXPECT_EQ(said.empty(), row.said.empty()) << n << ": " << said;
        for (const std::string& s : row.said)
            EXPECT_NE(said.find(s), std::string::npos) << n << ": " << said;
    }
}

// A number that is not finite is never written: the workbook is refused, naming
// the sheet and cell, and no file is left.
TEST(WorkbookNumbers, NonFiniteNumbersRefuseTheWorkbook) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        CellValue value;
        const char* said;
    } rows[] = {
        {inf, "would hold inf"},
        {-inf, "would hold -inf"},
        {std::nan(""), "would hold NaN"},
        {std::numeric_limits<float>::infinity(), "would hold inf"},
    };
    const fs::path folder = FreshFolder("non_finite");
    fs::create_directories(folder);
    for (const auto& row : rows) {
        Workbook wb;
        wb.Sheets("Sheet1").Cells(1, 1).Value(1.0);
        wb.AddSheet("Results").Cells(3, 28).Value(row.value);
        try {
            SaveAs(wb, folder / "x.xlsx");
            ADD_FAILURE() << row.said;
        } catch (const ExportError& e) {
            EXPECT_NE(e.reason().find("cell AB3 of the sheet \"Results\""), std::string::npos)
                << e.what();
            EXPECT_NE(e.reason().find(row.said), std::string::npos) << e.what();
        }
        EXPECT_TRUE(FilesIn(folder).empty());
    }
}

TEST(SpreadsheetLayer, SheetsAnswerToTheirNameInAnyCase) {
    Application app;
    Workbook& wb = app.Workbooks().Add();
    app.Visible(true);
    EXPECT_EQ(&wb.Sheets("Sheet1"), &wb.Sheets("sheet1"));
    wb.Sheets("Sheet1").Range("a1").Value("Recharge Elevation");
    wb.Sheets("Sheet1").Range("J2").Value("<< Observed data");
    wb.Sheets("sheet1").Cells(3, 1).Value(9.861f);
    wb.Sheets("sheet1").Cells(3, 2).Value(9.861);
    wb.Sheets("sheet1").Name("Difference Results");
    EXPECT_THROW(wb.Sheets("Sheet1"), SpreadsheetError);
    Worksheet& s = wb.Sheets("difference results");
    EXPECT_EQ(std::get<std::string>(s.Get(1, 1)), "Recharge Elevation");
    EXPECT_EQ(std::get<std::string>(s.Get(2, 10)), "<< Observed data");
    EXPECT_EQ(std::get<float>(s.Get(3, 1)), 9.861f); // a single stays a single
    EXPECT_EQ(std::get<double>(s.Get(3, 2)), 9.861);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(s.Get(2, 1)));
    EXPECT_EQ(s.RowCount(), 3u);
}

TEST(SpreadsheetLayer, ColumnsAddressesAndLimits) {
    Workbook wb;
    Worksheet& s = wb.Sheets("Sheet1");
    s.Columns("a:a").ColumnWidth(20);
    s.Columns("I:I").HorizontalAlignment(kAlignCenter);
    s.Columns("j:j").HorizontalAlignment(kAlignLeft);
    s.Columns("j:j").VerticalAlignment(kAlignCenter);
    EXPECT_EQ(s.Format(1).width, 20);
    EXPECT_EQ(s.Format(9).horizontal, kAlignCenter);
    EXPECT_EQ(s.Format(10).horizontal, kAlignLeft);
    EXPECT_EQ(s.Format(10).vertical, kAlignCenter);
    EXPECT_EQ(s.Format(2).width, -1);
    EXPECT_EQ(ParseAddress("a1"), (std::pair<std::uint32_t, std::uint32_t>{1, 1}));
    EXPECT_EQ(ParseAddress("J2"), (std::pair<std::uint32_t, std::uint32_t>{2, 10}));
    EXPECT_EQ(ParseAddress("aa10"), (std::pair<std::uint32_t, std::uint32_t>{10, 27}));
    for (const char* bad : {"", "a", "1", "a0", "a1b", "a1048577", "#1"})
        EXPECT_THROW(ParseAddress(bad), SpreadsheetError) << bad;
    EXPECT_THROW(s.Cells(1048577, 1), SpreadsheetError);
    EXPECT_NO_THROW(s.Cells(1048576, 1));
    EXPECT_THROW(s.Columns("a:a").HorizontalAlignment(7), SpreadsheetError);
    EXPECT_THROW(s.Name("a/b"), SpreadsheetError);
}

TEST(Publishing, NewNamesNeverReplaceAFileAndTheOpenerIsAsked) {
    const fs::path folder = FreshFolder("publish") / "Temra";
    Workbook wb;
    wb.Sheets("Sheet1").Cells(1, 1).Value(1.0);
    std::vector<fs::path> opened;
    ExportDestination dest{folder, [&](const fs::path& p) {
                               opened.push_back(p);
                               return true;
                           }};
    const ExportOutcome first = Publish(wb, "NG Solubility", dest);
    const ExportOutcome second = Publish(wb, "NG Solubility", dest);
    EXPECT_TRUE(fs::is_directory(folder)); // created when missing
    EXPECT_TRUE(
        std::regex_match(first.file.filename().string(),
                         std::regex(R"(NG Solubility \d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.xlsx)")))
        << first.file;
    EXPECT_NE(first.file, second.file);
    EXPECT_EQ(opened, (std::vector<fs::path>{first.file, second.file}));
    EXPECT_TRUE(first.opened);
    EXPECT_NE(first.message.find(first.file.string()), std::string::npos);
    // Only the two workbooks: no temporary file stays behind.
    EXPECT_EQ(FilesIn(folder).size(), 2u);
}

TEST(Publishing, WithoutAProgramToOpenItTheUserIsToldWhereTheFileIs) {
    const fs::path folder = FreshFolder("no_opener");
    Workbook wb;
    const ExportOutcome outcome =
        Publish(wb, "Selected Results", {folder, [](const fs::path&) { return false; }});
    EXPECT_FALSE(outcome.opened);
    EXPECT_TRUE(fs::exists(outcome.file));
    EXPECT_NE(outcome.message.find(outcome.file.string()), std::string::npos);
    EXPECT_NE(outcome.message.find("could be started"), std::string::npos);
    EXPECT_FALSE(Publish(wb, "Selected Results", {folder, nullptr}).opened);
}

TEST(Publishing, FailuresNameTheFileAndLeaveNothingBehind) {
    const fs::path base = FreshFolder("failures");
    fs::create_directories(base);
    const fs::path notAFolder = base / "plain file";
    std::ofstream(notAFolder) << "x";
    Workbook wb;
    try {
        Publish(wb, "NG Solubility", {notAFolder, nullptr});
        FAIL();
    } catch (const ExportError& e) {
        EXPECT_NE(std::string(e.what()).find("plain file"), std::string::npos) << e.what();
    }
    EXPECT_THROW(Publish(wb, "NG Solubility", {"/proc/temra-cannot-be-here", nullptr}),
                 ExportError);
    // SaveAs never replaces a file.
    try {
        SaveAs(wb, notAFolder);
        FAIL();
    } catch (const ExportError& e) {
        EXPECT_EQ(e.file(), notAFolder);
        EXPECT_NE(e.reason().find("exists"), std::string::npos);
    }
    EXPECT_THROW(SaveAs(wb, base / "missing folder" / "x.xlsx"), ExportError);
    EXPECT_EQ(FilesIn(base), (std::vector<fs::path>{"plain file"}));
}

TEST(Exports, SolubilityTableLayout) {
    Module1 m;
    m.CalculateSolubility(test::Defaults());
    Application app;
    Workbook& wb = WriteSolubilityToExcel(m, app);
    EXPECT_TRUE(app.Visible());
    ASSERT_EQ(wb.AllSheets().size(), 2u);
    EXPECT_EQ(wb.AllSheets()[0]->Name(), "NG Solubility");
    EXPECT_EQ(wb.AllSheets()[1]->Name(), "Settings");
    Worksheet& s = wb.Sheets("NG Solubility");
    EXPECT_EQ(s.RowCount(), 343u);
    EXPECT_EQ(std::get<std::string>(s.Get(1, 8)), "N-28");
    EXPECT_EQ(std::get<std::string>(s.Get(1, 9)), "O-32");
    EXPECT_EQ(std::get<std::string>(s.Get(1, 10)), "cm3STP/gH2O");
    EXPECT_EQ(std::get<std::string>(s.Get(2, 10)), "<< Observed data");
    EXPECT_EQ(std::get<double>(s.Get(2, 3)), 4.87138E-08);
    EXPECT_EQ(std::get<float>(s.Get(343, 1)), 3000.0f);
    EXPECT_EQ(std::get<double>(s.Get(13, 2)), 10.0);
    EXPECT_EQ(std::get<double>(s.Get(200, 5)), m.GasSolubility(3, 198));
    EXPECT_EQ(s.Format(1).width, 20);
    // The gases in one scientific form, as wide as it needs; the others general.
    EXPECT_EQ(s.Format(3).width, 14);
    EXPECT_EQ(s.Format(9).numberFormat, "0.000000E+00");
    EXPECT_EQ(s.Format(2).numberFormat, "");
    EXPECT_EQ(s.Format(9).horizontal, kAlignCenter);
    EXPECT_EQ(s.Format(10).horizontal, kAlignLeft);
    // Ticking gases on the graph changes nothing here.
    m.BuildSelectedGasTables({true, true, false, false, false, false, false});
    Application again;
    Worksheet& s2 = WriteSolubilityToExcel(m, again).Sheets("NG Solubility");
    EXPECT_EQ(std::get<double>(s2.Get(200, 3)), std::get<double>(s.Get(200, 3)));
}

TEST(Exports, DifferenceResultsKeepTheSearchTheWindowShows) {
    Module1 m;
    m.CalculateSolubility(test::Defaults());
    m.BuildSelectedGasTables({});
    m.FindBestFitNoEa();
    const auto shown = m.NoEaPtr();
    // A new grid run and a gas-pair graph happen while the result window is open.
    test::Defaults();
    Form1Texts other = test::Defaults();
    other.Text26 = "3";
    m.CalculateSolubility(other);
    Form2Ticks ticks;
    ticks.Check[0] = ticks.Check[1] = true;
    m.DrawGasPairGraph(other, ticks, Dialog1Texts{});
    Application app;
    Worksheet& s = WriteBestFitToExcel(*shown, app).Sheets("Difference Results");
    EXPECT_EQ(s.RowCount(), 343u);
    EXPECT_EQ(std::get<std::string>(s.Get(1, 2)), "Recharge Temperature");
    EXPECT_EQ(std::get<std::string>(s.Get(2, 3)), "cm3STP/gH2O");
    EXPECT_EQ(std::get<double>(s.Get(13, 2)), 10.0);
    EXPECT_EQ(std::get<double>(s.Get(100, 3)), shown->CaseRms[97]);
}

TEST(Exports, ExcludedCasesShowTheExclusionValue) {
    // A grid in which He-4 is 0 in every case (made by hand: no input makes one).
    Module1 m;
    GridPlan plan = m.PlanSolubility(test::Defaults());
    m.FillSolubility(plan);
    std::fill_n(plan.grid->Solubility.data(), 341, 0.0);
    m.CommitSolubility(std::move(plan));
    m.BuildSelectedGasTables({});
    m.FindBestFitNoEa();
    Application app;
    Worksheet& s = WriteBestFitToExcel(m.NoEa(), app).Sheets("Difference Results");
    for (std::uint32_t r = 3; r <= 343; ++r) ASSERT_EQ(std::get<double>(s.Get(r, 3)), 10000.0);
}

TEST(Exports, SelectedResultsTenRowsPerTrial) {
    Module1 m;
    m.CalculateSolubility(test::Defaults());
    m.BuildSelectedGasTables({true, false, false, false, false, true, true});
    m.RunExcessAirSearch(DialogTexts{});
    Application app;
    Worksheet& s = WriteSelectedResults(m.Ea(), app).Sheets("Selected Results");
    EXPECT_EQ(s.RowCount(), 492u);
    EXPECT_EQ(std::get<std::string>(s.Get(2, 4)), "cm3 STP/g H2O");
    EXPECT_EQ(std::get<float>(s.Get(3, 3)), 0.001f);
    EXPECT_EQ(std::get<float>(s.Get(12, 3)), 0.001f);
    EXPECT_EQ(std::get<float>(s.Get(13, 3)), 0.002f);
    EXPECT_EQ(std::get<double>(s.Get(492, 4)), m.Ea().BestRmsAt(49, 10));
    const CaseNumber c = m.Ea().BestCaseAt(2, 3);
    EXPECT_EQ(std::get<float>(s.Get(15, 1)), m.CaseElev(c));
    EXPECT_EQ(std::get<double>(s.Get(15, 2)), m.CaseTemp(c));
}

TEST(Exports, TablesLongerThanASheetAreRefused) {
    Module1 m;
    Form1Texts f = test::Defaults();
    f.Text25 = "1";
    f.Text21 = "30";
    f.Text26 = "0.05"; // 3001 x 600 cases
    m.CalculateSolubility(f);
    ASSERT_GT(m.CaseCount(), 1048574);
    Application app;
    try {
        WriteSolubilityToExcel(m, app);
        FAIL();
    } catch (const ExportError& e) {
        // Counts are written with their thousands grouped.
        EXPECT_NE(e.reason().find("1,048,574"), std::string::npos) << e.what();
        EXPECT_FALSE(std::regex_search(e.reason(), std::regex("[0-9]{4}"))) << e.what();
    }
    EXPECT_EQ(app.Workbooks().Count(), 0u);
}

// The second sheet lists the inputs of the run a workbook comes from, as typed,
// whatever the boxes hold by the time it is written.
TEST(Exports, SettingsAreThoseOfTheRunTheResultsComeFrom) {
    Module1 m;
    Form1Texts f = test::Defaults();
    f.Text19 = "2000";
    f.Text1 = "4.9E-08";
    m.CalculateSolubility(f);
    std::array<bool, GasCount> deleted{};
    deleted[0] = deleted[6] = true; // He-4 and O2 left out
    m.BuildSelectedGasTables(deleted);
    m.FindBestFitNoEa();
    const auto fit = m.NoEaPtr();
    const auto ea = m.ComputeExcessAirSearch(DialogTexts("0.002", "0.01", "0.002"));
    m.CalculateSolubility(test::Defaults()); // a new run after the searches

    auto settingsOf = [](const Workbook& wb) {
        std::map<std::string, std::string> settings;
        const Worksheet& s = *wb.AllSheets().at(1);
        EXPECT_EQ(s.Name(), "Settings");
        for (std::uint32_t r = 2; r <= s.RowCount(); ++r)
            settings[std::get<std::string>(s.Get(r, 1))] = std::get<std::string>(s.Get(r, 2));
        return settings;
    };
    Application app;
    auto diff = settingsOf(WriteBestFitToExcel(*fit, app));
    EXPECT_EQ(diff["Temra version"], std::string(kVersion));
    EXPECT_EQ(diff["Equilibrium Elevation Range (m) Max"], "2000");
    EXPECT_EQ(diff["Helium-4 (cm³ STP/cm³ H2O)"], "4.9E-08");
    EXPECT_EQ(diff["Gases compared"], "Ne-20;Ar-40;Kr-84;Xe;N2");
    EXPECT_EQ(diff["Grid cases"], std::to_string(fit->grid->CaseCount));
    auto sel = settingsOf(WriteSelectedResults(*ea, app));
    EXPECT_EQ(sel["Excess Air Min (cm³ STP/g H2O)"], "0.002");
    EXPECT_EQ(sel["Excess Air Max (cm³ STP/g H2O)"], "0.01");
    EXPECT_EQ(sel["Trial amounts of excess air"], std::to_string(ea->M));
    EXPECT_EQ(sel["Equilibrium Elevation Range (m) Max"], "2000");
    auto grid = settingsOf(WriteSolubilityToExcel(m, app));
    EXPECT_EQ(grid["Equilibrium Elevation Range (m) Max"], "3000");
    EXPECT_EQ(grid["Tick to use MAAT equation"], "not ticked");
    EXPECT_EQ(grid.count("Gases compared"), 0u);
}

// The study's workbook holds the samples as they were fitted, third, under the
// names a table of samples heads its columns with: numbers as numbers (read with
// the separator they were typed with), any other text as typed.
TEST(Exports, StudyResultsCarryTheSamplesAsFitted) {
    study::Sample a;
    a.name = "a";
    a.measured[1] = "2,5e-07";
    a.error[1] = "2.5e-09";
    a.density = "abc";
    study::Sample b;
    b.name = "b";
    b.elevation = "1500";
    std::vector<study::StudyResult> results(2);
    results[0].sample = "a";
    results[0].error = "density on row 2: \"abc\" is not a number";
    results[1].sample = "b";
    Application app;
    Workbook& wb = WriteStudyResults(results, study::StudyOptions{}, WrittenBy(), {a, b}, ',', app);
    ASSERT_EQ(wb.AllSheets().size(), 3u);
    EXPECT_EQ(wb.AllSheets()[0]->Name(), "Study Results");
    EXPECT_EQ(wb.AllSheets()[1]->Name(), "Settings");
    EXPECT_EQ(wb.AllSheets()[2]->Name(), "Samples");
    const Worksheet& s = *wb.AllSheets()[2];
    EXPECT_EQ(s.RowCount(), 3u);
    for (int c = 0; c < study::SampleColumn::kCount; ++c)
        EXPECT_EQ(std::get<std::string>(s.Get(1, static_cast<std::uint32_t>(c + 1))),
                  study::SampleColumn::Name(c));
    using study::SampleColumn::Error;
    using study::SampleColumn::Measured;
    constexpr int kNe = static_cast<int>(GasIndexOf("Ne-20"));
    EXPECT_EQ(std::get<std::string>(s.Get(2, 1)), "a");
    EXPECT_EQ(std::get<double>(s.Get(2, Measured(kNe) + 1)), 2.5e-07);
    EXPECT_EQ(std::get<double>(s.Get(2, Error(kNe) + 1)), 2.5e-09);
    EXPECT_EQ(std::get<std::string>(s.Get(2, study::SampleColumn::kDensity + 1)), "abc");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(s.Get(2, Measured(0) + 1)));
    EXPECT_EQ(std::get<double>(s.Get(3, study::SampleColumn::kElevation + 1)), 1500.0);
}
