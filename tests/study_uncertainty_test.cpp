// The study's uncertainty room: Monte Carlo draws and the ensemble fit of a
// group's members.
#include "tests/study_fixtures.h"

#include <gtest/gtest.h>

using namespace temra;
using namespace temra::study;
using namespace temra::study::fixtures;

namespace {

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
    T.reserve(draws.size());
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

// Two fits of the same draws agree to the last digit.
void ExpectSameFits(const std::vector<StudyResult>& near, const std::vector<StudyResult>& full,
                    const std::string& name) {
    for (std::size_t d = 0; d < full.size(); ++d) {
        EXPECT_EQ(near[d].error, full[d].error) << name << d;
        EXPECT_EQ(near[d].temperature, full[d].temperature) << name << d;
        EXPECT_EQ(near[d].elevation, full[d].elevation) << name << d;
        EXPECT_EQ(near[d].A, full[d].A) << name << d;
        EXPECT_EQ(near[d].chi2, full[d].chi2) << name << d;
        EXPECT_EQ(near[d].second.has_value(), full[d].second.has_value()) << name << d;
        if (near[d].second && full[d].second) {
            EXPECT_EQ(near[d].second->value, full[d].second->value) << name << d;
        }
    }
}

// A draw searched only where its sample's fit leaves it (DrawReach) finds what
// the search of every grid case finds, to the last digit: every model, free and
// known elevation, CE with A up to 1 (a second valley of much excess air, much
// fractionated), draws made with the samples' errors as Monte Carlo makes them.
TEST(StudyMonteCarlo, ADrawSearchedWhereItsBestCanLieFindsTheFullSearchsBest) {
    std::mt19937 rng(53);
    std::normal_distribution<double> normal(0, 1);
    struct Case {
        Model model;
        double second;
        bool known, secondValley;
    };
    std::vector<Case> cases;
    for (const ModelInfo& m : Models())
        for (const bool known : {false, true})
            cases.push_back({m.model,
                             m.model == Model::OD ? 1.05
                             : m.HasSecond()      ? 0.2
                                                  : 0,
                             known, false});
    cases.push_back({Model::CE, 0.1, false, true});
    int searchedLess = 0;
    for (const Case& c : cases) {
        StudyOptions o;
        o.model = c.model;
        o.grid.Text25 = "50";  // the elevation's step
        o.grid.Text26 = "0.5"; // the temperature's
        if (c.secondValley) o.upper["a-max"] = 1;
        Sample sample = Modelled(c.model, 4, 1800, 0.004, c.second, Noise(rng, 0.01));
        if (c.known) sample.elevation = "1800";
        const auto reach = ReachOf(sample, o, Settings(), Unwatched());
        ASSERT_NE(reach, nullptr);
        std::vector<Sample> draws;
        for (int d = 0; d < 12; ++d) {
            Sample draw = sample;
            for (std::size_t g = 1; g <= 4; ++g)
                draw.measured[g] = ExactText(std::stod(sample.measured[g]) +
                                             std::stod(sample.error[g]) * normal(rng));
            draws.push_back(draw);
        }
        o.bestOnly = true;
        const auto full = FitStudy(draws, o, Settings());
        const std::string name = std::string(InfoOf(c.model).name) + (c.known ? " known" : " free");
        o.reach = reach;
        ExpectSameFits(FitStudy(draws, o, Settings()), full, name);
        // The cases' shared terms: worked out for a model that has them, and the
        // same fits where they reach a few cases only, or were worked out for
        // other fractions in air (each draw then works out its own).
        EXPECT_EQ(reach->termCases > 0, InfoOf(c.model).fit.termCount != nullptr) << name;
        if (reach->termCases > 0) {
            auto few = std::make_shared<DrawReach>(*reach);
            few->termCases = 5;
            few->terms.resize(5 * few->termCount);
            few->conc.resize(5 * static_cast<std::size_t>(few->termN));
            o.reach = few;
            ExpectSameFits(FitStudy(draws, o, Settings()), full, name + " few terms");
            auto other = std::make_shared<DrawReach>(*reach);
            other->termZ[0] *= 2;
            std::fill(other->terms.begin(), other->terms.end(), 0.0);
            std::fill(other->conc.begin(), other->conc.end(), 0.0);
            o.reach = other;
            ExpectSameFits(FitStudy(draws, o, Settings()), full, name + " other terms");
        }
        const double least = reach->order.front().root;
        searchedLess +=
            std::count_if(reach->order.begin(), reach->order.end(), [&](const DrawReach::Case& x) {
                return x.root * x.root > least * least + 100;
            }) > 0;
    }
    EXPECT_GT(searchedLess, 0); // some draws did leave cases out
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
                for (const std::size_t i : kFitted) {
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

} // namespace
