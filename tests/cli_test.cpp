// temra-cli end to end: output shapes, exact numbers, errors and exit status.
#include "core/solubility_sets.h"
#include "core/version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Runs temra-cli through the shell: `before` may set limits ("ulimit -v ...;"),
// `after` may redirect standard output. The status is the exit status.
CliRun RunCliWith(const std::string& before, const std::string& args, const std::string& after) {
    // One file per test: CTest runs the tests in parallel processes.
    const std::string errFile = ::testing::TempDir() + "temra_cli_stderr_" +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                ".txt";
    const std::string command =
        before + " " + std::string(TEMRA_CLI_PATH) + " " + args + " 2>" + errFile + " " + after;
    CliRun r{};
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (FILE* e = fopen(errFile.c_str(), "r")) {
        while ((n = fread(buf.data(), 1, buf.size(), e)) > 0) r.err.append(buf.data(), n);
        fclose(e);
    }
    return r;
}

CliRun RunCli(const std::string& args) {
    return RunCliWith("", args, "");
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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

TEST(Cli, VersionAndPlainText) {
    CliRun r = RunCli("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "temra-cli " + std::string(temra::kVersion) + "\n");
    EXPECT_EQ(std::string(temra::kVersion), "0.2.0");
    // No colour or other terminal control: what NO_COLOR asks for, always.
    for (const char* args : {"--help", "study --help", "grid --elev-step 0", "grid"}) {
        r = RunCliWith("NO_COLOR=1", args, "");
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << args;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << args;
    }
}

// A memory limit of the process is a refusal (run-time error 7, exit status 2),
// never an abort.
TEST(Cli, MemoryLimitsAreRefusedNotAborted) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    const std::pair<const char*, const char*> rows[] = {
        {"grid --elev-step 0.0001 --temp-max 0", "--elev-step"},
        {"fit-ea --ea-max 1 --ea-step 1e-7", "--ea-step"},
    };
    for (const auto& [args, option] : rows) {
        const CliRun r = RunCliWith("ulimit -v 2000000;", args, ">/dev/null");
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, std::string("temra-cli: ") + option + ": Out of memory"))
            << r.err;
        EXPECT_TRUE(Contains(r.err, "(run-time error 7)")) << r.err;
    }
}

TEST(Cli, OutputThatCannotBeWrittenIsAnError) {
    CliRun r = RunCliWith("", "grid", ">/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "temra-cli: standard output:")) << r.err;
    EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
    // A file-size limit: the disk runs full part of the way.
    const std::string file = ::testing::TempDir() + "temra_cli_limited.csv";
    r = RunCliWith("ulimit -f 20;", "grid", ">" + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "File too large")) << r.err;
}

TEST(Cli, AnEmptyOptionIsAnEmptyText) {
    CliRun r = RunCli("grid --elev-min= --maat");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 79u); // the relation is in use: 78 cases
    r = RunCli("grid --elev-max= --maat");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "temra-cli: --elev-max: Type mismatch: the box is empty")) << r.err;
    r = RunCli("pair --ar= --pair-ea-min 0.01");
    EXPECT_EQ(r.status, 0) << r.err; // Ar-40 is not one of the pair
}

TEST(Cli, RefusalsNameTheOptionThatCausedThem) {
    const std::pair<const char*, const char*> rows[] = {
        {"grid --elev-step 1e-6", "--elev-step: Out of memory"},
        {"grid --elev-max -200", "--elev-max: Subscript out of range"},
        {"grid --density 0", "--density:"},
        {"grid --temp-max 100", "--temp-max:"},
        {"fit --he 1e300", "--he: Overflow"},
        {"fit-ea --ne 1e308", "--ne: Overflow"},
        {"grid --ne 0", "--ne: Invalid procedure call"},
        {"grid --chloride=-1", "--chloride: Invalid procedure call"},
        {"fit-ea --ea-max 1e308", "--ea-max: Overflow"},
        {"pair --pair-temp-min=-300", "--pair-temp-min:"},
    };
    for (const auto& [args, expected] : rows) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(Contains(r.err, std::string("temra-cli: ") + expected))
            << args << ": " << r.err;
        EXPECT_FALSE(Contains(r.err, "must not be zero")) << args << ": " << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
}

TEST(Cli, EmptyOrFarResultsAreExplained) {
    CliRun r = RunCli("grid --elev-max -1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).size(), 1u);
    EXPECT_TRUE(Contains(r.err, "temra-cli: note: the grid has no case: the highest elevation"))
        << r.err;
    r = RunCli("fit --he 44333");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "no case has a deviation below 10000")) << r.err;
    EXPECT_FALSE(Contains(r.err, "excluded")) << r.err;
    r = RunCli("fit-ea --he 44333 --gases He-4");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "for 49 of the 49 trial amounts no case")) << r.err;
    r = RunCli("fit");
    EXPECT_EQ(r.err, "");
}

TEST(Cli, ParserRefusalsUseTheOneLineForm) {
    for (const char* args : {"grid --bogus", "--he 1 --he 2 grid", "bogus", "", "grid fit"}) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("temra-cli: ", 0), 0u) << args << ": " << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << args << ": " << r.err;
    }
}

TEST(Cli, AWorkbookThatCannotBeWrittenIsSaidOnceInTemrasWords) {
    const CliRun r = RunCli("grid --xlsx /proc/temra.xlsx");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(Contains(r.err, "temra-cli: --xlsx: The workbook \"/proc/temra.xlsx\" could not "
                                "be written"))
        << r.err;
    EXPECT_FALSE(Contains(r.err, "[ERROR]")) << r.err;
}

namespace {
std::string WriteFile(const std::string& name, const std::string& text) {
    std::string path = ::testing::TempDir() + name;
    FILE* f = fopen(path.c_str(), "w");
    fputs(text.c_str(), f);
    fclose(f);
    return path;
}

// Two samples made at 1500 m and 8 °C with 0.005 cm3 STP/g of excess air, and one
// that cannot be read.
const char* kSamples =
    "sample,He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2,notes\n"
    "a,6.5649e-08,2.390923811434094e-07,0.00038249591924833734,4.918371964418566e-08,"
    "1.2297883852476508e-08,0.0165,0.0079,x\n"
    "\"b, tab\",6.5649e-08,2.39e-07,0.000382,4.92e-08,1.23e-08,0.0165,0.0079,y\n"
    "c,6.5649e-08,abc,0.000382,4.92e-08,1.23e-08,0.0165,0.0079,z\n";
} // namespace

// Every model: each sample's rows one per model, in the table's order; a refused
// sample is refused once per model.
TEST(Cli, StudyWithEveryModelGivesEachSampleARowPerModel) {
    const std::string file = WriteFile("temra_cli_all_models.csv", kSamples);
    CliRun r = RunCli("study --model all --pr-r-max 5 " + file);
    EXPECT_EQ(r.status, 1) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 1u + 3 * 6);
    const char* models[] = {",UA,", ",CE,", ",PR,", ",PD,", ",OD,", ",GR,"};
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_TRUE(Contains(lines[1 + k], models[k])) << lines[1 + k];
        EXPECT_EQ(lines[13 + k].substr(0, 2), "c,");
    }
    EXPECT_TRUE(Contains(lines[1] + lines[2] + lines[3] + lines[4] + lines[5] + lines[6], ",yes,"));
    EXPECT_TRUE(Contains(RunCli("study --model all --pr-r-max 0 " + file).err, "--pr-r-max"));
}

// Monte Carlo from the command line: the summaries after the flags, every draw's
// fit in a new file, and a file that exists refused.
TEST(Cli, MonteCarloGivesItsSummariesAndItsDraws) {
    const std::string file = WriteFile("temra_cli_mc.csv", kSamples);
    const std::string draws = ::testing::TempDir() + "temra_cli_mc_draws.csv";
    std::remove(draws.c_str());
    CliRun r = RunCli("study --mc 50 --mc-seed 3 --mc-draws " + draws + " " + file);
    EXPECT_EQ(r.status, 1) << r.err; // the refused sample
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(Contains(lines[0], ",flags,mc_temperature_C_mean,mc_temperature_C_sd,"));
    EXPECT_TRUE(Contains(lines[0], ",mc_fitted,mc_at_bound,mc_at_edge"));
    EXPECT_TRUE(Contains(lines[1], ",50,")) << lines[1];
    std::ifstream in(draws);
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) ++rows;
    EXPECT_EQ(rows, 1 + 2 * 50); // none for the refused sample
    EXPECT_TRUE(
        Contains(RunCli("study --mc 5 --mc-draws " + draws + " " + file).err, "--mc-draws"));
    EXPECT_TRUE(Contains(RunCli("study --mc 2.5 " + file).err, "--mc"));
    // One thread or one per core: the same numbers.
    EXPECT_EQ(RunCli("--threads 1 study --mc 50 --mc-seed 3 " + file).out, r.out);
    EXPECT_TRUE(Contains(RunCli("--threads 17 study " + file).err, "temra-cli: --threads: "));
}

TEST(Cli, StudyFitsEverySampleInInputOrder) {
    const std::string file = WriteFile("temra_cli_samples.csv", kSamples);
    CliRun r = RunCli("study " + file);
    EXPECT_EQ(r.status, 1) << r.err; // one sample was refused
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "sample,model,gases,n,dof,chi2,p,case,elevation_m,elevation_lo_m,elevation_hi_m,"
              "temperature_C,temperature_lo_C,temperature_hi_C,excess_air,excess_air_lo,"
              "excess_air_hi,fractionation,fractionation_lo,fractionation_hi,reequilibration,"
              "reequilibration_lo,reequilibration_hi,degassing,degassing_lo,degassing_hi,"
              "pressure_factor,pressure_factor_lo,pressure_factor_hi,relaxation,relaxation_lo,"
              "relaxation_hi,preferred,delta_Ne_percent,He4_terrigenic,He4_terrigenic_sigma,N2_"
              "excess,N2_excess_sigma,O2_fraction,flags");
    EXPECT_EQ(lines[1].substr(0, 36), "a,UA,Ne-20;Ar-40;Kr-84;Xe,4,1,5.9595");
    EXPECT_NE(lines[1].find(",174,1500,"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].substr(0, 10), "\"b, tab\",U");
    EXPECT_EQ(lines[3], "c" + std::string(39, ',') +
                            "\"error: Ne-20 on row 4: \"\"abc\"\" is not a number\"");
    EXPECT_TRUE(Contains(r.err, "temra-cli: error: Ne-20 on row 4: \"abc\" is not a number"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "temra-cli: note: columns not read: \"notes\"")) << r.err;
    // The time, for the two samples fitted (the third was refused).
    EXPECT_TRUE(Contains(Lines(r.err).back(), "temra-cli: note: fitted 2 samples in ")) << r.err;
    // Closed-system equilibration, from standard input, with the gases asked for.
    r = RunCliWith("", "study - --model CE --gases Ne-20,Ar-40,Kr-84,Xe,He-4", "< " + file);
    EXPECT_EQ(r.status, 1);
    const auto ce = Lines(r.out);
    ASSERT_EQ(ce.size(), 4u);
    EXPECT_EQ(ce[1].substr(0, 30), "a,CE,He-4;Ne-20;Ar-40;Kr-84;Xe") << ce[1];
}

TEST(Cli, StudyCommandErrorsExitWithTwo) {
    const std::string noGas = WriteFile("temra_cli_nogas.csv", "sample,Ne-20\nx,1e-7\n");
    const std::string file = WriteFile("temra_cli_samples2.csv", kSamples);
    const std::pair<std::string, const char*> rows[] = {
        {"study /nonexistent/samples.csv", "cannot be opened"},
        {"study " + noGas, "the table has no column for Ar-40"},
        {"study " + file + " --model xx", "--model"},
        {"study " + file + " --rel-err abc", "--rel-err: Type mismatch"},
        {"--temp-step 0 study " + file, "--temp-step: Division by zero"},
        {"study", "file is required"},
    };
    for (const auto& [args, expected] : rows) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, expected)) << args << ": " << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
}

// Under an address-space limit of 300 MB a run that needs kilobytes runs, and a
// grid that needs gigabytes is refused before it is made, naming its box.
TEST(Cli, AModerateAddressSpaceLimitRunsSmallWorkAndRefusesHugeWork) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    const std::string two = WriteFile("temra_cli_two.csv", "sample,Ne-20,Ar-40,Kr-84,Xe\n"
                                                           "a,2.39e-7,3.8e-4,4.9e-8,1.2e-8\n");
    const std::pair<std::string, const char*> rows[] = {
        {"grid", nullptr},
        {"pair --json", nullptr},
        {"study " + two, nullptr},
        {"grid --elev-step 0.001", "temra-cli: --elev-step: Out of memory"},
        {"fit-ea --elev-step 0.0005 --temp-step 0.5", "temra-cli: --elev-step: Out of memory"},
    };
    for (const auto& [args, refusal] : rows) {
        const CliRun r = RunCliWith("prlimit --as=300000000", args, ">/dev/null");
        EXPECT_EQ(r.status, refusal ? 2 : 0) << args << ": " << r.err;
        if (refusal) {
            EXPECT_EQ(r.err.rfind(refusal, 0), 0u) << args << ": " << r.err;
        }
        EXPECT_FALSE(Contains(r.err, "bad_alloc")) << r.err;
    }
}

// A workbook being written when temra-cli is interrupted or terminated leaves
// nothing behind, and the process ends by the signal.
TEST(Cli, AnInterruptedWorkbookLeavesNoFile) {
    namespace fs = std::filesystem;
    for (int signal : {SIGINT, SIGTERM}) {
        const fs::path folder =
            fs::path(::testing::TempDir()) / ("temra_cli_signal_" + std::to_string(signal));
        fs::remove_all(folder);
        fs::create_directories(folder);
        const std::string target = (folder / "grid.xlsx").string();
        std::vector<std::string> args{TEMRA_CLI_PATH, "grid",   "--elev-step",
                                      "0.2",          "--xlsx", target};
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // The signals at their default action, whatever the test runner set.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ), 0);
        posix_spawnattr_destroy(&attr);
        // Once the temporary file holds bytes, the workbook is being packed: the
        // longest step. The program is stopped there, signalled and let go on: it
        // ends at once, the file no longer than when it was stopped.
        fs::path part;
        for (int i = 0; i < 12000 && part.empty(); ++i) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                std::error_code ec;
                if (entry.path().extension() == ".part" && fs::file_size(entry.path(), ec) > 0)
                    part = entry.path();
            }
            if (part.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(part.empty());
        kill(pid, SIGSTOP);
        int status = 0;
        waitpid(pid, &status, WUNTRACED);
        const int held = open(part.c_str(), O_RDONLY);
        struct stat before {};
        fstat(held, &before);
        kill(pid, signal);
        kill(pid, SIGCONT);
        waitpid(pid, &status, 0);
        struct stat after {};
        fstat(held, &after);
        close(held);
        EXPECT_EQ(after.st_size, before.st_size) << "the writing went on after the signal";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(fs::is_empty(folder)) << fs::directory_iterator(folder)->path();
    }
}

// Out of file descriptors at each step of a workbook, the refusal says so (not a
// full disk, not a sheet that cannot be added) and leaves nothing behind.
TEST(Cli, AWorkbookOutOfFilesSaysSoAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own runtime needs more open files than the limit leaves";
#endif
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(::testing::TempDir()) / "temra_cli_nofile";
    for (int limit = 5; limit <= 8; ++limit) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        const CliRun r = RunCliWith("prlimit --nofile=" + std::to_string(limit),
                                    "grid --xlsx " + (folder / "g.xlsx").string(), ">/dev/null");
        SCOPED_TRACE("open files at most " + std::to_string(limit) + ": " + r.err);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.err, "open files")) << r.err;
        EXPECT_FALSE(Contains(r.err, "disk") || Contains(r.err, "cannot be added"));
        EXPECT_TRUE(fs::is_empty(folder));
    }
}

// Options are named in their refusals, checked where they are read, and an empty
// one the subcommand reads is refused.
TEST(Cli, OptionsAreCheckedWhereTheyAreReadAndNamed) {
    const std::string file = WriteFile("temra_cli_options.csv", kSamples);
    const std::pair<std::string, const char*> rows[] = {
        {"study " + file + " --rel-err 0", "--rel-err: the relative error (0) must be"},
        {"study " + file + " --model ce --ce-a-max -1", "--ce-a-max: the largest A of CE (-1)"},
        {"study " + file + " --model ce --ce-a-max=", "--ce-a-max: Type mismatch"},
        {"study " + file + " --a-max 0", "--a-max: the largest A of UA (0) must be"},
        {"study " + file + " --a-max 0.1 --ce-a-max 0.2", "--a-max: --a-max and --ce-a-max are"},
        {"study " + file + " --model pd --pd-beta 3", "--pd-beta: the exponent β of the "
                                                      "diffusivity ratio in PD (3) must lie"},
        {"study " + file + " --prior-maat --prior-sd -1", "--prior-sd: the spread (-1) must be"},
        {"study " + file + " --ensemble T,E --mc 5 --prior-maat",
         "--ensemble: Monte Carlo draws fit each sample alone; leave out the draws or the "
         "ensemble fit; the lapse-rate prior weighs"},
        {"study " + file + " --solubility Weiss",
         "--solubility: there is no data set \"Weiss\"; name one of builtin, weiss, jenkins2019"},
        {"study " + file + " --gases ''", "--gases: the list of gases is empty"},
        {"study " + file + " --gases= --model ce", "--gases: the list of gases is empty"},
        {"study " + file + " --model=", "--model: the model is empty"},
        {"study " + file + " --rel-err=", "--rel-err: Type mismatch"},
        {"study " + file + " --xlsx=", "--xlsx: the file name is empty"},
        {"study ''", "study: the file name of the table is empty"},
        {"grid --xlsx=", "--xlsx: the file name is empty"},
        {"fit --all --xlsx ''", "--xlsx: the file name is empty"},
        {"fit-ea --xlsx=", "--xlsx: the file name is empty"},
        {"fit --gases=", "--gases: the list of gases is empty"},
        {"pair --gases=", "--gases: the list of gases is empty"},
        {"pair --pair-temp-step=", "--pair-temp-step: Type mismatch"},
        {"fit-ea --ea-max=", "--ea-max: Type mismatch"},
        {"pair --pair-ea-min -0.5 --pair-ea-max -0.5", "--pair-ea-min: Invalid procedure"},
        {"pair --ne -5 --json", "--ne: Invalid procedure call or argument: the measured"},
        {"pair --gases He-4,Xe --xe 0", "--xe: Invalid procedure call or argument: the measured"},
        {"pair --pair-temp-min 40", "--pair-temp-min: Invalid procedure call or argument: "
                                    "the minimum (40 °C) lies above the maximum (30 °C)"},
        {"pair --pair-temp-max -5", "--pair-temp-max: Invalid procedure call"},
    };
    for (const auto& [args, expected] : rows) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind(std::string("temra-cli: ") + expected, 0), 0u)
            << args << ": " << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
    // What a subcommand does not read may stay empty or out of range.
    for (const std::string& args :
         {"study " + file + " --pr-r-max 0", "study " + file + " --model ua --pd-beta=",
          std::string("grid --gases="), std::string("pair --ar= --xe=-1")}) {
        const CliRun r = RunCli(args);
        EXPECT_LE(r.status, 1) << args << ": " << r.err; // 1: a sample of the table is refused
        EXPECT_NE(r.out, "") << args;
    }
}

// A table too wide for the memory this process may use is refused naming the
// table, never with advice about the grid.
TEST(Cli, ATableTooWideForTheLimitIsRefusedNamingTheTable) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    std::string wide = "sample,Ne-20,Ar-40,Kr-84,Xe";
    for (int i = 0; i < 4'000'000; ++i) wide += ",c";
    for (const std::string& text : {wide + "\n", "sample,Ne-20,Ar-40,Kr-84,Xe\n" + wide + "\n"}) {
        const std::string file = WriteFile("temra_cli_wide.csv", text);
        const CliRun r = RunCliWith("prlimit --as=300000000", "study " + file, ">/dev/null");
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(Contains(r.err, file)) << r.err;
        EXPECT_TRUE(Contains(r.err, " fields on row ") ||
                    Contains(r.err, "Out of memory: the study of this table"))
            << r.err;
        EXPECT_FALSE(Contains(r.err, "steps")) << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
}

// A table refused as a whole names its file on one line (exit status 2); a row
// whose fields are not the header's is an error row (1); totals are read as
// isotopes and said once; a header without samples gives the results' header and
// a note (0).
TEST(Cli, StudyTablesSayWhatWasReadAndWhere) {
    using namespace std::string_literals;
    const std::string header = "sample,Ne-20,Ar-40,Kr-84,Xe\n";
    const std::string row = "a,2.39e-07,0.00038,4.9e-08,1.2e-08\n";
    struct Row {
        std::string text, args;
        int status;
        std::string err; // what standard error begins with (FILE: the file's name)
        std::size_t lines;
    };
    const Row rows[] = {
        {"\xFF\xFEs\0a\0m\0\n\0"s, "", 2, "temra-cli: study: \"FILE\": the file is UTF-16 (li", 1},
        {header + row + "x\0"s + row, "", 2,
         "temra-cli: study: \"FILE\": row 3, column 1 (\"sample\") h", 1},
        {"sample,Ne-20,Ar-40,Kr-84,Xe,ne-20\n" + row, "", 2, "temra-cli: FILE: columns 2 (\"Ne", 1},
        {header + "a b,c" + row.substr(1), "", 1, "temra-cli: error: row 2 has 6 fields, its h", 1},
        {"sample,Ne,Ar-40,Kr,Xe\n" + row, "--per-gram", 0,
         "temra-cli: note: columns of total gas read as their isotopes, each value and error "
         "times the isotope's share of the atmosphere's gas: \"Ne\" as Ne-20 (× 0.9048), "
         "\"Kr\" as Kr-84 (× 0.56987)\n",
         6}, // the columns; the sample best at the highest temperature and elevation, and
             // its ranges cut there; the time the fit took
        {header, "", 0, "temra-cli: note: the table has a header but no samples", 1},
    };
    for (const Row& r : rows) {
        const std::string file = ::testing::TempDir() + "temra_cli_table.csv";
        FILE* f = fopen(file.c_str(), "wb");
        fwrite(r.text.data(), 1, r.text.size(), f);
        fclose(f);
        const CliRun run = RunCli("study " + r.args + " " + file);
        std::string err = r.err;
        if (const auto at = err.find("FILE"); at != std::string::npos) err.replace(at, 4, file);
        EXPECT_EQ(run.status, r.status) << run.err;
        EXPECT_EQ(run.err.rfind(err, 0), 0u) << run.err;
        EXPECT_EQ(Lines(run.err).size(), r.lines) << run.err;
        EXPECT_EQ(Lines(run.out).size(), r.status == 2 ? 0 : r.text.size() > header.size() ? 2 : 1);
    }
}

// Text from the table reaches the terminal with its control characters shown
// as escapes; the CSV keeps it as it is, quoted.
TEST(Cli, ControlCharactersOfTheTableAreShownEscaped) {
    const std::string file = WriteFile("temra_cli_controls.csv",
                                       "sample,Ne-20,Ar-40,Kr-84,Xe,\"note\x07\"\n"
                                       "\"x\ty\",\"2.39e-07\x1b[2J\",0.00038,4.9e-08,1.2e-08,\n");
    const CliRun r = RunCli("study " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err),
              (std::vector<std::string>{
                  "temra-cli: note: columns not read: \"note\\x07\"",
                  "temra-cli: error: Ne-20 on row 2: \"2.39e-07\\x1b[2J\" is not a number"}));
    EXPECT_TRUE(Contains(r.out, "\n\"x\ty\",,,,"));
    EXPECT_TRUE(Contains(r.out, "\"error: Ne-20 on row 2: \"\"2.39e-07\x1b[2J\"\" is not"));
}

// The ensemble fit: the members of a group share T and E, the group's columns
// follow the flags, the same in each member's row; a refused member is named;
// what cannot be shared is refused naming --ensemble.
TEST(Cli, StudyEnsembleFitsAGroupTogether) {
    std::string table = "sample,He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2,group\n";
    for (const std::string& row : Lines(kSamples))
        if (row.rfind("sample,", 0) != 0) table += row.substr(0, row.rfind(',')) + ",w\n";
    const std::string file = WriteFile("temra_cli_ensemble.csv", table);
    CliRun r = RunCli("study --ensemble T,E " + file);
    EXPECT_EQ(r.status, 1) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(Contains(lines[0], ",flags,group,group_chi2,group_dof,group_p")) << lines[0];
    // a and b: the same T, group and group chi2; 8 gases less T, E and two A.
    auto tail = [](const std::string& line) { return line.substr(line.rfind(",w,")); };
    EXPECT_EQ(tail(lines[1]), tail(lines[2]));
    EXPECT_TRUE(Contains(tail(lines[1]), ",4,")) << lines[1];
    EXPECT_TRUE(Contains(r.err, "group \"w\": c is left out (row 4: its fit is refused)")) << r.err;
    // Without --ensemble the group is not read as one, and no group column is written.
    EXPECT_FALSE(Contains(RunCli("study " + file).out, "group"));
    const struct {
        std::string args;
        const char* says;
    } refused[] = {
        {"--ensemble F", "--ensemble: \"F\" is no parameter of UA (its parameters: T, E, A)"},
        {"--ensemble T,E,F --model ce", "--ensemble: F of CE is each member's own"},
        {"--ensemble E", "--ensemble: E alone cannot be shared"},
        {"--ensemble=", "--ensemble: name the parameters"},
        {"--ensemble T,E --model all", "--ensemble: a group is fitted with one model"},
        {"--ensemble T,E --mc 5", "--ensemble: Monte Carlo draws fit each sample alone"},
    };
    for (const auto& row : refused) {
        r = RunCli("study " + row.args + " " + file);
        EXPECT_EQ(r.status, 2) << row.args;
        EXPECT_TRUE(Contains(r.err, row.says)) << row.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << row.args;
    }
}

// What a campaign of command lines found, each mended: a group none of whose
// members can be fitted, lists of shared parameters that are not one, bounds
// beyond what a model can use, seeds beyond 2^53, and texts too long to echo.
TEST(Cli, RefusalsOfTheStudyNameTheirOptionAndTheRestIsFitted) {
    const std::string bad =
        WriteFile("temra_cli_group.csv", "sample,Ne-20,Ar-40,Kr-84,Xe,group,elevation\n"
                                         "s1,1.9e-07,x,5.2e-08,1.3e-08,g,\n"
                                         "s2,1.9e-07,3.5e-4,5.2e-08,1.3e-08,h,30000\n"
                                         "s3,1.9e-07,3.5e-4,5.2e-08,1.3e-08,h,30000\n"
                                         "s4,1.9e-07,3.5e-4,5.2e-08,1.3e-08,,\n");
    const CliRun group = RunCli("study " + bad + " --ensemble T,E");
    EXPECT_EQ(group.status, 1) << group.err;
    EXPECT_EQ(Lines(group.out).size(), 5u) << group.out;
    EXPECT_TRUE(Contains(group.out, "\ns4,UA,")) << group.out;
    const std::string file = WriteFile("temra_cli_refusals.csv", kSamples);
    const std::string longName(200, 'n');
    const std::pair<std::string, const char*> rows[] = {
        {"study " + file + " --ensemble 'T;E'", "--ensemble: \"T;E\" is no parameter of UA"},
        {"study " + file + " --ensemble T,E,", "--ensemble: a name of the list is empty"},
        {"study " + file + " --ensemble T,E,E", "--ensemble: E is named twice"},
        {"study " + file + " --model pr --pr-r-max 1e4",
         "--pr-r-max: the largest R of PR (10000) must be at most 100"},
        {"study " + file + " --model od --od-p-max 1e300",
         "--od-p-max: the largest POD of OD (1E+300) must be at most 10"},
        {"study " + file + " --model ce --ce-a-max 1e308",
         "--ce-a-max: the largest A of CE (1E+308) must be at most 1"},
        {"study " + file + " --mc-seed 18446744073709551616",
         "--mc-seed: the seed (18446744073709551616) must be a whole number from 0 to "
         "18446744073709551615"},
        {"study " + file + " --mc-seed " + longName,
         "--mc-seed: the seed "
         "(nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"
         "nnnnnnnn… (200 characters))"},
    };
    for (const auto& [args, expected] : rows) {
        const CliRun r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_EQ(r.err.rfind(std::string("temra-cli: ") + expected, 0), 0u)
            << args << ": " << r.err;
    }
    // Seeds two apart beyond 2^53 give other draws, and the largest is read.
    auto draws = [&](const std::string& seed) {
        return RunCli("study " + file + " --mc 5 --mc-seed " + seed).out;
    };
    EXPECT_NE(draws("9007199254740992"), draws("9007199254740993"));
    EXPECT_EQ(RunCli("study " + file + " --mc 2 --mc-seed 18446744073709551615").status, 1);
}

// The file of draws is written as the workbooks are: under a private name, given
// its own only when complete, never replacing a file or following a link; a
// draw that could not be fitted has its reason in its row, and a note counts
// them; a file that cannot be written leaves the results on standard output.
TEST(Cli, TheFileOfDrawsIsNewCompleteAndSaysWhatFailed) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(::testing::TempDir()) / "temra_cli_draws";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string table =
        WriteFile("temra_cli_draws.csv", "sample,Ne-20,Ar-40,Kr-84,Xe,Ne-20 err\n"
                                         "S1,1.9e-07,3.5e-4,5.2e-08,1.3e-08,1.5e-7\n");
    const std::string draws = (folder / "d.csv").string();
    const CliRun r = RunCli("study " + table + " --mc 50 --mc-draws " + draws);
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream in(draws);
    std::string line;
    int rows = 0, failed = 0;
    while (std::getline(in, line)) {
        ++rows;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
        failed += Contains(line, ",error: Ne-20 on row 2: ");
    }
    EXPECT_EQ(rows, 51);
    EXPECT_GT(failed, 0);
    EXPECT_TRUE(Contains(r.err, "S1: " + std::to_string(failed) +
                                    " of 50 Monte Carlo draws could "
                                    "not be fitted (the first: Ne-20"))
        << r.err;
    // A name taken, even by a link that leads nowhere, is refused before any work;
    // so are an empty name and the workbook's own.
    fs::create_symlink(folder / "nowhere", folder / "link.csv");
    const std::pair<std::string, const char*> refused[] = {
        {" --mc 5 --mc-draws " + draws, "the file"},
        {" --mc 5 --mc-draws " + (folder / "link.csv").string(), "the file"},
        {" --mc 5 --mc-draws=", "the file name is empty"},
        {" --mc 5 --mc-draws " + (folder / "x.xlsx").string() + " --xlsx " +
             (folder / "x.xlsx").string(),
         "--mc-draws and --xlsx name the same file"},
    };
    for (const auto& [args, expected] : refused) {
        std::string command = "study " + table;
        command += args;
        const CliRun again = RunCli(command);
        EXPECT_EQ(again.status, 2) << args;
        EXPECT_TRUE(Contains(again.err, std::string("--mc-draws: ") + expected)) << again.err;
        EXPECT_EQ(again.out, "") << args;
    }
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
    const CliRun without = RunCli("study " + table + " --mc-draws " + (folder / "n.csv").string());
    EXPECT_TRUE(Contains(without.err, "no draws are made without --mc")) << without.err;
    EXPECT_FALSE(fs::exists(folder / "n.csv"));
    // A file that cannot be written whole (a limit of 2 kB on a file's size): the
    // results still, exit 1, nothing left of the file.
    const CliRun full =
        RunCliWith("ulimit -f 2;",
                   "study " + table + " --mc 200 --mc-draws " + (folder / "full.csv").string(), "");
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_TRUE(Contains(full.out, "\nS1,UA,")) << full.out;
    EXPECT_TRUE(Contains(full.err, "error: --mc-draws: the file")) << full.err;
    for (const auto& e : fs::directory_iterator(folder))
        EXPECT_TRUE(e.path().filename() == "d.csv" || e.path().filename() == "link.csv")
            << e.path();
}

// --solubility: the grid's and the study's concentrations from another data set;
// builtin is what temra-cli computes without the option, byte for byte.
TEST(Cli, TheSolubilityDataSetIsChosenForTheGridAndTheStudy) {
    const std::string file = WriteFile("temra_cli_solubility.csv", kSamples);
    const CliRun grid = RunCli("grid"), builtin = RunCli("grid --solubility builtin"),
                 weiss = RunCli("grid --solubility weiss");
    ASSERT_EQ(grid.status, 0) << grid.err;
    EXPECT_EQ(builtin.out, grid.out);
    ASSERT_EQ(weiss.status, 0) << weiss.err;
    EXPECT_NE(weiss.out, grid.out);
    const CliRun study = RunCli("study " + file),
                 jenkins = RunCli("study " + file + " --solubility jenkins2019");
    ASSERT_EQ(jenkins.status, study.status) << jenkins.err; // the table holds a bad row
    EXPECT_NE(jenkins.out, study.out);
    EXPECT_EQ(RunCli("study " + file + " --solubility builtin").out, study.out);
    // Every data set: each sample's rows one per set, builtin's as the plain study's
    // with the set and its shift after them; the grid takes one set.
    const CliRun all = RunCli("study " + file + " --solubility all");
    const auto lines = Lines(all.out), plain = Lines(study.out);
    ASSERT_EQ(lines.size(), 1 + 3 * temra::SolubilitySets().size()) << all.err;
    EXPECT_EQ(lines[0], plain[0] + ",solubility,dT_vs_builtin_C,dE_vs_builtin_m,dA_vs_builtin");
    EXPECT_EQ(lines[1], plain[1] + ",builtin,0,0,0");
    EXPECT_TRUE(Contains(lines[2], ",weiss,-")) << lines[2];
    const CliRun gridAll = RunCli("grid --solubility all");
    EXPECT_NE(gridAll.status, 0);
    EXPECT_TRUE(Contains(gridAll.err, "temra-cli: --solubility: all compares")) << gridAll.err;
}
