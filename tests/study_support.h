// Samples of known truth for the study's tests: made from the solubility model
// itself (not from a grid) with an excess-air model worked out here, with noise.
#pragma once

#include "core/gas_table.h"
#include "core/numtext.h"
#include "core/solubility_model.h"
#include "study/input/samples.h"
#include "study/study_options.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

namespace temra::study {

// D(gas) / D(Ne) at T from the published constants (Jähne et al. 1987; argon
// extrapolated by Hamme; N2, O2 Ferrell & Himmelblau 1967), gas index 0 to 6.
inline double Ratio(std::size_t gas, double T) {
    const double a[] = {818, 1608, 2227, 6393, 9007, 3412, 4286};
    const double ea[] = {11.70, 14.84, 16.68, 20.20, 21.61, 18.50, 18.70};
    return a[gas] / a[1] * std::exp(-(ea[gas] - ea[1]) / (8.314462618e-3 * (T + 273.15)));
}

// A sample made from recharge at (T, E) with excess air A (fractionated by F),
// each gas times (1 + noise), errors of `rel` of the value: the equilibrium from
// the solubility model itself, not from a grid.
inline Sample Truth(double T, double E, double A, double F, std::array<double, 7> noise = {},
                    double rel = 0.01) {
    Sample s;
    s.name = "truth";
    s.row = 2;
    for (std::size_t i = 0; i < GasCount; ++i) {
        const double C = EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc;
        const double z = kGasTable[i].AtmFraction;
        const double value = (C + (1 - F) * A * z / (1 + F * A * z / C)) * (1 + noise[i]);
        s.measured[i] = ExactText(value);
        s.error[i] = ExactText(rel * value);
    }
    return s;
}

inline std::array<double, 7> Noise(std::mt19937& rng, double sd) {
    std::normal_distribution<double> n(0, sd);
    std::array<double, 7> v{};
    for (double& x : v) x = n(rng);
    return v;
}

// The exponents of the diffusivity ratio that Jung & Aeschbach 2018 give PR (1)
// and PD (0.5).
inline double LiteratureBeta(Model model) {
    return model == Model::PD ? 0.5 : 1.0;
}

// A sample made with a model at T, E, A and its second parameter x (PR and PD
// fractionating by the ratio to the power beta), with 1 % errors.
inline Sample Modelled(Model model, double T, double E, double A, double x,
                       std::array<double, 7> noise = {}, double beta = -1) {
    if (beta < 0) beta = LiteratureBeta(model);
    Sample s;
    s.name = "modelled";
    s.row = 2;
    for (std::size_t i = 0; i < 7; ++i) {
        const double C = EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc;
        const double z = kGasTable[i].AtmFraction, d = std::pow(Ratio(i, T), beta);
        double v = C + A * z;
        if (model == Model::CE) v = C + (1 - x) * A * z / (1 + x * A * z / C);
        if (model == Model::PR) v = C + A * z * std::exp(-x * d);
        if (model == Model::PD) v = (C + A * z) * std::exp(-x * d);
        if (model == Model::OD) v = x * C + A * z;
        s.measured[i] = ExactText(v * (1 + noise[i]));
        s.error[i] = ExactText(0.01 * v);
    }
    return s;
}

} // namespace temra::study
