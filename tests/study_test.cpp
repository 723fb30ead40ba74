// The study fit against independent calculations: the closed form of UA worked
// out here gas by gas, a brute-force scan over (A, F) for CE, samples made from
// known recharge conditions, and chi2 probabilities from the textbook formulas.
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_model.h"
#include "study/fit/contour.h"
#include "study/fit/posterior.h"
#include "study/input/sample_table.h"
#include "study/models/models.h"
#include "study/output/study_notes.h"
#include "study/output/study_results.h"
#include "study/study_fit.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/monte_carlo.h"
#include "tests/study_support.h"
#include "tests/test_support.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <random>

using namespace temra;
using namespace temra::study;

namespace {

constexpr std::array<int, 4> kFitted = {2, 3, 4, 5}; // Ne-20, Ar-40, Kr-84, Xe

// A small grid: 0 to 200 m in steps of 100, 0 to 10 °C in steps of 1 (33 cases).
StudyOptions SmallGrid(Model model = Model::UA) {
    StudyOptions o;
    o.grid.Text19 = "200";
    o.model = model;
    return o;
}

GridPlan GridOf(const StudyOptions& o) {
    Module1 m;
    GridPlan plan = m.PlanSolubility(o.grid);
    m.FillSolubility(plan);
    return plan;
}

// A sample as the table would hold it: the gases of case k with excess air A
// (fractionated by F, for CE), each times (1 + noise), with 1 % errors.
Sample Made(const SolubilityGrid& g, std::size_t k, double A, double F = 0,
            std::array<double, 7> noise = {}) {
    Sample s;
    s.name = "made";
    s.row = 2;
    for (int gas = 1; gas <= GasCount; ++gas) {
        const auto i = static_cast<std::size_t>(gas - 1);
        const double C = g.Row(gas)[k], z = kGasTable[i].AtmFraction;
        const double value = (C + (1 - F) * A * z / (1 + F * A * z / C)) * (1 + noise[i]);
        s.measured[i] = ExactText(value);
        s.error[i] = ExactText(0.01 * value);
    }
    return s;
}

struct Weighted {
    std::array<double, 4> m, s, z, C;
};

Weighted At(const SolubilityGrid& g, const Sample& sample, std::size_t k) {
    Weighted w;
    for (std::size_t j = 0; j < 4; ++j) {
        const auto i = static_cast<std::size_t>(kFitted[j] - 1);
        w.m[j] = std::stod(sample.measured[i]);
        const double sigma = std::stod(sample.error[i]);
        w.s[j] = 1 / (sigma * sigma);
        w.z[j] = kGasTable[i].AtmFraction;
        w.C[j] = g.Row(kFitted[j])[k];
    }
    return w;
}

double CeChi2(const Weighted& w, double A, double F) {
    double chi2 = 0;
    for (std::size_t j = 0; j < 4; ++j) {
        const double model = w.C[j] + (1 - F) * A * w.z[j] / (1 + F * A * w.z[j] / w.C[j]);
        chi2 += w.s[j] * (w.m[j] - model) * (w.m[j] - model);
    }
    return chi2;
}

RunSettings Settings() {
    return RunSettings{};
}

} // namespace

TEST(StudyFit, UaMatchesTheClosedFormWorkedOutGasByGas) {
    const StudyOptions o = SmallGrid();
    const GridPlan plan = GridOf(o);
    const SolubilityGrid& g = *plan.grid;
    const Sample sample = Made(g, 17, 0.004, 0, {0.003, -0.002, 0.004, -0.003, 0, 0, 0});
    // Independent: every case, A from the normal equation, chi2 term by term; the
    // 1-sigma A range from a fine scan of A.
    double best = 1e300;
    std::size_t bestK = 0;
    double bestA = 0;
    for (std::size_t k = 0; k < static_cast<std::size_t>(g.CaseCount); ++k) {
        const Weighted w = At(g, sample, k);
        double num = 0, den = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            num += w.s[j] * (w.m[j] - w.C[j]) * w.z[j];
            den += w.s[j] * w.z[j] * w.z[j];
        }
        const double A = std::max(0.0, num / den), chi2 = CeChi2(w, A, 0);
        if (chi2 < best) {
            best = chi2;
            bestK = k;
            bestA = A;
        }
    }
    double aLo = 1e300, aHi = -1;
    for (std::size_t k = 0; k < static_cast<std::size_t>(g.CaseCount); ++k) {
        const Weighted w = At(g, sample, k);
        for (double A = 0; A <= 0.02; A += 1e-6)
            if (CeChi2(w, A, 0) <= best + 1) {
                aLo = std::min(aLo, A);
                aHi = std::max(aHi, A);
            }
    }
    const auto r = FitStudy({sample}, o, Settings())[0];
    ASSERT_EQ(r.error, "");
    // The continuous best is no worse than the best case, lies next to it, and its
    // T, elevation and A reproduce its chi2 when the model is evaluated anew.
    EXPECT_LE(r.chi2, best + 1e-9 * std::max(1.0, best));
    EXPECT_NEAR(r.temperature, g.Temp[bestK], 1.0);
    EXPECT_NEAR(r.elevation, g.Elev[bestK], 100.0);
    double chi2 = 0;
    for (int gas : kFitted) {
        const auto i = static_cast<std::size_t>(gas - 1);
        const double C =
            EvaluateModel(kGasTable[i], r.temperature, r.elevation, 1, 0, {}).EquilConc;
        const double m = std::stod(sample.measured[i]), sigma = std::stod(sample.error[i]);
        const double d = (m - C - r.A * kGasTable[i].AtmFraction) / sigma;
        chi2 += d * d;
    }
    EXPECT_NEAR(r.chi2, chi2, 1e-9 * std::max(1.0, chi2));
    EXPECT_NEAR(r.A, bestA, 0.1 * bestA);
    EXPECT_LT(aLo, aHi); // the grid's own A range is not empty
    EXPECT_LE(r.ALo, r.A);
    EXPECT_GE(r.AHi, r.A);
    EXPECT_EQ(r.n, 4);
    EXPECT_EQ(r.dof, 4 - 3); // elevation, temperature and A are free
    ASSERT_TRUE(r.p.has_value());
    EXPECT_NEAR(*r.p, std::erfc(std::sqrt(r.chi2 / 2)), 1e-12); // one degree of freedom
}

TEST(StudyFit, SamplesOfKnownRechargeAreRecoveredWithinTheirRanges) {
    StudyOptions o;
    o.grid.Text25 = "50";
    o.grid.Text21 = "20";
    o.grid.Text26 = "0.5";
    const GridPlan plan = GridOf(o);
    const SolubilityGrid& g = *plan.grid;
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 0.003); // well inside the 1 % errors
    std::vector<Sample> samples;
    std::vector<std::size_t> truth;
    for (int i = 0; i < 12; ++i) {
        const std::size_t k = 41 * static_cast<std::size_t>(5 + 4 * i) + 10 + i;
        std::array<double, 7> n{};
        for (double& v : n) v = noise(rng);
        samples.push_back(Made(g, k, 0.002 + 0.001 * i, 0, n));
        truth.push_back(k);
    }
    for (Model model : {Model::UA, Model::CE}) {
        o.model = model;
        const auto results = FitStudy(samples, o, Settings());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const StudyResult& r = results[i];
            const std::size_t k = truth[i];
            ASSERT_EQ(r.error, "") << i;
            EXPECT_LE(r.elevationLo, g.Elev[k]) << i;
            EXPECT_GE(r.elevationHi, g.Elev[k]) << i;
            EXPECT_LE(r.temperatureLo, g.Temp[k]) << i;
            EXPECT_GE(r.temperatureHi, g.Temp[k]) << i;
            const double A = 0.002 + 0.001 * static_cast<double>(i);
            EXPECT_LE(r.ALo, A) << i;
            EXPECT_GE(r.AHi, A) << i;
            EXPECT_LE(r.elevationLo, r.elevation);
            EXPECT_GE(r.temperatureHi, r.temperature);
        }
    }
}

TEST(StudyFit, RefusedSamplesBecomeErrorRowsAndTheOthersAreFitted) {
    const StudyOptions o = SmallGrid();
    const GridPlan plan = GridOf(o);
    const Sample good = Made(*plan.grid, 5, 0.003);
    struct Row {
        std::string Sample::*text; // or the gas below
        int gas;
        const char* value;
        const char* message;
    };
    const Row rows[] = {
        {nullptr, 3, "abc", "Ar-40 on row 2: \"abc\" is not a number"},
        {nullptr, 4, "-1e-8", "Kr-84 on row 2: -1e-8 is not a positive number"},
        {&Sample::chloride, 0, "-0.1", "chloride on row 2: -0.1 is below 0"},
        {&Sample::density, 0, "0", "density on row 2: 0 is not above 0"},
        {&Sample::elevation, 0, "high", "elevation on row 2: \"high\" is not a number"},
        {&Sample::elevation, 0, "50000", "row 2 (elevation 50000)"},
    };
    std::vector<Sample> samples{good};
    for (const Row& row : rows) {
        Sample s = good;
        if (row.text) s.*row.text = row.value;
        if (row.gas) s.measured[static_cast<std::size_t>(row.gas - 1)] = row.value;
        samples.push_back(s);
    }
    Sample badError = good;
    badError.error[4] = "0";
    samples.push_back(badError);
    const auto results = FitStudy(samples, o, Settings());
    EXPECT_EQ(results[0].error, "");
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_NE(results[i + 1].error.find(rows[i].message), std::string::npos)
            << results[i + 1].error;
    EXPECT_NE(results.back().error.find("Xe err on row 2: 0 is not a positive number"),
              std::string::npos)
        << results.back().error;
    // A gas not fitted may be blank; a fitted one left blank is left out of the
    // fit, and said.
    Sample noHelium = good;
    noHelium.measured[0] = "";
    EXPECT_EQ(FitStudy({noHelium}, o, Settings())[0].error, "");
    Sample noXenon = good;
    noXenon.measured[4] = "";
    const StudyResult r = FitStudy({noXenon}, o, Settings())[0];
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.n, 3);
    EXPECT_EQ(r.dof, 0);
    EXPECT_FALSE(r.p.has_value());
    ASSERT_GE(r.flags.size(), 2u);
    EXPECT_EQ(r.flags[r.flags.size() - 2], "underdetermined");
    EXPECT_EQ(r.flags.back(), "missing:Xe");
}

TEST(StudyFit, FlagsDofAndAKnownElevation) {
    const StudyOptions o = SmallGrid();
    const GridPlan plan = GridOf(o);
    const SolubilityGrid& g = *plan.grid;
    // At 0 °C, the lowest temperature of its elevation, and at the lowest
    // elevation.
    auto r = FitStudy({Made(g, 0, 0.003)}, o, Settings())[0];
    EXPECT_EQ(r.caseNo, 1);
    EXPECT_EQ(r.flags,
              (std::vector<std::string>{"edge-T", "edge-E", "range-cut-T", "range-cut-E"}));
    EXPECT_TRUE(r.ends.tempLow && r.ends.elevLow);
    // Less gas than equilibrium: A stops at 0.
    Sample degassed = Made(g, 16, 0);
    for (std::string& m : degassed.measured) m = ExactText(std::stod(m) * 0.97);
    r = FitStudy({degassed}, o, Settings())[0];
    EXPECT_EQ(r.A, 0);
    EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), "A=0"), r.flags.end());
    // Gases that no case explains: a poor fit.
    Sample odd = Made(g, 16, 0.003, 0, {0, 0.2, -0.2, 0.2, -0.2, 0, 0});
    r = FitStudy({odd}, o, Settings())[0];
    EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), "poor-fit"), r.flags.end());
    ASSERT_TRUE(r.p.has_value());
    EXPECT_LT(*r.p, 0.01);
    // A known elevation: one elevation only, one degree of freedom more.
    Sample known = Made(g, 16, 0.003);
    known.elevation = "100";
    r = FitStudy({known}, o, Settings())[0];
    EXPECT_EQ(r.elevation, 100);
    EXPECT_EQ(r.elevationLo, 100);
    EXPECT_EQ(r.elevationHi, 100);
    EXPECT_EQ(r.dof, 4 - 2);
    ASSERT_TRUE(r.p.has_value());
    EXPECT_NEAR(*r.p, std::exp(-r.chi2 / 2), 1e-12); // two degrees of freedom
    EXPECT_EQ(std::find(r.flags.begin(), r.flags.end(), "edge-E"), r.flags.end());
    // CE at its bounds.
    StudyOptions ce = o;
    ce.model = Model::CE;
    r = FitStudy({Made(g, 16, 0.003)}, ce, Settings())[0];
    EXPECT_EQ(r.dof, 4 - 4);
    EXPECT_FALSE(r.p.has_value());
    EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), "underdetermined"), r.flags.end());
    EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), "F=0"), r.flags.end());
    ce.upper["a-max"] = 0.002;
    r = FitStudy({Made(g, 16, 0.003)}, ce, Settings())[0];
    EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), "A=max"), r.flags.end());
}

TEST(StudyFit, SamplesOfOneDensityAndChlorideShareTheirGrid) {
    const StudyOptions o = SmallGrid();
    const GridPlan plan = GridOf(o);
    Sample fresh = Made(*plan.grid, 9, 0.003);
    Sample salty = fresh;
    salty.chloride = "0.5";
    Sample dense = fresh;
    dense.density = "1.1";
    const auto r = FitStudy({fresh, salty, dense, fresh}, o, Settings());
    EXPECT_EQ(r[0].caseNo, 10);
    EXPECT_EQ(r[3].chi2, r[0].chi2);
    EXPECT_NE(r[1].chi2, r[0].chi2);
    EXPECT_NE(r[2].chi2, r[0].chi2);
}

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

// A refused option says which setting to change; an option the model does not
// use is not checked.
TEST(StudyFit, OptionRefusalsNameTheSetting) {
    struct Row {
        Model model;
        double relErr, ceAMax;
        bool anyGas;
        std::optional<StudySetting> refused;
    };
    const Row rows[] = {
        {Model::UA, 0, 0.1, true, StudySetting::RelErr},
        {Model::CE, -1, 0.1, true, StudySetting::RelErr},
        {Model::CE, 0.01, 0, true, StudySetting::Upper},
        {Model::CE, 0.01, -1, true, StudySetting::Upper},
        {Model::UA, 0.01, 0.1, false, StudySetting::Gases},
        {Model::UA, 0.01, 0, true, StudySetting::Upper}, // every model's A is bounded
        {Model::PD, 0.01, -1, true, StudySetting::Upper},
    };
    const StudyOptions grid = SmallGrid();
    const Sample sample = Made(*GridOf(grid).grid, 5, 0.002);
    for (const Row& row : rows) {
        StudyOptions o = SmallGrid(row.model);
        o.relErr = row.relErr;
        o.upper["a-max"] = row.ceAMax;
        if (!row.anyGas) o.gases = {};
        std::optional<StudySetting> refused;
        try {
            EXPECT_EQ(FitStudy({sample}, o, Settings())[0].error, "");
        } catch (const StudyError& e) {
            refused = e.setting();
        }
        EXPECT_EQ(refused, row.refused) << row.relErr << " " << row.ceAMax;
    }
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

// A grid run inside a study counts into the study's progress: its own Begin does
// not start the study's count afresh, and a cancel of the study reaches it.
TEST(RunControl, APartCountsIntoTheWholeAndHearsItsCancel) {
    RunControl whole;
    whole.Begin(10);
    whole.Advance(3);
    {
        RunControl part(whole);
        part.Begin(4);
        part.Advance(4);
        EXPECT_EQ(part.Fraction(), 1);
    }
    EXPECT_EQ(whole.Done(), 7u);
    EXPECT_EQ(whole.Total(), 10u);
    // A part worth a share of the whole (a chunk of draws): counted as its last
    // stage goes on, not before its stage begins, never beyond its share.
    {
        RunControl chunk(whole, std::uint64_t{2});
        chunk.Advance(5); // planning, before the stage is known
        EXPECT_EQ(whole.Done(), 7u);
        chunk.Begin(100);
        chunk.Advance(50);
        EXPECT_EQ(whole.Done(), 8u);
        chunk.Advance(80);
        EXPECT_EQ(whole.Done(), 9u);
        EXPECT_EQ(chunk.Shared(), 2u);
    }
    whole.Cancel();
    RunControl late(whole);
    EXPECT_TRUE(late.IsCancelled());
    EXPECT_THROW(late.Advance(1), Cancelled);
}

// The progress of a study is one count over every group's grid and every
// sample's fit, which ends exactly at its total.
TEST(StudyFit, ProgressCountsEveryGroupAndEverySample) {
    const StudyOptions ua = SmallGrid();
    const GridPlan plan = GridOf(ua);
    const auto cases = static_cast<std::uint64_t>(plan.Cases());
    Sample fresh = Made(*plan.grid, 9, 0.003);
    Sample salty = fresh;
    salty.chloride = "0.5";
    Sample dense = fresh;
    dense.density = "1.1";
    const std::vector<Sample> samples{fresh, salty, dense, fresh};
    for (const Model model : {Model::UA, Model::CE}) {
        StudyOptions o = ua;
        o.model = model;
        RunControl control;
        FitStudy(samples, o, Settings(), control);
        // Three grids and four samples, each sample a pass over its grid's
        // cases at least.
        EXPECT_GE(control.Total(), 3 * cases + 4 * cases) << static_cast<int>(model);
        EXPECT_EQ(control.Done(), control.Total()) << static_cast<int>(model);
        RunControl map;
        CaseMisfits(fresh, o, Settings(), map);
        EXPECT_GE(map.Total(), 2 * cases);
        EXPECT_EQ(map.Done(), map.Total());
    }
}

// The table's numbers are read as the input page reads its boxes: with the
// program's decimal separator, '.' as well, and a text that reads two ways
// refused.
TEST(StudyFit, NumbersAreReadWithTheProgramsSeparator) {
    const StudyOptions o = SmallGrid();
    const GridPlan plan = GridOf(o);
    const Sample made = Made(*plan.grid, 9, 0.003);
    struct Row {
        char separator;
        std::string Sample::*text; // or Ne-20 when null
        const char* value;
        const char* problem; // empty: read
    };
    const Row rows[] = {
        {',', nullptr, "2,39e-07", ""},
        {',', nullptr, "2.39e-07", ""},
        {',', &Sample::chloride, "0,25", ""},
        {',', &Sample::density, "1.000", "can be read two ways"},
        {'.', &Sample::density, "1.000", ""},
        {'.', nullptr, "2,39e-07", "is not a number"},
    };
    for (const Row& row : rows) {
        Sample s = made;
        (row.text ? s.*row.text : s.measured[1]) = row.value;
        const auto problems = SampleProblems(s, o, row.separator);
        if (*row.problem == '\0') {
            EXPECT_TRUE(problems.empty()) << row.value << ": " << problems[0].what;
        } else {
            ASSERT_EQ(problems.size(), 1u) << row.value;
            EXPECT_NE(problems[0].what.find(row.problem), std::string::npos) << problems[0].what;
        }
    }
    // The same sample typed with decimal commas fits alike.
    Sample comma = made;
    for (int c = 1; c < SampleColumn::kCount; ++c)
        SampleColumn::Text(comma, c) = DecimalText(SampleColumn::Text(made, c), '.', ',');
    RunSettings german;
    german.DecimalSeparator = ',';
    EXPECT_NE(comma.measured[1].find(','), std::string::npos);
    EXPECT_EQ(FitStudy({comma}, o, german)[0].chi2, FitStudy({made}, o, Settings())[0].chi2);
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

// The answer does not depend on the grid's step: the default grid against one a
// hundred times finer, for each model with a free and a known elevation.
TEST(StudyFit, TheAnswerDoesNotDependOnTheGridStep) {
    struct Row {
        Model model;
        const char* elevation; // "" free
        const char* elevMax;
        double T, E, A, F;
    };
    const Row rows[] = {
        {Model::UA, "", "3000", 6.37, 1234.5, 0.0042, 0},
        {Model::UA, "", "3000", 2.81, 2317.2, 0.0011, 0},
        {Model::UA, "812", "3000", 8.13, 812, 0.0067, 0},
        {Model::CE, "640", "3000", 4.56, 640, 0.012, 0.35},
        {Model::CE, "", "500", 7.22, 281.6, 0.009, 0.2},
    };
    std::mt19937 rng(5);
    for (const Row& row : rows) {
        Sample s = Truth(row.T, row.E, row.A, row.F, Noise(rng, 0.004));
        s.elevation = row.elevation;
        StudyOptions coarse;
        coarse.model = row.model;
        coarse.grid.Text19 = row.elevMax;
        StudyOptions fine = coarse;
        fine.grid.Text25 = "1";
        fine.grid.Text26 = "0.01";
        const StudyResult a = FitStudy({s}, coarse, Settings())[0];
        const StudyResult b = FitStudy({s}, fine, Settings())[0];
        ASSERT_EQ(a.error + b.error, "");
        const std::string at = "T " + ExactText(row.T) + ", E " + ExactText(row.E);
        EXPECT_NEAR(a.temperature, b.temperature, 0.005) << at;
        EXPECT_NEAR(a.elevation, b.elevation, 0.5) << at;
        EXPECT_NEAR(a.A, b.A, 0.002 * b.A) << at;
        EXPECT_LE(a.chi2, b.chi2 + 1e-6) << at;
        for (const auto& [x, y, tol] :
             {std::tuple{a.temperatureLo, b.temperatureLo, 0.005},
              std::tuple{a.temperatureHi, b.temperatureHi, 0.005},
              std::tuple{a.elevationLo, b.elevationLo, 0.5},
              std::tuple{a.elevationHi, b.elevationHi, 0.5}, std::tuple{a.ALo, b.ALo, 0.002 * b.A},
              std::tuple{a.AHi, b.AHi, 0.002 * b.A}})
            EXPECT_NEAR(x, y, tol) << at;
        if (row.model == Model::CE) {
            EXPECT_NEAR(a.second->value, b.second->value, 0.002) << at;
            EXPECT_NEAR(a.second->lo, b.second->lo, 0.002) << at;
            EXPECT_NEAR(a.second->hi, b.second->hi, 0.002) << at;
        }
    }
}

// Samples made from known truth with noise of their errors, fitted at the
// default grid: the 1-sigma ranges hold the truth about two times in three.
TEST(StudyFit, RangesAtTheDefaultGridHoldTheTruthTwoTimesInThree) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> T(1.5, 8.5), E(300, 2700), A(0.001, 0.008);
    std::vector<Sample> samples;
    struct Known {
        double T, E, A;
    };
    std::vector<Known> truth;
    for (int i = 0; i < 300; ++i) {
        truth.push_back({T(rng), E(rng), A(rng)});
        samples.push_back(
            Truth(truth.back().T, truth.back().E, truth.back().A, 0, Noise(rng, 0.01)));
    }
    const auto results = FitStudy(samples, StudyOptions{}, Settings());
    int inT = 0, inE = 0, inA = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const StudyResult& r = results[i];
        ASSERT_EQ(r.error, "");
        inT += r.temperatureLo <= truth[i].T && truth[i].T <= r.temperatureHi;
        inE += r.elevationLo <= truth[i].E && truth[i].E <= r.elevationHi;
        inA += r.ALo <= truth[i].A && truth[i].A <= r.AHi;
    }
    for (int covered : {inT, inE, inA}) {
        EXPECT_GE(covered, 180); // 60 %
        EXPECT_LE(covered, 228); // 76 %
    }
}

// CE at a known elevation against a brute-force scan over T and B = F A, with
// the t = (1 - F) A where chi2 <= target worked out at each: the least chi2 and
// the extremes of A and F in the 1-sigma region.
TEST(StudyFit, CeMatchesABruteForceScan) {
    std::mt19937 rng(23);
    Sample s = Truth(4.56, 640, 0.012, 0.35, Noise(rng, 0.004));
    s.elevation = "640";
    StudyOptions o;
    o.model = Model::CE;
    const StudyResult r = FitStudy({s}, o, Settings())[0];
    ASSERT_EQ(r.error, "");
    std::array<double, 4> m{}, w{}, z{};
    for (std::size_t j = 0; j < 4; ++j) {
        const auto i = static_cast<std::size_t>(kFitted[j] - 1);
        m[j] = std::stod(s.measured[i]);
        w[j] = 1 / std::pow(std::stod(s.error[i]), 2);
        z[j] = kGasTable[i].AtmFraction;
    }
    const double target = r.chi2 + 1;
    double least = 1e300, aLo = 1, aHi = 0, fLo = 1, fHi = 0;
    for (double T = 2; T <= 7.5; T += 0.002) {
        std::array<double, 4> C{};
        for (std::size_t j = 0; j < 4; ++j)
            C[j] =
                EvaluateModel(kGasTable[static_cast<std::size_t>(kFitted[j] - 1)], T, 640, 1, 0, {})
                    .EquilConc;
        for (double B = 0; B <= InfoOf(Model::CE).Upper(0, o); B += 2e-5) {
            double c = 0, p = 0, q = 0;
            for (std::size_t j = 0; j < 4; ++j) {
                const double d = m[j] - C[j], wz = z[j] / (1 + B * z[j] / C[j]);
                c += w[j] * d * d;
                p += w[j] * d * wz;
                q += w[j] * wz * wz;
            }
            const double t = std::clamp(p / q, 0.0, InfoOf(Model::CE).Upper(0, o) - B);
            least = std::min(least, c - 2 * p * t + q * t * t);
            const double disc = p * p - q * (c - target);
            if (disc < 0) continue;
            const double t1 = std::max(0.0, (p - std::sqrt(disc)) / q);
            const double t2 =
                std::min(InfoOf(Model::CE).Upper(0, o) - B, (p + std::sqrt(disc)) / q);
            if (t1 > t2) continue;
            aLo = std::min(aLo, B + t1);
            aHi = std::max(aHi, B + t2);
            if (B + t2 > 0) fLo = std::min(fLo, B / (B + t2));
            if (B + t1 > 0) fHi = std::max(fHi, B / (B + t1));
        }
    }
    EXPECT_LE(r.chi2, least + 1e-9);
    EXPECT_GT(r.chi2, least - 0.01);
    // The scan's steps (0.002 °C, 2e-5 in B) resolve A to 1e-5 and F to 0.002.
    EXPECT_NEAR(r.ALo, aLo, 2e-5);
    EXPECT_NEAR(r.AHi, aHi, 2e-5);
    EXPECT_NEAR(r.second->lo, fLo, 0.002);
    EXPECT_NEAR(r.second->hi, fHi, 0.002);
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

// The columns of total gas are read as their isotopes: the shares are the
// published ones, a table in totals fits as the same table in isotopes, and each
// converted column is noted once.
TEST(StudyFit, TotalsFitAsTheirIsotopes) {
    const std::array<const char*, 4> published = {"0.999998616", "0.9048", "0.99600", "0.56987"};
    for (int g = 1; g <= 4; ++g)
        EXPECT_TRUE(test::MatchesDigits(AtmosphericShare(g), published[g - 1]));
    const StudyOptions o = SmallGrid();
    const Sample made = Made(*GridOf(o).grid, 12, 0.003, 0, {0.002, -0.003, 0, 0.001});
    std::string isotopes = "sample,He-4,Ne-20,Ar-40,Kr-84,Xe,Ne-20 err,Kr-84 err\nm";
    std::string totals = "sample,He,Ne,Ar,Kr,Xe,Ne err,kr err\nm";
    for (int g : {1, 2, 3, 4, 5, -2, -4}) { // a negative gas: its error
        const auto i = static_cast<std::size_t>(std::abs(g) - 1);
        const std::string& text = g > 0 ? made.measured[i] : made.error[i];
        isotopes += "," + text;
        totals += "," + (g == 5 ? text : ExactText(std::stod(text) / std::stod(published[i])));
    }
    const SampleColumns a = ReadSamples(ParseSampleTable(isotopes + "\n"), o);
    const SampleColumns b = ReadSamples(ParseSampleTable(totals + "\n"), o);
    EXPECT_TRUE(a.notes.empty());
    ASSERT_EQ(b.notes.size(), 6u);
    EXPECT_EQ(b.notes[1].Text(), "column \"Ne\": total neon, read as Ne-20: each value × 0.9048, "
                                 "the share of Ne-20 in the atmosphere's neon");
    const StudyResult ra = FitStudy(a.samples, o, Settings())[0];
    const StudyResult rb = FitStudy(b.samples, o, Settings())[0];
    ASSERT_EQ(rb.error, "");
    EXPECT_EQ(rb.caseNo, ra.caseNo);
    EXPECT_NEAR(rb.chi2, ra.chi2, 1e-9 * std::max(1.0, ra.chi2));
    EXPECT_NEAR(rb.A, ra.A, 1e-7 * ra.A); // the refinement's tolerance
    // Written with the separator it is read with; a text that is no number stays.
    StudyOptions none;
    none.gases = {};
    const Sample c =
        ReadSamples(ParseSampleTable("sample;Ne;Ne err\na;2,4e-07;n.d.\n"), none, ',').samples[0];
    EXPECT_EQ(c.measured[1] + " " + c.error[1], "2,17152E-07 n.d.");
}

// Concentrations per gram are per cm3 once multiplied by the sample's density as
// typed, errors alike; a row whose fields are not the header's is an error row
// that says why.
TEST(StudyFit, PerGramValuesAndRowsOfOtherWidths) {
    StudyOptions o = SmallGrid();
    const Sample made = Made(*GridOf(o).grid, 12, 0.003);
    struct Row {
        const char* density; // the sample's, or the grid's box (1) when empty
        bool perGram;
        double factor;
    };
    for (const Row& row : {Row{"", true, 1}, Row{"1.0125", false, 1}, Row{"1.0125", true, 1.0125},
                           Row{"0.998", true, 0.998}}) {
        Sample s = made;
        s.density = row.density;
        s.error[2].clear(); // the relative error, of the value per cm3
        o.perGram = row.perGram;
        const Values v = ReadValues(s, o, '.');
        for (int g : kFitted) {
            const auto i = static_cast<std::size_t>(g - 1);
            EXPECT_DOUBLE_EQ(v.measured[i], std::stod(made.measured[i]) * row.factor) << g;
            EXPECT_DOUBLE_EQ(v.sigma[i],
                             g == 3 ? 0.01 * v.measured[i] : std::stod(made.error[i]) * row.factor);
        }
    }
    o.perGram = false;
    const SampleColumns c = ReadSamples(
        ParseSampleTable("sample,Ne-20,Ar-40,Kr-84,Xe\na,1,2,3,4\nb,1,2,3\nc,d,1,2,3,4\n"), o);
    const char* problems[] = {"", "row 3 has 4 fields, its header 5: give every column its",
                              "row 4 has 6 fields, its header 5: a text with a comma outside "};
    for (std::size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(c.samples[r].problem.rfind(problems[r], 0), 0u) << c.samples[r].problem;
        if (r == 0) continue;
        const auto cells = SampleProblems(c.samples[r], o, '.');
        EXPECT_EQ(cells.at(0).column, SampleColumn::kName);
        EXPECT_EQ(FitStudy({c.samples[r]}, o, Settings())[0].error, c.samples[r].problem);
    }
}

// What the results cannot say alone is said once for the table, naming what to
// widen; a misfit out of the number range is an error row naming its gas.
TEST(StudyFit, NotesSayOnceWhatTheFitsCannotKnow) {
    Sample warm = Truth(9.8, 1500, 0.003, 0); // best near 10 °C: a range cut above
    Sample hot = Truth(11, 1500, 0.003, 0);   // best at the highest temperature
    Sample low = Truth(4, 150, 0.003, 0);     // an elevation range cut at 0 m
    Sample noXe = Truth(5, 1200, 0.003, 0);
    noXe.measured[4] = "";
    Sample huge = Truth(5, 1200, 0.003, 0);
    huge.measured[1] = "1";
    huge.error[1] = "1e-200";
    const StudyOptions o;
    const auto results = FitStudy({warm, hot, low, noXe, huge}, o, Settings());
    EXPECT_EQ(results[4].error, "row 2: Ne-20: its misfit leaves the number range (check its "
                                "value and error)");
    const auto notes =
        StudyNotes(results, o, '.', [](FieldId id) { return std::string(FieldOf(id).option); });
    const std::vector<std::string> expected = {
        "1 of 4 samples is best at the highest temperature, 10 °C: raise --temp-max",
        // The sample best at 10 °C has its range cut there too: counted as the flags
        // are, so that the status line's counts and the notes agree.
        "2 of 4 samples are given a temperature range cut by the grid's end (range-cut-T): the "
        "range may reach further than 10 °C or 0 °C; raise --temp-max where it is cut above",
        "1 of 4 samples is given an elevation range cut by the grid's end (range-cut-E): the "
        "range may reach further than 3000 m or 0 m; raise --elev-max where it is cut above",
        "1 of 4 samples is underdetermined: no more gases than free parameters, so p is left "
        "empty and the ranges are not a test of the model",
        "1 of 4 samples is fitted without Xe, which their rows leave blank"};
    EXPECT_EQ(notes, expected);
    for (const StudyResult& r : results)
        for (const ResultCell& c : ResultRow(r, o))
            EXPECT_TRUE(c.kind != ResultCell::Kind::Double || std::isfinite(c.number));
}

// The study's table of equilibrium concentrations is the grid run's: each case's
// misfit, summed anew from the grid run's own concentrations, agrees to 1e-12.
TEST(StudyFit, TheStudysTableIsTheGridRunsToTheLastDigits) {
    const StudyOptions o = SmallGrid();
    Sample s = Truth(6.3, 120, 0.004, 0);
    s.chloride = "0.01";
    const MisfitMap map = CaseMisfits(s, o, Settings());
    const SolubilityGrid& g = *map.plan.grid;
    ASSERT_EQ(map.chi2.size(), static_cast<std::size_t>(g.CaseCount));
    for (std::size_t k = 0; k < map.chi2.size(); ++k) {
        const Weighted w = At(g, s, k);
        double num = 0, den = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            num += w.s[j] * (w.m[j] - w.C[j]) * w.z[j];
            den += w.s[j] * w.z[j] * w.z[j];
        }
        const double chi2 = CeChi2(w, std::max(0.0, num / den), 0);
        EXPECT_NEAR(map.chi2[k], chi2, 1e-12 * std::max(1.0, chi2)) << k;
    }
}

// The map's fine raster of the continuous model: its chi2 = chi2min + 1 contour
// reaches the reported ranges, to a step of the raster, though the valley is
// narrower than the grid's step.
TEST(StudyFit, TheMapsContourReachesTheRanges) {
    std::mt19937 rng(31);
    const MisfitMap map =
        CaseMisfits(Truth(6.2, 1400, 0.004, 0, Noise(rng, 0.01)), StudyOptions{}, Settings());
    const StudyResult& r = map.result;
    ASSERT_EQ(r.error, "");
    ASSERT_FALSE(map.fine.empty());
    const auto segments = ContourSegments(map.fine, map.fineT, map.fineE, r.chi2 + 1);
    ASSERT_FALSE(segments.empty());
    double tLo = 1e9, tHi = -1e9, eLo = 1e9, eHi = -1e9;
    for (const auto& s : segments)
        for (int e = 0; e < 2; ++e) {
            tLo = std::min(tLo, s[2 * e]);
            tHi = std::max(tHi, s[2 * e]);
            eLo = std::min(eLo, s[2 * e + 1]);
            eHi = std::max(eHi, s[2 * e + 1]);
        }
    const double dT = map.fineT[1] - map.fineT[0], dE = map.fineE[1] - map.fineE[0];
    EXPECT_NEAR(tLo, r.temperatureLo, dT);
    EXPECT_NEAR(tHi, r.temperatureHi, dT);
    EXPECT_NEAR(eLo, r.elevationLo, dE);
    EXPECT_NEAR(eHi, r.elevationHi, dE);
}

// ---- The excess-air models with a second parameter ------------------------------------

// Samples made with each model at a known elevation, with 1 % noise, fitted with
// that model (Ne, Ar, Kr, Xe: one degree of freedom): the 1-sigma ranges of T, A
// and the second parameter hold the truth about two times in three, and each
// fit's chi2 is no higher than UA's on the same sample (UA is the model at R = 0,
// G = 0 or POD = 1).
TEST(StudyModels, SamplesMadeWithAModelAreRecoveredWithinTheirRanges) {
    struct Row {
        Model model;
        double lo, hi; // the second parameter's truths
    };
    const Row rows[] = {{Model::PR, 0.2, 1.5}, {Model::PD, 0.05, 0.5}, {Model::OD, 1.02, 1.3}};
    for (const Row& row : rows) {
        std::mt19937 rng(31);
        std::uniform_real_distribution<double> T(2, 8), A(0.002, 0.01), X(row.lo, row.hi);
        std::vector<Sample> samples;
        std::vector<std::array<double, 3>> truth;
        for (int i = 0; i < 60; ++i) {
            truth.push_back({T(rng), A(rng), X(rng)});
            samples.push_back(
                Modelled(row.model, truth[i][0], 900, truth[i][1], truth[i][2], Noise(rng, 0.01)));
            samples.back().elevation = "900";
        }
        StudyOptions o;
        o.model = row.model;
        const auto fits = FitStudy(samples, o, Settings());
        const auto ua = FitStudy(samples, StudyOptions{}, Settings());
        int inT = 0, inA = 0, inX = 0;
        for (std::size_t i = 0; i < fits.size(); ++i) {
            const StudyResult& r = fits[i];
            ASSERT_EQ(r.error, "");
            ASSERT_TRUE(r.second.has_value());
            EXPECT_EQ(r.dof, 1);
            EXPECT_LE(r.chi2, ua[i].chi2 * (1 + 1e-6) + 1e-12) << i; // the refinement's tolerance
            inT += r.temperatureLo <= truth[i][0] && truth[i][0] <= r.temperatureHi;
            inA += r.ALo <= truth[i][1] && truth[i][1] <= r.AHi;
            inX += r.second->lo <= truth[i][2] && truth[i][2] <= r.second->hi;
        }
        const std::string name(InfoOf(row.model).name);
        for (int covered : {inT, inA, inX}) {
            EXPECT_GE(covered, 30) << name; // 50 %: 60 draws of a 68 % chance
            EXPECT_LE(covered, 52) << name; // 87 %
        }
    }
}

// A parameter at its bound is flagged; a free elevation with four gases leaves
// these models no degree of freedom.
TEST(StudyModels, BoundsAndDegreesOfFreedomAreSaid) {
    struct Row {
        Model model;
        double x;
        const char* option; // its bound lowered below the truth, or none
        const char* elevation;
        const char* flag;
        int dof;
    };
    const Row rows[] = {
        {Model::PR, 0, nullptr, "900", "R=0", 1},
        {Model::PD, 0.8, "pd-g-max", "900", "G=max", 1},
        {Model::OD, 1, nullptr, "900", "POD=1", 1},
        {Model::PR, 0.5, nullptr, "", "underdetermined", 0},
    };
    for (const Row& row : rows) {
        Sample s = Modelled(row.model, 5, 900, 0.004, row.x);
        s.elevation = row.elevation;
        StudyOptions o;
        o.model = row.model;
        if (row.option) o.upper[row.option] = 0.4;
        const StudyResult r = FitStudy({s}, o, Settings())[0];
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(r.dof, row.dof) << row.flag;
        EXPECT_NE(std::find(r.flags.begin(), r.flags.end(), row.flag), r.flags.end())
            << row.flag << ": " << r.flags.size();
    }
    StudyOptions bad;
    bad.model = Model::PR;
    bad.upper["pr-r-max"] = 0;
    try {
        FitStudy({Modelled(Model::UA, 5, 900, 0.004, 0)}, bad, Settings());
        ADD_FAILURE() << "a bound of 0 was taken";
    } catch (const StudyError& e) {
        EXPECT_EQ(e.setting(), StudySetting::Upper);
        EXPECT_EQ(e.option(), "pr-r-max");
    }
}

// What the gases say beyond the fit, against values worked out by hand: a
// sample of exact UA gases with terrigenic He-4 and excess N2 added and O2
// partly used up.
TEST(StudyModels, NeonExcessTerrigenicHeliumExcessNitrogenAndOxygenAreWorkedOut) {
    const double T = 6.5, E = 700, A = 0.003;
    Sample s = Modelled(Model::UA, T, E, A, 0);
    s.elevation = "700";
    auto C = [&](std::size_t i) { return EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc; };
    const double he = std::stod(s.measured[0]) + 2e-8, n2 = std::stod(s.measured[5]) + 1e-3;
    s.measured[0] = ExactText(he);
    s.error[0] = "1e-9";
    s.measured[5] = ExactText(n2);
    s.error[5] = "";
    s.measured[6] = ExactText(0.7 * C(6));
    const StudyResult r = FitStudy({s}, StudyOptions{}, Settings())[0];
    ASSERT_EQ(r.error, "");
    const double neExcess = A * kGasTable[1].AtmFraction / C(1) * 100;
    ASSERT_TRUE(r.deltaNe && r.heTerrigenic && r.n2Excess && r.o2Fraction);
    EXPECT_NEAR(*r.deltaNe, neExcess, 1e-6 * neExcess);
    EXPECT_NEAR(r.heTerrigenic->value, 2e-8, 1e-12);
    // The measurement's sigma and the model's spread at the fit together.
    EXPECT_GT(r.heTerrigenic->hi - r.heTerrigenic->value, 1e-9);
    EXPECT_NEAR(r.n2Excess->value, 1e-3, 1e-7);
    EXPECT_GT(r.n2Excess->hi - r.n2Excess->value, 0.01 * n2); // the relative error and more
    EXPECT_NEAR(*r.o2Fraction, 0.7, 1e-6);
}

// Every model for each sample: its rows one per model in the table's order, and
// the one with the highest p among those with a degree of freedom marked.
TEST(StudyModels, AllModelsGiveARowPerModelAndMarkThePreferred) {
    std::mt19937 rng(5);
    std::vector<Sample> samples = {Modelled(Model::PD, 4, 800, 0.004, 0.3, Noise(rng, 0.005)),
                                   Modelled(Model::UA, 7, 800, 0.006, 0, Noise(rng, 0.005))};
    for (Sample& s : samples) s.elevation = "800";
    StudyOptions o;
    o.allModels = true;
    const auto results = FitStudy(samples, o, Settings());
    const std::size_t M = Models().size();
    ASSERT_EQ(results.size(), samples.size() * M);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double bestP = -1;
        std::size_t marked = 0, markedAt = 0;
        for (std::size_t k = 0; k < M; ++k) {
            const StudyResult& r = results[i * M + k];
            EXPECT_EQ(r.model, Models()[k].model);
            if (r.dof > 0 && r.p) bestP = std::max(bestP, *r.p);
            if (r.preferred) {
                ++marked;
                markedAt = k;
            }
        }
        EXPECT_EQ(marked, 1u);
        EXPECT_EQ(*results[i * M + markedAt].p, bestP);
    }
    // PD made the first sample: PD fits it best.
    EXPECT_LT(results[3].chi2, results[0].chi2);
}

// ---- Monte Carlo ------------------------------------------------------------------------

// On samples near linear (UA at a known elevation), the spread of the draws'
// fits matches the Delta chi2 = 1 half-width of the ranges; the same seed gives
// the same numbers, another seed others.
TEST(StudyMonteCarlo, TheDrawsSpreadAsTheRangesAndTheSeedFixesThem) {
    std::mt19937 rng(41);
    std::vector<Sample> samples;
    for (const double T : {4.0, 7.5}) {
        samples.push_back(Truth(T, 1100, 0.004, 0, Noise(rng, 0.01)));
        samples.back().elevation = "1100";
    }
    StudyOptions o;
    o.mcDraws = 1000;
    o.mcSeed = 7;
    auto results = FitStudy(samples, o, Settings());
    auto again = results;
    MonteCarlo(samples, o, Settings(), results);
    MonteCarlo(samples, o, Settings(), again);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_TRUE(results[i].mc.has_value());
        const McSummary& mc = *results[i].mc;
        EXPECT_EQ(mc.fitted, 1000u);
        const double halfT = (results[i].temperatureHi - results[i].temperatureLo) / 2;
        const double halfA = (results[i].AHi - results[i].ALo) / 2;
        EXPECT_NEAR(mc.T.sd, halfT, 0.2 * halfT) << i;
        EXPECT_NEAR(mc.A.sd, halfA, 0.2 * halfA) << i;
        EXPECT_LT(mc.T.p16, mc.T.p50);
        EXPECT_LT(mc.T.p50, mc.T.p84);
        EXPECT_EQ(mc.T.mean, again[i].mc->T.mean);
        EXPECT_EQ(mc.A.p84, again[i].mc->A.p84);
    }
    o.mcSeed = 8;
    auto other = FitStudy(samples, o, Settings());
    MonteCarlo(samples, o, Settings(), other);
    EXPECT_NE(other[0].mc->T.mean, results[0].mc->T.mean);
    // Every model at once is refused, naming the Monte Carlo setting.
    o.allModels = true;
    try {
        MonteCarlo(samples, o, Settings(), other);
        ADD_FAILURE() << "draws with every model were made";
    } catch (const StudyError& e) {
        EXPECT_EQ(e.setting(), StudySetting::MonteCarlo);
    }
}

// The draws do not depend on the threads that fit them, and one sample's draws
// fitted again for the window are those its summary was made from.
TEST(StudyMonteCarlo, TheDrawsAreTheSameWhateverTheThreads) {
    std::mt19937 rng(43);
    std::vector<Sample> samples;
    for (const double T : {3.0, 9.0, 6.0})
        samples.push_back(Truth(T, 900, 0.003, 0, Noise(rng, 0.01)));
    StudyOptions o;
    o.mcDraws = 301;
    o.mcSeed = 11;
    std::vector<std::vector<StudyResult>> runs;
    for (const unsigned threads : {1u, 2u, 0u}) {
        threadLimit = threads;
        runs.push_back(FitStudy(samples, o, Settings()));
        MonteCarlo(samples, o, Settings(), runs.back());
    }
    threadLimit = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (std::size_t r = 1; r < runs.size(); ++r) {
            const McSummary &a = *runs[0][i].mc, &b = *runs[r][i].mc;
            for (const auto& [x, y] : {std::pair{a.T, b.T}, {a.E, b.E}, {a.A, b.A}})
                EXPECT_TRUE(x.mean == y.mean && x.sd == y.sd && x.p16 == y.p16 && x.p50 == y.p50 &&
                            x.p84 == y.p84)
                    << i << " " << r;
            EXPECT_EQ(a.atEdge, b.atEdge);
        }
    // The third sample's draws fitted alone, at its place.
    const McSummary& third = *runs[0][2].mc;
    const std::vector<McPoint> draws = McDrawsOf(samples[2], third.place, o, Settings());
    ASSERT_EQ(draws.size(), third.fitted);
    std::vector<double> T;
    for (const McPoint& d : draws) T.push_back(d.T);
    std::sort(T.begin(), T.end());
    EXPECT_EQ(T[T.size() / 2], third.T.p50); // an odd count: the middle draw
}

// A draw is fitted for its best values alone: the same best as the full fit's,
// for every model, its ranges its value.
TEST(StudyMonteCarlo, ADrawsFitIsTheFullFitsBest) {
    std::mt19937 rng(47);
    const std::vector<Sample> samples = {Truth(6, 1200, 0.004, 0, Noise(rng, 0.01)),
                                         Truth(3, 2200, 0.002, 0, Noise(rng, 0.01))};
    for (const ModelInfo& m : Models()) {
        StudyOptions o;
        o.model = m.model;
        const auto full = FitStudy(samples, o, Settings());
        o.bestOnly = true;
        const auto best = FitStudy(samples, o, Settings());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(best[i].temperature, full[i].temperature) << m.key << i;
            EXPECT_EQ(best[i].elevation, full[i].elevation) << m.key << i;
            EXPECT_EQ(best[i].A, full[i].A) << m.key << i;
            EXPECT_EQ(best[i].chi2, full[i].chi2) << m.key << i;
            EXPECT_EQ(best[i].temperatureLo, best[i].temperature) << m.key << i;
            EXPECT_EQ(best[i].elevationHi, best[i].elevation) << m.key << i;
        }
    }
}

// ---- The lapse-rate prior ---------------------------------------------------------------

// Samples recharged near the MAAT line (1 °C of scatter) at elevations drawn
// at random: the posterior's 68 % elevation interval holds the truth about two
// times in three.
TEST(StudyPrior, ThePosteriorIntervalsHoldTheTruthTwoTimesInThree) {
    std::mt19937 rng(53);
    std::uniform_real_distribution<double> E(400, 2000), A(0.002, 0.008);
    std::normal_distribution<double> scatter(0, 1);
    StudyOptions o;
    o.grid.Text21 = "25";   // T to 25 °C
    o.grid.Text26 = "0.25"; // in steps of 0.25
    o.grid.Text25 = "50";   // elevations in steps of 50 m
    o.prior = true;
    const double a = -108, b = 2289; // the MAAT equation's defaults
    std::vector<Sample> samples;
    std::vector<double> truthE, truthT;
    for (int i = 0; i < 120; ++i) {
        truthE.push_back(E(rng));
        truthT.push_back((truthE.back() - b) / a + scatter(rng));
        samples.push_back(Truth(truthT.back(), truthE.back(), A(rng), 0, Noise(rng, 0.01)));
    }
    const auto results = FitStudy(samples, o, Settings());
    int inE = 0, inT = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        ASSERT_TRUE(results[i].posterior.has_value()) << i;
        const Posterior& p = *results[i].posterior;
        EXPECT_LE(p.E.lo, p.E.value);
        EXPECT_LE(p.E.value, p.E.hi);
        inE += p.E.lo <= truthE[i] && truthE[i] <= p.E.hi;
        inT += p.T.lo <= truthT[i] && truthT[i] <= p.T.hi;
    }
    for (int covered : {inE, inT}) {
        EXPECT_GE(covered, 66); // 55 %: 120 draws of a 68 % chance
        EXPECT_LE(covered, 96); // 80 %
    }
}

// The posterior's medians and 68 % intervals from a grid of 0.5 °C by 100 m
// against a direct integration of the same density on a raster a hundred times
// finer: a misfit valley across the MAAT line, its A rising with T.
TEST(StudyPrior, TheMarginalsAgreeWithADirectIntegration) {
    const auto chi2 = [](double T, double E) {
        const double u = (T - 7 - (E - 1400) / 600) / 0.4, v = (E - 1400) / 500;
        return u * u + v * v;
    };
    const auto A = [](double T) { return 0.002 + 0.0002 * T; };
    const PriorLine line{-108, 2289, 0.3, 1.2};
    const auto density = [&](double T, double E) {
        const double d = T - ((E - line.intercept) / line.slope + line.offset);
        return std::exp(-chi2(T, E) / 2 - d * d / (2 * line.sd * line.sd));
    };
    std::vector<PosteriorCase> cases;
    for (int e = 0; e <= 30; ++e)
        for (int t = 0; t <= 40; ++t)
            cases.push_back({t * 0.5, e * 100.0, A(t * 0.5), chi2(t * 0.5, e * 100.0)});
    const std::optional<Posterior> p = PosteriorOf(cases, 0.5, 100, line);
    ASSERT_TRUE(p.has_value());
    EXPECT_FALSE(p->cut);
    // The direct integration: the marginals' cumulative masses on a fine raster.
    const int nT = 4000, nE = 3000;
    std::vector<double> mT(nT, 0), mE(nE, 0);
    for (int i = 0; i < nT; ++i)
        for (int j = 0; j < nE; ++j) {
            const double w = density((i + 0.5) * 20.0 / nT, (j + 0.5) * 3000.0 / nE);
            mT[static_cast<std::size_t>(i)] += w;
            mE[static_cast<std::size_t>(j)] += w;
        }
    const auto quantile = [](const std::vector<double>& m, double width, double q) {
        double total = 0, below = 0;
        for (double w : m) total += w;
        for (std::size_t i = 0; i < m.size(); ++i) {
            if (below + m[i] >= q * total)
                return (static_cast<double>(i) + (q * total - below) / m[i]) * width;
            below += m[i];
        }
        return static_cast<double>(m.size()) * width;
    };
    struct Row {
        const char* what;
        Estimate got;
        const std::vector<double>& mass;
        double width, tolerance;
    };
    for (const Row& r : {Row{"T", p->T, mT, 20.0 / nT, 0.05}, Row{"E", p->E, mE, 1.0, 10.0}}) {
        EXPECT_NEAR(r.got.value, quantile(r.mass, r.width, 0.5), r.tolerance) << r.what;
        EXPECT_NEAR(r.got.lo, quantile(r.mass, r.width, 0.16), r.tolerance) << r.what;
        EXPECT_NEAR(r.got.hi, quantile(r.mass, r.width, 0.84), r.tolerance) << r.what;
    }
    // A follows T: its percentiles are T's through A(T).
    EXPECT_NEAR(p->A.value, A(quantile(mT, 20.0 / nT, 0.5)), 0.0002 * 0.25);
    EXPECT_NEAR(p->A.lo, A(quantile(mT, 20.0 / nT, 0.16)), 0.0002 * 0.25);
    EXPECT_NEAR(p->A.hi, A(quantile(mT, 20.0 / nT, 0.84)), 0.0002 * 0.25);
}

// With no spread the temperature lies on the line: the ends of the temperature
// interval are the line's temperatures at the ends of the elevation interval
// (the line falls with height), to a cell.
TEST(StudyPrior, ThePriorWithoutSpreadKeepsToTheLine) {
    std::mt19937 rng(59);
    Sample s = Truth(6, 1500, 0.004, 0, Noise(rng, 0.01));
    StudyOptions o;
    o.grid.Text21 = "25";
    o.prior = true;
    o.priorSd = 0;
    o.priorOffset = 0.5;
    const StudyResult r = FitStudy({s}, o, Settings())[0];
    ASSERT_TRUE(r.posterior.has_value());
    const Posterior& p = *r.posterior;
    auto line = [](double E) { return (E - 2289) / -108 + 0.5; };
    const double cell = 100.0 / 108; // an elevation step's worth of temperature
    EXPECT_NEAR(p.T.lo, line(p.E.hi), cell);
    EXPECT_NEAR(p.T.hi, line(p.E.lo), cell);
    EXPECT_NEAR(p.T.value, line(p.E.value), cell);
}

// ---- The ensemble fit -------------------------------------------------------------------

namespace {

StudyOptions Ensemble(Model model = Model::UA) {
    StudyOptions o;
    o.model = model;
    o.shared = {true, true};
    return o;
}

// A group of `count` samples made from one recharge (T, E), each with its own
// excess air and noise of its errors.
std::vector<Sample> Group(const std::string& name, double T, double E, int count, std::mt19937& rng,
                          std::size_t& row) {
    std::uniform_real_distribution<double> A(0.001, 0.008);
    std::vector<Sample> members;
    for (int m = 0; m < count; ++m) {
        Sample s = Truth(T, E, A(rng), 0, Noise(rng, 0.01));
        s.name = name + "-" + std::to_string(m);
        s.group = name;
        s.row = row++;
        members.push_back(s);
    }
    return members;
}

bool Flagged(const StudyResult& r, const std::string& flag) {
    return std::find(r.flags.begin(), r.flags.end(), flag) != r.flags.end();
}

} // namespace

// Groups of three made from one recharge each: the shared ranges hold the truth
// about two times in three, and are narrower than one member's alone by about
// 1/sqrt(3).
TEST(StudyEnsemble, SharedRangesHoldTheTruthAndNarrowByTheRootOfTheMembers) {
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> T(1.5, 8.5), E(300, 2700);
    std::vector<Sample> samples;
    std::vector<std::pair<double, double>> truth;
    std::size_t row = 2;
    constexpr int kGroups = 60;
    for (int g = 0; g < kGroups; ++g) {
        truth.emplace_back(T(rng), E(rng));
        for (Sample& s :
             Group("g" + std::to_string(g), truth.back().first, truth.back().second, 3, rng, row))
            samples.push_back(s);
    }
    const auto joint = FitStudy(samples, Ensemble(), Settings());
    const auto alone = FitStudy(samples, StudyOptions{}, Settings());
    int inT = 0, inE = 0;
    double widthT = 0, widthE = 0, aloneT = 0, aloneE = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const StudyResult& r = joint[i];
        ASSERT_EQ(r.error, "");
        ASSERT_TRUE(r.group);
        EXPECT_EQ(r.group->members, 3u);
        EXPECT_EQ(r.group->dof, 7); // 12 gases less T, E and each member's A
        aloneT += alone[i].temperatureHi - alone[i].temperatureLo;
        aloneE += alone[i].elevationHi - alone[i].elevationLo;
        if (i % 3 != 0) continue; // one count per group
        const auto [t, e] = truth[i / 3];
        inT += r.temperatureLo <= t && t <= r.temperatureHi;
        inE += r.elevationLo <= e && e <= r.elevationHi;
        widthT += r.temperatureHi - r.temperatureLo;
        widthE += r.elevationHi - r.elevationLo;
    }
    for (int covered : {inT, inE}) {
        EXPECT_GE(covered, 30); // 50 %
        EXPECT_LE(covered, 51); // 85 %
    }
    // Mean widths: a group's against a member's alone.
    const double ratioT = (widthT / kGroups) / (aloneT / (3 * kGroups));
    const double ratioE = (widthE / kGroups) / (aloneE / (3 * kGroups));
    EXPECT_NEAR(ratioT, 1 / std::sqrt(3.0), 0.12);
    EXPECT_NEAR(ratioE, 1 / std::sqrt(3.0), 0.12);
    RecordProperty("groups_holding_T", inT);
    RecordProperty("groups_holding_E", inE);
    RecordProperty("width_ratio_T", ExactText(ratioT));
    RecordProperty("width_ratio_E", ExactText(ratioE));
}

// The group's best against a brute-force scan of the summed misfit, each member
// at its own best A in closed form from the solubility model itself; each
// member's chi2 at the shared values adds up to the group's.
TEST(StudyEnsemble, TheGroupsBestIsTheLeastOfTheSummedMisfit) {
    std::mt19937 rng(7);
    std::size_t row = 2;
    const std::vector<Sample> members = Group("w", 5.3, 1420, 3, rng, row);
    const auto rows = FitStudy(members, Ensemble(), Settings());
    double least = 1e300, sum = 0;
    for (const StudyResult& r : rows) sum += r.chi2;
    for (double T = 3.3; T <= 7.3; T += 0.02)
        for (double E = 900; E <= 1950; E += 5) {
            double chi2 = 0;
            for (const Sample& s : members) {
                double Sdz = 0, Sz2 = 0, Sd2 = 0;
                for (int gas : kFitted) {
                    const auto i = static_cast<std::size_t>(gas - 1);
                    const double m = std::stod(s.measured[i]), sigma = std::stod(s.error[i]);
                    const double d = m - EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc;
                    const double w = 1 / (sigma * sigma), z = kGasTable[i].AtmFraction;
                    Sdz += w * d * z;
                    Sz2 += w * z * z;
                    Sd2 += w * d * d;
                }
                const double A = std::max(0.0, Sdz / Sz2);
                chi2 += Sd2 - A * (2 * Sdz - A * Sz2);
            }
            least = std::min(least, chi2);
        }
    ASSERT_TRUE(rows[0].group);
    EXPECT_LE(rows[0].group->chi2, least + 1e-6);
    EXPECT_GE(rows[0].group->chi2, least - 0.05); // the scan's step
    EXPECT_NEAR(sum, rows[0].group->chi2, 1e-9 * sum);
    for (const StudyResult& r : rows) {
        EXPECT_EQ(r.temperature, rows[0].temperature);
        EXPECT_EQ(r.elevationHi, rows[0].elevationHi);
        EXPECT_LE(r.ALo, r.A);
        EXPECT_GE(r.AHi, r.A);
        EXPECT_LT(r.AHi - r.ALo, 0.01);
    }
    // The map of the group: the sum of the members' at every case.
    const GroupMap map = GroupMisfits(members, Ensemble(), Settings());
    ASSERT_EQ(map.members.size(), 3u);
    ASSERT_EQ(map.chi2.size(), static_cast<std::size_t>(map.plan.Cases()));
    for (std::size_t k = 0; k < map.chi2.size(); k += 7) {
        EXPECT_NEAR(map.chi2[k], map.members[0][k] + map.members[1][k] + map.members[2][k],
                    1e-9 * map.chi2[k]);
        EXPECT_GE(map.chi2[k], map.results[0].group->chi2 - 1e-6);
    }
}

// The degrees of freedom: the members' gases less the shared parameters the grid
// leaves free less each member's own; group-misfit when members come from
// different recharges.
TEST(StudyEnsemble, DegreesOfFreedomAndGroupMisfit) {
    struct Row {
        Model model;
        const char* elevation; // the members' known elevation; "" free
        bool blankXe;          // one member without Xe
        bool apart;            // members made from different recharges
        int dof;
    };
    const Row rows[] = {
        {Model::UA, "", false, false, 12 - 2 - 3}, {Model::UA, "", true, false, 11 - 2 - 3},
        {Model::CE, "", false, false, 12 - 2 - 6}, {Model::UA, "1420", false, false, 12 - 1 - 3},
        {Model::UA, "", false, true, 12 - 2 - 3},
    };
    for (const Row& row : rows) {
        std::mt19937 rng(11);
        std::size_t n = 2;
        std::vector<Sample> members = Group("w", 5.3, 1420, 3, rng, n);
        if (row.apart) {
            members[1] = Group("w", 1.5, 300, 1, rng, n)[0];
            members[2] = Group("w", 9.0, 2700, 1, rng, n)[0];
        }
        for (Sample& s : members) s.elevation = row.elevation;
        if (row.blankXe) members[2].measured[4].clear();
        const auto r = FitStudy(members, Ensemble(row.model), Settings());
        const std::string at = std::string(InfoOf(row.model).name) + " " + row.elevation +
                               (row.blankXe ? " without Xe" : "") + (row.apart ? " apart" : "");
        ASSERT_EQ(r[0].error, "") << at;
        ASSERT_TRUE(r[0].group) << at;
        EXPECT_EQ(r[0].group->dof, row.dof) << at;
        EXPECT_EQ(Flagged(r[0], "group-misfit"), row.apart) << at;
        EXPECT_EQ(r[0].group->p && *r[0].group->p < 0.01, row.apart) << at;
    }
}

// A member that cannot be fitted is left out of its group and named; a group
// left with one member is that member's own fit; a member on another grid (its
// own known elevation) is fitted apart and named.
TEST(StudyEnsemble, MembersLeftOutAreNamed) {
    std::mt19937 rng(3);
    std::size_t row = 2;
    std::vector<Sample> samples = Group("three", 5.3, 1420, 3, rng, row);
    for (Sample& s : Group("two", 3.1, 2100, 2, rng, row)) samples.push_back(s);
    for (Sample& s : Group("known", 6.1, 800, 2, rng, row)) samples.push_back(s);
    samples[1].measured[2] = "abc"; // "three-1"
    samples[4].measured[3] = "-1";  // "two-1"
    samples[6].elevation = "800";   // "known-1"
    const auto r = FitStudy(samples, Ensemble(), Settings());
    const auto alone = FitStudy(samples, StudyOptions{}, Settings());
    EXPECT_NE(r[1].error, "");
    EXPECT_EQ(r[0].group->members, 2u);
    EXPECT_EQ(r[0].group->dof, 8 - 2 - 2);
    // "two-0" alone: its own fit, to the last digit.
    ASSERT_TRUE(r[3].group);
    EXPECT_EQ(r[3].group->members, 1u);
    EXPECT_EQ(r[3].temperature, alone[3].temperature);
    EXPECT_EQ(r[3].elevationLo, alone[3].elevationLo);
    EXPECT_EQ(r[3].ALo, alone[3].ALo);
    // "known-1" apart from "known-0".
    EXPECT_EQ(r[6].group, std::nullopt);
    EXPECT_EQ(r[6].temperature, alone[6].temperature);
    EXPECT_EQ(r[5].group->members, 1u);
    const auto notes = StudyNotes(r, Ensemble(), '.', [](FieldId) { return std::string("box"); });
    auto said = [&](const std::string& part) {
        return std::any_of(notes.begin(), notes.end(),
                           [&](const std::string& n) { return n.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(said("group \"three\": three-1 is left out (row 3: its fit is refused)"));
    EXPECT_TRUE(said("group \"two\": two-1 is left out (row 6: its fit is refused)"));
    EXPECT_TRUE(said("group \"two\": only two-0 was fitted"));
    EXPECT_TRUE(said("group \"known\": known-1 is left out (row 8: its known elevation (800 m)"));
}

// A member refused by its grid's search (its misfit out of the number range)
// leaves its group's other member to its own fit, whether the group's members
// are of one water or of two.
TEST(StudyEnsemble, AMemberRefusedByTheSearchLeavesTheOtherItsOwnFit) {
    for (const char* density : {"", "1.001"}) {
        std::mt19937 rng(9);
        std::size_t row = 2;
        std::vector<Sample> samples = Group("late", 4.4, 1900, 2, rng, row);
        samples[0].density = density;
        samples[1].error[1] = "1e-200"; // Ne-20's weight beyond the number range
        RunControl control;
        const auto r = FitStudy(samples, Ensemble(), Settings(), control);
        const auto alone = FitStudy(samples, StudyOptions{}, Settings());
        EXPECT_NE(r[1].error, "") << density;
        ASSERT_TRUE(r[0].group) << density;
        EXPECT_EQ(r[0].group->members, 1u) << density;
        EXPECT_EQ(r[0].temperature, alone[0].temperature) << density;
        EXPECT_EQ(r[0].AHi, alone[0].AHi) << density;
        EXPECT_EQ(control.Done(), control.Total()) << density;
    }
}

// What cannot be shared is refused naming the ensemble fit's setting, saying what
// can; progress counts every member's work and ends at its total.
TEST(StudyEnsemble, RefusalsAndProgress) {
    const struct {
        const char* text;
        Model model;
        const char* says;
    } rows[] = {
        {"T,E", Model::UA, nullptr},
        {"e, t", Model::CE, nullptr},
        {"T;E", Model::UA, "\"T;E\" is no parameter of UA"},
        {"T,E,", Model::UA, "a name of the list is empty"},
        {"T,E,E", Model::UA, "E is named twice"},
        {"F", Model::UA, "\"F\" is no parameter of UA (its parameters: T, E, A)"},
        {"T,E,A", Model::UA, "A of UA is each member's own"},
        {"T,E,F", Model::CE, "F of CE is each member's own"},
        {"T", Model::UA, "T alone cannot be shared"},
        {"", Model::UA, "name the parameters"},
    };
    for (const auto& row : rows) {
        StudyOptions o;
        o.model = row.model;
        try {
            const SharedParams shared = ParseShared(row.text, o);
            EXPECT_EQ(row.says, nullptr) << row.text;
            EXPECT_TRUE(shared.T && shared.E) << row.text;
        } catch (const StudyError& e) {
            ASSERT_NE(row.says, nullptr) << row.text << ": " << e.what();
            EXPECT_EQ(e.setting(), StudySetting::Ensemble);
            EXPECT_NE(std::string(e.what()).find(row.says), std::string::npos) << e.what();
        }
    }
    std::mt19937 rng(5);
    std::size_t row = 2;
    const std::vector<Sample> members = Group("w", 4.2, 1800, 3, rng, row);
    for (int refused = 0; refused < 3; ++refused) {
        StudyOptions o = Ensemble();
        o.allModels = refused == 0;
        o.mcDraws = refused == 1 ? 10 : 0;
        o.prior = refused == 2;
        EXPECT_THROW(
            try { FitStudy(members, o, Settings()); } catch (const StudyError& e) {
                EXPECT_EQ(e.setting(), StudySetting::Ensemble);
                throw;
            },
            StudyError);
    }
    RunControl control;
    FitStudy(members, Ensemble(Model::CE), Settings(), control);
    EXPECT_GT(control.Total(), 0u);
    EXPECT_EQ(control.Done(), control.Total());
}
