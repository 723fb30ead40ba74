// The study's fit room against independent calculations: the closed form of UA
// worked out here gas by gas, a brute-force scan over (A, F) for CE, samples made
// from known recharge conditions, chi2 probabilities from the textbook formulas,
// the progress, and the lapse-rate prior's posterior.
#include "study/fit/fit_sample.h"
#include "study/fit/study_grids.h"
#include "tests/study_fixtures.h"

#include <gtest/gtest.h>

using namespace temra;
using namespace temra::study;
using namespace temra::study::fixtures;

namespace {

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
    for (const std::size_t i : kFitted) {
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
        const std::size_t i = kFitted[j];
        m[j] = std::stod(s.measured[i]);
        w[j] = 1 / std::pow(std::stod(s.error[i]), 2);
        z[j] = kGasTable[i].AtmFraction;
    }
    const double target = r.chi2 + 1;
    double least = 1e300, aLo = 1, aHi = 0, fLo = 1, fHi = 0;
    for (double T = 2; T <= 7.5; T += 0.002) {
        std::array<double, 4> C{};
        for (std::size_t j = 0; j < 4; ++j)
            C[j] = EvaluateModel(kGasTable[kFitted[j]], T, 640, 1, 0, {}).EquilConc;
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

void ExpectSameResult(const StudyResult& a, const StudyResult& b, const std::string& name) {
    EXPECT_EQ(a.chi2, b.chi2) << name;
    EXPECT_EQ(a.caseNo, b.caseNo) << name;
    for (const auto& [x, y] : {std::pair{a.temperature, b.temperature},
                               {a.temperatureLo, b.temperatureLo},
                               {a.temperatureHi, b.temperatureHi},
                               {a.elevation, b.elevation},
                               {a.elevationLo, b.elevationLo},
                               {a.elevationHi, b.elevationHi},
                               {a.A, b.A},
                               {a.ALo, b.ALo},
                               {a.AHi, b.AHi},
                               {a.second->lo, b.second->lo},
                               {a.second->hi, b.second->hi}})
        EXPECT_EQ(x, y) << name;
    EXPECT_EQ(a.flags, b.flags) << name;
}

// A sample's grid search over its own grid, every case or not.
CasePass Searched(const Sample& s, const StudyOptions& o, bool everyCase) {
    const Values v = ReadValues(s, o, '.');
    const Form1Texts texts = GridOnly(o.grid);
    GridInputs inputs = ReadGridInputs(texts, '.');
    const Layout layout =
        MakeLayout(PlanGrid(inputs, texts, GridSettings(Settings(), o), Unwatched(), v.elevation));
    std::map<Window, std::uint64_t> windows;
    for (const GridElevation& e : layout.plan.elevations) windows[WindowOf(e)] = e.count;
    WaterSamples m;
    BuildTables(m, windows, {v.density, v.chloride}, layout.plan.grid->TempStep, o, Unwatched());
    return SearchSample(s, v, GridOf(layout, m.tables), o, nullptr, everyCase).cases;
}

// A search that leaves out cases against one of every case: the same best case,
// every case it searched to the last digit, every case it left out more than 1
// above the best; the cases left out and searched are counted.
void ExpectPrunedAsEvery(const Sample& s, const StudyOptions& o, const std::string& name,
                         std::size_t& leftOut, std::size_t& searched) {
    const CasePass pruned = Searched(s, o, false), every = Searched(s, o, true);
    ASSERT_TRUE(every.found) << name;
    EXPECT_EQ(pruned.best, every.best) << name;
    const double near = every.chi2[every.best] + 1;
    for (std::size_t k = 0; k < every.chi2.size(); ++k) {
        const bool out = std::isinf(pruned.chi2[k]);
        leftOut += out;
        searched += !out;
        if (out) {
            EXPECT_GT(every.chi2[k], near) << name << " case " << k;
        } else {
            EXPECT_EQ(pruned.chi2[k], every.chi2[k]) << name << " case " << k;
        }
    }
}

// The grid's search of a model with a slope leaves out cases that cannot lie near
// the best (10 m x 0.1 °C): each case it searches has the misfit of a search of
// every case, to the last digit, and so has the best case and every case within 1
// of it, free and known elevation; the fit with a free elevation is then the one
// over every case (the misfit map's, which keeps every case). Every such model, a
// good fit, a poor one, one at the grid's edge and CE with a second valley of
// much excess air.
TEST(StudyFit, ASearchThatLeavesOutCasesFitsAsOneOverEveryCase) {
    std::mt19937 rng(67);
    std::size_t leftOut = 0, searched = 0;
    for (const ModelInfo& m : Models()) {
        if (!m.fit.slope) continue;
        const double x = m.model == Model::OD ? 1.05 : 0.2;
        const std::vector<std::pair<Sample, bool>> cases = {
            {Modelled(m.model, 4, 1800, 0.004, x, Noise(rng, 0.01)), false},
            {Modelled(m.model, 6, 900, 0.006, x, Noise(rng, 0.05)), false},
            {Modelled(m.model, 0.3, 2900, 0.002, x, Noise(rng, 0.01)), false},
            {Modelled(m.model, 5, 1500, 0.02, x, Noise(rng, 0.01)), true}};
        for (const auto& [sample, secondValley] : cases) {
            StudyOptions o;
            o.model = m.model;
            o.grid.Text25 = "10";  // the elevation's step
            o.grid.Text26 = "0.1"; // the temperature's
            if (secondValley) o.upper["a-max"] = 1;
            const std::string name = std::string(m.name) + " " + sample.measured[1];
            ExpectPrunedAsEvery(sample, o, name + " free", leftOut, searched);
            Sample known = sample;
            known.elevation = "1500";
            ExpectPrunedAsEvery(known, o, name + " known", leftOut, searched);
            const StudyResult fit = FitStudy({sample}, o, Settings())[0];
            ASSERT_EQ(fit.error, "") << name;
            ExpectSameResult(fit, CaseMisfits(sample, o, Settings()).result, name);
        }
    }
    EXPECT_GT(leftOut, searched); // most cases were left out
}

// The columns of total gas are read as their isotopes: the shares are the
// published ones, a table in totals fits as the same table in isotopes, and each
// converted column is noted once.
TEST(StudyFit, TotalsFitAsTheirIsotopes) {
    const std::array<const char*, 4> published = {"0.999998616", "0.9048", "0.99600", "0.56987"};
    for (int g = 0; g < 4; ++g) // He-4 to Kr-84
        EXPECT_TRUE(
            test::MatchesDigits(AtmosphericShare(g), published[static_cast<std::size_t>(g)]));
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
        for (const std::size_t i : kFitted) {
            EXPECT_DOUBLE_EQ(v.measured[i], std::stod(made.measured[i]) * row.factor) << i;
            EXPECT_DOUBLE_EQ(v.sigma[i],
                             i == 2 ? 0.01 * v.measured[i] : std::stod(made.error[i]) * row.factor);
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
        std::string("2 of 4 samples are given a temperature range cut by the grid's end "
                    "(range-cut-T): the range may reach further than 10 °C or 0 °C; raise ") +
            "--temp-max where it is cut above",
        std::string("1 of 4 samples is given an elevation range cut by the grid's end "
                    "(range-cut-E): the range may reach further than 3000 m or 0 m; raise ") +
            "--elev-max where it is cut above",
        std::string("1 of 4 samples is underdetermined: no more gases than free parameters, so ") +
            "p is left empty and the ranges are not a test of the model",
        "1 of 4 samples is fitted without Xe, which their rows leave blank"};
    EXPECT_EQ(notes, expected);
    for (const StudyResult& r : results)
        for (const ResultCell& c : ResultRow(r, o))
            EXPECT_TRUE(c.kind != ResultCell::Kind::Double || std::isfinite(c.number));
    // The time a study took: two significant digits, the whole seconds at least.
    const struct {
        std::size_t samples;
        int draws;
        double seconds;
        char separator;
        const char* said;
    } times[] = {{5, 300, 1.63, '.', "fitted 5 samples × 300 draws in 1.6 s"},
                 {1, 0, 0.2549, '.', "fitted 1 sample in 0.25 s"},
                 {100, 1, 22.4, ',', "fitted 100 samples × 1 draw in 22 s"},
                 {1000, 0, 0.04, ',', "fitted 1000 samples in 0,040 s"},
                 {1, 0, 0.0002, '.', "fitted 1 sample in under 0.001 s"}};
    for (const auto& t : times)
        EXPECT_EQ(TimeNote(t.samples, t.draws, t.seconds, t.separator), t.said);
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
        for (std::size_t e = 0; e < 2; ++e) {
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

} // namespace
