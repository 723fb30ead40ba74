// The study's input room: tables of samples in every dialect, their columns and
// the budget of their reading, refused where they are not tables.
#include "tests/study_fixtures.h"

#include <gtest/gtest.h>

using namespace temra;
using namespace temra::study;
using namespace temra::study::fixtures;

namespace {

TEST(SampleTable, EveryDialectReadsAlike) {
    const char* dialects[] = {
        "sample,Ne-20,Ar-40\nA,1e-7,3e-4\n\"B, b\",2e-7,4e-4\n",
        "sample;Ne-20;Ar-40\r\nA;1e-7;3e-4\r\n\"B, b\";2e-7;4e-4\r\n",
        "sample\tNe-20\tAr-40\nA\t1e-7\t3e-4\n\nB, b\t2e-7\t4e-4\n",
        "\xEF\xBB\xBFsample,Ne-20,Ar-40\n A ,1e-7,3e-4\n\"B, b\",\"2e-7\",4e-4",
    };
    for (const char* text : dialects) {
        const SampleTable t = ParseSampleTable(text);
        ASSERT_EQ(t.header, (std::vector<std::string>{"sample", "Ne-20", "Ar-40"})) << text;
        ASSERT_EQ(t.rows.size(), 2u) << text;
        EXPECT_EQ(t.rows[0][0], "A");
        EXPECT_EQ(t.rows[1][0], "B, b");
        EXPECT_EQ(t.rows[1][1], "2e-7");
    }
    EXPECT_EQ(ParseSampleTable("a\tb\n1\t2\n").delimiter, '\t');
    EXPECT_EQ(ParseSampleTable("a;b,c\n").delimiter, ';');
    EXPECT_EQ(ParseSampleTable("x\n\"a \"\"quoted\"\" name\"\n").rows[0][0], "a \"quoted\" name");
    EXPECT_THROW(ParseSampleTable(""), TableError);
}

TEST(SampleTable, ColumnsAreMatchedWithoutRegardToCaseOrBlanks) {
    const SampleTable t = ParseSampleTable(
        " Sample ,HE-4,ne-20,AR-40, Kr-84 ,xe, ne-20 err ,Chloride,DENSITY,elevation,"
        "notes\n"
        "s1,1,2,3,4,5,0.1,0.2,1.01,100,free text\n");
    const SampleColumns c = ReadSamples(t, StudyOptions{});
    ASSERT_EQ(c.samples.size(), 1u);
    const Sample& s = c.samples[0];
    EXPECT_EQ(s.name, "s1");
    EXPECT_EQ(s.measured[0], "1");
    EXPECT_EQ(s.measured[3], "4");
    EXPECT_EQ(s.error[1], "0.1");
    EXPECT_EQ(s.chloride, "0.2");
    EXPECT_EQ(s.density, "1.01");
    EXPECT_EQ(s.elevation, "100");
    EXPECT_EQ(c.ignored, (std::vector<std::string>{"notes"}));
    // A fitted gas without a column is the command's error.
    EXPECT_THROW(ReadSamples(ParseSampleTable("sample,Ne\nx,1\n"), StudyOptions{}), StudyError);
}

// The memory a table's fields take is counted as they are read: past the budget
// the read ends, saying where and why; within it the table is what an unbounded
// read gives, whether the text comes whole or in pieces of a file.
TEST(SampleTable, ReadingIsBoundedByTheBudgetAndNamesTheCause) {
    std::string wideRow = "a";
    for (int i = 1; i < 1000; ++i) wideRow += ",a";
    std::string manyRows = "a,b\n";
    for (int i = 0; i < 1000; ++i) manyRows += "1,2\n";
    struct Row {
        std::string text;
        const char* begins;
        const char* holds;
    };
    const Row rows[] = {
        {wideRow + "\n", "the table has 1000 fields on row 1 and by then needs about", ""},
        {"a,b\n" + wideRow + "\n", "the table has more than ", " fields on row 2 and by then"},
        {manyRows, "by row ", "the table needs about"},
        {"a\n\"" + std::string(5000, 'x') + "\"\n", "a field on row 2 is so long", ""},
    };
    for (const Row& row : rows) {
        try {
            ParseSampleTable(row.text, 4096);
            ADD_FAILURE() << row.begins;
        } catch (const TableError& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind(row.begins, 0), 0u) << what;
            EXPECT_NE(what.find(row.holds), std::string::npos) << what;
            EXPECT_NE(what.find("more than this process may use (4.1 kB)"), std::string::npos)
                << what;
        }
    }
    // A first row and a quoted line break across the pieces a file is read in.
    std::string text =
        "sample," + std::string(70000, 'n') + "\n\"a\nb\"," + std::string(70000, 'v');
    for (int i = 0; i < 3000; ++i) text += "\nrow" + std::to_string(i) + ",\"1\n2\"";
    const std::string path = ::testing::TempDir() + "temra_pieces.csv";
    { std::ofstream(path, std::ios::binary) << text; }
    const SampleTable whole = ParseSampleTable(text), pieces = ReadSampleTable(path, 1u << 30);
    EXPECT_EQ(pieces.header, whole.header);
    EXPECT_EQ(pieces.rows, whole.rows);
    EXPECT_EQ(pieces.rowNumbers, whole.rowNumbers);
    ASSERT_EQ(whole.rows.size(), 3001u);
    EXPECT_EQ(whole.rows[0][0], "a\nb");
    EXPECT_EQ(whole.rows[3000][1], "1\n2");
    try {
        ReadSampleTable(path, 50000);
        ADD_FAILURE() << "read within 50 kB";
    } catch (const TableError& e) {
        EXPECT_NE(std::string(e.what()).find(": the first row of the table alone needs about"),
                  std::string::npos)
            << e.what();
    }
}

// A table saved from the samples window reads back alike, here and in
// temra-cli: numbers with '.', names with commas and quotes kept.
TEST(SampleTable, SavedSamplesReadBackAlike) {
    Sample a;
    a.name = "well \"7\", deep";
    a.row = 5;
    a.measured[1] = "2,39e-07";
    a.error[1] = "2.4e-09";
    a.density = "1,0125";
    a.elevation = "abc"; // kept as typed: its error row says why
    Sample b;
    b.name = "b";
    b.chloride = " 0,1";
    const std::string csv = SamplesCsv({a, b}, ',');
    const SampleColumns back = ReadSamples(ParseSampleTable(csv), StudyOptions{});
    ASSERT_EQ(back.samples.size(), 2u) << csv;
    EXPECT_TRUE(back.ignored.empty());
    const Sample& s = back.samples[0];
    EXPECT_EQ(s.name, a.name);
    EXPECT_EQ(s.row, 2u);
    EXPECT_EQ(s.measured[1], "2.39e-07");
    EXPECT_EQ(s.error[1], "2.4e-09");
    EXPECT_EQ(s.density, "1.0125");
    EXPECT_EQ(s.elevation, "abc");
    EXPECT_EQ(back.samples[1].chloride, " 0.1"); // quoted, its blank kept
    for (int c = 0; c < SampleColumn::kCount; ++c)
        EXPECT_EQ(ParseSampleTable(csv).header[static_cast<std::size_t>(c)], SampleColumn::Name(c));
}

// A table that is not text as Temra reads it is refused saying where: the row
// (and column) of a quote never closed, of bytes that are not UTF-8 or a NUL, or
// the encoding of UTF-16 or UTF-32. A quote within an unquoted field and UTF-8
// beyond ASCII are read as typed.
TEST(SampleTable, TextThatIsNotATableIsRefusedSayingWhere) {
    using namespace std::string_literals;
    const std::pair<std::string, const char*> rows[] = {
        {"sample,x\na,1\n\"b,2\nc,3\n", "the quote that opens row 3, column 1 (\"sample\") is"},
        {"sample,x\n\"a\"b,1\nc,2\n", "the quote that opens row 2, column 1 (\"sample\") is"},
        {"sample,\"x\n", "the quote that opens row 1, column 2 is never closed"},
        {"sample,x\nS\xFC,1\n", "row 2, column 1 (\"sample\") is not UTF-8 text (its byte 2 is "
                                "0xFC)"},
        {"sample,x\na,\xC0\xAF\n", "row 2, column 2 (\"x\") is not UTF-8"}, // overlong
        {"sample\n\xED\xA0\x80\n", "row 2, column 1 (\"sample\") is not UTF-8"},
        {"sample,x\na\0b,1\n"s, "row 2, column 1 (\"sample\") holds a NUL byte"},
        {"\xFF\xFEs\0a\0\n\0"s, "the file is UTF-16 (little-endian) text"},
        {"s\0a\0,\0b\0\n\0"s, "the file is UTF-16 (little-endian) text"},
        {"\0s\0a\0m\0p\0l\0e\0\n"s, "the file is UTF-16 (big-endian) text"},
        {"\xFF\xFE\0\0s\0\0\0\n\0\0\0"s, "the file is UTF-32 (little-endian) text"},
    };
    for (const auto& [text, refusal] : rows) {
        try {
            ParseSampleTable(text);
            ADD_FAILURE() << refusal;
        } catch (const TableError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(refusal, 0), 0u) << e.what();
        }
    }
    const SampleTable t = ParseSampleTable("sample,x\nMünster \xE2\x82\xAC,5\" core\n");
    EXPECT_EQ(t.rows[0], (std::vector<std::string>{"Münster \xE2\x82\xAC", "5\" core"}));
}

// Each thing is read from one column: a second one, in either form, is refused
// naming both.
TEST(SampleTable, TwoColumnsOfOneThingAreRefusedNamingBoth) {
    const std::pair<const char*, const char*> rows[] = {
        {"Ne-20,Ar-40,Kr-84,Xe,ne-20", "columns 1 (\"Ne-20\") and 5 (\"ne-20\") both hold Ne-20"},
        {"Kr,Ne-20,Ar-40,Kr-84,Xe", "both hold krypton, one as total krypton and one as Kr-84"},
        {"Ne-20,Ar-40,Kr-84,Xe,Ne-20 err,ne err", "both hold the error of neon, one as Ne-20 and"},
        {"sample,Ne-20,Ar-40,Kr-84,Xe, Sample ", "both hold the samples' names; keep one of them"},
        {"density,Ne-20,Ar-40,Kr-84,Xe,Density", "columns 1 (\"density\") and 6 (\"Density\") b"},
        {"Ne-20,Ar-40,Kr-84,Xe,notes,notes", nullptr},
    };
    for (const auto& [header, refusal] : rows) {
        try {
            ReadSamples(ParseSampleTable(std::string(header) + "\n"), StudyOptions{});
            EXPECT_EQ(refusal, nullptr) << header;
        } catch (const StudyError& e) {
            ASSERT_NE(refusal, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(refusal), std::string::npos) << e.what();
        }
    }
}

} // namespace
