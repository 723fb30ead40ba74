// The study's room of models: one set of identities checked for every row of the
// table of models, against samples made independently of it
// (tests/study_support.h).
#include "study/fit/fit_sample.h"
#include "study/models/models.h"
#include "study/study_fit.h"
#include "tests/study_fixtures.h"
#include "tests/study_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace temra;
using namespace temra::study;
using namespace temra::study::fixtures;

namespace {

bool Flagged(const StudyResult& r, std::string_view flag) {
    return std::find(r.flags.begin(), r.flags.end(), flag) != r.flags.end();
}

// A sample at 8 °C recharged at a known 1500 m: T, A and the second parameter are
// free, and four gases leave a degree of freedom.
StudyResult Fit(Sample s, const StudyOptions& o) {
    s.elevation = "1500";
    return FitStudy({s}, o, RunSettings{})[0];
}

class EveryModel : public ::testing::TestWithParam<std::size_t> {};

// UA's samples are the model's own at its second parameter's lower bound (it
// nests UA), flagged there.
TEST_P(EveryModel, NestsUnfractionatedExcessAirAndFlagsItsLowerBound) {
    const ModelInfo& m = Models()[GetParam()];
    StudyOptions o;
    o.model = m.model;
    const StudyResult r = Fit(Truth(8, 1500, 0.004, 0), o);
    ASSERT_EQ(r.error, "");
    EXPECT_LT(r.chi2, 1e-8);
    EXPECT_NEAR(r.temperature, 8, 0.01);
    EXPECT_NEAR(r.A, 0.004, 4e-5);
    if (m.paramCount > 1 && !m.params[1].lowFlag.empty()) {
        EXPECT_TRUE(Flagged(r, m.params[1].lowFlag)) << m.params[1].lowFlag;
        EXPECT_NEAR(r.second->value, m.params[1].lo, 1e-6);
    }
}

// A sample the model made itself (worked out independently of the table) is
// recovered, the truth inside each 1-sigma range.
TEST_P(EveryModel, RecoversTheSampleItMade) {
    const ModelInfo& m = Models()[GetParam()];
    StudyOptions o;
    o.model = m.model;
    const ModelParam& p = m.params[m.paramCount > 1 ? 1 : 0];
    const double x = m.paramCount > 1 ? p.lo + 0.3 * (p.hi(p, o) - p.lo) : 0;
    const StudyResult r = Fit(Modelled(m.model, 8, 1500, 0.005, x), o);
    ASSERT_EQ(r.error, "");
    EXPECT_LT(r.chi2, 1e-6);
    EXPECT_NEAR(r.temperature, 8, 0.05);
    EXPECT_LE(r.temperatureLo, 8);
    EXPECT_GE(r.temperatureHi, 8);
    EXPECT_LE(r.ALo, 0.005);
    EXPECT_GE(r.AHi, 0.005);
    if (m.paramCount > 1) {
        ASSERT_TRUE(r.second.has_value());
        EXPECT_LE(r.second->lo, x * (1 + 1e-9));
        EXPECT_GE(r.second->hi, x * (1 - 1e-9));
    }
}

// Below the truth, a bound an option sets holds the fit at it, flagged; so does
// the largest A every model shares.
TEST_P(EveryModel, HoldsTheBoundsItsOptionsSetAndFlagsThem) {
    const ModelInfo& m = Models()[GetParam()];
    StudyOptions o;
    o.model = m.model;
    const ModelParam& a = m.params[0];
    o.upper[std::string(a.option)] = 0.002;
    StudyResult r = Fit(Truth(8, 1500, 0.004, 0), o);
    EXPECT_TRUE(Flagged(r, a.highFlag)) << a.highFlag;
    EXPECT_NEAR(r.A, 0.002, 1e-9);
    if (m.paramCount < 2 || m.params[1].option.empty()) return;
    const ModelParam& p = m.params[1];
    o = StudyOptions{};
    o.model = m.model;
    const double x = p.lo + 0.3 * (p.hi(p, o) - p.lo), bound = p.lo + (x - p.lo) / 2;
    o.upper[std::string(p.option)] = bound;
    r = Fit(Modelled(m.model, 8, 1500, 0.005, x), o);
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(Flagged(r, p.highFlag)) << p.highFlag;
    EXPECT_NEAR(r.second->value, bound, 1e-9 * (1 + bound));
}

INSTANTIATE_TEST_SUITE_P(Table, EveryModel, ::testing::Range<std::size_t>(0, Models().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(Models()[info.param].name);
                         });

// ---- The excess-air models with a second parameter ------------------------------------

// Samples made with each model at a known elevation, with 1 % noise, fitted with
// that model (Ne, Ar, Kr, Xe: one degree of freedom): the 1-sigma ranges of T, A
// and the second parameter hold the truth about two times in three, and each
// fit's chi2 is no higher than UA's on the same sample (UA is the model at R = 0,
// G = 0, POD = 1 or GR's F = 0).
TEST(StudyModels, SamplesMadeWithAModelAreRecoveredWithinTheirRanges) {
    struct Row {
        Model model;
        double lo, hi; // the second parameter's truths
    };
    const Row rows[] = {
        {Model::PR, 0.2, 1.5}, {Model::PD, 0.05, 0.5}, {Model::OD, 1.02, 1.3}, {Model::GR, 0.3, 3}};
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

// GR's diffusion coefficients in air: the Chapman-Enskog relation reproduces the
// estimate Poling, Prausnitz & O'Connell 2001 work out in their Example 11-1
// (N2-CO2 at 590 K and 1 bar, 0.52 cm²/s; measured 0.583), and each gas's is the
// one worked out in tests/study_support.h at the air pressure of its elevation
// (p in bar, so D at 1 atm is 1/1.01325 of D at 1 bar).
TEST(StudyModels, GrsDiffusionInAirIsChapmanEnskogsAtTheRechargePressure) {
    const double dN2Co2 = ChapmanEnskog({44.010, 195.2, 3.941}, {28.014, 71.4, 3.798}, 590, 1);
    EXPECT_NEAR(dN2Co2, 0.52, 0.005);
    for (std::size_t g = 0; g < GasCount; ++g)
        for (const double T : {0.0, 10.0, 25.0})
            for (const double E : {0.0, 1500.0, 4000.0}) {
                const double P = std::pow(1 - 0.0065 * E / 288.16, 5.2561);
                EXPECT_NEAR(DiffusivityInAir(g, {T, P}) / AirDiffusivity(g, T, E), 1, 1e-12)
                    << g << " " << T << " " << E;
            }
    const double He = DiffusivityInAir(GasIndexOf("He-4"), {10, 1});
    const double Xe = DiffusivityInAir(GasIndexOf("Xe"), {10, 1});
    EXPECT_NEAR(He, 0.656, 0.001); // worked by hand from the formula
    EXPECT_NEAR(Xe, 0.1126, 0.0005);
    EXPECT_NEAR(ChapmanEnskog({4.002603, 10.22, 2.551}, kAir, 283.15, 1) / He, 1.01325, 1e-12);
}

// A model's slope (ExcessFit::slope), which lets the grid's search leave cases
// out, bounds how far its concentration moves with the equilibrium one: at
// random parameters within the bounds, random pairs of concentrations at or
// above the least move by no more than the slope times their distance, and some
// by more than 0.9 of it.
void ExpectSlopeBounds(const ModelInfo& m) {
    StudyOptions o;
    o.model = m.model;
    Fitted f = FittedGases(Values{}, o);
    std::mt19937 rng(61);
    std::uniform_real_distribution<double> u(0, 1);
    double closest = 0;
    for (const std::size_t i : kFitted) {
        f.z[i] = kGasTable[i].AtmFraction;
        const double Cmin = EvaluateModel(kGasTable[i], 30, 3000, 1, 0, {}).EquilConc;
        const double L = m.fit.slope(f, i, Cmin);
        for (int k = 0; k < 20000; ++k) {
            const double A = f.aMax * u(rng), x = f.sLo + (f.sHi - f.sLo) * u(rng);
            const double C1 = Cmin * (1 + 0.3 * u(rng)), C2 = C1 * (1 + 1e-4 * u(rng));
            const Excess e{0, A, x};
            const double moved =
                std::fabs(m.fit.conc(C2, f.z[i], 1, e) - m.fit.conc(C1, f.z[i], 1, e)) / (C2 - C1);
            EXPECT_LE(moved, L * (1 + 1e-6)) << m.name << " gas " << i;
            closest = std::max(closest, moved / L);
        }
    }
    EXPECT_GT(closest, 0.9) << m.name << ": the bound is loose";
}

TEST(StudyModels, ASlopeBoundsHowFarTheModelsConcentrationsMove) {
    int models = 0;
    for (const ModelInfo& m : Models())
        if (m.fit.slope) {
            ++models;
            ExpectSlopeBounds(m);
        }
    EXPECT_GE(models, 2); // CE and OD
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

// A model whose draws share its cases' terms gives a case's best from them bit
// for bit, and gives a case up only where its least lies clearly above the bar
// (a draw's best so far): at the bar it is kept, far below it is given up.
TEST(StudyModels, SharedTermsGiveTheCasesBestAndGiveUpOnlyWhatCannotWin) {
    int models = 0;
    for (const ModelInfo& m : Models()) {
        if (!m.fit.bestOfTerms) continue;
        ++models;
        StudyOptions o;
        o.model = m.model;
        Fitted f = FittedGases(Values{}, o);
        f.n = static_cast<int>(kFitted.size());
        std::mt19937 rng(67);
        std::uniform_real_distribution<double> u(0, 1);
        for (int k = 0; k < 200; ++k) {
            std::array<double, GasCount> C{};
            for (std::size_t j = 0; j < kFitted.size(); ++j) {
                const auto& gas = kGasTable[kFitted[j]];
                C[j] = EvaluateModel(gas, 15 * u(rng), 2000 * u(rng), 1, 0, {}).EquilConc;
                f.gas[j] = kFitted[j];
                f.z[j] = gas.AtmFraction;
                f.m[j] = C[j] * (1.05 + 0.3 * u(rng));
                f.w[j] = 1 / (0.01 * f.m[j] * 0.01 * f.m[j]);
            }
            std::vector<double> terms(m.fit.termCount(f));
            m.fit.fillTerms(f, C.data(), terms.data());
            for (const int bits : {14, 20}) {
                const Excess e = m.fit.best(f, C.data(), {}, o, bits);
                const double inf = std::numeric_limits<double>::infinity();
                for (const double bar : {inf, e.chi2}) {
                    const Excess x = m.fit.bestOfTerms(f, C.data(), terms.data(), bits, bar);
                    EXPECT_EQ(x.chi2, e.chi2) << m.name << " case " << k << " bar " << bar;
                    EXPECT_EQ(x.A, e.A) << m.name << " case " << k;
                    EXPECT_EQ(x.second, e.second) << m.name << " case " << k;
                }
                const double below = e.chi2 / 2 - 1;
                EXPECT_EQ(m.fit.bestOfTerms(f, C.data(), terms.data(), bits, below).chi2, inf)
                    << m.name << " case " << k;
            }
        }
    }
    EXPECT_GE(models, 1); // CE
}

} // namespace
