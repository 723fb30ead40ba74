// Bounded random-input tests: many texts a user might type, and many command
// lines, made from a fixed seed so that a failure can be replayed. The number
// reader either gives a finite value or refuses with a type mismatch or an
// overflow; temra-cli always ends with 0, 1 or 2, and a refusal is one line.
#include "cli/cli.h"
#include "core/numtext.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <sstream>

using namespace temra;

namespace {

std::string RandomText(std::mt19937& rng) {
    static const std::string pieces[] = {
        "0",   "1",     "3",      "9",           "5",     "000", ".",        ",",
        "e",   "E",     "-",      "+",           " ",     "\t",  "x",        "inf",
        "nan", "1e308", "1e-320", "4.87138E-08", "3.000", "0x1", "\xc2\xb0", "",
    };
    std::string text;
    const int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    return text;
}

} // namespace

TEST(RandomInput, TheNumberReaderGivesAFiniteValueOrAClearRefusal) {
    std::mt19937 rng(20261207);
    const FieldRef field{"Form1", "Text19", "Equilibrium Elevation Range (m) Max"};
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::string text = RandomText(rng);
        for (char sep : {'.', ','}) {
            try {
                const double value = ParseDouble(text, field, sep);
                ASSERT_TRUE(std::isfinite(value)) << '"' << text << '"';
                ++accepted;
                // A plain C number reads as C reads it.
                double expected = 0;
                const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
                const bool plainC = r.ec == std::errc() && r.ptr == text.data() + text.size() &&
                                    !text.empty() &&
                                    text.find_first_of(" \t,") == std::string::npos;
                if (plainC && sep == '.') {
                    ASSERT_EQ(value, expected) << '"' << text << '"';
                }
                const float single = ParseSingle(text, field, sep);
                ASSERT_TRUE(std::isfinite(single)) << '"' << text << '"';
            } catch (const TemraError& e) {
                ASSERT_TRUE(e.code() == 13 || e.code() == 6) << '"' << text << "\": " << e.what();
                ASSERT_EQ(e.field().control, "Text19");
            }
        }
    }
    EXPECT_GT(accepted, 1000); // the generator also makes numbers
}

TEST(RandomInput, TemraCliEndsCleanlyOnAnyCommandLine) {
    std::mt19937 rng(7);
    static const std::string words[] = {
        "grid",
        "fit",
        "fit-ea",
        "pair",
        "--all",
        "--json",
        "--maat",
        "--help",
        "--he",
        "--ne=",
        "--elev-max",
        "--elev-step",
        "--elev-step=",
        "--temp-max",
        "--temp-step",
        "--density",
        "--chloride=",
        "--gases",
        "He-4,Ne-20",
        "Xe",
        "--ea-min",
        "--ea-max",
        "--ea-step",
        "--pair-temp-min",
        "--pair-ea-step",
        "--bogus",
        "-x",
        "",
        "0",
        "1",
        "-1",
        "100",
        "0.5",
        "1e300",
        "-1e308",
        "abc",
        "3,5",
        "--maat-a",
        "0",
        "=",
        "--",
        "10",
        "500",
        "0.001",
    };
    // The memory this process may use, small: large grids are refused quickly.
    const cli::Environment environment{[] { return std::uint64_t{64} << 20; }};
    int statuses[3] = {0, 0, 0};
    for (int i = 0; i < 5000; ++i) {
        std::vector<std::string> args;
        const int n = static_cast<int>(rng() % 7);
        args.reserve(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) args.push_back(words[rng() % std::size(words)]);
        std::ostringstream out, err;
        int status = -1;
        ASSERT_NO_THROW(status = cli::Run(args, out, err, environment));
        std::string line;
        for (const auto& a : args) line += "'" + a + "' ";
        ASSERT_TRUE(status == 0 || status == 1 || status == 2) << line << status;
        ++statuses[status];
        if (status == 2) {
            const std::string e = err.str();
            ASSERT_EQ(e.rfind("temra-cli: ", 0), 0u) << line << e;
            ASSERT_EQ(e.find('\n'), e.size() - 1) << line << e;
        }
    }
    EXPECT_GT(statuses[0], 100); // both computations and refusals are reached
    EXPECT_GT(statuses[2], 100);
}
