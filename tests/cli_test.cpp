// temra-cli end to end: output shapes, exact numbers, errors and exit status.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun RunCli(const std::string& args) {
    // One file per test: CTest runs the tests in parallel processes.
    const std::string errFile = ::testing::TempDir() + "temra_cli_stderr_" +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                ".txt";
    const std::string command = std::string(TEMRA_CLI_PATH) + " " + args + " 2>" + errFile;
    CliRun r{};
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    r.status = pclose(pipe);
    if (FILE* e = fopen(errFile.c_str(), "r")) {
        while ((n = fread(buf.data(), 1, buf.size(), e)) > 0) r.err.append(buf.data(), n);
        fclose(e);
    }
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

} // namespace

TEST(Cli, GridPrintsEveryCaseWithExactNumbers) {
    const CliRun r = RunCli("grid");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 342u);
    EXPECT_EQ(lines[0], "case,elevation_m,temperature_C,He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2");
    EXPECT_EQ(lines[12].substr(0, 8), "12,100,0");
    EXPECT_EQ(lines[341].substr(0, 12), "341,3000,10,");
    // The He-4 value of case 11 (0 m, 10 °C) reads back to the model's value.
    std::istringstream row(lines[11]);
    std::string field;
    for (int i = 0; i < 4; ++i) std::getline(row, field, ',');
    EXPECT_NEAR(std::stod(field), 4.693e-8, 0.0005e-8);
}

TEST(Cli, FitPrintsTenRanksAndAllCases) {
    CliRun r = RunCli("fit --gases ne-20,AR-40,Kr-84,xe");
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "rank,case,temperature_C,elevation_m,deviation");
    EXPECT_EQ(lines[10].substr(0, 3), "10,");
    r = RunCli("fit --all");
    ASSERT_EQ(r.status, 0) << r.err;
    lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 342u);
    EXPECT_EQ(lines[0], "case,elevation_m,temperature_C,deviation");
}

TEST(Cli, FitEaPrintsTenRowsPerEvaluatedTrial) {
    CliRun r = RunCli("fit-ea --gases Ne-20,Ar-40,Kr-84,Xe");
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 491u);
    EXPECT_EQ(lines[0], "trial,excess_air,rank,case,elevation_m,temperature_C,deviation");
    EXPECT_EQ(lines[1].substr(0, 10), "1,0.001,1,");
    EXPECT_EQ(lines[490].substr(0, 12), "49,0.049,10,");
    r = RunCli("fit-ea --ea-min 0 --ea-max 0.05 --ea-step 0.01");
    EXPECT_EQ(Lines(r.out).size(), 51u);
}

TEST(Cli, PairPrintsCurvesAndTheWholeGraph) {
    CliRun r = RunCli("pair --gases Ne-20,He-4");
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 1u + 6 * 7);
    EXPECT_EQ(lines[0], "curve,title,point,temperature_C,x,y");
    EXPECT_EQ(lines[8].substr(0, 26), "2,EA Content: 0.01,1,0,1.0");
    r = RunCli("pair --gases He-4,Ne-20 --json --pair-temp-max 1 --pair-temp-step 0.3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"Label4\": \"Tmax=0.9oC\""), std::string::npos);
    EXPECT_NE(r.out.find("\"x_axis\": \"He-4 (cm3STP/gH2O)\""), std::string::npos);
    EXPECT_NE(r.out.find("\"title\": \"Measured Data\", \"x\": 4.87138e-08"), std::string::npos);
}

TEST(Cli, ErrorsNameTheOptionAndFail) {
    CliRun r = RunCli("--he abc grid");
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("temra-cli: --he: Type mismatch"), std::string::npos) << r.err;
    r = RunCli("fit --temp-step 0");
    EXPECT_NE(r.err.find("temra-cli: --temp-step: Division by zero"), std::string::npos) << r.err;
    r = RunCli("fit-ea --ea-step -1");
    EXPECT_NE(r.err.find("temra-cli: --ea-step: Invalid procedure call or argument"),
              std::string::npos)
        << r.err;
    r = RunCli("pair --gases He-4");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("temra-cli: --gases:"), std::string::npos) << r.err;
    r = RunCli("fit --gases Radon");
    EXPECT_NE(r.err.find("unknown gas \"Radon\""), std::string::npos) << r.err;
}

TEST(Cli, HelpDocumentsEveryOption) {
    CliRun r = RunCli("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option :
         {"--elev-min", "--elev-max", "--elev-step", "--temp-max", "--temp-step", "--maat",
          "--maat-a", "--maat-b", "--chloride", "--density", "--he", "--ne", "--ar", "--kr", "--xe",
          "--n2", "--o2", "--gases"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = RunCli("pair --help");
    EXPECT_NE(r.out.find("--pair-temp-step"), std::string::npos);
    EXPECT_NE(r.out.find("--json"), std::string::npos);
}
