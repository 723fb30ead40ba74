#include "core/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace temra;

namespace {
const FieldRef kField{"Form1", "Text19", "Equilibrium Elevation Range (m) Max"};

int ErrorOf(const std::string& text, char sep = '.') {
    try {
        ParseDouble(text, kField, sep);
    } catch (const TemraError& e) {
        EXPECT_EQ(e.field().control, "Text19");
        return e.code();
    }
    return 0;
}
} // namespace

TEST(ParseNumber, AcceptsTheStoredDefaultsAndBothSeparators) {
    EXPECT_EQ(ParseDouble("4.87138E-08", kField), 4.87138E-08);
    EXPECT_EQ(ParseDouble("2.077E-5", kField), 2.077e-5);
    EXPECT_EQ(ParseDouble("-108", kField), -108.0);
    EXPECT_EQ(ParseDouble("  +0.5 ", kField), 0.5);
    EXPECT_EQ(ParseDouble(".5", kField), 0.5);
    EXPECT_EQ(ParseDouble("5.", kField), 5.0);
    EXPECT_EQ(ParseDouble("1e3", kField), 1000.0);
    // A decimal comma where the user's locale has one, and '.' always.
    EXPECT_EQ(ParseDouble("4,87", kField, ','), 4.87);
    EXPECT_EQ(ParseDouble("4.87", kField, ','), 4.87);
    // Read directly to the target width, not through a double.
    EXPECT_EQ(ParseSingle("0.1", kField), 0.1f);
    EXPECT_EQ(ParseSingle("10", kField), 10.0f);
}

TEST(ParseNumber, RefusesWhatIsNotANumberNamingTheField) {
    for (const char* bad : {"", "   ", "abc", "1.2.3", "1e", "e5", "nan", "inf", "0x10", "1,000.5",
                            "12 34", "--1", "1e+", "4,87"})
        EXPECT_EQ(ErrorOf(bad), 13) << '"' << bad << '"';
    EXPECT_EQ(ErrorOf("1e400"), 6);
    EXPECT_EQ(ErrorOf("-1e400"), 6);
    EXPECT_EQ(ParseDouble("1e-400", kField), 0.0);
    try {
        ParseSingle("1e39", kField);
        FAIL();
    } catch (const TemraError& e) {
        EXPECT_EQ(e.code(), 6);
        EXPECT_STREQ(e.description(), "Overflow");
    }
}

TEST(ParseNumber, AGroupedLookingTextIsRefusedWhereCommaIsTheDecimalSeparator) {
    // Where ',' is the decimal separator, '.' also groups thousands: "3.000" may
    // mean three thousand or three, so it is refused with both ways to type it.
    for (const char* ambiguous : {"3.000", "1.500", "-1.500", "12.345", " 999.999 "}) {
        EXPECT_EQ(ErrorOf(ambiguous, ','), 13) << ambiguous;
        EXPECT_NE(ParseDouble(ambiguous, kField, '.'), 0) << ambiguous; // read as a decimal
    }
    try {
        ParseDouble("3.000", kField, ',');
    } catch (const TemraError& e) {
        EXPECT_NE(e.detail().find("type 3000 for the whole number or 3,000"), std::string::npos)
            << e.detail();
    }
    // Texts that read only one way stay accepted.
    const std::pair<const char*, double> plain[] = {
        {"0.01", 0.01}, {"1.5E-08", 1.5e-8},    {"0.001", 0.001}, {"3000", 3000},
        {"3,000", 3},   {"1234.567", 1234.567}, {"1.5", 1.5},     {"1.5000", 1.5},
        {"0.500", 0.5}, {"1.000E3", 1000},      {"1.00", 1},      {"-0.050", -0.05}};
    for (const auto& [text, value] : plain)
        EXPECT_EQ(ParseDouble(text, kField, ','), value) << text;
}

TEST(FormatNumber, GeneralFormatOfDoubles) {
    EXPECT_EQ(FormatGeneral(4.69312345678901e-08), "4.69312345678901E-08");
    EXPECT_EQ(FormatGeneral(9.861000000000001), "9.861");
    EXPECT_EQ(FormatGeneral(10000.0), "10000");
    EXPECT_EQ(FormatGeneral(0.0), "0");
    EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
    EXPECT_EQ(FormatGeneral(0.00001), "0.00001");
    EXPECT_EQ(FormatGeneral(0.000001), "1E-06");
    EXPECT_EQ(FormatGeneral(-2.5), "-2.5");
    EXPECT_EQ(FormatGeneral(1e15), "1E+15");
    EXPECT_EQ(FormatGeneral(999999999999999.0), "999999999999999");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatGeneral(123.456, ','), "123,456");
}

TEST(FormatNumber, GeneralFormatOfSingles) {
    EXPECT_EQ(FormatGeneral(3000.0f), "3000");
    EXPECT_EQ(FormatGeneral(0.9f * 1.0f + 0.0f), "0.9");
    EXPECT_EQ(FormatGeneral(0.90000004f), "0.9");
    EXPECT_EQ(FormatGeneral(12345678.0f), "1.234568E+07");
    EXPECT_EQ(FormatGeneral(0.001f), "0.001");
}

TEST(FormatNumber, ExactTextReadsBack) {
    for (double v : {0.1, 1.0 / 3, 4.69312345678901e-08, 1e-300, 12345.678})
        EXPECT_EQ(std::stod(ExactText(v)), v);
    EXPECT_EQ(ExactText(0.001f), "0.001");
    EXPECT_EQ(ExactText(0.1), "0.1");
}
