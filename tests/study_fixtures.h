// Fixtures of the study's tests: a small grid, samples made from a grid's cases
// (UA's and CE's excess air worked out here), and CE's misfit computed gas by
// gas, against which the study's rooms are checked.
#pragma once

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

namespace temra::study::fixtures {

// The gases fitted by default, by gas index.
inline constexpr std::array<std::size_t, 4> kFitted = {GasIndexOf("Ne-20"), GasIndexOf("Ar-40"),
                                                       GasIndexOf("Kr-84"), GasIndexOf("Xe")};

// A small grid: 0 to 200 m in steps of 100, 0 to 10 °C in steps of 1 (33 cases).
inline StudyOptions SmallGrid(Model model = Model::UA) {
    StudyOptions o;
    o.grid.Text19 = "200";
    o.model = model;
    return o;
}

inline GridPlan GridOf(const StudyOptions& o) {
    Module1 m;
    GridPlan plan = m.PlanSolubility(o.grid);
    m.FillSolubility(plan);
    return plan;
}

// A sample as the table would hold it: the gases of case k with excess air A
// (fractionated by F, for CE), each times (1 + noise), with 1 % errors.
inline Sample Made(const SolubilityGrid& g, std::size_t k, double A, double F = 0,
                   std::array<double, 7> noise = {}) {
    Sample s;
    s.name = "made";
    s.row = 2;
    for (int gas = 0; gas < GasCount; ++gas) {
        const auto i = static_cast<std::size_t>(gas);
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

inline Weighted At(const SolubilityGrid& g, const Sample& sample, std::size_t k) {
    Weighted w;
    for (std::size_t j = 0; j < 4; ++j) {
        const std::size_t i = kFitted[j];
        w.m[j] = std::stod(sample.measured[i]);
        const double sigma = std::stod(sample.error[i]);
        w.s[j] = 1 / (sigma * sigma);
        w.z[j] = kGasTable[i].AtmFraction;
        w.C[j] = g.Row(static_cast<int>(i))[k];
    }
    return w;
}

inline double CeChi2(const Weighted& w, double A, double F) {
    double chi2 = 0;
    for (std::size_t j = 0; j < 4; ++j) {
        const double model = w.C[j] + (1 - F) * A * w.z[j] / (1 + F * A * w.z[j] / w.C[j]);
        chi2 += w.s[j] * (w.m[j] - model) * (w.m[j] - model);
    }
    return chi2;
}

inline RunSettings Settings() {
    return RunSettings{};
}

} // namespace temra::study::fixtures
