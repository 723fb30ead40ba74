// The study's room of models: one set of identities checked for every row of the
// table of models, against samples made independently of it
// (tests/study_support.h).
#include "study/models/models.h"
#include "study/study_fit.h"
#include "tests/study_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace temra;
using namespace temra::study;

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

} // namespace
